#include "skylight.h"

#include <mutex>

namespace addon {

namespace {

platform::PrivateApi& Api() { return platform::Get().private_api(); }

// Trampolines into the backend for entries the lookup found.
bool PostToPid(pid_t pid, const platform::Event& event) { return Api().EventPostToPid(pid, event); }
platform::WindowEventDelivery PostToWindow(pid_t pid, const platform::Event& event) {
  return Api().EventPostToWindow(pid, event);
}
void SetIntegerValueField(platform::Event* event, uint32_t field, int64_t value) {
  Api().EventSetIntegerValueField(event, field, value);
}
void SetWindowLocation(platform::Event* event, platform::Point p) {
  Api().EventSetWindowLocation(event, p);
}
int32_t PostEventRecordTo(const platform::ProcessSerialNumber& psn,
                          const std::array<uint8_t, 248>& record) {
  return Api().PostEventRecordTo(psn, record);
}
int32_t GetProcessForPid(pid_t pid, platform::ProcessSerialNumber* psn) {
  return Api().GetProcessForPid(pid, psn);
}
int32_t MainConnectionId() { return Api().MainConnectionId(); }
int32_t GetWindowEventMask(int32_t connection, uint32_t window_id, uint32_t* mask) {
  return Api().GetWindowEventMask(connection, window_id, mask);
}

// Binds `fn` to `target` when `symbol` is found, else records it as absent.
template <class F>
void Bind(const char* library, const char* symbol, F target, F* fn,
          std::vector<std::string>* absent) {
  if (Api().Lookup(library, symbol)) {
    *fn = target;
  } else if (absent) {
    absent->push_back(symbol);
  }
}

}  // namespace

const SkyLightEventFunctions& SkyLightEvents() {
  static std::once_flag once;
  static SkyLightEventFunctions table;
  std::call_once(once, [] {
    const char* sl = platform::kSkyLightPath;
    Bind(sl, "SLEventPostToPid", &PostToPid, &table.post_to_pid, &table.absent);
    if (table.post_to_pid) table.post_to_window = &PostToWindow;
    Bind(sl, "SLEventSetIntegerValueField", &SetIntegerValueField,
         &table.set_integer_value_field, &table.absent);
    Bind(sl, "CGEventSetWindowLocation", &SetWindowLocation, &table.set_window_location,
         &table.absent);
    Bind(sl, "SLPSPostEventRecordTo", &PostEventRecordTo, &table.post_event_record_to,
         &table.absent);
    Bind(platform::kApplicationServicesPath, "GetProcessForPID", &GetProcessForPid,
         &table.get_process_for_pid, &table.absent);
  });
  return table;
}

const WindowEventMaskFunctions& WindowEventMask() {
  static std::once_flag once;
  static WindowEventMaskFunctions table;
  std::call_once(once, [] {
    const char* sl = platform::kSkyLightPath;
    Bind(sl, "SLSMainConnectionID", &MainConnectionId, &table.main_connection_id,
         static_cast<std::vector<std::string>*>(nullptr));
    Bind(sl, "SLSGetWindowEventMask", &GetWindowEventMask, &table.get_window_event_mask,
         static_cast<std::vector<std::string>*>(nullptr));
  });
  return table;
}

}  // namespace addon
