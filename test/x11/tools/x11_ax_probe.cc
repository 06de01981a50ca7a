// Runs the core's capture against the x11 backend's AT-SPI accessibility, for
// the real-desktop tests and the benchmark:
//   x11_ax_probe handles PID
//     -> {"nodes":..,"live_during":..,"live_after":..,"live_before":..}: handles alive
//        before a capture, while its epoch holds tokens, and after the epoch is released
//   x11_ax_probe bench PID N
//     -> {"nodes":..,"capture_ms":..,"backend_ms":..,"naive_ms":..,"calls":..,"floor_ms":..}:
//        medians of N captures (after a first one), of a walk asking the same facts one call
//        at a time, and of the floor: every call one capture made, sent at once on one
//        direct connection of the application, until the last answer
#include <systemd/sd-bus.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ax/capture_snapshot.h"
#include "ax/token_table.h"
#include "platform/platform.h"
#include "x11/x11_atspi_apps.h"
#include "x11/x11_atspi_ax.h"
#include "x11/x11_busy.h"

namespace {

namespace at = x11::atspi;
using Steady = std::chrono::steady_clock;

double Ms(Steady::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

size_t Count(const std::vector<addon::AxElementSnapshotData>& els) {
  size_t n = 0;
  for (const auto& e : els) n += 1 + Count(e.children);
  return n;
}

std::unique_ptr<addon::AxCaptureSnapshotData> Capture(pid_t pid) {
  auto deadline = platform::Get().clock().Now() + std::chrono::seconds(12);
  return addon::CollectCaptureAppSnapshot(pid, std::nullopt, deadline, std::nullopt);
}

// The reference: every fact the capture reads, asked one call at a time and
// each answer awaited before the next, walking from the application down.
size_t NaiveWalk(const at::AppPtr& app, const std::string& path, int depth) {
  auto one = [&](at::Call c) {
    c.timeout_usec = 2 * 1000 * 1000;
    return at::RunOne(std::move(c));
  };
  const char* acc = "org.a11y.atspi.Accessible";
  const std::string& bus = app->bus;
  at::Call role = one(at::Method(bus, path, acc, "GetRole"));
  one(at::Method(bus, path, acc, "GetState"));
  one(at::GetProperty(bus, path, acc, "Name"));
  one(at::GetProperty(bus, path, acc, "Description"));
  at::Call ifaces = one(at::Method(bus, path, acc, "GetInterfaces"));
  uint32_t bits = 0;
  for (const auto& s : ifaces.reply.at(0).v) bits |= at::IfaceBit(s.s);
  if (bits & at::kComponent)
    one(at::Method(bus, path, "org.a11y.atspi.Component", "GetExtents", {uint32_t{0}}));
  if (bits & at::kAction) one(at::Method(bus, path, "org.a11y.atspi.Action", "GetActions"));
  if (bits & at::kValue) one(at::GetProperty(bus, path, "org.a11y.atspi.Value", "CurrentValue"));
  if ((bits & at::kText) && at::IsTextRole(static_cast<uint32_t>(role.reply.at(0).Int())))
    one(at::Method(bus, path, "org.a11y.atspi.Text", "GetText", {int32_t{0}, int32_t{-1}}));
  at::Call children = one(at::Method(bus, path, acc, "GetChildren"));
  size_t n = 1;
  if (depth < 40)
    for (const auto& so : children.reply.at(0).v) n += NaiveWalk(app, so.at(1).s, depth + 1);
  return n;
}

// Appends a read's arguments (strings and 32-bit integers are all a read sends).
int AppendArgs(sd_bus_message* m, const at::Call& c) {
  int r = 0;
  for (const auto& a : c.args) {
    if (auto s = std::get_if<std::string>(&a)) r = sd_bus_message_append_basic(m, 's', s->c_str());
    else if (auto i = std::get_if<int32_t>(&a)) r = sd_bus_message_append_basic(m, 'i', i);
    else if (auto u = std::get_if<uint32_t>(&a)) r = sd_bus_message_append_basic(m, 'u', u);
    else r = -EINVAL;
    if (r < 0) return r;
  }
  return 0;
}

int CountReply(sd_bus_message*, void* userdata, sd_bus_error*) {
  --*static_cast<size_t*>(userdata);
  return 0;
}

// The application's own service time for a capture's calls: all of them
// sent at once on one direct connection, waiting for the last answer (no
// rounds, no parsing). Negative when it cannot be measured.
double Floor(const std::string& address, const std::vector<at::Call>& calls) {
  sd_bus* bus = nullptr;
  if (address.empty() || sd_bus_new(&bus) < 0) return -1;
  if (sd_bus_set_address(bus, address.c_str()) < 0 || sd_bus_start(bus) < 0) {
    sd_bus_unref(bus);
    return -1;
  }
  size_t pending = 0;
  auto send = [&](const at::Call& c) {
    sd_bus_message* m = nullptr;
    int r = sd_bus_message_new_method_call(bus, &m, nullptr, c.path.c_str(), c.iface.c_str(), c.member.c_str());
    if (r >= 0) r = AppendArgs(m, c);
    if (r >= 0) r = sd_bus_call_async(bus, nullptr, m, CountReply, &pending, 10 * 1000 * 1000);
    sd_bus_message_unref(m);
    if (r >= 0) ++pending;
  };
  auto drain = [&] {
    while (pending > 0) {
      int r = sd_bus_process(bus, nullptr);
      if (r < 0) break;
      if (r == 0) sd_bus_wait(bus, UINT64_MAX);
    }
  };
  send(calls.front());  // the connection's handshake, outside the time
  drain();
  auto t0 = Steady::now();
  for (const auto& c : calls) send(c);
  drain();
  double ms = Ms(Steady::now() - t0);
  sd_bus_flush_close_unref(bus);
  return ms;
}

int Handles(pid_t pid) {
  int64_t before = at::LiveHandles();
  auto snap = Capture(pid);
  if (!snap) {
    printf("{\"nodes\":0}\n");
    return 1;
  }
  int64_t during = at::LiveHandles();
  addon::DiscardCaptureEpoch(pid, snap->capture_epoch);
  size_t nodes = Count(snap->elements);
  snap.reset();
  printf("{\"nodes\":%zu,\"live_before\":%lld,\"live_during\":%lld,\"live_after\":%lld}\n", nodes,
         static_cast<long long>(before), static_cast<long long>(during),
         static_cast<long long>(at::LiveHandles()));
  return 0;
}

int Bench(pid_t pid, int repeat) {
  auto first = Capture(pid);  // warms the process once and waits for its tree to settle
  if (!first) {
    printf("{\"nodes\":0}\n");
    return 1;
  }
  addon::DiscardCaptureEpoch(pid, first->capture_epoch);
  size_t nodes = Count(first->elements);
  at::AppPtr app = at::AppForPid(pid);
  // One capture with its calls logged: replayed as the floor.
  std::vector<at::Call> logged, replay;
  {
    auto& stats = at::Bus::Get().stats();
    { std::lock_guard<std::mutex> l(stats.log_mu); stats.log = &logged; }
    auto snap = Capture(pid);
    { std::lock_guard<std::mutex> l(stats.log_mu); stats.log = nullptr; }
    if (snap) addon::DiscardCaptureEpoch(pid, snap->capture_epoch);
  }
  for (auto& c : logged)
    if (app && c.dest == app->bus) replay.push_back(std::move(c));
  if (getenv("KORVO_PROBE_CALLS")) {
    std::map<std::string, int> by;
    for (const auto& c : replay) by[c.member == "Get" ? std::get<std::string>(c.args[1]) : c.member]++;
    for (const auto& [k, v] : by) fprintf(stderr, "%s %d\n", k.c_str(), v);
  }
  std::string address;
  if (app) {
    at::Call a = at::Method(app->bus, at::kRootPath, "org.a11y.atspi.Application", "GetApplicationBusAddress");
    a.direct = false;
    address = at::RunOne(std::move(a)).reply.at(0).s;
  }
  // Captures and floors alternate, so both see the same load.
  std::vector<double> total, backend, floor;
  uint64_t calls0 = at::Bus::Get().stats().calls.load();
  for (int i = 0; i < repeat; ++i) {
    int64_t busy0 = x11::BackendBusyNs();
    auto t0 = Steady::now();
    auto snap = Capture(pid);
    total.push_back(Ms(Steady::now() - t0));
    backend.push_back((x11::BackendBusyNs() - busy0) / 1e6);
    if (snap) addon::DiscardCaptureEpoch(pid, snap->capture_epoch);
    if (!replay.empty()) floor.push_back(Floor(address, replay));
  }
  uint64_t calls = (at::Bus::Get().stats().calls.load() - calls0) / (repeat > 0 ? repeat : 1);
  std::vector<double> naive;
  size_t walked = 0;
  for (int i = 0; app && i < 3; ++i) {
    auto t0 = Steady::now();
    walked = NaiveWalk(app, at::kRootPath, 0);
    naive.push_back(Ms(Steady::now() - t0));
  }
  printf("{\"nodes\":%zu,\"capture_ms\":%.3f,\"backend_ms\":%.3f,\"naive_ms\":%.3f,\"naive_nodes\":%zu,"
         "\"calls\":%llu,\"floor_ms\":%.3f,\"floor_calls\":%zu,\"direct\":%s}\n",
         nodes, Median(total), Median(backend), Median(naive), walked,
         static_cast<unsigned long long>(calls), Median(floor), replay.size(),
         at::Bus::Get().stats().direct_calls.load() > 0 ? "true" : "false");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || std::string(platform::Get().Name()) != "x11") {
    fprintf(stderr, "usage: KORVO_OZA_PLATFORM=x11 x11_ax_probe handles|bench PID [N]\n");
    return 2;
  }
  std::string cmd = argv[1];
  pid_t pid = static_cast<pid_t>(atoi(argv[2]));
  if (cmd == "handles") return Handles(pid);
  if (cmd == "bench") return Bench(pid, argc > 3 ? atoi(argv[3]) : 9);
  return 2;
}
