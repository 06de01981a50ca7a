// Accessibility trust and screen-recording permission exports. None of them
// throws: each answers a plain value.
#include "apps/identity.h"
#include "apps/permissions_probe.h"
#include "ax/actions_outcome.h"
#include "exports.h"
#include "platform/platform.h"

namespace addon {

Napi::Value IsTrusted(const Napi::CallbackInfo& info) {
  return Napi::Boolean::New(info.Env(), FreshAXIsTrusted());
}

Napi::Value PromptTrust(const Napi::CallbackInfo& info) {
  return Napi::Boolean::New(info.Env(), platform::Get().ax().IsProcessTrusted(true));
}

Napi::Value ProbeAccessibility(const Napi::CallbackInfo& info) {
  AccessibilityProbeResult probe = RunAccessibilityProbe();
  bool answer;
  if (probe.ok) {
    answer = true;
  } else if (probe.error == platform::kAXErrorAPIDisabled) {
    answer = false;
  } else {
    // Nobody could be asked (or the answer was inconclusive): fall back to the
    // plain trust check.
    answer = FreshAXIsTrusted();
  }
  return Napi::Boolean::New(info.Env(), answer);
}

Napi::Value ProbeAccessibilityStatus(const Napi::CallbackInfo& info) {
  AccessibilityProbeResult probe = RunAccessibilityProbe();
  return AxOutcome(info.Env(), probe.ok ? 0 : probe.error);
}

Napi::Value ScreenCaptureStatus(const Napi::CallbackInfo& info) {
  return Napi::String::New(info.Env(), ScreenCaptureStatusString());
}

Napi::Value RequestScreenCaptureAccess(const Napi::CallbackInfo& info) {
  // The platform's answer is ignored: what matters is that a request was made.
  bool requested = platform::Get().security().RequestScreenCaptureAccess().has_value();
  return Napi::Boolean::New(info.Env(), requested);
}

}  // namespace addon
