// listApplications, applicationInfo and terminateApplicationVerified: the
// user-facing applications that run, one application's record, and
// termination only of the application the host still expects.
#include <cerrno>
#include <set>

#include "apps/applications.h"
#include "apps/identity.h"
#include "ax/window_list.h"
#include "conventions.h"
#include "exports.h"
#include "platform/platform.h"

namespace addon {

namespace {

// A process is alive when the null signal reaches it or is refused only for
// lack of permission (it belongs to another user).
bool ProcessAlive(pid_t pid) {
  int err = platform::Get().workspace().SignalZero(pid);
  return err == 0 || err == EPERM;
}

bool Listable(const platform::RunningApp& app) {
  return app.activation_policy == platform::ActivationPolicy::kRegular && !app.terminated &&
         app.pid > 0 && ProcessAlive(app.pid);
}

Napi::Value OptionalString(Napi::Env env, const std::optional<std::string>& s) {
  return s ? Napi::Value(Napi::String::New(env, *s)) : env.Null();
}

Napi::Object AppRecord(Napi::Env env, const platform::RunningApp& app, int32_t frontmost) {
  Napi::Object obj = Napi::Object::New(env);
  SetKey(obj, "pid", Napi::Number::New(env, app.pid));
  SetKey(obj, "name", OptionalString(env, app.name));
  SetKey(obj, "bundle_id", OptionalString(env, app.bundle_id));
  SetKey(obj, "active", Napi::Boolean::New(env, frontmost > 0 && frontmost == app.pid));
  return obj;
}

}  // namespace

Napi::Object FillAppInfo(Napi::Env env, int32_t pid) {
  Napi::Object obj = Napi::Object::New(env);
  SetKey(obj, "pid", Napi::Number::New(env, pid));
  auto app = platform::Get().workspace().RunningApplicationWithPid(pid);
  SetKey(obj, "bundle_id", app ? OptionalString(env, app->bundle_id) : env.Null());
  SetKey(obj, "name", app ? OptionalString(env, app->name) : env.Null());
  SetKey(obj, "active", Napi::Boolean::New(env, app && LiveFrontmostPid() == pid));
  return obj;
}

Napi::Value ListApplications(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  auto& ws = platform::Get().workspace();
  int32_t frontmost = LiveFrontmostPid();
  Napi::Array out = Napi::Array::New(env);
  std::set<pid_t> seen;
  uint32_t n = 0;
  for (const auto& app : ws.RunningApplications()) {
    if (!Listable(app) || !seen.insert(app.pid).second) continue;
    out.Set(n++, AppRecord(env, app, frontmost));
  }
  // Regular applications that own visible windows but are missing from the
  // workspace's list.
  auto windows = platform::Get().windows().CopyWindowList(
      platform::WindowListOption::kOnScreenOnlyExcludingDesktop);
  if (windows) {
    for (const platform::Value& v : *windows) {
      const platform::Dict* d = v.dict();
      int64_t owner = 0;
      if (!d || !CopyDictionaryInt64(*d, platform::kWindowOwnerPID, &owner)) continue;
      if (owner < 1 || owner > INT32_MAX || seen.count(static_cast<pid_t>(owner))) continue;
      auto app = ws.RunningApplicationWithPid(static_cast<pid_t>(owner));
      if (!app || !Listable(*app)) continue;
      seen.insert(app->pid);
      out.Set(n++, AppRecord(env, *app, frontmost));
    }
  }
  return out;
}

Napi::Value ApplicationInfo(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  int32_t pid = 0;
  if (info.Length() < 1 || !ReadInt32Loose(info[0], &pid)) {
    return ThrowTypeError(env, "applicationInfo(pid) expects a pid");
  }
  if (pid <= 0 || !platform::Get().workspace().RunningApplicationWithPid(pid)) return env.Null();
  return FillAppInfo(env, pid);
}

Napi::Value TerminateApplicationVerified(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  int32_t pid = 0;
  if (info.Length() < 2 || !ReadInt32Loose(info[0], &pid) || !info[1].IsString()) {
    return ThrowTypeError(
        env, "terminateApplicationVerified(pid, expectedBundleId) expects a pid and bundle id",
        Napi::Boolean::New(env, false));
  }
  std::string expected = info[1].As<Napi::String>().Utf8Value();
  if (!LivePidMatchesExpectedBundle(pid, expected)) return Napi::Boolean::New(env, false);
  // Look again right before acting: the pid may have been reused meanwhile.
  auto& ws = platform::Get().workspace();
  auto app = ws.RunningApplicationWithPid(pid);
  if (!app || app->terminated || !app->bundle_id || !common::EqualsIgnoringAsciiCase(*app->bundle_id, expected)) {
    return Napi::Boolean::New(env, false);
  }
  return Napi::Boolean::New(env, ws.ForceTerminate(pid));
}

}  // namespace addon
