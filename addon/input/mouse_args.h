// Argument readers shared by the mouse exports (host thread only).
#pragma once

#include <napi.h>

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>

#include "input/key_names.h"
#include "platform/value.h"

namespace addon {

inline Napi::Value MouseFalse(Napi::Env env) { return Napi::Boolean::New(env, false); }

inline bool IsStringAt(const Napi::CallbackInfo& info, size_t i) {
  return i < info.Length() && info[i].IsString();
}
// Arguments start .. start + count - 1 are all numbers.
inline bool AreNumbers(const Napi::CallbackInfo& info, size_t start, size_t count) {
  for (size_t i = start; i < start + count; ++i) {
    if (i >= info.Length() || !info[i].IsNumber()) return false;
  }
  return true;
}
inline double NumberAt(const Napi::CallbackInfo& info, size_t i) {
  return info[i].As<Napi::Number>().DoubleValue();
}
inline std::string StringAt(const Napi::CallbackInfo& info, size_t i) {
  return info[i].As<Napi::String>().Utf8Value();
}
inline platform::Point PointAt(const Napi::CallbackInfo& info, size_t i) {
  return {NumberAt(info, i), NumberAt(info, i + 1)};
}
// An optional text argument counts only when it is a string.
inline std::optional<std::string> OptionalStringAt(const Napi::CallbackInfo& info, size_t i) {
  if (!IsStringAt(info, i)) return std::nullopt;
  return StringAt(info, i);
}
inline bool FinitePoint(platform::Point p) { return std::isfinite(p.x) && std::isfinite(p.y); }
// An integer scroll delta from 1 to 100.
inline bool IsScrollDelta(double d) {
  return std::isfinite(d) && d == std::floor(d) && d >= 1 && d <= 100;
}

// Where the ghost cursor should show a global operation: a process and one
// of its windows, each 0 when the argument is not a valid one.
struct GhostTarget {
  int32_t pid = 0;
  uint32_t window_id = 0;
};
inline GhostTarget OptionalGhostTarget(const Napi::CallbackInfo& info, size_t pid_index) {
  auto whole = [&](size_t i, double hi) -> double {
    if (i >= info.Length() || !info[i].IsNumber()) return 0;
    const double v = NumberAt(info, i);
    if (!std::isfinite(v) || v != std::floor(v) || v <= 0 || v > hi) return 0;
    return v;
  };
  GhostTarget t;
  t.pid = static_cast<int32_t>(whole(pid_index, 2147483647.0));
  t.window_id = static_cast<uint32_t>(whole(pid_index + 1, 4294967295.0));
  return t;
}

}  // namespace addon
