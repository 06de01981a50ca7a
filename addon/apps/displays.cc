// displays and cursorPoint: the active displays with their scale, and the
// pointer location.
#include "conventions.h"
#include "exports.h"
#include "platform/platform.h"

namespace addon {

namespace {
constexpr uint32_t kMaxDisplays = 16;

// Pixel width over point width; 1 when either makes no sense.
double ScaleFactor(const platform::DisplayInfo& d) {
  if (!(d.bounds.width > 0)) return 1.0;
  double q = static_cast<double>(d.pixel_width) / d.bounds.width;
  return q > 0 ? q : 1.0;
}
}  // namespace

Napi::Value Displays(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  Napi::Array out = Napi::Array::New(env);
  auto& ws = platform::Get().windows();
  std::vector<platform::DisplayInfo> list;
  if (!ws.GetActiveDisplays(kMaxDisplays, &list)) return out;
  uint32_t main_id = ws.MainDisplayId();
  uint32_t i = 0;
  for (const auto& d : list) {
    Napi::Object obj = Napi::Object::New(env);
    SetKey(obj, "id", Napi::Number::New(env, d.id));
    Napi::Array b = Napi::Array::New(env, 4);
    b.Set(0u, Napi::Number::New(env, d.bounds.x));
    b.Set(1u, Napi::Number::New(env, d.bounds.y));
    b.Set(2u, Napi::Number::New(env, d.bounds.width));
    b.Set(3u, Napi::Number::New(env, d.bounds.height));
    SetKey(obj, "bounds", b);
    SetKey(obj, "main", Napi::Boolean::New(env, d.id == main_id));
    SetKey(obj, "scale_factor", Napi::Number::New(env, ScaleFactor(d)));
    out.Set(i++, obj);
  }
  return out;
}

Napi::Value CursorPoint(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  platform::Point p;
  if (!platform::Get().windows().CurrentPointerLocation(&p)) p = platform::Point{};
  Napi::Object obj = Napi::Object::New(env);
  SetKey(obj, "x", Napi::Number::New(env, p.x));
  SetKey(obj, "y", Napi::Number::New(env, p.y));
  return obj;
}

}  // namespace addon
