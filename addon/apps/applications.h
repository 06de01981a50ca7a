// Application records shared by the application exports and hit-testing.
#pragma once

#include <napi.h>

#include <cstdint>

namespace addon {

// The record of a pid as it is now ("pid", "bundle_id", "name", "active");
// bundle id and name null and active false when the application has vanished.
Napi::Object FillAppInfo(Napi::Env env, int32_t pid);

}  // namespace addon
