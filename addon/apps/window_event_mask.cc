#include "apps/window_event_mask.h"

#include <mutex>

#include "skylight.h"

namespace {

// Bit of the event mask that stands for left mouse-down.
constexpr uint32_t kLeftMouseDownMaskBit = 2;

// The window server connection, obtained once per process (0: none).
int32_t MainConnection() {
  static std::once_flag once;
  static int32_t connection = 0;
  std::call_once(once, [] {
    const auto& t = addon::WindowEventMask();
    if (t.main_connection_id) connection = t.main_connection_id();
  });
  return connection;
}

}  // namespace

extern "C" bool OzaCopyWindowAcceptsLeftMouseDown(uint32_t window_id, bool* out) {
  if (!out || window_id == 0) return false;
  const auto& t = addon::WindowEventMask();
  if (!t.complete()) return false;
  int32_t connection = MainConnection();
  if (connection == 0) return false;
  uint32_t mask = 0;
  if (t.get_window_event_mask(connection, window_id, &mask) != 0) return false;
  *out = (mask & kLeftMouseDownMaskBit) != 0;
  return true;
}
