#include "bounds.h"

#include <cmath>

namespace addon {

int32_t ClampCoordinate(double v) {
  if (!std::isfinite(v)) return 0;
  if (v <= -2147483648.0) return INT32_MIN;
  if (v >= 2147483647.0) return INT32_MAX;
  return static_cast<int32_t>(v);
}

int32_t ClampExtent(double v) {
  if (!std::isfinite(v) || v <= 0) return 0;
  if (v >= 2147483647.0) return INT32_MAX;
  return static_cast<int32_t>(v);
}

IntBounds ToIntBounds(const platform::Rect& r) {
  return {ClampCoordinate(r.x), ClampCoordinate(r.y), ClampExtent(r.width), ClampExtent(r.height)};
}

Napi::Array BoundsArray(Napi::Env env, const IntBounds& b) {
  Napi::Array a = Napi::Array::New(env, 4);
  for (uint32_t i = 0; i < 4; ++i) a.Set(i, Napi::Number::New(env, b[i]));
  return a;
}

}  // namespace addon
