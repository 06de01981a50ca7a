// Hit-testing a global point: the element there (with a fresh ephemeral
// token), the identity of the application that owns it, or a press on it
// with an optional screenshot of its window.
#include <chrono>
#include <cmath>
#include <string>

#include "apps/identity.h"
#include "apps/window_capture_sc.h"
#include "ax/ax_read.h"
#include "ax/element_read.h"
#include "ax/focus_guard.h"
#include "ax/tokens.h"
#include "ax/warmup.h"
#include "apps/applications.h"
#include "conventions.h"
#include "exports.h"
#include "ghost/ghost_c_api.h"
#include "image/image_napi.h"

namespace addon {

namespace {

constexpr auto kReadBudget = std::chrono::seconds(5);
constexpr float kClickHitTestTimeoutSeconds = 0.3f;
constexpr double kScreenshotTimeoutSeconds = 5.0;
constexpr double kScreenshotQuality = 0.6;

// x and y as finite numbers; throws the call's TypeError otherwise.
bool ReadPoint(const Napi::CallbackInfo& info, const char* type_message,
               const char* range_message, double* x, double* y) {
  Napi::Env env = info.Env();
  if (info.Length() < 2 || !info[0].IsNumber() || !info[1].IsNumber()) {
    ThrowTypeError(env, type_message);
    return false;
  }
  *x = info[0].As<Napi::Number>().DoubleValue();
  *y = info[1].As<Napi::Number>().DoubleValue();
  if (!std::isfinite(*x) || !std::isfinite(*y)) {
    ThrowTypeError(env, range_message);
    return false;
  }
  return true;
}

// The element at a global point, asked of the system-wide element. A click
// bounds the question with a short messaging time-out first.
platform::AXElement ElementAt(double x, double y, bool* system_wide_missing = nullptr,
                              bool short_timeout = false) {
  auto& ax = platform::Get().ax();
  platform::AXElement system_wide = ax.CreateSystemWide();
  if (!system_wide) {
    if (system_wide_missing) *system_wide_missing = true;
    return {};
  }
  if (short_timeout) ax.SetMessagingTimeout(system_wide, kClickHitTestTimeoutSeconds);
  platform::AXElement el;
  if (ax.CopyElementAtPosition(system_wide, static_cast<float>(x), static_cast<float>(y), &el) !=
      platform::kAXErrorSuccess) {
    return {};
  }
  return el;
}

// The image of the element's window, through the one-call window image when
// the platform has it, else through a one-frame stream.
platform::Image CaptureElementWindow(const platform::AXElement& el) {
  platform::AXElement window;
  if (!CopyElementAttr(el, "AXWindow", &window)) return nullptr;
  uint32_t window_id = CopyWindowNumber(window);
  if (window_id == 0) return nullptr;
  auto& ws = platform::Get().windows();
  platform::Image image;
  if (ws.HasSingleWindowImageEntry()) image = ws.CreateSingleWindowImage(window_id);
  if (!image) {
    image = CaptureWindowImageViaSC(window_id, kScreenshotTimeoutSeconds, 0, std::string(), {},
                                    nullptr);
  }
  return image;
}

}  // namespace

Napi::Value ElementAtPoint(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  double x, y;
  if (!ReadPoint(info, "elementAtPoint(x, y) expects global point coordinates",
                 "elementAtPoint coordinates must be finite", &x, &y)) {
    return env.Null();
  }
  if (!FreshAXIsTrusted()) return env.Null();
  platform::AXElement el = ElementAt(x, y);
  pid_t pid = 0;
  if (!el || !CopyElementPid(el, &pid) || pid < 1) return env.Null();

  platform::AXElement app = platform::Get().ax().CreateApplication(pid);
  if (app) WarmAccessibilityTree(app, pid, kNoDeadline);
  std::string ref = StoreToken(el, pid, std::nullopt);
  return BuildElement(env, el, ref, platform::Get().clock().Now() + kReadBudget);
}

Napi::Value PolicyIdentityAtPoint(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  double x, y;
  if (!ReadPoint(info, "policyIdentityAtPoint(x, y) expects global point coordinates",
                 "policyIdentityAtPoint coordinates must be finite", &x, &y)) {
    return env.Null();
  }
  if (!FreshAXIsTrusted()) return env.Null();
  platform::AXElement el = ElementAt(x, y);
  pid_t pid = 0;
  if (!el || !CopyElementPid(el, &pid) || pid < 1) return env.Null();
  auto app = platform::Get().workspace().RunningApplicationWithPid(pid);
  if (!app || app->terminated) return env.Null();
  return FillAppInfo(env, pid);
}

Napi::Value ClickElementAtPoint(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  const char* kTypeMessage = "clickElementAtPoint(x, y, clickCount?) expects x, y, optional clickCount";
  const char* kRangeMessage = "clickElementAtPoint requires finite coordinates and 1..3 clicks";
  const bool has_count = info.Length() > 2 && !info[2].IsUndefined();
  if (info.Length() < 2 || !info[0].IsNumber() || !info[1].IsNumber() ||
      (has_count && !info[2].IsNumber())) {
    return ThrowTypeError(env, kTypeMessage);
  }
  double x = info[0].As<Napi::Number>().DoubleValue();
  double y = info[1].As<Napi::Number>().DoubleValue();
  double clicks = 1;
  if (!std::isfinite(x) || !std::isfinite(y) ||
      (has_count && !ReadWholeNumber(info[2], 1, 3, &clicks))) {
    return ThrowTypeError(env, kRangeMessage);
  }

  Napi::Object result = Napi::Object::New(env);
  SetKey(result, "ok", Napi::Boolean::New(env, false));
  SetKey(result, "method", Napi::String::New(env, "no_element"));
  SetKey(result, "pid", Napi::Number::New(env, 0));
  auto method = [&](const char* m) { SetKey(result, "method", Napi::String::New(env, m)); };

  if (!FreshAXIsTrusted()) {
    method("not_trusted");
    return result;
  }
  const bool include_screenshot = info.Length() > 3 && info[3].IsBoolean() &&
                                  info[3].As<Napi::Boolean>().Value();
  std::string format = "png";
  if (info.Length() > 4 && info[4].IsString()) format = info[4].As<Napi::String>().Utf8Value();

  bool system_wide_missing = false;
  platform::AXElement el = ElementAt(x, y, &system_wide_missing, true);
  if (system_wide_missing) {
    method("no_system_wide");
    return result;
  }
  if (!el) return result;

  pid_t pid = 0;
  if (!CopyElementPid(el, &pid)) pid = 0;
  SetKey(result, "pid", Napi::Number::New(env, pid));
  uint32_t window_id = CopyWindowNumber(el);

  // With an expected owner, an element whose owner is different, or cannot
  // be told, is never pressed.
  if (info.Length() > 5 && info[5].IsNumber()) {
    double expected = info[5].As<Napi::Number>().DoubleValue();
    if (expected >= 1 && (pid < 1 || static_cast<double>(pid) != expected)) {
      method("wrong_owner");
      return result;
    }
  }

  if (pid >= 1) StartSyntheticFocusGuard(pid, nullptr);

  auto& ax = platform::Get().ax();
  platform::AXError err = platform::kAXErrorSuccess;
  for (int i = 0; i < static_cast<int>(clicks) && err == platform::kAXErrorSuccess; ++i) {
    err = ax.PerformAction(el, "AXPress");
  }
  const bool pressed = err == platform::kAXErrorSuccess;

  if (pressed && ghost_cursor_enabled()) {
    if (pid >= 1) {
      ghost_cursor_click_ripple_target(pid, window_id, 0, x, y);
    } else {
      ghost_cursor_click_ripple(x, y);
    }
  }

  if (include_screenshot) {
    platform::Image image = CaptureElementWindow(el);
    if (image) {
      Napi::Value encoded = EncodeImage(env, image, format, kScreenshotQuality);
      if (!encoded.IsNull()) SetKey(result, "screenshot", encoded);
    }
  }

  SetKey(result, "ok", Napi::Boolean::New(env, pressed));
  method(pressed ? "ax_press" : "ax_error");
  return result;
}

}  // namespace addon
