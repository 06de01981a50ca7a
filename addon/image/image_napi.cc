#include "image/image_napi.h"

#include "conventions.h"

namespace addon {

Napi::Value Base64ToNapi(Napi::Env env, const std::string& text) {
  // Base64 is ASCII: a one-byte string is exact and is built by a plain copy,
  // without the UTF-8 decoding pass (which costs more than encoding itself).
  napi_value value;
  if (napi_create_string_latin1(env, text.data(), text.size(), &value) != napi_ok) {
    return Napi::Value();
  }
  return Napi::Value(env, value);
}

Napi::Value EncodedImageToNapi(Napi::Env env, const EncodedImageData& record) {
  if (!record.ok) return env.Null();
  Napi::Value data = Base64ToNapi(env, record.data);
  if (data.IsEmpty()) return env.Null();  // the failure stays pending
  Napi::Object obj = Napi::Object::New(env);
  SetKey(obj, "format", Napi::String::New(env, record.format));
  SetKey(obj, "data", data);
  return obj;
}

Napi::Value EncodeImage(Napi::Env env, const platform::Image& image, const std::string& format,
                        double quality) {
  return EncodedImageToNapi(env, EncodeImageData(image, format, quality));
}

}  // namespace addon
