// The workspace of the simulated desktop: running applications, frontmost
// state, activation, termination, installed applications, launching with a
// completion that may be immediate, late, failing or missing, icons and
// activation notifications (delivered from the host loop's run-loop turn).
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "common/text.h"
#include "sim/behaviour.h"
#include "sim/hooks.h"
#include "sim/scene.h"
#include "sim/services.h"
#include "sim/sim_clock.h"

namespace sim {

namespace {

platform::RunningApp Describe(World& w, const App& a) {
  platform::RunningApp r;
  r.pid = a.pid;
  r.bundle_id = a.bundle_id;
  r.name = a.name;
  r.bundle_path = a.path;
  r.launch_time = a.launch_time;
  r.activation_policy = a.policy;
  r.terminated = a.terminated;
  r.active = w.frontmost == a.pid && !a.terminated;
  return r;
}

// Application bundles are directories: their URLs end in '/', their paths
// do not.
std::string PathOfUrl(const std::string& url) {
  std::string out = common::PathOfFileUrl(url);
  while (out.size() > 1 && out.back() == '/') out.pop_back();
  return out;
}

std::string UrlOfPath(const std::string& path) { return common::FileUrlOfPath(path) + "/"; }

bool SameText(const std::string& a, const std::string& b) {
  return common::EqualsIgnoringAsciiCase(a, b);
}

}  // namespace

std::vector<platform::RunningApp> SimWorkspace::RunningApplications() {
  CallSite site;
  site.op = "RunningApplications";
  Hooks::Get().Enter(site);
  World& w = W();
  std::lock_guard<std::mutex> l(w.mu);
  std::vector<platform::RunningApp> out;
  for (pid_t pid : w.app_order) {
    auto app = FindApp(w, pid);
    if (app && !app->unlisted) out.push_back(Describe(w, *app));
  }
  return out;
}

std::optional<platform::RunningApp> SimWorkspace::RunningApplicationWithPid(pid_t pid) {
  CallSite site;
  site.op = "RunningApplicationWithPid";
  site.pid = pid;
  Fault f = Hooks::Get().Enter(site);
  World& w = W();
  std::lock_guard<std::mutex> l(w.mu);
  if (f.kind == FaultKind::kQuit && f.quit_pid > 0) QuitApp(w, f.quit_pid);
  if (f.kind == FaultKind::kError) return std::nullopt;
  auto app = FindApp(w, pid);
  if (!app) return std::nullopt;
  return Describe(w, *app);
}

pid_t SimWorkspace::FrontmostApplicationPid() {
  World& w = W();
  std::lock_guard<std::mutex> l(w.mu);
  return w.frontmost;
}

bool SimWorkspace::GetFrontProcessPid(pid_t* pid) {
  World& w = W();
  std::lock_guard<std::mutex> l(w.mu);
  if (w.front_process_fails) return false;
  if (pid) *pid = w.frontmost;
  return true;
}

int SimWorkspace::SignalZero(pid_t pid) {
  if (pid == getpid()) return 0;
  World& w = W();
  std::lock_guard<std::mutex> l(w.mu);
  auto app = FindApp(w, pid);
  if (!app || app->terminated) return ESRCH;
  return app->other_user ? EPERM : 0;
}

bool SimWorkspace::Activate(pid_t pid, uint32_t options) {
  (void)options;
  CallSite site;
  site.op = "Activate";
  site.pid = pid;
  Fault f = Hooks::Get().Enter(site);
  if (f.kind == FaultKind::kError) return false;
  World& w = W();
  std::lock_guard<std::mutex> l(w.mu);
  return ActivateApp(w, pid);
}

bool SimWorkspace::ForceTerminate(pid_t pid) {
  CallSite site;
  site.op = "ForceTerminate";
  site.pid = pid;
  Fault f = Hooks::Get().Enter(site);
  if (f.kind == FaultKind::kError) return false;
  World& w = W();
  std::lock_guard<std::mutex> l(w.mu);
  auto app = FindApp(w, pid);
  if (!app || app->terminated) return false;
  QuitApp(w, pid);
  return true;
}

std::string SimWorkspace::UrlForApplicationWithBundleId(const std::string& bundle_id) {
  World& w = W();
  std::lock_guard<std::mutex> l(w.mu);
  for (auto& in : w.installed)
    if (!in.path.empty() && SameText(in.bundle_id, bundle_id)) return UrlOfPath(in.path);
  return "";
}

std::string SimWorkspace::FullPathForApplication(const std::string& name) {
  World& w = W();
  std::lock_guard<std::mutex> l(w.mu);
  std::string bare = name;
  if (bare.size() > 4 && bare.substr(bare.size() - 4) == ".app") bare.resize(bare.size() - 4);
  for (auto& in : w.installed)
    if (!in.path.empty() && SameText(in.name, bare)) return in.path;
  return "";
}

void SimWorkspace::OpenApplication(const std::string& url, const platform::OpenConfiguration& config,
                                   platform::OpenCompletion completion) {
  World& w = W();
  std::string path = PathOfUrl(url);
  CallSite site;
  site.op = "OpenApplication";
  Fault f = Hooks::Get().Enter(site);
  int64_t error = 0;
  pid_t pid = 0;
  double delay_ms = 0;
  bool never = false;
  {
    std::lock_guard<std::mutex> l(w.mu);
    const Installed* in = nullptr;
    for (auto& i : w.installed)
      if (i.path == path) in = &i;
    if (f.kind == FaultKind::kError) {
      error = f.code;
    } else if (f.kind == FaultKind::kNoAnswer) {
      never = true;
    }
    if (!in) {
      if (error == 0) error = -10814;  // no application at that location
    } else if (error == 0) {
      const Json& r = in->open_result;
      error = r["error"].as_int(0);
      delay_ms = r["delayMs"].as_double(0);
      never = never || r["never"].as_bool(false);
      if (error == 0) {
        // A running instance is returned as it is.
        for (pid_t p : w.app_order) {
          auto app = FindApp(w, p);
          if (app && !app->terminated && app->bundle_id && SameText(*app->bundle_id, in->bundle_id)) {
            pid = p;
            break;
          }
        }
        if (pid == 0) {
          Json spec = in->app;
          if (!spec.has("bundleId")) spec.set("bundleId", Json(in->bundle_id));
          if (!spec.has("name")) spec.set("name", Json(in->name));
          if (!spec.has("path")) spec.set("path", Json(in->path));
          pid_t want = static_cast<pid_t>(spec["pid"].as_int(0));
          if (want <= 0 || FindApp(w, want)) want = w.next_pid++;
          std::string err;
          if (InstantiateApp(w, spec, want, Clock().WallSeconds(), config.activates, &err))
            pid = want;
          else
            error = -10810;
        }
        if (pid != 0 && config.activates) ActivateApp(w, pid);
      }
    }
    char line[160];
    snprintf(line, sizeof line, "[sim] open %s error=%lld pid=%d", path.c_str(),
             static_cast<long long>(error), pid);
    Log(w, line);
  }
  if (never || !completion) return;
  platform::TimePoint when = Clock().Now() + std::chrono::duration_cast<platform::Duration>(
                                                 std::chrono::duration<double, std::milli>(delay_ms));
  Timers::Get().At(when, [completion, error, pid] { completion(error, pid); });
}

platform::Image SimWorkspace::IconForFile(const std::string& path, int size) {
  CallSite site;
  site.op = "IconForFile";
  Fault f = Hooks::Get().Enter(site);
  if (f.kind != FaultKind::kNone) return nullptr;
  World& w = W();
  std::string label, seed;
  {
    std::lock_guard<std::mutex> l(w.mu);
    std::string p = PathOfUrl(path);
    for (auto& [pid, app] : w.apps) {
      if (app->path && *app->path == p) {
        label = app->name.value_or(p);
        seed = app->bundle_id.value_or(p);
      }
    }
    if (seed.empty()) {
      for (auto& in : w.installed) {
        if (in.path == p) {
          label = in.name;
          seed = in.bundle_id;
        }
      }
    }
  }
  if (seed.empty()) return nullptr;
  return RenderIcon(label, seed, size);
}

uint64_t SimWorkspace::AddActivationObserver(std::function<void(pid_t)> callback) {
  World& w = W();
  std::lock_guard<std::mutex> l(w.mu);
  uint64_t token = w.next_observer++;
  w.observers[token] = std::move(callback);
  return token;
}

void SimWorkspace::RemoveActivationObserver(uint64_t token) {
  World& w = W();
  std::lock_guard<std::mutex> l(w.mu);
  w.observers.erase(token);
}

pid_t SimWorkspace::SelfPid() { return getpid(); }

std::optional<std::pair<int, int>> SimWorkspace::OsVersion() {
  World& w = W();
  std::lock_guard<std::mutex> l(w.mu);
  int major = 0, minor = 0;
  if (sscanf(w.os_version.c_str(), "%d.%d", &major, &minor) < 1) return std::make_pair(14, 5);
  return std::make_pair(major, minor);
}

}  // namespace sim
