// The accessibility thread: one thread owns every sd-bus connection of the
// backend (the accessibility bus and each application's direct socket), since
// sd-bus objects are not thread-safe. Other threads hand it batches of method
// calls and wait on the seam clock; the thread sends them (at most 64 in
// flight), each with its own time-out, and parses every reply into a plain
// value tree that the caller reads on its own thread.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <variant>
#include <vector>

#include "platform/value.h"

namespace x11::atspi {

// A parsed D-Bus value. Strings, object paths and signatures are kStr; every
// integer type and booleans are kInt; arrays, structs and dict entries are
// kList; a variant is replaced by the value it holds.
struct D {
  enum Kind : uint8_t { kNone, kStr, kInt, kDouble, kList } kind = kNone;
  int64_t i = 0;
  double d = 0;
  std::string s;
  std::vector<D> v;

  const D& at(size_t n) const;
  size_t size() const { return kind == kList ? v.size() : 0; }
  int64_t Int(int64_t fallback = 0) const { return kind == kInt ? i : kind == kDouble ? static_cast<int64_t>(d) : fallback; }
  double Real() const { return kind == kDouble ? d : kind == kInt ? static_cast<double>(i) : 0; }
};

// A variant argument (Properties.Set).
struct VarDouble {
  double value;
};
struct VarBool {
  bool value;
};
using Arg = std::variant<std::string, int32_t, uint32_t, bool, VarDouble, VarBool,
                         std::vector<std::string>>;

// Destinations that are the accessibility bus itself, never a direct socket.
inline constexpr const char* kDBusName = "org.freedesktop.DBus";
inline constexpr const char* kRegistryName = "org.a11y.atspi.Registry";

struct Call {
  std::string dest;  // unique name of the application, or a bus service
  std::string path;
  std::string iface;
  std::string member;
  std::vector<Arg> args;
  uint64_t timeout_usec = 0;
  bool direct = true;  // use the application's direct socket when it offers one
  // Sent on a direct connection opened for this call alone and closed after
  // its answer. Actions need it: a toolkit that runs a modal loop inside the
  // handler (a dialog opened by a press) leaves the connection that carried
  // the call in dispatch until the dialog closes, and nothing else sent on
  // that connection is answered meanwhile.
  bool own_connection = false;
  // Sent before the calls of its batch that are still waiting (a walk's
  // next level goes ahead of facts, which nothing waits on).
  bool urgent = false;
  // Filled by the accessibility thread.
  platform::AXError err = platform::kAXErrorCannotComplete;
  std::string error_name;
  D reply;  // the reply's arguments, as one list
  bool ok() const { return err == platform::kAXErrorSuccess; }
};

// Convenience builders.
Call Method(const std::string& dest, const std::string& path, const char* iface,
            const char* member, std::vector<Arg> args = {});
Call GetProperty(const std::string& dest, const std::string& path, const char* iface,
                 const char* prop);

// The D-Bus error name of a failed call as the platform's error.
platform::AXError ErrorFor(const std::string& dbus_error_name, int errno_value);

// What the thread reports to the element records: an application's object
// changed (children or states), or a bus name lost its owner (path empty).
using ChangeListener = std::function<void(const std::string& sender, const std::string& path)>;

class Bus {
 public:
  // The process-wide thread, started on first use and never stopped (it must
  // outlive every static object that may still call in).
  static Bus& Get();

  // Whether the accessibility bus is connected (tries to connect again at
  // most once a second).
  bool Connected();
  // Sends every call and waits until each has its answer: a reply, an
  // error, its time-out, or the application's disconnection. A call that
  // times out ends the batch: the calls not yet sent answer "cannot
  // complete" at once, so a hung application costs one time-out.
  void Run(std::vector<Call>* calls);
  // The same, calling `on_answer` on the accessibility thread with each
  // answer as it arrives (the call's index in the batch as it grows); calls
  // it appends to `more` join the batch with the answered call's time-out,
  // so a walk sends each level as soon as its parent answers instead of a
  // round at a time. It must not block and must not call Run. Once Run has
  // returned it is never called again.
  using OnAnswer = std::function<void(size_t index, const Call& answered, std::vector<Call>* more)>;
  void Run(std::vector<Call>* calls, OnAnswer on_answer);
  // Uses the application's direct socket for calls to `bus_name` from now on.
  void OfferDirect(const std::string& bus_name, const std::string& address);
  void SetChangeListener(ChangeListener listener);

  struct Stats {
    std::atomic<uint64_t> calls{0};
    std::atomic<uint64_t> direct_calls{0};
    // When set, every batch handed to Run is copied here first (the
    // benchmark replays a capture's calls against the application alone).
    std::mutex log_mu;
    std::vector<Call>* log = nullptr;
  };
  Stats& stats() { return stats_; }

 private:
  Bus();
  struct Impl;
  Impl* impl_;
  Stats stats_;
};

// Runs one call (a batch of one).
Call RunOne(Call c);

}  // namespace x11::atspi
