#include "input/background_events.h"

#include <chrono>
#include <cmath>
#include <ctime>

#include "ghost/ghost_c_api.h"
#include "input/key_names.h"
#include "input/mouse_post.h"
#include "main_queue.h"
#include "platform/platform.h"
#include "skylight.h"

namespace addon {

namespace {

constexpr uint32_t kFieldEventNumber = 0;
constexpr uint32_t kFieldSubtype = 7;
constexpr uint32_t kFieldWindowId = 51;
constexpr uint32_t kField58 = 58;
constexpr uint32_t kFieldPressure = 2;  // double field
constexpr int64_t kSubtypeWindowAddressed = 3;

// AppKit event types and subtypes of the activation routine.
constexpr uint32_t kAppKitOtherType = 21;
constexpr int64_t kAppKitOtherSubtype = -32768;
constexpr uint32_t kAppKitDefinedType = 13;
constexpr int64_t kAppKitDefinedSubtype = 1;
constexpr uint64_t kAppKitDefinedWindowFlags = 0xC0000;

constexpr double kClickMovePauseMs = 15;
constexpr double kPairPauseMs = 1;
constexpr double kPrimerPauseMs = 100;
constexpr double kBetweenClicksMs = 80;
constexpr double kDragStepMs = 18;

platform::Event HidEvent(platform::EventType type, platform::Point p, uint64_t flags) {
  platform::Event e;
  e.type = type;
  e.source = platform::EventSourceState::kHIDSystem;
  e.location = p;
  e.flags = flags;
  e.flags_set = true;
  return e;
}

// The ghost follows a background operation on the session it was asked for
// at queue time, from the main queue.
void PublishGhost(const BackgroundMouseOp& op, const WindowTarget& t, platform::Point p, bool ripple) {
  if (!op.publish_ghost) return;
  const std::string session = op.ghost_session;
  const int32_t pid = t.pid;
  const uint32_t window = t.window_id;
  PostToMain([=] {
    const char* named = session.empty() ? nullptr : session.c_str();
    if (ripple) {
      ghost_cursor_click_ripple_target_session(pid, window, 1, named, p.x, p.y);
    } else {
      ghost_cursor_move_to_target_session(pid, window, 1, named, p.x, p.y);
    }
  });
}

void PublishGhostMove(const BackgroundMouseOp& op, const WindowTarget& t, platform::Point p) {
  PublishGhost(op, t, p, false);
}

void PublishGhostClick(const BackgroundMouseOp& op, const WindowTarget& t, platform::Point p) {
  PublishGhost(op, t, p, true);
}

// A down and an up event at one point with the flags; both or neither.
struct PreparedMousePair {
  platform::Event down;
  platform::Event up;
  bool Prepare(const MouseButton& button, platform::Point p, uint64_t flags) {
    down = HidEvent(button.down, p, flags);
    up = HidEvent(button.up, p, flags);
    return true;
  }
};

int64_t SteadyNsModulo() {
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                      platform::Get().clock().Now().time_since_epoch())
                      .count();
  return ns % 1000000000LL;
}

bool Reached(platform::WindowEventDelivery d) {
  return d != platform::WindowEventDelivery::kUndeliverable;
}

bool PostClick(const BackgroundMouseOp& op, const WindowTarget& t, const MouseButton& button) {
  const uint64_t flags = ModifierFlags(op.modifiers);
  const int64_t c = button.number;
  const int64_t time = SteadyNsModulo();
  const int clicks = static_cast<int>(op.clicks);
  PreparedMousePair primer;
  std::vector<PreparedMousePair> pairs(clicks);
  if (!primer.Prepare(button, {-1, -1}, flags)) return false;
  for (PreparedMousePair& pair : pairs) {
    if (!pair.Prepare(button, op.point, flags)) return false;
  }
  // The move and the primer prepare the process; only the presses at the
  // point decide whether the click reached anything.
  SkyLightPostToWindow(HidEvent(platform::EventType::kMouseMoved, op.point, 0), t, op.point, 0, 2, c,
                       time);
  PublishGhostMove(op, t, op.point);
  PauseMs(kClickMovePauseMs);
  // A press at (-1, -1), outside the window, first: the process starts a
  // fresh click sequence, so the real clicks count from 1.
  SkyLightPostToWindow(primer.down, t, {-1, -1}, 1, 1, c, time);
  PauseMs(kPairPauseMs);
  SkyLightPostToWindow(primer.up, t, {-1, -1}, 1, 2, c, time);
  PauseMs(kPrimerPauseMs);
  for (int k = 1; k <= clicks; ++k) {
    // A press nothing can receive ends the click: it is not reported as made.
    if (!Reached(SkyLightPostToWindow(pairs[k - 1].down, t, op.point, k, 3, c, time))) return false;
    PauseMs(kPairPauseMs);
    if (!Reached(SkyLightPostToWindow(pairs[k - 1].up, t, op.point, k, 3, c, time))) return false;
    if (k < clicks) PauseMs(kBetweenClicksMs);
  }
  PublishGhostClick(op, t, op.point);
  return true;
}

bool PostDrag(const BackgroundMouseOp& op, const WindowTarget& t, const MouseButton& button) {
  const uint64_t flags = ModifierFlags(op.modifiers);
  const int64_t c = button.number;
  PreparedMousePair pair;
  if (!pair.Prepare(button, op.point, flags)) return false;
  SkyLightPostToWindow(HidEvent(platform::EventType::kMouseMoved, op.point, 0), t, op.point, 0, 2, c, 0);
  PublishGhostMove(op, t, op.point);
  if (!Reached(SkyLightPostToWindow(pair.down, t, op.point, 1, 3, c, 0))) return false;
  bool reached = true;
  platform::Point last = op.point;
  for (int i = 1; i <= kDragSteps && reached; ++i) {
    last = DragStepPoint(op.point, op.to, i);
    reached = Reached(SkyLightPostToWindow(HidEvent(button.dragged, last, flags), t, last, 1, 3, c, 0));
    PublishGhostMove(op, t, last);
    PauseMs(kDragStepMs);
  }
  // The button goes up where the drag got to, also after a step nothing took.
  pair.up.location = last;
  return Reached(SkyLightPostToWindow(pair.up, t, last, 1, 3, c, 0)) && reached;
}

}  // namespace

