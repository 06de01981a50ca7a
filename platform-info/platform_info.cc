// platform_info: the Node module behind require('automation-addon/platform').
// It reads the chosen backend's name, desktop facts and capability table from
// the platform library the add-on shares, so a host can learn what works on
// this desktop before calling the add-on, and the add-on's own export table
// stays exactly its documented names.
#include <napi.h>

#include <string>

#include "platform/platform.h"

namespace {

// describe() -> {backend, facts: {name: value}, capabilities: {facility:
// {status, reason?}}}; throws the selection error when there is no desktop.
Napi::Value Describe(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  std::string error;
  platform::Platform* p = platform::TryGet(&error);
  if (!p) {
    Napi::Error::New(env, error).ThrowAsJavaScriptException();
    return env.Undefined();
  }
  Napi::Object out = Napi::Object::New(env);
  out.Set("backend", Napi::String::New(env, p->Name()));
  Napi::Object facts = Napi::Object::New(env);
  for (const auto& [name, value] : p->DesktopFacts()) facts.Set(name, Napi::String::New(env, value));
  out.Set("facts", facts);
  Napi::Object caps = Napi::Object::New(env);
  for (int i = 0; i < static_cast<int>(platform::Facility::kCount); ++i) {
    auto facility = static_cast<platform::Facility>(i);
    platform::Capability c = p->Capable(facility);
    Napi::Object entry = Napi::Object::New(env);
    entry.Set("status", Napi::String::New(env, platform::SupportName(c.support)));
    if (!c.reason.empty()) entry.Set("reason", Napi::String::New(env, c.reason));
    caps.Set(platform::FacilityName(facility), entry);
  }
  out.Set("capabilities", caps);
  return out;
}

Napi::Object Init(Napi::Env env, Napi::Object exports) {
  exports.Set("describe", Napi::Function::New(env, Describe, "describe"));
  return exports;
}

}  // namespace

NODE_API_MODULE(platform_info, Init)
