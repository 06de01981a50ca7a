// Background window input: the window a request addresses, and the outcome
// records its operations report. Parsing and conversion run on the host
// thread; the records themselves are plain values.
#pragma once

#include <napi.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/value.h"

namespace addon {

struct WindowTarget {
  int32_t pid = 0;
  std::string bundle_id;
  uint32_t window_id = 0;
  platform::Rect bounds;
  bool allow_offscreen = false;
};

// [x, y, width, height] of four finite numbers; nothing else.
bool ParseBounds(const Napi::Value& v, platform::Rect* out);
// Arguments 0..3: pid, bundle id, window id, bounds (width and height above
// 0). allowOffscreen is read separately because its index depends on the
// operation.
std::optional<WindowTarget> ParseWindowTarget(const Napi::CallbackInfo& info);
// The trailing flag: used when it is a boolean, else false.
bool OptionalFlagAt(const Napi::CallbackInfo& info, size_t i);

// Whether `p` lies inside the rectangle (left and top edges included).
bool PointInBounds(platform::Point p, const platform::Rect& r);
// Each of x, y, width and height within `tolerance`.
bool BoundsMatch(const platform::Rect& a, const platform::Rect& b, double tolerance);

struct BeginOutcome {
  bool ok = false;
  std::string reason;  // empty: none
  std::optional<int32_t> native_status;
  int64_t cps_activation_pair = -1;
  int32_t pid = 0;
  uint32_t window_id = 0;
  std::optional<platform::Rect> expected_bounds;
  std::optional<int32_t> live_owner_pid;
  std::optional<bool> live_on_screen;
  std::optional<bool> live_on_screen_list;
  std::optional<platform::Rect> live_bounds;
  std::vector<std::string> missing_symbols;
};

struct EndOutcome {
  bool ok = false;
  std::string reason;
  std::optional<int32_t> native_status;
  int32_t pid = 0;
  uint32_t window_id = 0;
  std::optional<int32_t> original_frontmost_pid;
  std::optional<int32_t> live_frontmost_pid;
  std::optional<platform::Point> original_cursor;
  std::optional<platform::Point> live_cursor;
};

struct MouseDownOutcome {
  bool ok = false;
  bool down_posted = false;
  std::string reason;
};

BeginOutcome BeginRefusal(const std::optional<WindowTarget>& target, const char* reason);

Napi::Value BeginOutcomeToJs(Napi::Env env, const BeginOutcome& o);
Napi::Value EndOutcomeToJs(Napi::Env env, const EndOutcome& o);
Napi::Value MouseDownOutcomeToJs(Napi::Env env, const MouseDownOutcome& o);

}  // namespace addon
