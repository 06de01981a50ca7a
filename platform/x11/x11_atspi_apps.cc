// The application registry of the accessibility bus: pid to bus name, the
// toolkit, the direct socket, change events, and the per-application
// time-out and hung state.
#include <strings.h>

#include <map>

#include "x11/x11_atspi_apps.h"
#include "x11/x11_ax.h"

namespace x11::atspi {

namespace {

constexpr uint64_t kRegisterTimeoutUsec = 1000 * 1000;

std::mutex g_mu;
std::map<std::string, AppPtr>* g_apps = new std::map<std::string, AppPtr>();  // bus name -> app
// Names that answered as no application (the registry itself, helpers).
std::map<std::string, pid_t>* g_pids = new std::map<std::string, pid_t>();  // every name asked

void OnChange(const std::string& sender, const std::string& path) {
  AppPtr app;
  {
    std::lock_guard<std::mutex> l(g_mu);
    auto it = g_apps->find(sender);
    if (it == g_apps->end()) {
      if (path.empty()) g_pids->erase(sender);
      return;
    }
    app = it->second;
    if (path.empty()) {
      g_apps->erase(it);
      g_pids->erase(sender);
    }
  }
  if (path.empty()) {
    app->gone = true;
    std::lock_guard<std::mutex> l(app->mu);
    app->records.clear();
    return;
  }
  Invalidate(*app, path);
}

// Once: event listeners (which also make toolkits build their item caches)
// and the toolkits asked to expose their trees.
void StartOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    Bus::Get().SetChangeListener(OnChange);
    AccessibilityBusReachable(true);
    std::vector<Call> calls;
    for (const char* event : {"object:children-changed", "object:state-changed"}) {
      calls.push_back(Method(kRegistryName, "/org/a11y/atspi/registry", "org.a11y.atspi.Registry",
                             "RegisterEvent",
                             {std::string(event), std::vector<std::string>{}, std::string()}));
      calls.back().timeout_usec = kRegisterTimeoutUsec;
    }
    Bus::Get().Run(&calls);
  });
}

AppPtr Register(const std::string& bus, pid_t pid) {
  std::vector<Call> calls;
  calls.push_back(GetProperty(bus, kRootPath, "org.a11y.atspi.Application", "ToolkitName"));
  calls.push_back(Method(bus, kRootPath, "org.a11y.atspi.Application", "GetApplicationBusAddress"));
  calls.push_back(GetProperty(bus, kRootPath, "org.a11y.atspi.Application", "Version"));
  for (auto& c : calls) {
    c.timeout_usec = kRegisterTimeoutUsec;
    c.direct = false;
  }
  Bus::Get().Run(&calls);
  if (calls[0].err == platform::kAXErrorCannotComplete || calls[0].err == platform::kAXErrorInvalidUIElement)
    return nullptr;  // gone, or not answering: no application to register
  auto app = std::make_shared<App>();
  app->bus = bus;
  app->pid = pid;
  const std::string toolkit = calls[0].reply.at(0).s;
  app->qt = toolkit.rfind("Qt", 0) == 0 || toolkit.rfind("qt", 0) == 0;
  app->gecko = strcasecmp(toolkit.c_str(), "gecko") == 0;
  app->gtk4 = strcasecmp(toolkit.c_str(), "gtk") == 0 && calls[2].reply.at(0).s.rfind("4.", 0) == 0;
  const std::string address = calls[1].reply.at(0).s;
  if (calls[1].ok() && !address.empty()) Bus::Get().OfferDirect(bus, address);
  std::lock_guard<std::mutex> l(g_mu);
  auto [it, added] = g_apps->emplace(bus, app);
  return it->second;
}

// The pids of bus names not asked before.
void LearnPids(const std::vector<std::string>& names) {
  std::vector<Call> calls;
  {
    std::lock_guard<std::mutex> l(g_mu);
    for (const auto& n : names)
      if (!g_pids->count(n))
        calls.push_back(Method(kDBusName, "/org/freedesktop/DBus", "org.freedesktop.DBus",
                               "GetConnectionUnixProcessID", {n}));
  }
  for (auto& c : calls) c.timeout_usec = kRegisterTimeoutUsec;
  Bus::Get().Run(&calls);
  std::lock_guard<std::mutex> l(g_mu);
  for (auto& c : calls)
    if (c.ok()) (*g_pids)[std::get<std::string>(c.args[0])] = static_cast<pid_t>(c.reply.at(0).Int());
}

}  // namespace

