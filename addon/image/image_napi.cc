#include "image/image_napi.h"

#include "conventions.h"

namespace addon {

Napi::Value EncodedImageToNapi(Napi::Env env, const EncodedImageData& record) {
  if (!record.ok) return env.Null();
  Napi::Object obj = Napi::Object::New(env);
  SetKey(obj, "format", Napi::String::New(env, record.format));
  SetKey(obj, "data", Napi::String::New(env, record.data));
  return obj;
}

Napi::Value EncodeImage(Napi::Env env, const platform::Image& image, const std::string& format,
                        double quality) {
  return EncodedImageToNapi(env, EncodeImageData(image, format, quality));
}

}  // namespace addon
