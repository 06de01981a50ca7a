// The ghost cursor's C-level interface while no overlay exists in this build:
// the overlay reports itself disabled, so every call is answered at once and
// draws nothing; queries give their empty answers.
#include "ghost/ghost_c_api.h"

extern "C" {

bool ghost_cursor_enabled(void) { return false; }
void ghost_cursor_set_enabled(int) {}
void ghost_cursor_set_capture(int) {}
void ghost_cursor_set_multi_session_enabled(int) {}
bool ghost_cursor_multi_session_enabled(void) { return false; }
void ghost_cursor_set_request_session(const char*) {}
const char* ghost_cursor_request_session(void) { return ""; }
bool ghost_cursor_is_ready(void) { return false; }
uint32_t ghost_cursor_window_id(void) { return 0; }
bool ghost_cursor_get_position(double*, double*) { return false; }

void ghost_cursor_move_to(double, double) {}
void ghost_cursor_move_to_target(int32_t, uint32_t, int, double, double) {}
void ghost_cursor_move_to_current_target(double, double) {}
void ghost_cursor_click_ripple(double, double) {}
void ghost_cursor_click_ripple_target(int32_t, uint32_t, int, double, double) {}
void ghost_cursor_move_to_target_session(int32_t, uint32_t, int, const char*, double, double) {}
void ghost_cursor_click_ripple_target_session(int32_t, uint32_t, int, const char*, double,
                                              double) {}

void ghost_cursor_begin_action(int) {}
void ghost_cursor_begin_action_session(int, const char*) {}
void ghost_cursor_begin_action_session3(int, const char*, const char*) {}
void ghost_cursor_update_badge(const char*, const char*) {}
void ghost_cursor_end_action(void) {}
void ghost_cursor_end_action_session(const char*) {}

void ghost_cursor_show_focus_rect(double, double, double, double) {}
void ghost_cursor_session_turn_ended(const char*) {}
void ghost_cursor_remove_session(const char*) {}
void ghost_cursor_hide(void) {}

}  // extern "C"
