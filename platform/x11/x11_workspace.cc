// The workspace over X and /proc: applications are the processes that own
// managed windows, named and identified by their desktop entries; frontmost
// is the owner of _NET_ACTIVE_WINDOW; activation is a request to the window
// manager, confirmed by the core's own polling.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <thread>

#include "common/text.h"
#include "x11/x11_busy.h"
#include "x11/x11_desktop_entries.h"
#include "x11/x11_display.h"
#include "x11/x11_services.h"
#include "x11/x11_windows.h"

extern char** environ;

namespace x11 {

namespace {

// No application at that location / the launch failed: the codes the core
// already logs for a background open.
constexpr int64_t kOpenNoApplication = -10814;
constexpr int64_t kOpenFailed = -10810;
constexpr auto kOpenWindowWait = std::chrono::seconds(30);
constexpr auto kOpenPoll = std::chrono::milliseconds(50);

bool Alive(pid_t pid) {
  struct stat st;
  return pid > 0 && stat(("/proc/" + std::to_string(pid)).c_str(), &st) == 0;
}

struct Owner {
  pid_t pid = 0;
  bool regular = false;
  const WindowInfo* sample = nullptr;  // the first (front-most) window of the owner
};

platform::RunningApp Describe(const Owner& o, pid_t active) {
  platform::RunningApp r;
  r.pid = o.pid;
  const WindowInfo& w = *o.sample;
  if (auto e = EntryForProcess(o.pid, w.gtk_app_id, w.wm_class, w.wm_instance)) {
    r.bundle_id = e->id;
    r.bundle_path = e->path;
    if (!e->name.empty()) r.name = e->name;
  }
  if (!r.name && !w.owner_name.empty()) r.name = w.owner_name;
  r.launch_time = ProcessStartTime(o.pid);
  r.activation_policy =
      o.regular ? platform::ActivationPolicy::kRegular : platform::ActivationPolicy::kAccessory;
  r.active = active > 0 && active == o.pid;
  return r;
}

// Owners of managed windows, in window order.
std::vector<Owner> Owners(const std::vector<WindowInfo>& windows) {
  std::vector<Owner> owners;
  for (const auto& w : windows) {
    if (!w.managed || w.pid <= 0) continue;
    auto it = std::find_if(owners.begin(), owners.end(), [&](const Owner& o) { return o.pid == w.pid; });
    if (it == owners.end()) {
      owners.push_back({w.pid, false, &w});
      it = owners.end() - 1;
    }
    it->regular = it->regular || w.normal_type;
  }
  return owners;
}

pid_t ActivePid(Display* d) {
  Window active = ActiveWindow(d);
  return active ? WindowPid(d, active) : 0;
}

std::string PathOfUrl(const std::string& url) { return common::PathOfFileUrl(url); }

std::string UrlOfPath(const std::string& path) { return common::FileUrlOfPath(path); }

// The environment of a launched application: the host's, with DISPLAY
// naming the display this backend works on (the host may have none, or
// another).
std::vector<std::string> DesktopEnvironment(Display* d) {
  std::vector<std::string> out;
  for (char** e = environ; *e; ++e)
    if (std::strncmp(*e, "DISPLAY=", 8) != 0) out.emplace_back(*e);
  const char* display = d ? DisplayString(d) : getenv("DISPLAY");
  if (display && *display) out.push_back(std::string("DISPLAY=") + display);
  return out;
}

// Waits (bounded) for the launched process to show a managed window, keeps
// the previously active window in front when the open must not activate, and
// reports once.
void WatchLaunch(pid_t pid, Window previous, bool activates, platform::OpenCompletion done) {
  auto deadline = std::chrono::steady_clock::now() + kOpenWindowWait;
  Display* d = Dpy();
  while (d && std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) break;  // ended before showing a window
    auto windows = WindowsOfPid(d, pid);
    if (!windows.empty()) {
      if (!activates && previous && ActiveWindow(d) != previous) RequestActivate(d, previous);
      if (done) done(0, pid);
      // Reap it whenever it ends, so it never lingers as a zombie.
      std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();
      return;
    }
    std::this_thread::sleep_for(kOpenPoll);
  }
  if (done) done(kOpenFailed, 0);
}

}  // namespace

std::vector<platform::RunningApp> X11Workspace::RunningApplications() {
  BusyTimer busy;
  Display* d = Dpy();
  std::vector<platform::RunningApp> out;
  if (!d) return out;
  auto windows = ListWindows(d);
  pid_t active = ActivePid(d);
  for (const auto& o : Owners(windows))
    if (Alive(o.pid)) out.push_back(Describe(o, active));
  std::stable_sort(out.begin(), out.end(), [](const auto& a, const auto& b) {
    return a.launch_time < b.launch_time;
  });
  return out;
}

std::optional<platform::RunningApp> X11Workspace::RunningApplicationWithPid(pid_t pid) {
  BusyTimer busy;
  Display* d = Dpy();
  if (!d || !Alive(pid)) return std::nullopt;
  auto windows = WindowsOfPid(d, pid);
  for (auto& o : Owners(windows))
    if (o.pid == pid) return Describe(o, ActivePid(d));
  return std::nullopt;
}

pid_t X11Workspace::FrontmostApplicationPid() {
  BusyTimer busy;
  Display* d = Dpy();
  return d ? ActivePid(d) : 0;
}

