// Actions on an element named by its token: perform an accessibility action,
// set its value, focus it, select a text range. Each answers the outcome
// object {ok, axError}; none throws. Presses run under the synthetic focus
// guard and report what the guard saw ("pressFocusDiagnostics").
#include <chrono>
#include <cmath>
#include <optional>
#include <string>

#include "ax/actions_outcome.h"
#include "ax/ax_read.h"
#include "ax/focus_guard.h"
#include "ax/tokens.h"
#include "conventions.h"
#include "exports.h"
#include "ghost/ghost_c_api.h"
#include "input/background_focus_state.h"

namespace addon {

namespace {

constexpr double kMaxRangeValue = 2147483647.0;

// The element's frame when the overlay is on and the frame is usable: the
// cursor glides to its centre before the action.
std::optional<platform::Rect> GhostMoveToElement(const platform::AXElement& el) {
  if (!ghost_cursor_enabled()) return std::nullopt;
  pid_t pid = 0;
  platform::Rect f;
  if (!CopyElementPid(el, &pid) || !CopyFrame(el, &f)) return std::nullopt;
  if (!std::isfinite(f.x) || !std::isfinite(f.y) || !std::isfinite(f.width) ||
      !std::isfinite(f.height) || f.width <= 0 || f.height <= 0) {
    return std::nullopt;
  }
  ghost_cursor_move_to_target(pid, 0, 0, f.x + f.width / 2, f.y + f.height / 2);
  return f;
}

void GhostFocusRect(const std::optional<platform::Rect>& frame) {
  if (frame) ghost_cursor_show_focus_rect(frame->x, frame->y, frame->width, frame->height);
}

// A string argument as platform text; nullopt when the conversion fails.
std::optional<std::string> PlatformString(const Napi::Value& v) {
  std::string s;
  if (!ReadUtf8String(v, 0, SIZE_MAX, &s)) return std::nullopt;
  return s;
}

Napi::Value StatusOrNull(Napi::Env env, const char* name) {
  return name ? Napi::String::New(env, name) : env.Null();
}

Napi::Object DiagnosticsToNapi(Napi::Env env, const PressFocusDiagnostics& d) {
  Napi::Object o = Napi::Object::New(env);
  auto num = [&](double v) { return Napi::Number::New(env, v); };
  SetKey(o, "guardEngaged", Napi::Boolean::New(env, d.guard_engaged));
  SetKey(o, "frontmostPid", num(d.frontmost_pid));
  SetKey(o, "axFocusedPidBefore", num(d.ax_focused_pid_before));
  SetKey(o, "axFocusedPidAfterSet", num(d.ax_focused_pid_after_set));
  SetKey(o, "axFocusedPidAfterPress", num(d.ax_focused_pid_after_press));
  SetKey(o, "focusSetStatus", StatusOrNull(env, d.focus_set_status));
  SetKey(o, "appFrontmostBefore", num(d.app_frontmost_before));
  SetKey(o, "appFrontmostAfterSet", num(d.app_frontmost_after_set));
  SetKey(o, "appFrontmostAfterPress", num(d.app_frontmost_after_press));
  SetKey(o, "elementFocusedBefore", num(d.element_focused_before));
  SetKey(o, "elementSelectedBefore", num(d.element_selected_before));
  SetKey(o, "elementSelectedAfterPress", num(d.element_selected_after_press));
  SetKey(o, "msSinceKeyboardEnd", num(static_cast<double>(d.ms_since_keyboard_end)));
  SetKey(o, "pressMs", num(d.press_ms));
  return o;
}

}  // namespace

Napi::Value PerformAction(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  platform::AXElement el;
  if (!ResolveRef(info, &el)) return AxOutcomeFromError(env, "invalid_element");
  if (info.Length() < 2 || !info[1].IsString()) return AxOutcomeFromError(env, "illegal_argument");
  std::optional<std::string> action = PlatformString(info[1]);
  if (!action) return AxOutcomeFromError(env, "failure");

  auto& p = platform::Get();
  auto& ax = p.ax();
  std::optional<platform::Rect> frame = GhostMoveToElement(el);

  pid_t pid = 0;
  if (!CopyElementPid(el, &pid)) pid = 0;
  const bool diagnosed = *action == "AXPress" && pid >= 1;
  PressFocusDiagnostics diag;
  platform::AXElement app;
  if (diagnosed) {
    app = ax.CreateApplication(pid);
    diag.ms_since_keyboard_end = background_input_ms_since_focus_end_for_pid(pid);
    diag.frontmost_pid = ReadFrontmostPid();
    diag.ax_focused_pid_before = ReadAxFocusedApplicationPid();
    diag.app_frontmost_before = ReadBoolAttrTri(app, "AXFrontmost");
    diag.element_focused_before = ReadBoolAttrTri(el, "AXFocused");
    diag.element_selected_before = ReadBoolAttrTri(el, "AXSelected");
    StartSyntheticFocusGuard(pid, &diag);
    diag.ax_focused_pid_after_set = ReadAxFocusedApplicationPid();
    diag.app_frontmost_after_set = ReadBoolAttrTri(app, "AXFrontmost");
  }

  platform::TimePoint started = p.clock().Now();
  platform::AXError err = ax.PerformAction(el, *action);
  platform::TimePoint finished = p.clock().Now();

  if (err == platform::kAXErrorSuccess && frame) {
    GhostFocusRect(frame);
    if (*action == "AXPress") {
      double cx = frame->x + frame->width / 2, cy = frame->y + frame->height / 2;
      if (pid >= 1) {
        ghost_cursor_click_ripple_target(pid, 0, 0, cx, cy);
      } else {
        ghost_cursor_click_ripple(cx, cy);
      }
    }
  }

  Napi::Object outcome = AxOutcome(env, err);
  if (diagnosed) {
    diag.press_ms = std::chrono::duration<double, std::milli>(finished - started).count();
    diag.ax_focused_pid_after_press = ReadAxFocusedApplicationPid();
    diag.app_frontmost_after_press = ReadBoolAttrTri(app, "AXFrontmost");
    diag.element_selected_after_press = ReadBoolAttrTri(el, "AXSelected");
    SetKey(outcome, "pressFocusDiagnostics", DiagnosticsToNapi(env, diag));
  }
  return outcome;
}

Napi::Value SetValue(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  platform::AXElement el;
  if (!ResolveRef(info, &el)) return AxOutcomeFromError(env, "invalid_element");
  if (info.Length() < 2 || !info[1].IsString()) return AxOutcomeFromError(env, "illegal_argument");
  std::optional<std::string> text = PlatformString(info[1]);
  if (!text) return AxOutcomeFromError(env, "failure");

  std::optional<platform::Rect> frame = GhostMoveToElement(el);
  platform::AXError err =
      platform::Get().ax().SetAttributeValue(el, "AXValue", platform::Value(std::move(*text)));
  if (err == platform::kAXErrorSuccess) GhostFocusRect(frame);
  return AxOutcome(env, err);
}

Napi::Value SetFocused(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  platform::AXElement el;
  if (!ResolveRef(info, &el)) return AxOutcomeFromError(env, "invalid_element");
  return AxOutcome(env, platform::Get().ax().SetAttributeValue(el, "AXFocused", platform::Value(true)));
}

Napi::Value SelectText(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  platform::AXElement el;
  if (!ResolveRef(info, &el)) return AxOutcomeFromError(env, "invalid_element");
  double location, length;
  if (info.Length() < 3 || !ReadWholeNumber(info[1], 0, kMaxRangeValue, &location) ||
      !ReadWholeNumber(info[2], 0, kMaxRangeValue, &length) ||
      location + length > kMaxRangeValue) {
    return AxOutcomeFromError(env, "illegal_argument");
  }
  platform::Range range{static_cast<int64_t>(location), static_cast<int64_t>(length)};
  return AxOutcome(env,
                   platform::Get().ax().SetAttributeValue(el, "AXSelectedTextRange", range));
}

}  // namespace addon
