// Event service: synthetic keyboard, mouse and scroll events, and posting them
// to the system (HID or session tap) or to one process.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "platform/value.h"

namespace platform {

enum class EventType : uint32_t {
  kNull = 0,
  kLeftMouseDown = 1,
  kLeftMouseUp = 2,
  kRightMouseDown = 3,
  kRightMouseUp = 4,
  kMouseMoved = 5,
  kLeftMouseDragged = 6,
  kRightMouseDragged = 7,
  kKeyDown = 10,
  kKeyUp = 11,
  kFlagsChanged = 12,
  kScrollWheel = 22,
  kOtherMouseDown = 25,
  kOtherMouseUp = 26,
  kOtherMouseDragged = 27,
};

enum class EventSourceState : int32_t { kPrivate = -1, kCombinedSession = 0, kHIDSystem = 1 };

enum class EventTap { kHID = 0, kSession = 1, kAnnotatedSession = 2 };

// Well-known integer field numbers.
inline constexpr uint32_t kFieldMouseEventClickState = 1;
inline constexpr uint32_t kFieldMouseEventButtonNumber = 3;
inline constexpr uint32_t kFieldKeyboardEventAutorepeat = 8;
inline constexpr uint32_t kFieldKeyboardEventKeycode = 9;
inline constexpr uint32_t kFieldScrollWheelEventDeltaAxis1 = 11;
inline constexpr uint32_t kFieldScrollWheelEventDeltaAxis2 = 12;
inline constexpr uint32_t kFieldEventTargetUnixProcessID = 40;
inline constexpr uint32_t kFieldEventSourceUnixProcessID = 41;
inline constexpr uint32_t kFieldEventSourceUserData = 42;
inline constexpr uint32_t kFieldMouseEventWindowUnderMousePointer = 91;
inline constexpr uint32_t kFieldMouseEventWindowUnderMousePointerThatCanHandleThisEvent = 92;

// Modifier flag bits.
inline constexpr uint64_t kFlagMaskShift = 0x00020000;
inline constexpr uint64_t kFlagMaskControl = 0x00040000;
inline constexpr uint64_t kFlagMaskAlternate = 0x00080000;
inline constexpr uint64_t kFlagMaskCommand = 0x00100000;
inline constexpr uint64_t kFlagMaskSecondaryFn = 0x00800000;

struct Event {
  EventType type = EventType::kNull;
  EventSourceState source = EventSourceState::kHIDSystem;
  Point location;
  std::optional<Point> window_location;
  uint64_t flags = 0;
  // Whether the creator set `flags` explicitly. When false the event keeps
  // the flags it was created with and a backend may post its own default
  // (for example the current modifier state) instead of `flags`.
  bool flags_set = false;
  uint16_t keycode = 0;
  std::u16string unicode;  // keyboard Unicode payload
  int32_t scroll_units_pixel = 0;  // 0: line units, 1: pixel units
  int32_t scroll_wheel_count = 0;
  int32_t scroll_deltas[3] = {0, 0, 0};
  std::map<uint32_t, int64_t> integer_fields;
  std::map<uint32_t, double> double_fields;
  uint64_t timestamp_ns = 0;
};

class Events {
 public:
  virtual ~Events() = default;
  // Posting answers false only when the platform refused to create or post.
  virtual bool Post(EventTap tap, const Event& event) = 0;
  virtual bool PostToPid(pid_t pid, const Event& event) = 0;
  // Current modifier flags of the combined session state.
  virtual uint64_t CurrentFlags() = 0;
};

}  // namespace platform