bool X11Workspace::GetFrontProcessPid(pid_t* pid) {
  BusyTimer busy;
  Display* d = Dpy();
  if (!d) return false;
  Window focus = FocusClient(d);
  if (!focus) return false;
  pid_t p = WindowPid(d, focus);
  if (p <= 0) return false;
  if (pid) *pid = p;
  return true;
}

int X11Workspace::SignalZero(pid_t pid) { return kill(pid, 0) == 0 ? 0 : errno; }

bool X11Workspace::Activate(pid_t pid, uint32_t options) {
  BusyTimer busy;
  Display* d = Dpy();
  if (!d) return false;
  auto windows = WindowsOfPid(d, pid);
  // Managed, normal windows first; the list is already top-most first.
  std::stable_partition(windows.begin(), windows.end(),
                        [](const WindowInfo& w) { return w.managed && w.normal_type; });
  if (windows.empty()) return false;
  (void)options;  // ignoring other applications is what a pager request does anyway
  return RequestActivate(d, windows.front().client);
}

bool X11Workspace::ForceTerminate(pid_t pid) { return pid > 0 && kill(pid, SIGKILL) == 0; }

std::string X11Workspace::UrlForApplicationWithBundleId(const std::string& bundle_id) {
  BusyTimer busy;
  if (auto e = EntryById(bundle_id)) return UrlOfPath(e->path);
  for (auto& e : DesktopEntries())
    if (!e.startup_wm_class.empty() && EqualsIgnoringCase(e.startup_wm_class, bundle_id))
      return UrlOfPath(e.path);
  return "";
}

std::string X11Workspace::FullPathForApplication(const std::string& name) {
  BusyTimer busy;
  if (auto e = EntryByName(name)) return e->path;
  return ResolveProgram(name);
}

void X11Workspace::OpenApplication(const std::string& url, const platform::OpenConfiguration& config,
                                   platform::OpenCompletion completion) {
  BusyTimer busy;
  std::string path = PathOfUrl(url);
  std::vector<std::string> args;
  std::optional<DesktopEntry> entry = EntryByPath(path);
  if (entry) {
    args = ExecArguments(entry->exec);
  } else if (!path.empty() && path.find(".desktop") == std::string::npos &&
             access(path.c_str(), X_OK) == 0) {
    args = {path};
  }
  auto fail = [&](int64_t code) {
    if (completion) std::thread([completion, code] { completion(code, 0); }).detach();
  };
  if (args.empty() || ResolveProgram(args[0]).empty()) return fail(kOpenNoApplication);

  Display* d = Dpy();
  if (entry && config.allows_running_application_substitution) {
    for (auto& app : RunningApplications()) {
      if (app.bundle_id && EqualsIgnoringCase(*app.bundle_id, entry->id)) {
        if (config.activates && d) Activate(app.pid, platform::kActivateIgnoringOtherApps);
        pid_t pid = app.pid;
        if (completion) std::thread([completion, pid] { completion(0, pid); }).detach();
        return;
      }
    }
  }

  std::vector<char*> argv;
  std::string program = ResolveProgram(args[0]);
  args[0] = program;
  argv.reserve(args.size() + 1);
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  // Its own session (no terminal, none of the host's group signals) and
  // the default signal dispositions and mask, not the host's.
  sigset_t all, none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  // /dev/null on 0-2 whatever the host has there (a host with closed
  // standard descriptors would hand the application's first opened files
  // those numbers), and no other descriptor of the host.
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addclosefrom_np(&files, 3);
  std::vector<std::string> env_strings = DesktopEnvironment(d);
  std::vector<char*> envp;
  envp.reserve(env_strings.size() + 1);
  for (auto& e : env_strings) envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_t pid = 0;
  int rc = posix_spawn(&pid, program.c_str(), &files, &attr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&files);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) return fail(kOpenFailed);
  Window previous = d ? ActiveWindow(d) : 0;
  std::thread(WatchLaunch, pid, previous, config.activates, completion).detach();
}

uint64_t X11Workspace::AddActivationObserver(std::function<void(pid_t)> callback) {
  std::lock_guard<std::mutex> l(mu_);
  uint64_t token = next_token_++;
  observers_[token] = std::move(callback);
  return token;
}

void X11Workspace::RemoveActivationObserver(uint64_t token) {
  BusyTimer busy;
  std::lock_guard<std::mutex> l(mu_);
  observers_.erase(token);
}

void X11Workspace::NoteActiveWindowChanged() {
  Display* d = Dpy();
  if (!d) return;
  pid_t pid = ActivePid(d);
  std::vector<std::function<void(pid_t)>> callbacks;
  {
    std::lock_guard<std::mutex> l(mu_);
    if (pid == last_active_) return;
    last_active_ = pid;
    if (pid <= 0) return;
    for (auto& [token, cb] : observers_) callbacks.push_back(cb);
  }
  for (auto& cb : callbacks) cb(pid);
}

pid_t X11Workspace::SelfPid() { return getpid(); }

// The capability level this backend implements, in the version numbers the
// core branches on: window capture and presentation-window walks are taken
// as on 14.5.
// X has no version of the platform the core describes: the core goes by the
// capability table where it would compare versions.
std::optional<std::pair<int, int>> X11Workspace::OsVersion() { return std::nullopt; }

}  // namespace x11
