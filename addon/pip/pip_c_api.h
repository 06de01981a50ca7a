// The mirroring panels' C interface for the rest of the add-on. Every call
// runs its work on the main thread, synchronously (inline when already there).
#pragma once

#include <stddef.h>
#include <stdint.h>

extern "C" {
bool pip_start(uint32_t window_id, double width, double height);
void pip_stop(void);
void pip_dismiss(void);
bool pip_is_running(void);
// Lead panel running and its interaction monitor ready.
bool pip_is_interaction_ready(void);
// Offers a synthetic left press at (x, y) (global top-left points) to the
// panels: -1 refuses the press (point not finite, or a panel that would own it
// cannot decide), 0 means no panel claims it, any other value is the token
// to write into field 42 of every event of that press.
int64_t pip_prepare_synthetic_pointer_down(double x, double y);
bool pip_is_dismissed(void);
void pip_clear_dismissed(void);
int pip_stop_target(uint32_t window_id, int32_t pid, const char* bundle_id);
size_t pip_stack_count(void);
void pip_set_active_group(const char* group);
void pip_begin_turn(const char* group);
void pip_task_completed(const char* group, int keep);
void pip_freeze_group(const char* group);
bool pip_get_lead_target(uint32_t* window_id, int32_t* pid, char* buffer, size_t length);
void pip_set_enabled(int on);
}
