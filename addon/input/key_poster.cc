#include "input/key_poster.h"

#include <chrono>
#include <climits>

#include "input/holds.h"
#include "platform/platform.h"
#include "skylight.h"

namespace addon {

namespace {

constexpr uint32_t kFieldWindowId = 51;

bool Deliver(platform::Event event, const KeyRoute& route) {
  platform::Platform& p = platform::Get();
  if (route.kind == KeyRoute::Kind::kGlobal) return p.events().Post(platform::EventTap::kHID, event);
  if (route.window_id == 0) return p.events().PostToPid(route.pid, event);
  return KorvoPostKeyboardEventToWindow(&event, route.pid, route.window_id);
}

bool RunIntent(const KeyIntent& intent, const KeyRoute& route, const std::string& session_key) {
  using Kind = KeyIntent::Kind;
  switch (intent.kind) {
    case Kind::kKeyDown:
    case Kind::kKeyUp:
      return intent.known && Deliver(MakeKeyEvent(intent, route), route);
    case Kind::kPause:
      platform::Get().clock().SleepFor(std::chrono::duration_cast<platform::Duration>(
          std::chrono::duration<double, std::milli>(intent.ms)));
      return true;
    case Kind::kCancelPoint:
      return !InputHoldCancelledForSession(session_key);
    case Kind::kHoldWait:
      return WaitForInputHold(intent.ms / 1000.0, session_key);
  }
  return false;
}

}  // namespace

platform::Event MakeKeyEvent(const KeyIntent& intent, const KeyRoute& route) {
  platform::Event e;
  e.type = intent.kind == KeyIntent::Kind::kKeyUp ? platform::EventType::kKeyUp
                                                  : platform::EventType::kKeyDown;
  // System-wide events come from a fresh combined-session source; events for
  // one process are created without one (the platform's default).
  if (route.kind == KeyRoute::Kind::kGlobal) e.source = platform::EventSourceState::kCombinedSession;
  e.keycode = intent.keycode;
  e.unicode = intent.unicode;
  if (intent.set_flags) {
    e.flags = intent.flags;
    e.flags_set = true;
  }
  return e;
}

bool RunKeyPlan(const KeyPlan& plan, const KeyRoute& route, const std::string& session_key) {
  bool result = plan.ok;
  std::vector<int8_t> succeeded(plan.intents.size(), 0);
  int skipped_group = INT_MIN;
  for (size_t i = 0; i < plan.intents.size(); ++i) {
    const KeyIntent& intent = plan.intents[i];
    if (intent.group == skipped_group) continue;
    if (intent.after >= 0 && !succeeded[intent.after]) continue;
    if (intent.only_on_failure && result) continue;
    if (RunIntent(intent, route, session_key)) {
      succeeded[i] = 1;
      continue;
    }
    result = false;
    if (intent.abort_group) skipped_group = intent.group;
  }
  return result;
}

bool KorvoPostKeyboardEventToWindow(platform::Event* event, int32_t pid, uint32_t window_id) {
  if (window_id == 0 || !event || pid < 1) return false;
  const SkyLightEventFunctions& sl = SkyLightEvents();
  if (!sl.post_to_pid || !sl.set_integer_value_field) return false;
  sl.set_integer_value_field(event, platform::kFieldEventTargetUnixProcessID, pid);
  sl.set_integer_value_field(event, kFieldWindowId, window_id);
  sl.set_integer_value_field(event, platform::kFieldMouseEventWindowUnderMousePointer, window_id);
  sl.set_integer_value_field(
      event, platform::kFieldMouseEventWindowUnderMousePointerThatCanHandleThisEvent, window_id);
  // A refused post is a failed step, so the plan sends no key-up for it.
  return sl.post_to_pid(pid, *event);
}

}  // namespace addon
