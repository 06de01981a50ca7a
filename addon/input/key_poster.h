// The thin poster: turns the intents of a key plan into platform events and
// delivers them to one process (directly or addressed to one of its windows
// through the private window-server path) or to the system's HID tap.
#pragma once

#include <cstdint>
#include <string>

#include "input/key_plan.h"
#include "platform/events.h"

namespace addon {

struct KeyRoute {
  enum class Kind { kProcess, kGlobal };
  Kind kind = Kind::kGlobal;
  int32_t pid = 0;
  uint32_t window_id = 0;  // kProcess: 0 posts to the pid, else to that window

  static KeyRoute Process(int32_t pid, uint32_t window_id) {
    return KeyRoute{Kind::kProcess, pid, window_id};
  }
  static KeyRoute Global() { return KeyRoute{}; }
};

// The event one key intent becomes on `route` (keycode, flags when the plan
// sets them, Unicode payload, event source).
platform::Event MakeKeyEvent(const KeyIntent& intent, const KeyRoute& route);

// Runs the plan; cancellation points and the hold watch `session_key` (and
// the input shutdown). Answers plan.ok AND every intent that ran.
bool RunKeyPlan(const KeyPlan& plan, const KeyRoute& route, const std::string& session_key);

// Stamps the event with the target pid (field 40) and the window (fields 51,
// 91 and 92) and posts it through the private post-to-pid entry. False for
// window 0, pid below 1, when the private entries are absent or when the
// post was refused.
bool KorvoPostKeyboardEventToWindow(platform::Event* event, int32_t pid, uint32_t window_id);

}  // namespace addon