std::vector<std::pair<uint32_t, int64_t>> WindowAddressedFields(int32_t pid, uint32_t window_id,
                                                                int64_t a, int64_t b, int64_t c,
                                                                int64_t d) {
  return {{kFieldEventNumber, b},
          {platform::kFieldMouseEventClickState, a},
          {platform::kFieldMouseEventButtonNumber, c},
          {kFieldSubtype, kSubtypeWindowAddressed},
          {platform::kFieldEventTargetUnixProcessID, pid},
          {kFieldWindowId, window_id},
          {kField58, d},
          {platform::kFieldMouseEventWindowUnderMousePointer, window_id},
          {platform::kFieldMouseEventWindowUnderMousePointerThatCanHandleThisEvent, window_id}};
}

platform::Point WindowLocalPoint(platform::Point global, const platform::Rect& bounds) {
  if (global.x == -1 && global.y == -1) return global;
  return {global.x - bounds.x, global.y - bounds.y};
}

platform::WindowEventDelivery SkyLightPostToWindow(platform::Event event, const WindowTarget& t,
                                                   platform::Point global, int64_t a, int64_t b,
                                                   int64_t c, int64_t d) {
  const SkyLightEventFunctions& sl = SkyLightEvents();
  // Begin refuses to open a session while any entry is absent.
  if (!sl.complete() || !sl.post_to_window) return platform::WindowEventDelivery::kUndeliverable;
  for (const auto& [field, value] : WindowAddressedFields(t.pid, t.window_id, a, b, c, d)) {
    sl.set_integer_value_field(&event, field, value);
  }
  sl.set_window_location(&event, WindowLocalPoint(global, t.bounds));
  event.location = global;
  return sl.post_to_window(t.pid, event);
}

uint64_t UptimeNs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                   platform::Get().clock().Now().time_since_epoch())
                                   .count());
}

platform::Event AppKitOtherEvent() {
  platform::Event e;
  e.type = static_cast<platform::EventType>(kAppKitOtherType);
  e.flags_set = true;
  e.integer_fields[kFieldSubtype] = kAppKitOtherSubtype;
  e.timestamp_ns = UptimeNs();
  return e;
}

