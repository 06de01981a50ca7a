// Activation of an application or one of its windows, fenced by the
// focus-steal switch and by live identity checks, and confirmed by polling.
#include "apps/activation.h"

#include <chrono>
#include <cstdint>
#include <string>

#include "apps/identity.h"
#include "conventions.h"
#include "exports.h"
#include "platform/platform.h"
#include "ax/surfaces.h"

namespace addon {

namespace {

bool g_prevent_focus_steal = false;

constexpr int kWindowFocusPolls = 20;
constexpr auto kPollInterval = std::chrono::milliseconds(10);
constexpr auto kWindowLookupBudget = std::chrono::milliseconds(500);

bool RunningAndAlive(pid_t pid) {
  auto app = platform::Get().workspace().RunningApplicationWithPid(pid);
  return app && !app->terminated;
}

bool AppIsActive(pid_t pid) {
  auto app = platform::Get().workspace().RunningApplicationWithPid(pid);
  return app && !app->terminated && app->active;
}

}  // namespace

bool FocusStealPrevented() { return g_prevent_focus_steal; }

Napi::Value PreventActivation(const Napi::CallbackInfo& info) {
  g_prevent_focus_steal = true;
  return Napi::Boolean::New(info.Env(), true);
}

Napi::Value ReenableActivation(const Napi::CallbackInfo& info) {
  g_prevent_focus_steal = false;
  return Napi::Boolean::New(info.Env(), true);
}

Napi::Value IsFocusStealPrevented(const Napi::CallbackInfo& info) {
  return Napi::Boolean::New(info.Env(), g_prevent_focus_steal);
}

Napi::Value ActivateApplication(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (info.Length() < 1 || !info[0].IsNumber()) {
    return ThrowTypeError(env, "activateApplication(pid) expects a number pid");
  }
  if (g_prevent_focus_steal) return Napi::Boolean::New(env, false);
  int32_t pid;
  // Fractions and numbers past the pid range never wrap onto another process.
  if (!ReadStrictPid(info[0], &pid) || !RunningAndAlive(pid)) return Napi::Boolean::New(env, false);
  platform::Get().workspace().Activate(pid, platform::kActivateIgnoringOtherApps);
  return Napi::Boolean::New(env, true);
}

Napi::Value ActivateWindow(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (info.Length() < 3 || !info[0].IsNumber() || !info[1].IsString() || !info[2].IsNumber()) {
    return ThrowTypeError(
        env, "activateWindow(pid, expectedBundleId, windowId) expects number,string,number");
  }
  auto no = [&] { return Napi::Boolean::New(env, false); };
  if (g_prevent_focus_steal) return no();

  int32_t pid;
  uint32_t window_id;
  std::string bundle_id;
  if (!ReadStrictPid(info[0], &pid) || !ReadUtf8String(info[1], 1, SIZE_MAX, &bundle_id) ||
      !ReadStrictWindowId(info[2], &window_id) || !LivePidMatchesExpectedBundle(pid, bundle_id)) {
    return no();
  }

  auto& p = platform::Get();
  auto& ax = p.ax();
  platform::AXElement app = ax.CreateApplication(pid);
  if (!app) return no();
  {
    platform::AXElement window =
        CopyWindowById(app, window_id, p.clock().Now() + kWindowLookupBudget);
    if (!window) return no();
    ax.PerformAction(window, "AXRaise");
    ax.SetAttributeValue(window, "AXMain", platform::Value(true));
    ax.SetAttributeValue(window, "AXFocused", platform::Value(true));
  }

  if (!RunningAndAlive(pid)) return no();
  p.workspace().Activate(pid, platform::kActivateIgnoringOtherApps);

  for (int i = 0; i < kWindowFocusPolls; ++i) {
    if (!LivePidMatchesExpectedBundle(pid, bundle_id)) return no();
    if (AppIsActive(pid)) {
      std::optional<uint32_t> focused = CopyFocusedWindowId(app);
      if (focused && *focused == window_id) return Napi::Boolean::New(env, true);
    }
    p.clock().SleepFor(kPollInterval);
  }
  return no();
}

}  // namespace addon
