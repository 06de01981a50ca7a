// inspectPngContent: content statistics of one PNG handed over as bytes.
#include "conventions.h"
#include "exports.h"
#include "image/png_stats.h"

namespace addon {

namespace {
constexpr size_t kMinPngBytes = 33;
}

Napi::Value InspectPngContent(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (info.Length() < 1 || !info[0].IsTypedArray()) return env.Null();
  Napi::TypedArray array = info[0].As<Napi::TypedArray>();
  napi_typedarray_type type = array.TypedArrayType();
  if (type != napi_uint8_array && type != napi_uint8_clamped_array) return env.Null();
  size_t len = array.ByteLength();
  if (len < kMinPngBytes || len > kPngStatsMaxBytes) return env.Null();
  const uint8_t* bytes = static_cast<const uint8_t*>(array.ArrayBuffer().Data()) +
                         array.ByteOffset();
  if (!bytes) return env.Null();

  std::optional<PngContentStats> stats = InspectPngBytes(bytes, len);
  if (!stats) return env.Null();
  Napi::Object obj = Napi::Object::New(env);
  auto set = [&](const char* key, uint32_t v) { SetKey(obj, key, Napi::Number::New(env, v)); };
  set("width", stats->width);
  set("height", stats->height);
  set("sampleWidth", stats->sample_width);
  set("sampleHeight", stats->sample_height);
  set("sampledPixelCount", stats->sampled_pixel_count);
  set("visiblePixelCount", stats->visible_pixel_count);
  set("distinctColorBucketCount", stats->distinct_color_bucket_count);
  set("dominantColorPixelCount", stats->dominant_color_pixel_count);
  set("maxChannelRange", stats->max_channel_range);
  set("minVisibleChannel", stats->min_visible_channel);
  set("maxVisibleChannel", stats->max_visible_channel);
  return obj;
}

}  // namespace addon
