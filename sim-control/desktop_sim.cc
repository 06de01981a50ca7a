// desktop-sim: the Node module that scripts the simulated desktop. It shares
// the simulated desktop with the add-on (both link the same platform library)
// and forwards named commands with JSON arguments to it; sim.js builds the
// friendly API on top.
#include <napi.h>

#include <cstring>

#include "platform/platform.h"
#include "sim/control.h"
#include "sim/scene.h"
#include "sim/services.h"
#include "sim/surfaces.h"

namespace {

// call(name, argsJson) -> JSON text {"value": ...} or {"error": "..."}
Napi::Value Call(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (info.Length() < 1 || !info[0].IsString()) {
    Napi::TypeError::New(env, "call(name, argsJson) expects a command name").ThrowAsJavaScriptException();
    return env.Null();
  }
  std::string name = info[0].As<Napi::String>().Utf8Value();
  std::string args = info.Length() > 1 && info[1].IsString() ? info[1].As<Napi::String>().Utf8Value() : "[]";
  return Napi::String::New(env, sim::RunCommandJson(name, args));
}

// {width, height, rgba: Buffer} of an image, or null.
Napi::Value ImageObject(Napi::Env env, const platform::Image& img) {
  if (!img) return env.Null();
  Napi::Object out = Napi::Object::New(env);
  out.Set("width", Napi::Number::New(env, img->width));
  out.Set("height", Napi::Number::New(env, img->height));
  out.Set("rgba", Napi::Buffer<uint8_t>::Copy(env, img->rgba.data(), img->rgba.size()));
  return out;
}

// windowImage(number) -> {width, height, rgba: Buffer} (premultiplied RGBA) or null
Napi::Value WindowImage(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (info.Length() < 1 || !info[0].IsNumber()) return env.Null();
  uint32_t number = info[0].As<Napi::Number>().Uint32Value();
  platform::Image img;
  {
    sim::World& w = sim::W();
    std::lock_guard<std::mutex> l(w.mu);
    auto cw = sim::FindWindow(w, number);
    if (cw && sim::WindowVisible(w, *cw)) img = sim::RenderWindow(w, *cw);
  }
  return ImageObject(env, img);
}

// surfaceImage(number) -> the add-on's own window (panel or overlay) as drawn
// now, {width, height, rgba: Buffer} at its backing scale, or null
Napi::Value SurfaceImage(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (info.Length() < 1 || !info[0].IsNumber()) return env.Null();
  platform::Image img = sim::RenderSurfaceByNumber(info[0].As<Napi::Number>().Uint32Value());
  return ImageObject(env, img);
}

// backendName() -> the active backend's name ("sim", "x11"); throws the
// selection error when there is no desktop to drive.
Napi::Value BackendName(const Napi::CallbackInfo& info) {
  std::string error;
  platform::Platform* p = platform::TryGet(&error);
  if (!p) {
    Napi::Error::New(info.Env(), error).ThrowAsJavaScriptException();
    return info.Env().Undefined();
  }
  return Napi::String::New(info.Env(), p->Name());
}

Napi::Object Init(Napi::Env env, Napi::Object exports) {
  exports.Set("call", Napi::Function::New(env, Call, "call"));
  exports.Set("windowImage", Napi::Function::New(env, WindowImage, "windowImage"));
  exports.Set("surfaceImage", Napi::Function::New(env, SurfaceImage, "surfaceImage"));
  exports.Set("backendName", Napi::Function::New(env, BackendName, "backendName"));
  return exports;
}

}  // namespace

NODE_API_MODULE(desktop_sim, Init)
