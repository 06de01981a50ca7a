// The JavaScript entry points of the mirroring panels that start, stop and
// query them.
#include <cmath>

#include "conventions.h"
#include "exports.h"
#include "main_queue.h"
#include "pip/pip_c_api.h"
#include "pip/pip_start.h"

namespace addon {

namespace {

Napi::Value Bool(const Napi::CallbackInfo& info, bool v) { return Napi::Boolean::New(info.Env(), v); }

// Missing, undefined or null: the default (0); otherwise a whole number from
// 0 to max.
bool ParseOptionalDimension(const Napi::CallbackInfo& info, size_t i, double max, double* out) {
  *out = 0;
  if (info.Length() <= i || IsNullish(info[i])) return true;
  return ReadWholeNumber(info[i], 0, max, out);
}

bool GroupArgument(const Napi::CallbackInfo& info, size_t i, std::string* out) {
  if (info.Length() <= i || !info[i].IsString()) return false;
  *out = info[i].As<Napi::String>().Utf8Value();
  return true;
}

Napi::Value StartVerified(const Napi::CallbackInfo& info, bool composite) {
  Napi::Env env = info.Env();
  EnsureMainQueue(env);
  pip::VerifiedStartRequest r;
  size_t i = 0;
  uint32_t presentation = 0, actual = 0;
  if (!ReadStrictWindowId(info.Length() > i ? info[i] : env.Undefined(), &presentation))
    return ResolvedBoolPromise(env, false);
  ++i;
  actual = presentation;
  if (composite) {
    if (!ReadStrictWindowId(info.Length() > i ? info[i] : env.Undefined(), &actual))
      return ResolvedBoolPromise(env, false);
    ++i;
  }
  r.presentation_window_id = presentation;
  r.actual_window_id = actual;
  if (!ReadStrictPid(info.Length() > i ? info[i] : env.Undefined(), &r.pid) ||
      !ReadUtf8String(info.Length() > i + 1 ? info[i + 1] : env.Undefined(), 1, 255, &r.bundle_id) ||
      !ParseOptionalDimension(info, i + 2, 1920, &r.width) ||
      !ParseOptionalDimension(info, i + 3, 1080, &r.height))
    return ResolvedBoolPromise(env, false);
  if (info.Length() > i + 4 && !IsNullish(info[i + 4])) {
    std::string group;
    if (!GroupArgument(info, i + 4, &group)) return ResolvedBoolPromise(env, false);
    r.group = pip::GroupFromString(group);
  }
  return pip::PipStartVerifiedAsyncImpl(env, r);
}

}  // namespace

Napi::Value PipStart(const Napi::CallbackInfo& info) {
  EnsureMainQueue(info.Env());
  double wid, w, h;
  if (info.Length() < 1 || !info[0].IsNumber() || !ReadWholeNumber(info[0], 0, 4294967295.0, &wid) ||
      !ParseOptionalDimension(info, 1, 1920, &w) || !ParseOptionalDimension(info, 2, 1080, &h))
    return Bool(info, false);
  return Bool(info, pip_start(static_cast<uint32_t>(wid), w, h));
}

Napi::Value PipStartVerified(const Napi::CallbackInfo& info) { return Bool(info, false); }

Napi::Value PipStartVerifiedAsync(const Napi::CallbackInfo& info) { return StartVerified(info, false); }

Napi::Value PipStartVerifiedCompositeAsync(const Napi::CallbackInfo& info) {
  return StartVerified(info, true);
}

Napi::Value PipStop(const Napi::CallbackInfo& info) {
  pip_stop();
  return Bool(info, true);
}

Napi::Value PipDismiss(const Napi::CallbackInfo& info) {
  pip_dismiss();
  return Bool(info, true);
}

Napi::Value PipIsRunning(const Napi::CallbackInfo& info) { return Bool(info, pip_is_running()); }

Napi::Value PipStopTarget(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (info.Length() < 3 || !info[0].IsNumber() || !info[1].IsNumber() || !info[2].IsString())
    return ThrowTypeError(env, "pipStopTarget requires windowId, pid, bundleId");
  double wid = info[0].As<Napi::Number>().DoubleValue();
  double pid = info[1].As<Napi::Number>().DoubleValue();
  uint32_t window_id = std::isfinite(wid) && wid >= 0 && wid <= 4294967295.0 ? static_cast<uint32_t>(wid) : 0;
  int32_t p = std::isfinite(pid) && pid >= 1 && pid <= 2147483647.0 ? static_cast<int32_t>(pid) : 0;
  std::string bundle = info[2].As<Napi::String>().Utf8Value();
  return Bool(info, pip_stop_target(window_id, p, bundle.c_str()) > 0);
}

Napi::Value PipGetLeadTarget(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  uint32_t wid = 0;
  int32_t pid = 0;
  char bundle[512];
  if (!pip_get_lead_target(&wid, &pid, bundle, sizeof bundle)) return env.Null();
  Napi::Object o = Napi::Object::New(env);
  SetKey(o, "window_id", Napi::Number::New(env, wid));
  SetKey(o, "pid", Napi::Number::New(env, pid));
  SetKey(o, "bundle_id", Napi::String::New(env, bundle));
  return o;
}

Napi::Value PipGetStackCount(const Napi::CallbackInfo& info) {
  return Napi::Number::New(info.Env(), static_cast<double>(pip_stack_count()));
}

Napi::Value PipSetActiveGroup(const Napi::CallbackInfo& info) {
  std::string group;
  if (!GroupArgument(info, 0, &group))
    return ThrowTypeError(info.Env(), "pipSetActiveGroup requires a group string");
  pip_set_active_group(group.c_str());
  return Bool(info, true);
}

Napi::Value PipBeginTurn(const Napi::CallbackInfo& info) {
  std::string group;
  if (!GroupArgument(info, 0, &group))
    return ThrowTypeError(info.Env(), "pipBeginTurn requires a group string");
  pip_begin_turn(group.c_str());
  return Bool(info, true);
}

Napi::Value PipTaskCompleted(const Napi::CallbackInfo& info) {
  std::string group;
  if (!GroupArgument(info, 0, &group) || info.Length() < 2 || !info[1].IsBoolean())
    return ThrowTypeError(info.Env(), "pipTaskCompleted requires group, success");
  pip_task_completed(group.c_str(), info[1].As<Napi::Boolean>().Value() ? 1 : 0);
  return Bool(info, true);
}

Napi::Value PipFreezeGroup(const Napi::CallbackInfo& info) {
  std::string group;
  if (!GroupArgument(info, 0, &group))
    return ThrowTypeError(info.Env(), "pipFreezeGroup requires a group string");
  pip_freeze_group(group.c_str());
  return Bool(info, true);
}

Napi::Value PipIsDismissed(const Napi::CallbackInfo& info) { return Bool(info, pip_is_dismissed()); }

Napi::Value PipClearDismissed(const Napi::CallbackInfo& info) {
  pip_clear_dismissed();
  return Bool(info, true);
}

Napi::Value PipSetEnabled(const Napi::CallbackInfo& info) {
  bool on = info.Length() > 0 && info[0].ToBoolean().Value();
  pip_set_enabled(on ? 1 : 0);
  return Bool(info, true);
}

}  // namespace addon
