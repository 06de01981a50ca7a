#include "ax/actions_outcome.h"

#include "ax/actions_errors.h"
#include "conventions.h"

namespace addon {

Napi::Object AxOutcome(Napi::Env env, int32_t code) {
  Napi::Object o = Napi::Object::New(env);
  const char* name = AxErrorName(code);
  SetKey(o, "ok", Napi::Boolean::New(env, name == nullptr));
  SetKey(o, "axError", name ? Napi::String::New(env, name) : env.Null());
  return o;
}

Napi::Object AxOutcomeFromError(Napi::Env env, const char* name) {
  Napi::Object o = Napi::Object::New(env);
  SetKey(o, "ok", Napi::Boolean::New(env, false));
  SetKey(o, "axError", Napi::String::New(env, name));
  return o;
}

}  // namespace addon
