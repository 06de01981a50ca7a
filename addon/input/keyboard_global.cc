// Global keyboard input through the system's HID tap (the frontmost
// application receives it) and the two entry points that cancel key holds.
// Everything but holdKeyGlobalAsync runs synchronously on the host thread
// under the input sequence mutex. While focus stealing is prevented the input
// entry points refuse before looking at their arguments.
#include <cmath>

#include "apps/activation.h"
#include "apps/identity.h"
#include "conventions.h"
#include "exports.h"
#include "input/holds.h"
#include "input/input_worker.h"
#include "input/key_names.h"
#include "input/key_plan.h"
#include "input/key_poster.h"

namespace addon {

namespace {

constexpr double kMaxHoldMs = kMaxHoldSeconds * 1000.0;

Napi::Value False(Napi::Env env) { return Napi::Boolean::New(env, false); }

bool IsStringArg(const Napi::CallbackInfo& info, size_t i) {
  return i < info.Length() && info[i].IsString();
}

bool RunGlobalPlan(const KeyPlan& plan) {
  return RunKeyPlan(plan, KeyRoute::Global(), "");
}

bool HoldKeyChordGlobal(const std::string& chord, double seconds, const std::string& session_key) {
  KeyPlan plan = PlanHoldChord(chord, seconds);
  if (!plan.ok || InputHoldCancelledForSession(session_key)) return false;
  return RunKeyPlan(plan, KeyRoute::Global(), session_key);
}

// The checks holdKeyGlobal and holdKeyGlobalAsync share after their types.
bool HoldArgumentsAcceptable(const std::string& chord, double duration_ms) {
  if (ParseKeyChord(chord).empty()) return false;
  if (!std::isfinite(duration_ms) || duration_ms < 0 || duration_ms > kMaxHoldMs) return false;
  return FreshAXIsTrusted();
}

// keyDownGlobal / keyUpGlobal.
Napi::Value ChordHalfGlobal(const Napi::CallbackInfo& info, bool down, const char* type_message) {
  Napi::Env env = info.Env();
  if (FocusStealPrevented()) return False(env);
  if (!IsStringArg(info, 0)) return ThrowTypeError(env, type_message, False(env));
  const std::string chord = info[0].As<Napi::String>().Utf8Value();
  if (!FreshAXIsTrusted()) return False(env);
  bool ok = TryRunSynchronousInputSequence([&] { return RunGlobalPlan(PlanChordHalf(chord, down)); });
  return Napi::Boolean::New(env, ok);
}

}  // namespace

Napi::Value TypeTextGlobal(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (FocusStealPrevented()) return False(env);
  if (!IsStringArg(info, 0)) {
    return ThrowTypeError(env, "typeTextGlobal(text) expects a string", False(env));
  }
  if (!FreshAXIsTrusted()) return False(env);
  const std::u16string text = info[0].As<Napi::String>().Utf16Value();
  if (text.size() > kMaxTypedTextUnits) return False(env);
  bool ok = TryRunSynchronousInputSequence([&] { return RunGlobalPlan(PlanTypeTextGlobal(text)); });
  return Napi::Boolean::New(env, ok);
}

Napi::Value PressKeyGlobal(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (FocusStealPrevented()) return False(env);
  if (!IsStringArg(info, 0)) {
    return ThrowTypeError(env, "pressKeyGlobal(text) expects a key text", False(env));
  }
  const std::string chord = info[0].As<Napi::String>().Utf8Value();
  if (ParseKeyChord(chord).empty() || !FreshAXIsTrusted()) return False(env);
  bool ok = TryRunSynchronousInputSequence([&] { return RunGlobalPlan(PlanPressChord(chord)); });
  return Napi::Boolean::New(env, ok);
}

Napi::Value HoldKeyGlobal(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (FocusStealPrevented()) return False(env);
  if (!IsStringArg(info, 0) || info.Length() < 2 || !info[1].IsNumber()) {
    return ThrowTypeError(
        env, "holdKeyGlobal(text, durationMs) expects a key text and a duration in milliseconds",
        False(env));
  }
  const std::string chord = info[0].As<Napi::String>().Utf8Value();
  const double duration_ms = info[1].As<Napi::Number>().DoubleValue();
  if (!HoldArgumentsAcceptable(chord, duration_ms)) return False(env);
  bool ok = TryRunSynchronousInputSequence(
      [&] { return HoldKeyChordGlobal(chord, duration_ms / 1000.0, ""); });
  return Napi::Boolean::New(env, ok);
}

Napi::Value HoldKeyGlobalAsync(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (FocusStealPrevented()) return ResolvedBoolPromise(env, false);
  if (!IsStringArg(info, 0) || info.Length() < 2 || !info[1].IsNumber()) {
    return ThrowTypeError(env,
                          "holdKeyGlobalAsync(text, durationMs) expects a key text and a duration "
                          "in milliseconds");
  }
  std::string chord = info[0].As<Napi::String>().Utf8Value();
  const double duration_ms = info[1].As<Napi::Number>().DoubleValue();
  std::string session_key = IsStringArg(info, 2) ? info[2].As<Napi::String>().Utf8Value() : "";
  if (!HoldArgumentsAcceptable(chord, duration_ms) || InputHoldCancelledForSession(session_key)) {
    return ResolvedBoolPromise(env, false);
  }
  auto work = [chord = std::move(chord), seconds = duration_ms / 1000.0, session_key] {
    return HoldKeyChordGlobal(chord, seconds, session_key);
  };
  return QueueInputWorker(env, false, std::move(work), nullptr, 0);
}

Napi::Value KeyDownGlobal(const Napi::CallbackInfo& info) {
  return ChordHalfGlobal(info, true, "keyDownGlobal(key) expects a key string");
}

Napi::Value KeyUpGlobal(const Napi::CallbackInfo& info) {
  return ChordHalfGlobal(info, false, "keyUpGlobal(key) expects a key string");
}

Napi::Value CancelInputHoldsForSessionNapi(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (!IsStringArg(info, 0)) {
    return ThrowTypeError(env, "cancelInputHoldsForSession(sessionKey) expects a non-empty string",
                          False(env));
  }
  return Napi::Boolean::New(env, CancelInputHoldsForSession(info[0].As<Napi::String>().Utf8Value()));
}

Napi::Value CancelPendingInputHolds(const Napi::CallbackInfo& info) {
  return Napi::Boolean::New(info.Env(), CancelPendingInputs());
}

}  // namespace addon
