// Conversion of platform rectangles to the integer bounds that cross the
// boundary: x and y clamped to the signed 32-bit range and truncated; width
// and height clamped to 0 .. 2,147,483,647 and truncated; non-finite values
// become 0.
#pragma once

#include <napi.h>

#include <array>
#include <cstdint>

#include "platform/value.h"

namespace addon {

using IntBounds = std::array<int32_t, 4>;

int32_t ClampCoordinate(double v);
int32_t ClampExtent(double v);
IntBounds ToIntBounds(const platform::Rect& r);
// [x, y, width, height] as a JavaScript array of integers.
Napi::Array BoundsArray(Napi::Env env, const IntBounds& b);
inline Napi::Array BoundsArray(Napi::Env env, const platform::Rect& r) {
  return BoundsArray(env, ToIntBounds(r));
}

}  // namespace addon
