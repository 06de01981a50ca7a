// The private window-server entry points the add-on calls, bound by name at
// run time. Each table is looked up once per process (thread-safe one-time
// initialisation); an entry that is not found stays null for the life of the
// process and is never looked up again, so callers answer their failure
// instead of calling it.
#pragma once

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace addon {

// Event posting entries (keyboard to a window, background window input).
struct SkyLightEventFunctions {
  bool (*post_to_pid)(pid_t pid, const platform::Event& event) = nullptr;           // SLEventPostToPid
  // The same entry for window-addressed events, answering what is known of
  // the delivery (bound with post_to_pid).
  platform::WindowEventDelivery (*post_to_window)(pid_t pid, const platform::Event& event) = nullptr;
  void (*set_integer_value_field)(platform::Event* event, uint32_t field,
                                  int64_t value) = nullptr;                         // SLEventSetIntegerValueField
  void (*set_window_location)(platform::Event* event, platform::Point p) = nullptr;  // CGEventSetWindowLocation
  int32_t (*post_event_record_to)(const platform::ProcessSerialNumber& psn,
                                  const std::array<uint8_t, 248>& record) = nullptr;  // SLPSPostEventRecordTo
  int32_t (*get_process_for_pid)(pid_t pid, platform::ProcessSerialNumber* psn) = nullptr;  // GetProcessForPID

  // Names of the entries that were not found, in table order.
  std::vector<std::string> absent;
  bool complete() const { return absent.empty(); }
};

// Window event-mask entries (does a window accept left mouse-down).
struct WindowEventMaskFunctions {
  int32_t (*main_connection_id)() = nullptr;  // SLSMainConnectionID
  int32_t (*get_window_event_mask)(int32_t connection, uint32_t window_id,
                                   uint32_t* mask) = nullptr;  // SLSGetWindowEventMask
  bool complete() const { return main_connection_id && get_window_event_mask; }
};

// Bound on first use; the same table for the rest of the process.
const SkyLightEventFunctions& SkyLightEvents();
const WindowEventMaskFunctions& WindowEventMask();

}  // namespace addon
