// The ghost cursor's C-level interface, called by element actions and input
// code to show where the agent is about to act. Every call returns at once
// while ghost_cursor_enabled() is false.
#pragma once

#include <cstdint>

extern "C" {

bool ghost_cursor_enabled(void);
void ghost_cursor_set_enabled(int enabled);
void ghost_cursor_set_capture(int capturable);
void ghost_cursor_set_multi_session_enabled(int enabled);
bool ghost_cursor_multi_session_enabled(void);
// null stores the empty string. The answer of ghost_cursor_request_session
// stays valid until the next set.
void ghost_cursor_set_request_session(const char* session);
const char* ghost_cursor_request_session(void);
bool ghost_cursor_is_ready(void);
uint32_t ghost_cursor_window_id(void);
bool ghost_cursor_get_position(double* x, double* y);
// Where the requesting session's cursor is gliding to (or came to rest), in
// global top-left points; false while disabled or before it was sent anywhere.
bool ghost_cursor_get_target_position(double* x, double* y);

void ghost_cursor_move_to(double x, double y);
void ghost_cursor_move_to_target(int32_t pid, uint32_t window_id, int exact, double x, double y);
void ghost_cursor_move_to_current_target(double x, double y);
void ghost_cursor_click_ripple(double x, double y);
void ghost_cursor_click_ripple_target(int32_t pid, uint32_t window_id, int exact, double x,
                                      double y);
void ghost_cursor_move_to_target_session(int32_t pid, uint32_t window_id, int exact,
                                         const char* session, double x, double y);
void ghost_cursor_click_ripple_target_session(int32_t pid, uint32_t window_id, int exact,
                                              const char* session, double x, double y);

void ghost_cursor_begin_action(int kind);
void ghost_cursor_begin_action_session(int kind, const char* session);
void ghost_cursor_begin_action_session3(int kind, const char* session, const char* title);
void ghost_cursor_update_badge(const char* session, const char* title);
void ghost_cursor_end_action(void);
void ghost_cursor_end_action_session(const char* session);

void ghost_cursor_show_focus_rect(double x, double y, double width, double height);
void ghost_cursor_session_turn_ended(const char* session);
void ghost_cursor_remove_session(const char* session);
void ghost_cursor_hide(void);

}  // extern "C"
