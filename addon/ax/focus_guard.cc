#include "ax/focus_guard.h"

#include "ax/actions_errors.h"
#include "ax/ax_read.h"
#include "main_queue.h"
#include "pump.h"

namespace addon {

namespace {

// Main-thread state of the guard.
int32_t g_focus_guard_prev_frontmost_pid = -1;
bool g_focus_guard_active = false;
uint64_t g_focus_guard_generation = 0;
bool g_focus_guard_observer_installed = false;
uint64_t g_focus_guard_observer = 0;

constexpr const char* kFocusedApplication = "AXFocusedApplication";

platform::AXError SetFocusedApplication(int32_t pid) {
  auto& ax = platform::Get().ax();
  platform::AXElement system_wide = ax.CreateSystemWide();
  platform::AXElement app = ax.CreateApplication(pid);
  if (!system_wide || !app) return platform::kAXErrorFailure;
  return ax.SetAttributeValue(system_wide, kFocusedApplication, platform::Value(app));
}

// While a guard is active, any activation of another application is undone
// by activating the user's application again.
void OnApplicationActivated(pid_t activated) {
  if (!g_focus_guard_active) return;
  int32_t prev = g_focus_guard_prev_frontmost_pid;
  if (prev < 1 || activated == prev) return;
  platform::Get().workspace().Activate(prev, platform::kActivateIgnoringOtherApps);
}

void InstallObserverIfNeeded() {
  if (g_focus_guard_observer_installed) return;
  g_focus_guard_observer =
      platform::Get().workspace().AddActivationObserver(&OnApplicationActivated);
  g_focus_guard_observer_installed = true;
}

void RemoveObserver() {
  if (!g_focus_guard_observer_installed) return;
  platform::Get().workspace().RemoveActivationObserver(g_focus_guard_observer);
  g_focus_guard_observer_installed = false;
  g_focus_guard_observer = 0;
}

void ExpireGuard(uint64_t generation) {
  // A newer guard started meanwhile: its own timer ends the window.
  if (generation != g_focus_guard_generation) return;
  g_focus_guard_active = false;
  RemoveObserver();
  int32_t prev = g_focus_guard_prev_frontmost_pid;
  g_focus_guard_prev_frontmost_pid = -1;
  if (prev < 1) return;
  SetFocusedApplication(prev);
  auto& ws = platform::Get().workspace();
  auto app = ws.RunningApplicationWithPid(prev);
  if (app && !app->terminated) ws.Activate(prev, platform::kActivateIgnoringOtherApps);
}

}  // namespace

int ReadBoolAttrTri(const platform::AXElement& el, const char* attr) {
  std::optional<bool> b = CopyOptionalBoolAttr(el, attr);
  return b ? (*b ? 1 : 0) : -1;
}

int32_t ReadFrontmostPid() {
  pid_t pid = platform::Get().workspace().FrontmostApplicationPid();
  return pid > 0 ? pid : -1;
}

int32_t ReadAxFocusedApplicationPid() {
  auto& ax = platform::Get().ax();
  platform::AXElement system_wide = ax.CreateSystemWide();
  platform::AXElement app;
  pid_t pid = 0;
  if (!CopyElementAttr(system_wide, kFocusedApplication, &app) || !CopyElementPid(app, &pid)) {
    return -1;
  }
  return pid;
}

void StartSyntheticFocusGuard(int32_t pid, PressFocusDiagnostics* diagnostics) {
  if (pid <= 0) return;
  int32_t frontmost = ReadFrontmostPid();
  if (frontmost == pid) return;

  // A guard that is still running keeps the user's application it remembered:
  // by now the frontmost one may be the application the earlier press woke.
  if (!g_focus_guard_active || g_focus_guard_prev_frontmost_pid < 1) {
    g_focus_guard_prev_frontmost_pid = frontmost;
  }

  platform::AXError err = SetFocusedApplication(pid);
  if (diagnostics) {
    diagnostics->guard_engaged = true;
    diagnostics->focus_set_status = AxErrorName(err);
  }

  g_focus_guard_active = true;
  uint64_t generation = ++g_focus_guard_generation;
  // Every guard window watches activations, so every guard restores the
  // user's frontmost application; the observer goes away when it expires.
  InstallObserverIfNeeded();
  // Activation notifications arrive on run-loop turns of the host thread.
  EnsureAppKitPump();
  PostToMainAfter(kFocusGuardWindowMs, [generation] { ExpireGuard(generation); });
}

}  // namespace addon
