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
