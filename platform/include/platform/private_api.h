// The platform's private window-server and process-manager entry points. On
// the real platform they are looked up by name in libraries opened at run
// time; any of them may be absent. The core binds them once (see
// addon/skylight.h) by asking Lookup(); calling an entry that Lookup() denied
// is a programming error and answers a failure.
#pragma once

#include <sys/types.h>

#include <array>
#include <cstdint>

#include "platform/events.h"

namespace platform {

inline constexpr const char* kSkyLightPath =
    "/System/Library/PrivateFrameworks/SkyLight.framework/SkyLight";
inline constexpr const char* kApplicationServicesPath =
    "/System/Library/Frameworks/ApplicationServices.framework/ApplicationServices";

// What is known of the delivery of a window-addressed event.
enum class WindowEventDelivery {
  // Handed to the window server for the process; whether the application
  // took it cannot be known.
  kPosted = 0,
  // The application answered that it acted on it.
  kDelivered = 1,
  // Nothing can reach the window's application with this event.
  kUndeliverable = 2,
};

struct ProcessSerialNumber {
  uint32_t high = 0;
  uint32_t low = 0;
};

class PrivateApi {
 public:
  virtual ~PrivateApi() = default;
  // Whether `symbol` can be found in the library at `library_path`.
  virtual bool Lookup(const char* library_path, const char* symbol) = 0;

  // "SLEventPostToPid": false when the event was refused. A backend that
  // cannot tell whether the window server took the event answers true.
  virtual bool EventPostToPid(pid_t pid, const Event& event) = 0;
  // Posts a window-addressed event (fields 91 and 92 name the window, the
  // window location is the point inside it) and answers what is known of its
  // delivery. Reached through the "SLEventPostToPid" entry. The platform's
  // entry answers nothing beyond a refusal, so the default posts with
  // EventPostToPid and answers kPosted (kUndeliverable when refused); a
  // backend that can tell whether anything took the event says so.
  virtual WindowEventDelivery EventPostToWindow(pid_t pid, const Event& event) {
    return EventPostToPid(pid, event) ? WindowEventDelivery::kPosted
                                      : WindowEventDelivery::kUndeliverable;
  }
  // "SLEventSetIntegerValueField"
  virtual void EventSetIntegerValueField(Event* event, uint32_t field, int64_t value) = 0;
  // "CGEventSetWindowLocation"
  virtual void EventSetWindowLocation(Event* event, Point window_local) = 0;
  // "SLPSPostEventRecordTo": 0 when accepted.
  virtual int32_t PostEventRecordTo(const ProcessSerialNumber& psn,
                                    const std::array<uint8_t, 248>& record) = 0;
  // "GetProcessForPID": 0 when psn was filled.
  virtual int32_t GetProcessForPid(pid_t pid, ProcessSerialNumber* psn) = 0;
  // "SLSMainConnectionID"
  virtual int32_t MainConnectionId() = 0;
  // "SLSGetWindowEventMask": 0 when mask was filled.
  virtual int32_t GetWindowEventMask(int32_t connection, uint32_t window_id, uint32_t* mask) = 0;
};

}  // namespace platform
