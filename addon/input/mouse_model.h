// The mouse vocabulary shared by global, per-process and background-window
// mouse input: button names and their event types, scroll directions and
// wheel values, drag step points, the modifier flags of a mouse operation and
// the process-wide ownership of the left button. Pure logic, safe on any
// thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/events.h"

namespace addon {

struct MouseButton {
  platform::EventType down;
  platform::EventType up;
  platform::EventType dragged;
  int64_t number;  // 0 left, 1 right, 2 middle
  bool left() const { return number == 0; }
  // The button number field is written only on events of the middle button.
  bool writes_button_number() const { return number == 2; }
};

// "left", "right" or "middle" after LowerTrim; anything else is no button.
std::optional<MouseButton> ResolveMouseButton(const std::string& name);
// The same names matched exactly, without trimming or lower-casing.
std::optional<MouseButton> ResolveMouseButtonExact(const std::string& name);

// Wheel values (wheel 1 vertical, wheel 2 horizontal) of a scroll of n units.
struct WheelValues {
  int32_t wheel1 = 0;
  int32_t wheel2 = 0;
};
// "up" (n, 0), "down" (-n, 0), "left" (0, -n), "right" (0, n) for an already
// normalised direction; nullopt for any other text.
std::optional<WheelValues> ScrollWheelValues(const std::string& direction, int32_t n);

inline constexpr int kDragSteps = 10;
// Point i (1 .. kDragSteps) of a drag: from + (to - from) * i / kDragSteps.
platform::Point DragStepPoint(platform::Point from, platform::Point to, int i);

// Modifier keys the user may physically hold that a mouse operation carries:
// Shift, Control, Option, Command and the secondary-Fn bit.
inline constexpr uint64_t kPhysicalModifierMask = 0x9E0000;

// Flags of a global click or drag: the parsed modifiers, or, when they parse
// to nothing and no modifiers text was given (absent or empty), the physical
// modifier state masked with kPhysicalModifierMask. A non-empty text with no
// modifier in it means no flags.
uint64_t GlobalMouseFlags(const std::optional<std::string>& modifiers, uint64_t physical_flags);

// Whether `p` lies within `tolerance` of `target` on both axes.
bool PointNear(platform::Point p, platform::Point target, double tolerance);

// Process-wide ownership of the left mouse button. Every change is one
// atomic compare-and-swap or store, so a drag on a worker thread and a
// synchronous call on the host thread can never both own the button.
class LeftButtonOwnership {
 public:
  enum State : int { kFree = 0, kPressing = 1, kHeld = 2, kSequence = 3 };

  bool Claim(State from, State to) {
    int expected = from;
    return state_.compare_exchange_strong(expected, to);
  }
  State state() const { return static_cast<State>(state_.load()); }
  int64_t held_tag() const { return tag_.load(); }
  // mouseDown("left") posted its press: the button is held with its tag.
  void Hold(int64_t tag) {
    tag_.store(tag);
    state_.store(kHeld);
  }
  // Ends whatever claim the caller made, and the held tag when it is still
  // `tag` (a later press may have stored its own).
  void Release(int64_t tag) {
    int64_t expected = tag;
    tag_.compare_exchange_strong(expected, 0);
    state_.store(kFree);
  }
  // Ends a global sequence: the state and the tag go back to 0.
  void ReleaseAll() {
    tag_.store(0);
    state_.store(kFree);
  }

 private:
  std::atomic<int> state_{kFree};
  std::atomic<int64_t> tag_{0};
};

LeftButtonOwnership& LeftButton();

}  // namespace addon
