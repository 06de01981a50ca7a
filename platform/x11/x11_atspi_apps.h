// Applications on the accessibility bus and the records kept of their
// objects. An application is known by its unique bus name; its pid comes from
// the bus (GetConnectionUnixProcessID). Records are fetched for a capture in
// one prefetch of the whole application (Cache.GetItems, a pipelined walk
// where the cache is incomplete, then every missing fact at once), or per
// object on a miss, and are valid for one capture: until the next warm-up,
// for one second, or until a write, an action or a change event on the object.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/value.h"
#include "x11/x11_atspi_bus.h"
#include "x11/x11_atspi_tables.h"

namespace x11::atspi {

inline constexpr uint64_t kDefaultTimeoutUsec = 6 * 1000 * 1000;

struct App {
  std::string bus;
  pid_t pid = 0;
  bool qt = false;  // Qt: no cache items, and Properties.GetAll must never be sent
  // GTK 4: sets SENSITIVE but not ENABLED, VISIBLE but not SHOWING, and
  // answers extents relative to the window (see Normalize).
  bool gtk4 = false;
  // Gecko: its item cache lacks names for a while after start (the walk
  // asks each object instead).
  bool gecko = false;
  std::atomic<uint64_t> timeout_usec{0};  // 0: the process-wide default
  std::atomic<bool> gone{false};          // the bus name lost its owner

  std::mutex prefetch_mu;  // one prefetch at a time
  std::mutex mu;           // guards the members below
  std::unordered_map<std::string, std::shared_ptr<const Node>> records;
  std::chrono::steady_clock::time_point prefetched;  // when the last prefetch finished
  // After a call timed out, further calls fail at once until then: a hung
  // application costs one time-out, not one per element.
  std::chrono::steady_clock::time_point hung_until;
};

using AppPtr = std::shared_ptr<App>;

// The process-wide messaging time-out (set on the system-wide element).
std::atomic<uint64_t>& GlobalTimeoutUsec();
uint64_t TimeoutOf(const App& app);

// The registered application of a pid (asks the registry when not known).
AppPtr AppForPid(pid_t pid);
// The application behind a bus name (registers it when new); null when the
// name has no application.
AppPtr AppForBus(const std::string& bus);
// Every registered application.
std::vector<AppPtr> Apps();

// Runs calls against one application with its time-out, failing at once
// while it is marked hung; marks it hung when a call times out.
void RunFor(App& app, std::vector<Call>* calls, uint64_t timeout_usec,
            Bus::OnAnswer on_answer = nullptr);

// A fresh record of one object: from the last prefetch, else fetched now
// (one burst of calls). `err` says why there is none.
std::shared_ptr<const Node> Record(const AppPtr& app, const std::string& path,
                                   uint64_t timeout_usec, platform::AXError* err);
// The record of one object with the facts that change (states, name,
// description, extents, value, text) read now, in one round of calls on top
// of the kept record: what a single read of such a fact answers.
std::shared_ptr<const Node> LiveRecord(const AppPtr& app, const std::string& path,
                                       uint64_t timeout_usec, platform::AXError* err);
// Fetches the whole application (see the file comment). Answers the first
// error that stopped it.
platform::AXError Prefetch(const AppPtr& app, uint64_t timeout_usec);
// Whether the last prefetch is still fresh.
bool PrefetchFresh(App& app);
// Drops the record of one object (after a write or an action on it).
void Invalidate(App& app, const std::string& path);

// Brings a freshly fetched object's facts to the common terms where its
// toolkit departs from them (GTK 4: ENABLED from SENSITIVE, SHOWING from
// VISIBLE). Screen positions are WindowOrigin's.
void Normalize(const App& app, Node* n);
// Where a window-relative position (0, 0) of a window lies on the screen:
// the matched X window's client origin plus the toolkit's margin around
// the window's content. False when no X window matches.
bool WindowOrigin(const App& app, const Node& window, int32_t* x, int32_t* y);
// Turns a reply's (so) into a reference, naming the application's bus when
// the reply leaves the name out (direct sockets may).
Ref RefOf(const D& so, const std::string& app_bus);

}  // namespace x11::atspi
