// The outcome object of element actions: {ok, axError}.
#pragma once

#include <napi.h>

#include <cstdint>

namespace addon {

// {"ok": code == 0, "axError": null or the error's name}.
Napi::Object AxOutcome(Napi::Env env, int32_t code);
// {"ok": false, "axError": name} for a failure found before any platform call
// ("invalid_element", "illegal_argument", "failure").
Napi::Object AxOutcomeFromError(Napi::Env env, const char* name);

}  // namespace addon
