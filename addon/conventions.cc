#include "conventions.h"

#include <cmath>

namespace addon {

Napi::Value ThrowTypeError(Napi::Env env, const char* message) {
  napi_throw_type_error(env, nullptr, message);
  return env.Null();
}

Napi::Value ThrowTypeError(Napi::Env env, const char* message, Napi::Value answer) {
  napi_throw_type_error(env, nullptr, message);
  return answer;
}

bool ReadWholeNumber(const Napi::Value& v, double lo, double hi, double* out) {
  if (!v.IsNumber()) return false;
  double d = v.As<Napi::Number>().DoubleValue();
  if (!std::isfinite(d) || std::trunc(d) != d || d < lo || d > hi) return false;
  if (out) *out = d;
  return true;
}

bool ReadStrictPid(const Napi::Value& v, int32_t* out) {
  double d;
  if (!ReadWholeNumber(v, 1, 2147483647.0, &d)) return false;
  if (out) *out = static_cast<int32_t>(d);
  return true;
}

bool ReadStrictWindowId(const Napi::Value& v, uint32_t* out) {
  double d;
  if (!ReadWholeNumber(v, 1, 4294967295.0, &d)) return false;
  if (out) *out = static_cast<uint32_t>(d);
  return true;
}

bool ReadInt32Loose(const Napi::Value& v, int32_t* out) {
  if (!v.IsNumber()) return false;
  int32_t r = 0;
  if (napi_get_value_int32(v.Env(), v, &r) != napi_ok) return false;
  if (out) *out = r;
  return true;
}

bool ReadUtf8String(const Napi::Value& v, size_t min_bytes, size_t max_bytes, std::string* out) {
  if (!v.IsString()) return false;
  size_t len = 0;
  if (napi_get_value_string_utf8(v.Env(), v, nullptr, 0, &len) != napi_ok) return false;
  if (len < min_bytes || len > max_bytes) return false;
  if (out) {
    std::string s(len, '\0');
    size_t copied = 0;
    if (napi_get_value_string_utf8(v.Env(), v, s.data(), len + 1, &copied) != napi_ok) return false;
    s.resize(copied);
    *out = std::move(s);
  }
  return true;
}

Napi::Value ResolvedPromise(Napi::Env env, Napi::Value value) {
  auto deferred = Napi::Promise::Deferred::New(env);
  deferred.Resolve(value);
  return deferred.Promise();
}

Napi::Value ResolvedNullPromise(Napi::Env env) { return ResolvedPromise(env, env.Null()); }

Napi::Value ResolvedBoolPromise(Napi::Env env, bool value) {
  return ResolvedPromise(env, Napi::Boolean::New(env, value));
}

void SetKey(Napi::Object obj, const char* key, Napi::Value value) {
  napi_set_named_property(obj.Env(), obj, key, value);
}

}  // namespace addon
