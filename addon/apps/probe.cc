// screenCaptureProbeWindows: every visible window of every application with
// the facts a screen-capture check needs (owner, layer, bounds, whether the
// window takes left mouse-down).
#include <cmath>
#include <cstdint>

#include "apps/window_event_mask.h"
#include "ax/window_list.h"
#include "conventions.h"
#include "exports.h"

namespace addon {

namespace {

constexpr double kMaxProbeExtent = 32768;

const platform::Value* Find(const platform::Dict& d, const char* key) {
  auto it = d.find(key);
  return it == d.end() ? nullptr : &it->second;
}

bool UsableExtent(double v) { return std::isfinite(v) && v > 0 && v <= kMaxProbeExtent; }

// The entry's facts, or false when it must be skipped.
struct ProbeEntry {
  int64_t pid = 0;
  int64_t layer = 0;
  int64_t number = 0;
  platform::Rect bounds;
};

bool ReadProbeEntry(const platform::Dict& d, ProbeEntry* e) {
  if (!CopyDictionaryInt64(d, platform::kWindowOwnerPID, &e->pid) || e->pid < 1 ||
      e->pid > INT32_MAX) {
    return false;
  }
  if (!CopyDictionaryInt64(d, platform::kWindowLayer, &e->layer)) return false;
  if (!CopyDictionaryInt64(d, platform::kWindowNumber, &e->number) || e->number < 1 ||
      e->number > UINT32_MAX) {
    return false;
  }
  const platform::Value* on = Find(d, platform::kWindowIsOnscreen);
  if (!on || !on->boolean() || !*on->boolean()) return false;
  const platform::Value* alpha = Find(d, platform::kWindowAlpha);
  if (alpha && alpha->number() && !(alpha->number()->value > 0)) return false;
  if (!CopyDictionaryBounds(d, platform::kWindowBounds, &e->bounds)) return false;
  return UsableExtent(e->bounds.width) && UsableExtent(e->bounds.height);
}

}  // namespace

Napi::Value ScreenCaptureProbeWindows(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  Napi::Array out = Napi::Array::New(env);
  auto list = platform::Get().windows().CopyWindowList(
      platform::WindowListOption::kOnScreenOnlyExcludingDesktop);
  if (!list) return out;
  auto& ws = platform::Get().workspace();
  uint32_t n = 0;
  for (const platform::Value& v : *list) {
    const platform::Dict* d = v.dict();
    ProbeEntry e;
    if (!d || !ReadProbeEntry(*d, &e)) continue;
    auto app = ws.RunningApplicationWithPid(static_cast<pid_t>(e.pid));

    Napi::Object obj = Napi::Object::New(env);
    SetKey(obj, "windowId", Napi::Number::New(env, static_cast<double>(e.number)));
    SetKey(obj, "ownerPid", Napi::Number::New(env, static_cast<double>(e.pid)));
    SetKey(obj, "layer", Napi::Number::New(env, static_cast<double>(e.layer)));
    SetKey(obj, "ownerBundleId", app && app->bundle_id
                                     ? Napi::Value(Napi::String::New(env, *app->bundle_id))
                                     : env.Null());
    std::string owner_name;
    if (app && app->name) {
      SetKey(obj, "ownerName", Napi::String::New(env, *app->name));
    } else if (CopyDictionaryString(*d, platform::kWindowOwnerName, &owner_name) &&
               !owner_name.empty()) {
      SetKey(obj, "ownerName", Napi::String::New(env, owner_name));
    } else {
      SetKey(obj, "ownerName", env.Null());
    }
    SetKey(obj, "ownerActive", Napi::Boolean::New(env, app && app->active));
    std::string title;
    SetKey(obj, "title", CopyDictionaryString(*d, platform::kWindowName, &title) && !title.empty()
                             ? Napi::Value(Napi::String::New(env, title))
                             : env.Null());
    Napi::Object b = Napi::Object::New(env);
    SetKey(b, "x", Napi::Number::New(env, e.bounds.x));
    SetKey(b, "y", Napi::Number::New(env, e.bounds.y));
    SetKey(b, "width", Napi::Number::New(env, e.bounds.width));
    SetKey(b, "height", Napi::Number::New(env, e.bounds.height));
    SetKey(obj, "bounds", b);
    SetKey(obj, "onScreen", Napi::Boolean::New(env, true));
    bool accepts = false;
    if (OzaCopyWindowAcceptsLeftMouseDown(static_cast<uint32_t>(e.number), &accepts)) {
      SetKey(obj, "acceptsLeftMouseDown", Napi::Boolean::New(env, accepts));
    }
    out.Set(n++, obj);
  }
  return out;
}

}  // namespace addon
