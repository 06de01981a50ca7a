// Argument checks, TypeError conventions and already-settled promises shared
// by every export.
#pragma once

#include <napi.h>

#include <cstdint>
#include <string>

namespace addon {

// Raises a TypeError with `message` and answers `answer` (null by default).
Napi::Value ThrowTypeError(Napi::Env env, const char* message);
Napi::Value ThrowTypeError(Napi::Env env, const char* message, Napi::Value answer);

// A number that is finite, integral and within [lo, hi].
bool ReadWholeNumber(const Napi::Value& v, double lo, double hi, double* out);
// A pid argument: a whole number in 1 .. 2,147,483,647.
bool ReadStrictPid(const Napi::Value& v, int32_t* out);
// A window id: a whole number in 1 .. 4,294,967,295.
bool ReadStrictWindowId(const Napi::Value& v, uint32_t* out);
// A number read the way Node-API's int32 conversion reads it (wraps modulo
// 2^32, NaN and infinities become 0). Answers false when not a number.
bool ReadInt32Loose(const Napi::Value& v, int32_t* out);
// A string of min_bytes .. max_bytes bytes of UTF-8.
bool ReadUtf8String(const Napi::Value& v, size_t min_bytes, size_t max_bytes, std::string* out);
// Undefined or null.
inline bool IsNullish(const Napi::Value& v) { return v.IsUndefined() || v.IsNull(); }

// New promises, already resolved.
Napi::Value ResolvedNullPromise(Napi::Env env);
Napi::Value ResolvedBoolPromise(Napi::Env env, bool value);
Napi::Value ResolvedPromise(Napi::Env env, Napi::Value value);

// Sets obj[key] = value; a failure leaves the pending exception and goes on.
void SetKey(Napi::Object obj, const char* key, Napi::Value value);

}  // namespace addon
