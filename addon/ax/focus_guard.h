// The synthetic focus guard: lets a background application accept a press
// without taking the foreground from the user. For 350 ms the target is the
// system's accessibility-focused application while the user's frontmost
// application stays (or is put back) in front; then accessibility focus and
// activation return to the user's application. Main thread only.
#pragma once

#include <sys/types.h>

#include <cstdint>

#include "platform/platform.h"

namespace addon {

// Readings taken around a diagnosed press ("pressFocusDiagnostics").
struct PressFocusDiagnostics {
  bool guard_engaged = false;
  int32_t frontmost_pid = -1;
  int32_t ax_focused_pid_before = -1;
  int32_t ax_focused_pid_after_set = -1;
  int32_t ax_focused_pid_after_press = -1;
  const char* focus_set_status = nullptr;  // error name; null on success or when not engaged
  int app_frontmost_before = -1;
  int app_frontmost_after_set = -1;
  int app_frontmost_after_press = -1;
  int element_focused_before = -1;
  int element_selected_before = -1;
  int element_selected_after_press = -1;
  int64_t ms_since_keyboard_end = -1;
  double press_ms = 0;
};

inline constexpr uint64_t kFocusGuardWindowMs = 350;

// Starts (or extends) the guard for pid. Nothing happens when pid <= 0 or the
// pid already owns the frontmost application. With diagnostics, records
// whether the guard engaged and how setting the focused application went.
void StartSyntheticFocusGuard(int32_t pid, PressFocusDiagnostics* diagnostics);

// 1 or 0 for an attribute readable as a boolean, -1 otherwise.
int ReadBoolAttrTri(const platform::AXElement& el, const char* attr);
// The workspace's frontmost application pid, -1 when none.
int32_t ReadFrontmostPid();
// Pid of the system-wide AXFocusedApplication, -1 when unreadable.
int32_t ReadAxFocusedApplicationPid();

// Guard state, for tests and diagnostics.
struct FocusGuardState {
  bool active = false;
  int32_t prev_frontmost_pid = -1;
  uint64_t generation = 0;
  bool observer_installed = false;
};

}  // namespace addon
