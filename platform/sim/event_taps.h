// The simulated desktop's event taps. System mouse events (posted to the HID
// or session tap, by the host or by the simulated user) run through every
// enabled tap, newest first, before they reach a window: each tap's thread
// answers with a verdict, and a swallowed event goes no further. A tap that
// does not answer within the tap time-out is disabled (its thread then gets
// a disabled-by-timeout notice) and the event passes, as on the real
// platform. Events that pass and land on one of the host's own surface
// windows that takes the mouse (a mirroring panel) go to that window, not to
// the application underneath.
#pragma once

#include <sys/types.h>

#include <string>

#include "platform/event_taps.h"
#include "sim/json.h"

namespace sim {

platform::EventTaps& SimEventTapService();

enum class TapRoute {
  kPass,       // deliver to the window under the point
  kSwallowed,  // a tap kept it
  kToSurface,  // it landed on one of the host's own windows
};

// Called by the event poster without the world lock held. `source_pid` is
// the posting process (0 for the simulated user's hardware).
TapRoute RouteSystemMouseEvent(const platform::Event& event, pid_t source_pid);

// The simulated user's hardware posts `event` (a mouse event at the HID
// tap) from `source_pid` (0: the hardware itself).
bool PostUserMouseEvent(const platform::Event& event, pid_t source_pid);

// desktop-sim commands: "userMouse", "eventTaps", "disableEventTaps", "setEventTapTimeout".
bool RunTapCommand(const std::string& name, const Json& args, Json* result, std::string* error,
                   bool* handled);

// Forgets the button state and the time-out (scene reset).
void ResetEventTaps();

}  // namespace sim