std::atomic<uint64_t>& GlobalTimeoutUsec() {
  static std::atomic<uint64_t> t{0};
  return t;
}

uint64_t TimeoutOf(const App& app) {
  uint64_t t = app.timeout_usec.load();
  if (!t) t = GlobalTimeoutUsec().load();
  return t ? t : kDefaultTimeoutUsec;
}

AppPtr AppForBus(const std::string& bus) {
  if (bus.empty() || bus[0] != ':') return nullptr;
  StartOnce();
  {
    std::lock_guard<std::mutex> l(g_mu);
    auto it = g_apps->find(bus);
    if (it != g_apps->end()) return it->second;
  }
  LearnPids({bus});
  pid_t pid = 0;
  {
    std::lock_guard<std::mutex> l(g_mu);
    auto it = g_pids->find(bus);
    if (it == g_pids->end()) return nullptr;
    pid = it->second;
  }
  return Register(bus, pid);
}

AppPtr AppForPid(pid_t pid) {
  if (pid <= 0) return nullptr;
  StartOnce();
  auto known = [&]() -> AppPtr {
    std::lock_guard<std::mutex> l(g_mu);
    for (auto& [bus, app] : *g_apps)
      if (app->pid == pid && !app->gone) return app;
    return nullptr;
  };
  if (auto app = known()) return app;
  if (!Bus::Get().Connected()) return nullptr;
  Call list = RunOne([] {
    Call c = Method(kRegistryName, kRootPath, "org.a11y.atspi.Accessible", "GetChildren");
    c.timeout_usec = kRegisterTimeoutUsec;
    return c;
  }());
  if (!list.ok()) return nullptr;
  std::vector<std::string> names;
  for (const auto& so : list.reply.at(0).v) names.push_back(so.at(0).s);
  LearnPids(names);
  for (const auto& n : names) {
    pid_t p = 0;
    {
      std::lock_guard<std::mutex> l(g_mu);
      auto it = g_pids->find(n);
      if (it == g_pids->end()) continue;
      p = it->second;
      if (p != pid) continue;
      auto a = g_apps->find(n);
      if (a != g_apps->end()) return a->second;
    }
    if (auto app = Register(n, p)) return app;
  }
  return nullptr;
}

std::vector<AppPtr> Apps() {
  std::lock_guard<std::mutex> l(g_mu);
  std::vector<AppPtr> out;
  for (auto& [bus, app] : *g_apps) out.push_back(app);
  return out;
}

void RunFor(App& app, std::vector<Call>* calls, uint64_t timeout_usec, Bus::OnAnswer on_answer) {
  auto now = std::chrono::steady_clock::now();
  bool hung;
  {
    std::lock_guard<std::mutex> l(app.mu);
    hung = now < app.hung_until;
  }
  if (hung || app.gone) {
    for (auto& c : *calls)
      c.err = platform::kAXErrorCannotComplete;
    return;
  }
  for (auto& c : *calls) c.timeout_usec = timeout_usec;
  Bus::Get().Run(calls, std::move(on_answer));
  for (auto& c : *calls) {
    if (c.err == platform::kAXErrorCannotComplete) {
      std::lock_guard<std::mutex> l(app.mu);
      app.hung_until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
      break;
    }
  }
}

void Normalize(const App& app, Node* n) {
  if (!app.gtk4) return;
  if (Has(n->states, ATSPI_STATE_SENSITIVE)) n->states |= uint64_t{1} << ATSPI_STATE_ENABLED;
  // A window keeps its own SHOWING (it has one); what it holds is shown
  // when visible, and not once its window is not (see Prefetch).
  if (!IsWindowRole(n->role) && Has(n->states, ATSPI_STATE_VISIBLE))
    n->states |= uint64_t{1} << ATSPI_STATE_SHOWING;
}

Ref RefOf(const D& so, const std::string& app_bus) {
  Ref r{so.at(0).s, so.at(1).s};
  if (r.bus.empty()) r.bus = app_bus;
  return r;
}

}  // namespace x11::atspi
