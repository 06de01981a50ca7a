// readTccDbGranted(service, client): a boolean; anything but two strings
// answers false.
#include <cstdint>
#include <string>

#include "apps/tcc_db.h"
#include "conventions.h"
#include "exports.h"

namespace addon {

Napi::Value ReadTccDbGranted(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  std::string service;
  std::string client;
  if (info.Length() < 2 || !ReadUtf8String(info[0], 0, SIZE_MAX, &service) ||
      !ReadUtf8String(info[1], 0, SIZE_MAX, &client)) {
    return Napi::Boolean::New(env, false);
  }
  return Napi::Boolean::New(env, ReadTccGranted(service, client));
}

}  // namespace addon
