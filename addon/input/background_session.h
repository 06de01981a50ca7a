// The synthetic focus session of background window input: it makes the
// target process believe its window is focused (a focus event record through
// the private window server path, and for a background application an
// activation routine), and on End checks that the user's frontmost
// application and pointer did not change, then withdraws the focus again.
// Begin, End and the activation ledger run under the background input mutex,
// which a worker holds for its whole operation.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

#include "input/background_target.h"
#include "platform/platform.h"

namespace addon {

std::mutex& BackgroundInputMutex();
// Mirrors the session's active flag for the queueing code (host thread).
bool BackgroundFocusSessionActive();

void SetCpsActivationDisabledFlag(bool disabled);
bool CpsActivationDisabled();

// The 248-byte focus (or unfocus) event record for a window.
std::array<uint8_t, 248> FocusEventRecord(uint32_t window_id, bool focus);

// Begin and End; the caller holds BackgroundInputMutex().
BeginOutcome BeginFocusLockedDetailed(const WindowTarget& target, platform::TimePoint deadline);
EndOutcome EndFocusLocked(const WindowTarget& target, bool action_ok);

// A mouse operation's verdict on its End: the user moving the pointer or
// switching applications meanwhile does not undo the action.
bool EndAcceptable(const EndOutcome& end);

// The End reason, first that applies.
struct EndFacts {
  bool action_ok = true;
  bool unfocus_failed = false;
  int32_t begin_frontmost = 0;
  int32_t live_frontmost = 0;
  platform::Point begin_cursor;
  platform::Point live_cursor;
};
const char* EndReason(const EndFacts& facts);

// Records that a switched session for `pid` ended now; read by
// background_input_ms_since_focus_end_for_pid under its own small lock, so
// the host thread never waits for a background operation.
void RecordFocusEnd(int32_t pid);
int64_t MsSinceFocusEndForPid(int32_t pid);

}  // namespace addon
