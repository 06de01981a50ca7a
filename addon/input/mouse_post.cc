#include "input/mouse_post.h"

#include <chrono>

#include "ghost/ghost_c_api.h"
#include "main_queue.h"
#include "platform/platform.h"

namespace addon {

namespace {

constexpr double kNearTolerance = 1.0;
constexpr double kNearFirstPauseMs = 30;
constexpr double kNearPollMs = 10;
constexpr double kNearPollLimitMs = 100;

// A glide to a bare point (pid below 1) or to a target, with or without a
// click ripple.
void GhostGlide(double x, double y, int32_t pid, uint32_t window_id, bool ripple) {
  if (!ghost_cursor_enabled()) return;
  if (pid < 1) {
    ripple ? ghost_cursor_click_ripple(x, y) : ghost_cursor_move_to(x, y);
  } else if (ripple) {
    ghost_cursor_click_ripple_target(pid, window_id, 0, x, y);
  } else {
    ghost_cursor_move_to_target(pid, window_id, 0, x, y);
  }
}

}  // namespace

platform::Event MakeMouseEvent(const MouseEventParams& params) {
  platform::Event e;
  e.type = params.type;
  e.source = platform::EventSourceState::kCombinedSession;
  e.location = params.point;
  if (params.flags) {
    e.flags = *params.flags;
    e.flags_set = true;
  }
  if (params.button && params.button->writes_button_number()) {
    e.integer_fields[platform::kFieldMouseEventButtonNumber] = params.button->number;
  }
  if (params.tag > 0) e.integer_fields[platform::kFieldEventSourceUserData] = params.tag;
  if (params.click_state > 0) e.integer_fields[platform::kFieldMouseEventClickState] = params.click_state;
  return e;
}

platform::Event MakeScrollEvent(platform::Point p, WheelValues wheels) {
  platform::Event e;
  e.type = platform::EventType::kScrollWheel;
  e.source = platform::EventSourceState::kCombinedSession;
  e.location = p;
  e.scroll_units_pixel = 1;
  e.scroll_wheel_count = 2;
  e.scroll_deltas[0] = wheels.wheel1;
  e.scroll_deltas[1] = wheels.wheel2;
  e.scroll_deltas[2] = 0;
  return e;
}

bool PostMouseEvent(const MouseRoute& route, const platform::Event& event) {
  platform::Events& events = platform::Get().events();
  return route.global() ? events.Post(platform::EventTap::kHID, event)
                        : events.PostToPid(route.pid, event);
}

bool PostMouseMoved(const MouseRoute& route, platform::Point p, bool clear_flags) {
  MouseEventParams params;
  params.point = p;
  if (clear_flags) params.flags = 0;
  return PostMouseEvent(route, MakeMouseEvent(params));
}

void PauseMs(double ms) {
  platform::Get().clock().SleepFor(
      std::chrono::duration_cast<platform::Duration>(std::chrono::duration<double, std::milli>(ms)));
}

void WaitForCursorNear(platform::Point p) {
  PauseMs(kNearFirstPauseMs);
  platform::Platform& plat = platform::Get();
  const platform::TimePoint start = plat.clock().Now();
  const auto limit = std::chrono::duration_cast<platform::Duration>(
      std::chrono::duration<double, std::milli>(kNearPollLimitMs));
  for (;;) {
    platform::Point now;
    if (plat.windows().CurrentPointerLocation(&now) && PointNear(now, p, kNearTolerance)) return;
    if (plat.clock().Now() - start >= limit) return;
    PauseMs(kNearPollMs);
  }
}

platform::Point RealPointerLocation() {
  platform::Point p;
  if (!platform::Get().windows().CurrentPointerLocation(&p)) return {0, 0};
  return p;
}

void PublishGhostClickForTarget(double x, double y, int32_t pid, uint32_t window_id) {
  GhostGlide(x, y, pid, window_id, true);
}

void PublishGhostMoveForTarget(double x, double y, int32_t pid, uint32_t window_id) {
  GhostGlide(x, y, pid, window_id, false);
}

void PublishGhostMoveOnMainQueue(double x, double y, int32_t pid, uint32_t window_id) {
  PostToMain([=] { GhostGlide(x, y, pid, window_id, false); });
}

void PublishGhostMoveToPid(int32_t pid, platform::Point p) {
  if (!ghost_cursor_enabled()) return;
  ghost_cursor_move_to_target(pid, 0, 0, p.x, p.y);
}

void PublishGhostMoveToCurrentTarget(platform::Point p) {
  if (!ghost_cursor_enabled()) return;
  ghost_cursor_move_to_current_target(p.x, p.y);
}

platform::Point ButtonPressPoint() {
  // With the overlay on, moveTo moves only the ghost, so the press belongs
  // where the ghost was last sent, even before its glide has started.
  double x = 0, y = 0;
  if (ghost_cursor_get_target_position(&x, &y)) return {x, y};
  if (ghost_cursor_get_position(&x, &y)) return {x, y};
  return RealPointerLocation();
}

}  // namespace addon
