// Global mouse input through the system's HID tap: clickAtPoint, moveTo,
// scrollAt, drag, dragAsync, mouseDown and mouseUp. The events act on
// whatever is under the point. Every operation claims the left button's
// ownership state for its whole run and gives it back on every path; a left
// press is offered to the mirroring panels first, and the tag they return
// travels in every event of that press.
#include <cmath>
#include <optional>
#include <string>

#include "apps/activation.h"
#include "apps/identity.h"
#include "conventions.h"
#include "exports.h"
#include "ghost/ghost_c_api.h"
#include "input/holds.h"
#include "input/input_worker.h"
#include "input/mouse_args.h"
#include "input/mouse_model.h"
#include "input/mouse_post.h"
#include "pip/pip_c_api.h"
#include "platform/platform.h"

namespace addon {

namespace {

constexpr double kDragSettleMs = 50;
constexpr double kDragStepMs = 18;

const MouseRoute kHid{};

using State = LeftButtonOwnership::State;

// The panels' answer for a left press at `p`: -1 refuses it, 0 no tag.
int64_t ReservePress(const MouseButton& button, platform::Point p) {
  return button.left() ? pip_prepare_synthetic_pointer_down(p.x, p.y) : 0;
}

uint64_t PhysicalFlags() { return platform::Get().events().CurrentFlags(); }

// The parts of drag and dragAsync after their checks: flags, ghost target and
// how the ghost follows (directly on the host thread, or through the main
// queue from the worker).
void FinishDragRequest(const Napi::CallbackInfo& info, const MouseButton& button,
                       bool ghost_on_main_queue, GlobalDragRequest* r) {
  r->button = button;
  r->flags = GlobalMouseFlags(OptionalStringAt(info, 5), PhysicalFlags());
  const GhostTarget ghost = OptionalGhostTarget(info, 6);
  r->ghost_pid = ghost.pid;
  r->ghost_window_id = ghost.window_id;
  r->publish_ghost = ghost_cursor_enabled();
  r->ghost_on_main_queue = ghost_on_main_queue;
}

}  // namespace

bool PerformGlobalDrag(const GlobalDragRequest& r) {
  LeftButtonOwnership& owner = LeftButton();
  if (!owner.Claim(State::kFree, State::kSequence)) return false;
  auto publish = [&](platform::Point p) {
    if (!r.publish_ghost) return;
    if (r.ghost_on_main_queue) {
      PublishGhostMoveOnMainQueue(p.x, p.y, r.ghost_pid, r.ghost_window_id);
    } else {
      PublishGhostMoveForTarget(p.x, p.y, r.ghost_pid, r.ghost_window_id);
    }
  };
  PostMouseMoved(kHid, r.from, false);
  publish(r.from);
  PauseMs(kDragSettleMs);

  const int64_t tag = ReservePress(r.button, r.from);
  if (tag < 0) {
    owner.ReleaseAll();
    return false;
  }
  const std::optional<uint64_t> flags =
      r.flags != 0 ? std::optional<uint64_t>(r.flags) : std::nullopt;
  auto event = [&](platform::EventType type, platform::Point p) {
    MouseEventParams params;
    params.type = type;
    params.point = p;
    params.flags = flags;
    params.button = &r.button;
    params.tag = tag;
    return MakeMouseEvent(params);
  };

  bool ok = false;
  platform::Point release = r.from;
  if (PostMouseEvent(kHid, event(r.button.down, r.from))) {
    ok = true;
    for (int i = 1; i <= kDragSteps; ++i) {
      const platform::Point p = DragStepPoint(r.from, r.to, i);
      if (!PostMouseEvent(kHid, event(r.button.dragged, p))) {
        ok = false;
        break;
      }
      release = p;
      publish(p);
      PauseMs(kDragStepMs);
    }
    if (ok) {
      WaitForCursorNear(r.to);
      release = r.to;
    }
    // The button is released wherever the drag got to, even after a failed
    // step, so the system never keeps it pressed.
    if (!PostMouseEvent(kHid, event(r.button.up, release))) ok = false;
  }
  if (r.flags != 0 && !PostMouseMoved(kHid, release, true)) ok = false;
  if (ok) publish(r.to);
  owner.ReleaseAll();
  return ok;
}

Napi::Value ClickAtPoint(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (FocusStealPrevented()) return MouseFalse(env);
  if (!AreNumbers(info, 0, 2) || !IsStringAt(info, 2) || !AreNumbers(info, 3, 1)) {
    return ThrowTypeError(env,
                          "clickAtPoint(x, y, button, clicks, modifiers?) expects two numbers, a "
                          "button string, a click count, and an optional modifiers string",
                          MouseFalse(env));
  }
  const platform::Point p = PointAt(info, 0);
  const double clicks = NumberAt(info, 3);
  if (!FinitePoint(p) || !std::isfinite(clicks) || clicks != std::floor(clicks) || clicks < 1 ||
      clicks > 3) {
    return ThrowTypeError(env, "clickAtPoint requires finite coordinates and 1..3 clicks",
                          MouseFalse(env));
  }
  if (!FreshAXIsTrusted()) return MouseFalse(env);
  const std::optional<MouseButton> button = ResolveMouseButton(StringAt(info, 2));
  if (!button) {
    return ThrowTypeError(env, "clickAtPoint: button must be 'left', 'right', or 'middle'",
                          MouseFalse(env));
  }
  const uint64_t flags = GlobalMouseFlags(OptionalStringAt(info, 4), PhysicalFlags());
  const GhostTarget ghost = OptionalGhostTarget(info, 5);

  LeftButtonOwnership& owner = LeftButton();
  if (!owner.Claim(State::kFree, State::kSequence)) return MouseFalse(env);
  bool ok = true;
  bool first_posted = false;
  for (int k = 1; k <= static_cast<int>(clicks); ++k) {
    const int64_t tag = ReservePress(*button, p);
    if (tag < 0) {
      ok = false;
      break;
    }
    MouseEventParams params;
    params.point = p;
    if (flags != 0) params.flags = flags;
    params.button = &*button;
    params.tag = tag;
    params.click_state = k;
    params.type = button->down;
    const platform::Event down = MakeMouseEvent(params);
    params.type = button->up;
    const platform::Event up = MakeMouseEvent(params);
    const bool down_ok = PostMouseEvent(kHid, down);
    // A press whose down went out is always followed by its up.
    const bool up_ok = down_ok && PostMouseEvent(kHid, up);
    if (!down_ok || !up_ok) {
      ok = false;
      first_posted = first_posted || down_ok;
      break;
    }
    first_posted = true;
  }
  if (flags != 0 && !PostMouseMoved(kHid, p, true)) ok = false;
  if (first_posted) PublishGhostClickForTarget(p.x, p.y, ghost.pid, ghost.window_id);
  owner.ReleaseAll();
  return Napi::Boolean::New(env, ok);
}

Napi::Value MoveTo(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (!AreNumbers(info, 0, 2)) {
    return ThrowTypeError(env, "moveTo(x, y) expects two numbers", MouseFalse(env));
  }
  const platform::Point p = PointAt(info, 0);
  if (!FinitePoint(p)) return ThrowTypeError(env, "moveTo coordinates must be finite", MouseFalse(env));
  if (!FreshAXIsTrusted()) return MouseFalse(env);
  const GhostTarget ghost = OptionalGhostTarget(info, 2);
  LeftButtonOwnership& owner = LeftButton();
  if (owner.Claim(State::kFree, State::kSequence)) {
    bool ok = true;
    if (ghost_cursor_enabled()) {
      // With the overlay on only the ghost moves; the user's pointer stays.
      PublishGhostMoveForTarget(p.x, p.y, ghost.pid, ghost.window_id);
    } else {
      ok = PostMouseMoved(kHid, p, false);
    }
    owner.ReleaseAll();
    return Napi::Boolean::New(env, ok);
  }
  if (owner.state() != State::kHeld) return MouseFalse(env);
  // The left button is held by mouseDown: moving drags it.
  MouseEventParams params;
  params.type = platform::EventType::kLeftMouseDragged;
  params.point = p;
  params.tag = owner.held_tag();
  const bool ok = PostMouseEvent(kHid, MakeMouseEvent(params));
  PublishGhostMoveForTarget(p.x, p.y, ghost.pid, ghost.window_id);
  return Napi::Boolean::New(env, ok);
}

Napi::Value ScrollAt(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (FocusStealPrevented()) return MouseFalse(env);
  if (!AreNumbers(info, 0, 3) || !IsStringAt(info, 3)) {
    return ThrowTypeError(env,
                          "scrollAt(x, y, delta, direction) expects x, y, delta, and a direction "
                          "string",
                          MouseFalse(env));
  }
  const platform::Point p = PointAt(info, 0);
  const double delta = NumberAt(info, 2);
  if (!FinitePoint(p) || !IsScrollDelta(delta)) {
    return ThrowTypeError(env, "scrollAt requires finite coordinates and an integer delta from 1 to 100",
                          MouseFalse(env));
  }
  if (!FreshAXIsTrusted()) return MouseFalse(env);
  const auto wheels = ScrollWheelValues(LowerTrim(StringAt(info, 3)), static_cast<int32_t>(delta));
  if (!wheels) {
    return ThrowTypeError(env, "scrollAt: direction must be 'up', 'down', 'left', or 'right'",
                          MouseFalse(env));
  }
  const GhostTarget ghost = OptionalGhostTarget(info, 4);
  LeftButtonOwnership& owner = LeftButton();
  if (!owner.Claim(State::kFree, State::kSequence)) return MouseFalse(env);
  PostMouseMoved(kHid, p, false);
  const bool ok = PostMouseEvent(kHid, MakeScrollEvent(p, *wheels));
  if (ok) PublishGhostMoveForTarget(p.x, p.y, ghost.pid, ghost.window_id);
  owner.ReleaseAll();
  return Napi::Boolean::New(env, ok);
}

Napi::Value Drag(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (FocusStealPrevented()) return MouseFalse(env);
  if (!AreNumbers(info, 0, 4) || !IsStringAt(info, 4)) {
    return ThrowTypeError(env,
                          "drag(fromX, fromY, toX, toY, button, modifiers?) expects four numbers, "
                          "a button string, and optional modifiers",
                          MouseFalse(env));
  }
  GlobalDragRequest r;
  r.from = PointAt(info, 0);
  r.to = PointAt(info, 2);
  if (!FinitePoint(r.from) || !FinitePoint(r.to)) {
    return ThrowTypeError(env, "drag coordinates must be finite", MouseFalse(env));
  }
  if (!FreshAXIsTrusted()) return MouseFalse(env);
  const std::optional<MouseButton> button = ResolveMouseButton(StringAt(info, 4));
  if (!button) {
    return ThrowTypeError(env, "drag: button must be 'left', 'right', or 'middle'", MouseFalse(env));
  }
  FinishDragRequest(info, *button, false, &r);
  const bool ok = TryRunSynchronousInputSequence([&] { return PerformGlobalDrag(r); });
  return Napi::Boolean::New(env, ok);
}

Napi::Value DragAsync(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (FocusStealPrevented()) return ResolvedBoolPromise(env, false);
  if (!AreNumbers(info, 0, 4) || !IsStringAt(info, 4)) {
    return ThrowTypeError(env,
                          "dragAsync(fromX, fromY, toX, toY, button, modifiers?) expects four "
                          "numbers, a button string, and optional modifiers");
  }
  GlobalDragRequest r;
  r.from = PointAt(info, 0);
  r.to = PointAt(info, 2);
  const std::optional<MouseButton> button = ResolveMouseButton(StringAt(info, 4));
  if (!FinitePoint(r.from) || !FinitePoint(r.to) || !button || !FreshAXIsTrusted()) {
    return ResolvedBoolPromise(env, false);
  }
  FinishDragRequest(info, *button, true, &r);
  return QueueInputWorker(env, false, [r] { return PerformGlobalDrag(r); }, nullptr, 0);
}

Napi::Value MouseDown(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (!IsStringAt(info, 0)) {
    return ThrowTypeError(env, "mouseDown(button) expects a button string", MouseFalse(env));
  }
  if (!FreshAXIsTrusted()) return MouseFalse(env);
  const std::optional<MouseButton> button = ResolveMouseButton(StringAt(info, 0));
  if (!button) {
    return ThrowTypeError(env, "mouseDown: button must be 'left', 'right', or 'middle'",
                          MouseFalse(env));
  }
  LeftButtonOwnership& owner = LeftButton();
  if (button->left() && !owner.Claim(State::kFree, State::kPressing)) return MouseFalse(env);
  const platform::Point p = ButtonPressPoint();
  const int64_t tag = ReservePress(*button, p);
  if (tag < 0) {
    owner.ReleaseAll();
    return MouseFalse(env);
  }
  MouseEventParams params;
  params.type = button->down;
  params.point = p;
  params.button = &*button;
  params.tag = tag;
  const bool ok = PostMouseEvent(kHid, MakeMouseEvent(params));
  if (ok) PublishGhostMoveToCurrentTarget(p);
  if (button->left()) {
    if (ok) owner.Hold(tag);
    else owner.ReleaseAll();
  }
  return Napi::Boolean::New(env, ok);
}

Napi::Value MouseUp(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (!IsStringAt(info, 0)) {
    return ThrowTypeError(env, "mouseUp(button) expects a button string", MouseFalse(env));
  }
  const std::optional<MouseButton> button = ResolveMouseButton(StringAt(info, 0));
  if (!button) {
    return ThrowTypeError(env, "mouseUp: button must be 'left', 'right', or 'middle'",
                          MouseFalse(env));
  }
  LeftButtonOwnership& owner = LeftButton();
  int64_t tag = 0;
  if (button->left()) {
    // Only the holder of a mouseDown("left") may release it; taking the
    // state keeps a second mouseUp from releasing it twice.
    tag = owner.held_tag();
    if (!owner.Claim(State::kHeld, State::kPressing)) return MouseFalse(env);
  } else if (!FreshAXIsTrusted()) {
    return MouseFalse(env);
  }
  const platform::Point p = ButtonPressPoint();
  MouseEventParams params;
  params.type = button->up;
  params.point = p;
  params.button = &*button;
  params.tag = tag;
  const bool ok = PostMouseEvent(kHid, MakeMouseEvent(params));
  if (ok) PublishGhostMoveToCurrentTarget(p);
  // The ownership ends whether or not the release could be posted: a button
  // that stayed "held" would refuse every later global click for good.
  if (button->left()) owner.Release(tag);
  return Napi::Boolean::New(env, ok);
}

}  // namespace addon
