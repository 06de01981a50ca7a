// Keyboard input to one process, without bringing it to the front:
// typeTextToPid, pressKeyToPid, holdKeyToPid and their verified forms. Each
// call is checked and admitted on the host thread and runs as an input worker;
// events go to the pid, or to one of its windows through the private
// window-server path when a window id is named.
#include <cmath>

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

constexpr int kGhostTyping = 1;
constexpr int kGhostPressing = 2;

struct PidTarget {
  int32_t pid = 0;
  std::string expected_bundle;
  bool verified = false;
  uint32_t window_id = 0;
  bool window_valid = true;  // false: a window-id argument that is not a window id
};

// Absent, undefined and null name no window; a whole number in
// 1 .. 4,294,967,295 is the window; anything else is not a valid target.
bool ParseOptionalKeyboardWindowId(const Napi::CallbackInfo& info, size_t index, uint32_t* out) {
  *out = 0;
  if (index >= info.Length() || IsNullish(info[index])) return true;
  return ReadStrictWindowId(info[index], out);
}

PidTarget ReadTarget(const Napi::CallbackInfo& info, bool verified, size_t window_index) {
  PidTarget t;
  ReadInt32Loose(info[0], &t.pid);
  t.verified = verified;
  if (verified) {
    t.expected_bundle = info[1].As<Napi::String>().Utf8Value();
    t.window_valid = ParseOptionalKeyboardWindowId(info, window_index, &t.window_id);
  }
  return t;
}

// Steps shared by every queued request after its own argument checks; null
// when the request may go on, else the error code it resolves with.
const char* TargetRefusal(const PidTarget& t) {
  if (!t.window_valid || t.pid < 1) return "invalid_target";
  if (t.verified && (t.expected_bundle.empty() || t.expected_bundle.size() > 255)) {
    return "invalid_target";
  }
  if (!FreshAXIsTrusted()) return "rejected";
  return nullptr;
}

// The first steps of every work callable: trust asked again and, for verified
// requests, the pid must still be the expected application.
bool TargetStillValid(const PidTarget& t) {
  if (!FreshAXIsTrusted()) return false;
  return !t.verified || LivePidMatchesExpectedBundle(t.pid, t.expected_bundle);
}

bool ValidHoldSeconds(double seconds) {
  return std::isfinite(seconds) && seconds >= 0 && seconds <= kMaxHoldSeconds;
}

Napi::Value QueueTypeTextToPid(Napi::Env env, const PidTarget& t, std::u16string text) {
  if (text.size() > kMaxTypedTextUnits) return InputRefusal(env, t.verified, "text_too_long");
  if (const char* refusal = TargetRefusal(t)) return InputRefusal(env, t.verified, refusal);
  LayoutKeymap keymap = KeyboardLayoutKeymap();
  auto work = [t, text = std::move(text), keymap = std::move(keymap)] {
    if (!TargetStillValid(t)) return false;
    return RunKeyPlan(PlanTypeTextToPid(text, keymap), KeyRoute::Process(t.pid, t.window_id), "");
  };
  return QueueInputWorker(env, t.verified, std::move(work), nullptr, kGhostTyping);
}

Napi::Value QueuePressKeyToPid(Napi::Env env, const PidTarget& t, std::string chord) {
  if (ParseKeyChord(chord).empty()) return InputRefusal(env, t.verified, "invalid_key_chord");
  if (const char* refusal = TargetRefusal(t)) return InputRefusal(env, t.verified, refusal);
  auto work = [t, chord = std::move(chord)] {
    if (!TargetStillValid(t)) return false;
    return RunKeyPlan(PlanPressChord(chord), KeyRoute::Process(t.pid, t.window_id), "");
  };
  return QueueInputWorker(env, t.verified, std::move(work), nullptr, kGhostPressing);
}

