// Event taps: a callback on the session's mouse event path, run on a thread
// of the caller's choosing. A tap sees every mouse event posted to the HID or
// session tap (by the user's hardware or by any process) before it reaches
// the window under the pointer; events posted to one process do not pass
// through taps.
//
// Swallowing is a separate capability: where the backend can hold an event
// until the callback decides (an active tap), a kSwallow verdict drops it;
// where it can only watch (a passive monitor, such as XInput2 raw events on
// X11), CanSwallow() answers false and every verdict is ignored. A backend
// without taps keeps the defaults: CreateMouseTap answers null.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/events.h"

namespace platform {

struct TapEvent {
  enum class Kind {
    kEvent,
    // The platform switched the tap off: its callback did not answer in
    // time, or the user's input disabled it. No further events arrive until
    // the tap is enabled again.
    kDisabledByTimeout,
    kDisabledByUserInput,
  };
  Kind kind = Kind::kEvent;
  EventType type = EventType::kNull;
  Point location;             // global top-left points
  pid_t source_pid = 0;       // the posting process; 0 for hardware input, -1 unknown
  int64_t source_user_data = 0;  // field 42 of the event
  int64_t click_state = 0;    // field 1 of the event
  uint64_t timestamp_ns = 0;
};

enum class TapVerdict { kPass, kSwallow };

using TapCallback = std::function<TapVerdict(const TapEvent&)>;

// One tap. Destroying it removes it from the event path; an event waiting
// for its verdict then passes.
class MouseTap {
 public:
  virtual ~MouseTap() = default;
  // False when the platform refuses to enable the tap.
  virtual bool Enable(bool on) = 0;
  virtual bool IsEnabled() = 0;
  // Runs the tap's callback on the calling thread for events that arrive
  // within `slice`; returns when the slice is over or Wake() was called.
  // Only one thread runs a tap.
  virtual void RunFor(std::chrono::nanoseconds slice) = 0;
  // Makes a RunFor in progress (or the next one) return at once.
  virtual void Wake() = 0;
};

class EventTaps {
 public:
  virtual ~EventTaps() = default;
  // Whether a tap's kSwallow verdict keeps the event from its window.
  virtual bool CanSwallow() { return false; }
  // A tap at the head of the session's tap list for the event types whose
  // bits (1 << type) are set in `mask`; null when taps are unavailable.
  virtual std::unique_ptr<MouseTap> CreateMouseTap(uint64_t /*mask*/, TapCallback) {
    return nullptr;
  }
  // Whether the left mouse button is down in the combined system state
  // (hardware and synthetic); false when the backend cannot tell.
  virtual bool LeftButtonDown() { return false; }
};

inline uint64_t TapMask(EventType t) { return uint64_t{1} << static_cast<uint32_t>(t); }

// The default service of a backend without taps.
EventTaps& UnavailableEventTaps();

}  // namespace platform
