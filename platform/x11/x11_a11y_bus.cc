// Whether the accessibility bus answers: the session bus names its address
// (org.a11y.Bus.GetAddress) and a connection to it completes a call. Linux
// has no per-process accessibility grant, so this is what trust means here.
// Every call is bounded by a short time-out.
#include <systemd/sd-bus.h>

#include <chrono>
#include <mutex>
#include <string>

#include "x11/x11_ax.h"

namespace x11 {

namespace {

constexpr uint64_t kCallTimeoutUsec = 500 * 1000;
// Trust is asked often (before most exports); one answer serves this long.
constexpr auto kAnswerAge = std::chrono::milliseconds(500);

sd_bus* SessionBus() {
  sd_bus* bus = nullptr;
  // DBUS_SESSION_BUS_ADDRESS first, then $XDG_RUNTIME_DIR/bus.
  if (sd_bus_open_user(&bus) < 0) return nullptr;
  return bus;
}

}  // namespace

std::string A11yBusAddress(sd_bus* session) {
  sd_bus_message* m = nullptr;
  sd_bus_message* reply = nullptr;
  sd_bus_error err = SD_BUS_ERROR_NULL;
  std::string address;
  if (sd_bus_message_new_method_call(session, &m, "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus",
                                     "GetAddress") >= 0 &&
      sd_bus_call(session, m, kCallTimeoutUsec, &err, &reply) >= 0) {
    const char* a = nullptr;
    if (sd_bus_message_read(reply, "s", &a) >= 0 && a) address = a;
  }
  sd_bus_error_free(&err);
  sd_bus_message_unref(reply);
  sd_bus_message_unref(m);
  return address;
}

namespace {

bool BusAnswers(const std::string& address) {
  sd_bus* bus = nullptr;
  if (sd_bus_new(&bus) < 0) return false;
  bool ok = false;
  if (sd_bus_set_address(bus, address.c_str()) >= 0 && sd_bus_set_bus_client(bus, 1) >= 0 &&
      sd_bus_start(bus) >= 0) {
    sd_bus_message* m = nullptr;
    sd_bus_message* reply = nullptr;
    sd_bus_error err = SD_BUS_ERROR_NULL;
    ok = sd_bus_message_new_method_call(bus, &m, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                        "org.freedesktop.DBus", "GetId") >= 0 &&
         sd_bus_call(bus, m, kCallTimeoutUsec, &err, &reply) >= 0;
    sd_bus_error_free(&err);
    sd_bus_message_unref(reply);
    sd_bus_message_unref(m);
  }
  sd_bus_flush_close_unref(bus);
  return ok;
}

// Asks toolkits to expose their trees (org.a11y.Status.IsEnabled = true):
// what the permission prompt leads to elsewhere.
void EnableAccessibility(sd_bus* session) {
  sd_bus_message* m = nullptr;
  sd_bus_message* reply = nullptr;
  sd_bus_error err = SD_BUS_ERROR_NULL;
  if (sd_bus_message_new_method_call(session, &m, "org.a11y.Bus", "/org/a11y/bus",
                                     "org.freedesktop.DBus.Properties", "Set") >= 0 &&
      sd_bus_message_append(m, "ssv", "org.a11y.Status", "IsEnabled", "b", 1) >= 0) {
    sd_bus_call(session, m, kCallTimeoutUsec, &err, &reply);
  }
  sd_bus_error_free(&err);
  sd_bus_message_unref(reply);
  sd_bus_message_unref(m);
}

}  // namespace

bool AccessibilityBusReachable(bool prompt) {
  static std::mutex mu;
  static std::chrono::steady_clock::time_point asked;
  static bool answer = false;
  std::lock_guard<std::mutex> l(mu);
  auto now = std::chrono::steady_clock::now();
  if (!prompt && asked.time_since_epoch().count() != 0 && now - asked < kAnswerAge) return answer;
  sd_bus* session = SessionBus();
  answer = false;
  if (session) {
    if (prompt) EnableAccessibility(session);
    std::string address = A11yBusAddress(session);
    answer = !address.empty() && BusAnswers(address);
    sd_bus_flush_close_unref(session);
  }
  asked = now;
  return answer;
}

}  // namespace x11