platform::Event AppKitActivationEvent(uint32_t window_id) {
  platform::Event e;
  e.type = static_cast<platform::EventType>(kAppKitDefinedType);
  e.flags = window_id != 0 ? kAppKitDefinedWindowFlags : 0;
  e.flags_set = true;
  e.integer_fields[kFieldSubtype] = kAppKitDefinedSubtype;
  e.integer_fields[kFieldWindowId] = window_id;
  return e;
}

platform::Event MakeSyntheticActivationClick(bool down, uint32_t window_id,
                                             const platform::Rect& frame, platform::Point point) {
  platform::Event e;
  e.type = down ? platform::EventType::kLeftMouseDown : platform::EventType::kLeftMouseUp;
  e.location = point;
  e.flags = 0;
  e.flags_set = true;
  e.integer_fields[kFieldEventNumber] = static_cast<int64_t>(e.type);
  e.integer_fields[platform::kFieldMouseEventClickState] = 1;
  e.double_fields[kFieldPressure] = 1.0;
  e.integer_fields[kFieldWindowId] = window_id;
  e.integer_fields[platform::kFieldMouseEventButtonNumber] = 0;
  e.integer_fields[kFieldSubtype] = kSubtypeWindowAddressed;
  e.integer_fields[platform::kFieldMouseEventWindowUnderMousePointer] = window_id;
  e.integer_fields[platform::kFieldMouseEventWindowUnderMousePointerThatCanHandleThisEvent] =
      window_id;
  const SkyLightEventFunctions& sl = SkyLightEvents();
  if (sl.set_window_location) sl.set_window_location(&e, {point.x - frame.x, point.y - frame.y});
  return e;
}

bool BackgroundOpAcceptable(const BackgroundMouseOp& op, const WindowTarget& t) {
  using Kind = BackgroundMouseOp::Kind;
  if (!PointInBounds(op.point, t.bounds)) return false;
  if (op.kind == Kind::kDrag && !PointInBounds(op.to, t.bounds)) return false;
  const bool has_button = op.kind == Kind::kClick || op.kind == Kind::kDrag ||
                          op.kind == Kind::kMouseDown || op.kind == Kind::kMouseUp;
  if (has_button && !ResolveMouseButtonExact(op.button)) return false;
  if (op.kind == Kind::kClick &&
      (op.clicks != std::floor(op.clicks) || op.clicks < 1 || op.clicks > 3)) {
    return false;
  }
  if (op.kind == Kind::kScroll) {
    if (!std::isfinite(op.delta) || op.delta != std::floor(op.delta) || op.delta < 0 ||
        op.delta > 100) {
      return false;
    }
    if (!ScrollWheelValues(op.direction, 1)) return false;
  }
  return true;
}

bool PostBackgroundOp(const BackgroundMouseOp& op, const WindowTarget& t) {
  using Kind = BackgroundMouseOp::Kind;
  const std::optional<MouseButton> button = ResolveMouseButtonExact(op.button);
  switch (op.kind) {
    case Kind::kMove: {
      const auto delivery = SkyLightPostToWindow(
          HidEvent(platform::EventType::kMouseMoved, op.point, 0), t, op.point, 0, 2, 0, 0);
      PublishGhostMove(op, t, op.point);
      return Reached(delivery);
    }
    case Kind::kScroll: {
      const auto wheels = ScrollWheelValues(op.direction, static_cast<int32_t>(op.delta));
      platform::Event e = MakeScrollEvent(op.point, *wheels);
      e.source = platform::EventSourceState::kHIDSystem;
      const auto delivery = SkyLightPostToWindow(e, t, op.point, 0, 3, 0, 0);
      PublishGhostMove(op, t, op.point);
      return Reached(delivery);
    }
    case Kind::kClick:
      return PostClick(op, t, *button);
    case Kind::kDrag:
      return PostDrag(op, t, *button);
    case Kind::kMouseDown:
    case Kind::kMouseUp: {
      const auto delivery = SkyLightPostToWindow(
          HidEvent(op.kind == Kind::kMouseDown ? button->down : button->up, op.point, 0), t, op.point,
          1, 3, button->number, 0);
      PublishGhostMove(op, t, op.point);
      return Reached(delivery);
    }
  }
  return false;
}

}  // namespace addon