Napi::Value QueueHoldKeyToPid(Napi::Env env, const PidTarget& t, std::string chord, double seconds,
                              std::string session_key) {
  if (ParseKeyChord(chord).empty() || !ValidHoldSeconds(seconds)) {
    return InputRefusal(env, t.verified, "invalid_key_chord");
  }
  if (const char* refusal = TargetRefusal(t)) return InputRefusal(env, t.verified, refusal);
  if (InputHoldCancelledForSession(session_key)) return InputRefusal(env, t.verified, "cancelled");
  auto work = [t, chord = std::move(chord), seconds, session_key] {
    if (!TargetStillValid(t)) return false;
    KeyPlan plan = PlanHoldChord(chord, seconds);
    if (!plan.ok || InputHoldCancelledForSession(session_key)) return false;
    return RunKeyPlan(plan, KeyRoute::Process(t.pid, t.window_id), session_key);
  };
  auto cancelled = [session_key] { return InputHoldCancelledForSession(session_key); };
  return QueueInputWorker(env, t.verified, std::move(work), std::move(cancelled), kGhostTyping);
}

bool IsNumberArg(const Napi::CallbackInfo& info, size_t i) {
  return i < info.Length() && info[i].IsNumber();
}
bool IsStringArg(const Napi::CallbackInfo& info, size_t i) {
  return i < info.Length() && info[i].IsString();
}
std::u16string Utf16Arg(const Napi::CallbackInfo& info, size_t i) {
  return info[i].As<Napi::String>().Utf16Value();
}
std::string Utf8Arg(const Napi::CallbackInfo& info, size_t i) {
  return info[i].As<Napi::String>().Utf8Value();
}

}  // namespace

Napi::Value TypeTextToPid(const Napi::CallbackInfo& info) {
  if (!IsNumberArg(info, 0) || !IsStringArg(info, 1)) {
    return ThrowTypeError(info.Env(), "typeTextToPid(pid, text) expects a pid and text");
  }
  return QueueTypeTextToPid(info.Env(), ReadTarget(info, false, 0), Utf16Arg(info, 1));
}

Napi::Value PressKeyToPid(const Napi::CallbackInfo& info) {
  if (!IsNumberArg(info, 0) || !IsStringArg(info, 1)) {
    return ThrowTypeError(info.Env(), "pressKeyToPid(pid, text) expects a pid and key text");
  }
  return QueuePressKeyToPid(info.Env(), ReadTarget(info, false, 0), Utf8Arg(info, 1));
}

Napi::Value HoldKeyToPid(const Napi::CallbackInfo& info) {
  if (!IsNumberArg(info, 0) || !IsStringArg(info, 1) || !IsNumberArg(info, 2)) {
    return ThrowTypeError(info.Env(),
                          "holdKeyToPid(pid, text, duration) expects a pid, key text, and duration");
  }
  return QueueHoldKeyToPid(info.Env(), ReadTarget(info, false, 0), Utf8Arg(info, 1),
                           info[2].As<Napi::Number>().DoubleValue(), "");
}

Napi::Value TypeTextToPidVerified(const Napi::CallbackInfo& info) {
  if (!IsNumberArg(info, 0) || !IsStringArg(info, 1) || !IsStringArg(info, 2)) {
    return ThrowTypeError(info.Env(),
                          "typeTextToPidVerified(pid, expectedBundleId, text) expects a pid, "
                          "bundle id, and text");
  }
  return QueueTypeTextToPid(info.Env(), ReadTarget(info, true, 3), Utf16Arg(info, 2));
}

Napi::Value PressKeyToPidVerified(const Napi::CallbackInfo& info) {
  if (!IsNumberArg(info, 0) || !IsStringArg(info, 1) || !IsStringArg(info, 2)) {
    return ThrowTypeError(info.Env(),
                          "pressKeyToPidVerified(pid, expectedBundleId, text) expects a pid, "
                          "bundle id, and key text");
  }
  return QueuePressKeyToPid(info.Env(), ReadTarget(info, true, 3), Utf8Arg(info, 2));
}

Napi::Value HoldKeyToPidVerified(const Napi::CallbackInfo& info) {
  if (!IsNumberArg(info, 0) || !IsStringArg(info, 1) || !IsStringArg(info, 2) ||
      !IsNumberArg(info, 3)) {
    return ThrowTypeError(info.Env(),
                          "holdKeyToPidVerified(pid, expectedBundleId, text, duration) expects a "
                          "pid, bundle id, key text, and duration");
  }
  std::string session_key = IsStringArg(info, 4) ? Utf8Arg(info, 4) : "";
  return QueueHoldKeyToPid(info.Env(), ReadTarget(info, true, 5), Utf8Arg(info, 2),
                           info[3].As<Napi::Number>().DoubleValue(), std::move(session_key));
}

}  // namespace addon
