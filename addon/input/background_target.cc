#include "input/background_target.h"

#include <cmath>

#include "conventions.h"

namespace addon {

namespace {

Napi::Value PointToJs(Napi::Env env, const platform::Point& p) {
  Napi::Array a = Napi::Array::New(env, 2);
  a.Set(uint32_t{0}, Napi::Number::New(env, p.x));
  a.Set(uint32_t{1}, Napi::Number::New(env, p.y));
  return a;
}

Napi::Value BoundsToJs(Napi::Env env, const platform::Rect& r) {
  Napi::Array a = Napi::Array::New(env, 4);
  a.Set(uint32_t{0}, Napi::Number::New(env, r.x));
  a.Set(uint32_t{1}, Napi::Number::New(env, r.y));
  a.Set(uint32_t{2}, Napi::Number::New(env, r.width));
  a.Set(uint32_t{3}, Napi::Number::New(env, r.height));
  return a;
}

template <class T, class F>
Napi::Value OrNull(Napi::Env env, const std::optional<T>& v, F convert) {
  return v ? convert(*v) : env.Null();
}

Napi::Value ReasonToJs(Napi::Env env, const std::string& reason) {
  return reason.empty() ? env.Null() : Napi::String::New(env, reason);
}

}  // namespace

bool ParseBounds(const Napi::Value& v, platform::Rect* out) {
  if (!v.IsArray()) return false;
  Napi::Array a = v.As<Napi::Array>();
  if (a.Length() != 4) return false;
  double n[4];
  for (uint32_t i = 0; i < 4; ++i) {
    Napi::Value e = a.Get(i);
    if (!e.IsNumber()) return false;
    n[i] = e.As<Napi::Number>().DoubleValue();
    if (!std::isfinite(n[i])) return false;
  }
  *out = platform::Rect{n[0], n[1], n[2], n[3]};
  return true;
}

std::optional<WindowTarget> ParseWindowTarget(const Napi::CallbackInfo& info) {
  if (info.Length() < 4 || !info[0].IsNumber() || !info[1].IsString() || !info[2].IsNumber()) {
    return std::nullopt;
  }
  WindowTarget t;
  ReadInt32Loose(info[0], &t.pid);
  t.bundle_id = info[1].As<Napi::String>().Utf8Value();
  if (t.pid < 1 || t.bundle_id.empty()) return std::nullopt;
  if (!ReadStrictWindowId(info[2], &t.window_id)) return std::nullopt;
  if (!ParseBounds(info[3], &t.bounds) || !(t.bounds.width > 0) || !(t.bounds.height > 0)) {
    return std::nullopt;
  }
  return t;
}

bool OptionalFlagAt(const Napi::CallbackInfo& info, size_t i) {
  return i < info.Length() && info[i].IsBoolean() && info[i].As<Napi::Boolean>().Value();
}

bool PointInBounds(platform::Point p, const platform::Rect& r) {
  return p.x >= r.x && p.y >= r.y && p.x < r.x + r.width && p.y < r.y + r.height;
}

bool BoundsMatch(const platform::Rect& a, const platform::Rect& b, double tolerance) {
  return std::fabs(a.x - b.x) <= tolerance && std::fabs(a.y - b.y) <= tolerance &&
         std::fabs(a.width - b.width) <= tolerance && std::fabs(a.height - b.height) <= tolerance;
}

BeginOutcome BeginRefusal(const std::optional<WindowTarget>& target, const char* reason) {
  BeginOutcome o;
  o.reason = reason;
  if (target) {
    o.pid = target->pid;
    o.window_id = target->window_id;
    o.expected_bounds = target->bounds;
  }
  return o;
}

Napi::Value BeginOutcomeToJs(Napi::Env env, const BeginOutcome& o) {
  auto num = [&](auto v) { return Napi::Number::New(env, static_cast<double>(v)); };
  auto rect = [&](const platform::Rect& r) { return BoundsToJs(env, r); };
  auto flag = [&](bool b) { return Napi::Boolean::New(env, b); };
  Napi::Object obj = Napi::Object::New(env);
  SetKey(obj, "ok", flag(o.ok));
  SetKey(obj, "reason", ReasonToJs(env, o.reason));
  SetKey(obj, "native_status", OrNull(env, o.native_status, num));
  SetKey(obj, "cps_activation_pair", num(o.cps_activation_pair));
  SetKey(obj, "pid", num(o.pid));
  SetKey(obj, "window_id", num(o.window_id));
  SetKey(obj, "expected_bounds", OrNull(env, o.expected_bounds, rect));
  SetKey(obj, "live_owner_pid", OrNull(env, o.live_owner_pid, num));
  SetKey(obj, "live_on_screen", OrNull(env, o.live_on_screen, flag));
  SetKey(obj, "live_on_screen_list", OrNull(env, o.live_on_screen_list, flag));
  SetKey(obj, "live_bounds", OrNull(env, o.live_bounds, rect));
  Napi::Array missing = Napi::Array::New(env, o.missing_symbols.size());
  for (uint32_t i = 0; i < o.missing_symbols.size(); ++i) {
    missing.Set(i, Napi::String::New(env, o.missing_symbols[i]));
  }
  SetKey(obj, "missing_symbols", missing);
  return obj;
}

Napi::Value EndOutcomeToJs(Napi::Env env, const EndOutcome& o) {
  auto num = [&](auto v) { return Napi::Number::New(env, static_cast<double>(v)); };
  auto point = [&](const platform::Point& p) { return PointToJs(env, p); };
  Napi::Object obj = Napi::Object::New(env);
  SetKey(obj, "ok", Napi::Boolean::New(env, o.ok));
  SetKey(obj, "reason", ReasonToJs(env, o.reason));
  SetKey(obj, "native_status", OrNull(env, o.native_status, num));
  SetKey(obj, "pid", num(o.pid));
  SetKey(obj, "window_id", num(o.window_id));
  SetKey(obj, "original_frontmost_pid", OrNull(env, o.original_frontmost_pid, num));
  SetKey(obj, "live_frontmost_pid", OrNull(env, o.live_frontmost_pid, num));
  SetKey(obj, "original_cursor", OrNull(env, o.original_cursor, point));
  SetKey(obj, "live_cursor", OrNull(env, o.live_cursor, point));
  return obj;
}

Napi::Value MouseDownOutcomeToJs(Napi::Env env, const MouseDownOutcome& o) {
  Napi::Object obj = Napi::Object::New(env);
  SetKey(obj, "ok", Napi::Boolean::New(env, o.ok));
  SetKey(obj, "delivery_state",
         Napi::String::New(env, o.down_posted ? "down_posted_or_ambiguous" : "definitely_unsent"));
  SetKey(obj, "reason", ReasonToJs(env, o.reason));
  return obj;
}

}  // namespace addon
