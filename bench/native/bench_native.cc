// Bench-only Node module: the add-on's image encoder and Base64 reachable
// from JavaScript so bench/image.bench.js can time them against other
// libraries in the same process. Never loaded by the add-on or its tests.
#include <napi.h>

#include <cstring>
#include <memory>

#include "image/base64.h"
#include "image/encode.h"
#include "image/image_napi.h"

namespace {

using addon::Base64Encode;
using addon::EncodedImageData;
using addon::EncodeImageData;
using BitmapRef = std::shared_ptr<const platform::Bitmap>;

// makeImage(rgba: Uint8Array, width, height) -> an opaque image handle (the
// premultiplied RGBA pixels copied once, outside any timing).
Napi::Value MakeImage(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (info.Length() < 3 || !info[0].IsTypedArray() || !info[1].IsNumber() || !info[2].IsNumber()) {
    return env.Null();
  }
  auto bytes = info[0].As<Napi::Uint8Array>();
  int w = info[1].As<Napi::Number>().Int32Value(), h = info[2].As<Napi::Number>().Int32Value();
  if (w <= 0 || h <= 0 || bytes.ByteLength() != static_cast<size_t>(w) * h * 4) return env.Null();
  auto bitmap = std::make_shared<platform::Bitmap>();
  bitmap->width = w;
  bitmap->height = h;
  bitmap->rgba.assign(bytes.Data(), bytes.Data() + bytes.ByteLength());
  return Napi::External<BitmapRef>::New(env, new BitmapRef(std::move(bitmap)),
                                        [](Napi::Env, BitmapRef* p) { delete p; });
}

// encode(image, format, quality) -> the Base64 text as the add-on hands it
// over (Base64ToNapi), or null.
Napi::Value Encode(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (info.Length() < 3 || !info[0].IsExternal() || !info[1].IsString()) return env.Null();
  const BitmapRef& image = *info[0].As<Napi::External<BitmapRef>>().Data();
  EncodedImageData r = EncodeImageData(image, info[1].As<Napi::String>().Utf8Value(),
                                       info[2].As<Napi::Number>().DoubleValue());
  if (!r.ok) return env.Null();
  return addon::Base64ToNapi(env, std::move(r.data));
}

// base64(bytes, toString) -> the Base64 text as a JS string, or only its
// length (the encoder alone) when toString is false.
Napi::Value Base64(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (info.Length() < 1 || !info[0].IsTypedArray()) return env.Null();
  auto bytes = info[0].As<Napi::Uint8Array>();
  addon::Base64Text text = addon::Base64EncodeText(bytes.Data(), bytes.ByteLength());
  if (info.Length() > 1 && info[1].IsBoolean() && !info[1].As<Napi::Boolean>().Value()) {
    return Napi::Number::New(env, static_cast<double>(text.size()));
  }
  return addon::Base64ToNapi(env, std::move(text));
}

Napi::Object Init(Napi::Env env, Napi::Object exports) {
  exports.Set("makeImage", Napi::Function::New(env, MakeImage));
  exports.Set("encode", Napi::Function::New(env, Encode));
  exports.Set("base64", Napi::Function::New(env, Base64));
  return exports;
}

}  // namespace

NODE_API_MODULE(bench_native, Init)
