#include "image/image_napi.h"

#include <dlfcn.h>

#include <cstdlib>
#include <mutex>
#include <new>

#include "conventions.h"

namespace addon {

namespace {

// Texts shorter than this are simply copied: handing a buffer over costs a
// finalizer and bookkeeping that only pays off for large images.
constexpr size_t kExternalTextMinBytes = 64 * 1024;

// The host's external one-byte string entry, looked up once in the running
// process: newer hosts export it, older ones do not (then texts are copied).
using CreateExternalLatin1 = napi_status (*)(napi_env env, char* str, size_t length,
                                             void (*finalize)(napi_env, void*, void*),
                                             void* finalize_hint, napi_value* result,
                                             bool* copied);

CreateExternalLatin1 ExternalLatin1Entry() {
  static std::once_flag once;
  static CreateExternalLatin1 entry = nullptr;
  std::call_once(once, [] {
    entry = reinterpret_cast<CreateExternalLatin1>(
        dlsym(RTLD_DEFAULT, "node_api_create_external_string_latin1"));
  });
  return entry;
}

void FreeText(napi_env, void* data, void*) { std::free(data); }

Napi::Value ToNapi(Napi::Env env, napi_value value, napi_status status) {
  return status == napi_ok ? Napi::Value(env, value) : Napi::Value();
}

}  // namespace

Napi::Value Base64ToNapi(Napi::Env env, std::string_view text) {
  // Base64 is ASCII: a one-byte string is exact and is built by a plain copy,
  // without the UTF-8 decoding pass (which costs more than encoding itself).
  napi_value value = nullptr;
  return ToNapi(env, value, napi_create_string_latin1(env, text.data(), text.size(), &value));
}

Napi::Value Base64ToNapi(Napi::Env env, Base64Text&& text) {
  CreateExternalLatin1 create = ExternalLatin1Entry();
  if (!create || text.size() < kExternalTextMinBytes) return Base64ToNapi(env, text.view());
  const size_t size = text.size();
  char* owned = text.Release();
  napi_value value = nullptr;
  bool copied = false;
  // The engine keeps the characters until its finalizer frees them; when it
  // copies instead, it has already run the finalizer.
  napi_status status = create(env, owned, size, FreeText, nullptr, &value, &copied);
  if (status != napi_ok && !copied) {
    // Not taken over: fall back to a copy, then free the text.
    Napi::Value fallback = env.IsExceptionPending()
                               ? Napi::Value()
                               : Base64ToNapi(env, std::string_view(owned, size));
    std::free(owned);
    return fallback;
  }
  return ToNapi(env, value, status);
}

namespace {
// {format, data} around an already converted text; null when it failed.
Napi::Value ImageObject(Napi::Env env, const std::string& format, Napi::Value data) {
  if (data.IsEmpty()) return env.Null();  // the failure stays pending
  Napi::Object obj = Napi::Object::New(env);
  SetKey(obj, "format", Napi::String::New(env, format));
  SetKey(obj, "data", data);
  return obj;
}
}  // namespace

Napi::Value EncodedImageToNapi(Napi::Env env, const EncodedImageData& record) {
  if (!record.ok) return env.Null();
  return ImageObject(env, record.format, Base64ToNapi(env, record.data.view()));
}

Napi::Value EncodedImageToNapi(Napi::Env env, EncodedImageData&& record) {
  if (!record.ok) return env.Null();
  return ImageObject(env, record.format, Base64ToNapi(env, std::move(record.data)));
}

Napi::Value EncodeImage(Napi::Env env, const platform::Image& image, const std::string& format,
                        double quality) {
  return EncodedImageToNapi(env, EncodeImageData(image, format, quality));
}

}  // namespace addon
