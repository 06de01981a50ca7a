// Mouse input to one process (moveToPid, scrollToPid, dragToPid,
// mouseDownToPid, mouseUpToPid): every event goes to the pid, so the user's
// pointer does not move. These operations keep no state: no left-button
// ownership, no panel reservation, no physical-modifier fallback.
#include <optional>
#include <string>

#include "apps/identity.h"
#include "conventions.h"
#include "exports.h"
#include "ghost/ghost_c_api.h"
#include "input/mouse_args.h"
#include "input/mouse_model.h"
#include "input/mouse_post.h"

namespace addon {

namespace {

constexpr double kDragSettleMs = 50;
constexpr double kDragStepMs = 18;

// The pid argument read as a 32-bit integer; positive when acceptable.
int32_t PidAt(const Napi::CallbackInfo& info, size_t i) {
  int32_t pid = 0;
  ReadInt32Loose(info[i], &pid);
  return pid;
}

bool DragToPidSequence(int32_t pid, platform::Point from, platform::Point to,
                       const MouseButton& button, uint64_t flags) {
  const MouseRoute route{pid};
  // Without the move to the start the press would land wherever the process
  // last saw the pointer.
  if (!PostMouseMoved(route, from, false)) return false;
  PublishGhostMoveToPid(pid, from);
  PauseMs(kDragSettleMs);
  auto event = [&](platform::EventType type, platform::Point p) {
    MouseEventParams params;
    params.type = type;
    params.point = p;
    if (flags != 0) params.flags = flags;
    params.button = &button;
    return MakeMouseEvent(params);
  };
  if (!PostMouseEvent(route, event(button.down, from))) return false;
  bool ok = true;
  platform::Point release = from;
  for (int i = 1; i <= kDragSteps; ++i) {
    const platform::Point p = DragStepPoint(from, to, i);
    if (!PostMouseEvent(route, event(button.dragged, p))) {
      ok = false;
      break;
    }
    release = p;
    PublishGhostMoveToPid(pid, p);
    PauseMs(kDragStepMs);
  }
  if (ok) {
    WaitForCursorNear(to);
    release = to;
  }
  if (!PostMouseEvent(route, event(button.up, release))) ok = false;
  if (flags != 0 && !PostMouseMoved(route, release, true)) ok = false;
  if (ok) PublishGhostMoveToPid(pid, to);
  return ok;
}

// mouseDownToPid / mouseUpToPid.
Napi::Value ButtonToPid(const Napi::CallbackInfo& info, bool down, const char* type_message,
                        const char* pid_message, const char* button_message) {
  Napi::Env env = info.Env();
  if (!AreNumbers(info, 0, 1) || !IsStringAt(info, 1)) {
    return ThrowTypeError(env, type_message, MouseFalse(env));
  }
  const int32_t pid = PidAt(info, 0);
  if (pid < 1) return ThrowTypeError(env, pid_message, MouseFalse(env));
  if (!FreshAXIsTrusted()) return MouseFalse(env);
  const std::optional<MouseButton> button = ResolveMouseButton(StringAt(info, 1));
  if (!button) return ThrowTypeError(env, button_message, MouseFalse(env));
  const platform::Point p = RealPointerLocation();
  MouseEventParams params;
  params.type = down ? button->down : button->up;
  params.point = p;
  params.button = &*button;
  const bool ok = PostMouseEvent(MouseRoute{pid}, MakeMouseEvent(params));
  if (ok) PublishGhostMoveToPid(pid, p);
  return Napi::Boolean::New(env, ok);
}

}  // namespace

Napi::Value MoveToPid(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (!AreNumbers(info, 0, 3)) {
    return ThrowTypeError(env, "moveToPid(pid, x, y) expects a pid and two numbers", MouseFalse(env));
  }
  const int32_t pid = PidAt(info, 0);
  const platform::Point p = PointAt(info, 1);
  if (pid < 1 || !FinitePoint(p)) {
    return ThrowTypeError(env, "moveToPid requires a positive pid and finite coordinates",
                          MouseFalse(env));
  }
  if (!FreshAXIsTrusted()) return MouseFalse(env);
  if (ghost_cursor_enabled()) {
    PublishGhostMoveToPid(pid, p);
    return Napi::Boolean::New(env, true);
  }
  return Napi::Boolean::New(env, PostMouseMoved(MouseRoute{pid}, p, false));
}

Napi::Value ScrollToPid(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (!AreNumbers(info, 0, 4) || !IsStringAt(info, 4)) {
    return ThrowTypeError(env,
                          "scrollToPid(pid, x, y, delta, direction) expects a pid, x, y, delta, "
                          "and a direction string",
                          MouseFalse(env));
  }
  const int32_t pid = PidAt(info, 0);
  const platform::Point p = PointAt(info, 1);
  const double delta = NumberAt(info, 3);
  if (pid < 1 || !FinitePoint(p) || !IsScrollDelta(delta)) {
    return ThrowTypeError(env,
                          "scrollToPid requires a positive pid, finite coordinates, and an integer "
                          "delta from 1 to 100",
                          MouseFalse(env));
  }
  if (!FreshAXIsTrusted()) return MouseFalse(env);
  const auto wheels = ScrollWheelValues(LowerTrim(StringAt(info, 4)), static_cast<int32_t>(delta));
  if (!wheels) {
    return ThrowTypeError(env, "scrollToPid: direction must be 'up', 'down', 'left', or 'right'",
                          MouseFalse(env));
  }
  const MouseRoute route{pid};
  PostMouseMoved(route, p, false);
  const bool ok = PostMouseEvent(route, MakeScrollEvent(p, *wheels));
  if (ok) PublishGhostMoveToPid(pid, p);
  return Napi::Boolean::New(env, ok);
}

Napi::Value DragToPid(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (!AreNumbers(info, 0, 5) || !IsStringAt(info, 5)) {
    return ThrowTypeError(env,
                          "dragToPid(pid, fromX, fromY, toX, toY, button, modifiers?) expects a "
                          "pid, four numbers, a button string, and optional modifiers",
                          MouseFalse(env));
  }
  const int32_t pid = PidAt(info, 0);
  const platform::Point from = PointAt(info, 1);
  const platform::Point to = PointAt(info, 3);
  if (pid < 1 || !FinitePoint(from) || !FinitePoint(to)) {
    return ThrowTypeError(env, "dragToPid requires a positive pid and finite coordinates",
                          MouseFalse(env));
  }
  if (!FreshAXIsTrusted()) return MouseFalse(env);
  const std::optional<MouseButton> button = ResolveMouseButton(StringAt(info, 5));
  if (!button) {
    return ThrowTypeError(env, "dragToPid: button must be 'left', 'right', or 'middle'",
                          MouseFalse(env));
  }
  const std::optional<std::string> modifiers = OptionalStringAt(info, 6);
  const uint64_t flags = modifiers ? ParseModifierFlags(*modifiers) : 0;
  return Napi::Boolean::New(env, DragToPidSequence(pid, from, to, *button, flags));
}

Napi::Value MouseDownToPid(const Napi::CallbackInfo& info) {
  return ButtonToPid(info, true, "mouseDownToPid(pid, button) expects a pid and a button string",
                     "mouseDownToPid requires a positive pid",
                     "mouseDownToPid: button must be 'left', 'right', or 'middle'");
}

Napi::Value MouseUpToPid(const Napi::CallbackInfo& info) {
  return ButtonToPid(info, false, "mouseUpToPid(pid, button) expects a pid and a button string",
                     "mouseUpToPid requires a positive pid",
                     "mouseUpToPid: button must be 'left', 'right', or 'middle'");
}

}  // namespace addon
