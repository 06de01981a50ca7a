#include "platform/event_taps.h"

namespace platform {

EventTaps& UnavailableEventTaps() {
  static EventTaps* none = new EventTaps();
  return *none;
}

}  // namespace platform
