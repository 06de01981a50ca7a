// The ghost cursor's JavaScript functions. Argument checks are silent: a
// missing or mistyped argument answers false. A function that takes a session
// stores it (or the empty string) as the request session first. Functions
// that draw answer false and draw nothing while the overlay is disabled, like
// the C functions; setters, hide, state, rendering and self-tests always work.
#include <cmath>
#include <cstdio>
#include <fstream>

#include "conventions.h"
#include "exports.h"
#include "ghost/ghost_c_api.h"
#include "ghost/overlay.h"
#include "image/encode.h"
#include "platform/platform.h"
#include "pump.h"

namespace addon {

namespace {

using ghost::GhostGroup;

bool Finite(const Napi::Value& v, double* out) {
  if (!v.IsNumber()) return false;
  double d = v.As<Napi::Number>().DoubleValue();
  if (!std::isfinite(d)) return false;
  *out = d;
  return true;
}

// An optional session at `index`: absent or null gives "", a string itself;
// any other type fails.
bool OptionalSession(const Napi::CallbackInfo& info, size_t index, std::string* out) {
  out->clear();
  if (info.Length() <= index || IsNullish(info[index])) return true;
  if (!info[index].IsString()) return false;
  *out = info[index].As<Napi::String>().Utf8Value();
  return true;
}

bool StoreSession(const Napi::CallbackInfo& info, size_t index, std::string* session) {
  if (!OptionalSession(info, index, session)) return false;
  ghost::S().requestSession = *session;
  return true;
}

Napi::Value Bool(const Napi::CallbackInfo& info, bool v) { return Napi::Boolean::New(info.Env(), v); }

bool ReadBool(const Napi::CallbackInfo& info, size_t index, bool* out) {
  if (info.Length() <= index || !info[index].IsBoolean()) return false;
  *out = info[index].As<Napi::Boolean>().Value();
  return true;
}

Napi::Value DirectGlide(const Napi::CallbackInfo& info, bool ripple) {
  double x, y;
  std::string session;
  if (info.Length() < 2 || !Finite(info[0], &x) || !Finite(info[1], &y)) return Bool(info, false);
  if (!StoreSession(info, 2, &session)) return Bool(info, false);
  if (!ghost::GhostCursorOverlayEnabled()) return Bool(info, false);
  GhostGroup* g = ghost::GroupForRequest();
  if (!g) return Bool(info, false);
  ghost::BeginDirectFeedback(*g, x, y, ripple);
  return Bool(info, true);
}

std::string Hex(ghost_motion::Rgba8 c) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "#%02X%02X%02X", c.r, c.g, c.b);
  return buf;
}

Napi::Object FrameObject(Napi::Env env, const ghost_geometry::DisplayFrame& f) {
  Napi::Object o = Napi::Object::New(env);
  SetKey(o, "x", Napi::Number::New(env, f.x));
  SetKey(o, "y", Napi::Number::New(env, f.y));
  SetKey(o, "width", Napi::Number::New(env, f.width));
  SetKey(o, "height", Napi::Number::New(env, f.height));
  return o;
}

void AlphaKeys(Napi::Env env, Napi::Object o, const GhostGroup* g) {
  SetKey(o, "idleAlpha", Napi::Number::New(env, g ? g->idleAlpha : 0));
  SetKey(o, "occlusionAlpha", Napi::Number::New(env, g ? g->occlusionAlpha : 0));
  SetKey(o, "feedbackAlpha", Napi::Number::New(env, g ? ghost::GroupAlpha(*g) : 0));
  SetKey(o, "occlusionUncertainMisses", Napi::Number::New(env, g ? g->occlusionUncertainMisses : 0));
  SetKey(o, "pendingRipple", Napi::Boolean::New(env, g && g->pendingRipple));
}

Napi::Object GroupObject(Napi::Env env, const GhostGroup& g) {
  Napi::Object o = Napi::Object::New(env);
  SetKey(o, "key", Napi::String::New(env, g.key));
  SetKey(o, "multi", Napi::Boolean::New(env, g.ownSession));
  SetKey(o, "shown", Napi::Boolean::New(env, g.shown));
  AlphaKeys(env, o, &g);
  SetKey(o, "placed", Napi::Boolean::New(env, g.targetPlaced));
  SetKey(o, "animating", Napi::Boolean::New(env, g.motion.gliding || g.motion.settling));
  SetKey(o, "screenIdx", Napi::Number::New(env, g.screenIndex));
  SetKey(o, "badgeText", Napi::String::New(env, g.badgeText));
  ghost_motion::Rgba8 fill = g.ownSession ? ghost_motion::SessionFillForId(g.key.c_str())
                                          : ghost_motion::kDefaultSessionFill;
  SetKey(o, "fillHex", Napi::String::New(env, Hex(fill)));
  SetKey(o, "x", Napi::Number::New(env, g.motion.position.x));
  SetKey(o, "y", Napi::Number::New(env, g.motion.position.y));
  return o;
}

// Writes bytes to a temporary file next to `path`, then renames it over path.
bool WriteAtomically(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::string tmp = path + ".tmp-" + std::to_string(platform::Get().workspace().SelfPid());
  {
    std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
    if (!f) return false;
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    f.close();
    if (!f) {
      std::remove(tmp.c_str());
      return false;
    }
  }
  if (std::rename(tmp.c_str(), path.c_str()) != 0) {
    std::remove(tmp.c_str());
    return false;
  }
  return true;
}

}  // namespace

Napi::Value GhostInit(const Napi::CallbackInfo& info) {
  ghost::EnsureGhostInit();
  return Bool(info, !ghost::S().windows.empty());
}

Napi::Value GhostShow(const Napi::CallbackInfo& info) { return DirectGlide(info, false); }
Napi::Value GhostMove(const Napi::CallbackInfo& info) { return DirectGlide(info, false); }
Napi::Value GhostClickRipple(const Napi::CallbackInfo& info) { return DirectGlide(info, true); }

Napi::Value GhostMoveTarget(const Napi::CallbackInfo& info) {
  double x, y, pid, wid;
  if (info.Length() < 4 || !Finite(info[0], &x) || !Finite(info[1], &y)) return Bool(info, false);
  if (!ReadWholeNumber(info[2], 1, 2147483647.0, &pid) ||
      !ReadWholeNumber(info[3], 0, 4294967295.0, &wid))
    return Bool(info, false);
  bool exact = false;
  if (info.Length() > 4 && !IsNullish(info[4]) && !ReadBool(info, 4, &exact))
    return Bool(info, false);
  std::string session;
  if (!StoreSession(info, 6, &session)) return Bool(info, false);
  if (!ghost::GhostCursorOverlayEnabled()) return Bool(info, false);
  GhostGroup* g = ghost::GroupForRequest();
  if (!g) return Bool(info, false);
  ghost::BeginTrackedFeedback(
      *g, x, y, ghost::MakeTarget(static_cast<int32_t>(pid), static_cast<uint32_t>(wid), exact),
      false);
  return Bool(info, true);
}

Napi::Value GhostHide(const Napi::CallbackInfo& info) {
  std::string session;
  if (!StoreSession(info, 0, &session)) return Bool(info, false);
  ghost_cursor_hide();
  return Bool(info, true);
}

Napi::Value GhostState(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  const ghost::OverlayState& s = ghost::S();
  auto& surf = platform::Get().surfaces();
  const GhostGroup* req = ghost::FindGroup(ghost::ResolveKey());
  Napi::Object o = Napi::Object::New(env);
  SetKey(o, "ready", Napi::Boolean::New(env, !s.windows.empty()));
  SetKey(o, "enabled", Napi::Boolean::New(env, ghost::GhostCursorOverlayEnabled()));
  SetKey(o, "shown", Napi::Boolean::New(env, req && req->shown));
  SetKey(o, "tracking", Napi::Boolean::New(env, req && req->tracking));
  SetKey(o, "ripples", Napi::Number::New(env, s.pendingRipples));
  platform::SurfaceWindowSpec spec;
  bool first = !s.windows.empty() && surf.GetWindowSpec(s.windows[0].window, &spec);
  SetKey(o, "ignoresMouseEvents", Napi::Boolean::New(env, first && spec.ignores_mouse));
  SetKey(o, "multiCursorEnabled", Napi::Boolean::New(env, s.multiSession));
  SetKey(o, "displayGeneration", Napi::Number::New(env, static_cast<double>(s.displayGeneration)));
  SetKey(o, "sessionCount", Napi::Number::New(env, static_cast<double>(s.groups.size())));
  AlphaKeys(env, o, req);
  SetKey(o, "keyPulseActive", Napi::Boolean::New(env, req && ghost::HasKeyPulse(*req)));
  const char* cue = "none";
  if (req && req->cue == 1) cue = "text";
  if (req && req->cue == 2) cue = "key";
  SetKey(o, "cue", Napi::String::New(env, cue));
  SetKey(o, "controllerActive", Napi::Boolean::New(env, s.controllerActive));
  SetKey(o, "windowOrderedIn",
         Napi::Boolean::New(env, !s.windows.empty() && surf.IsOrderedIn(s.windows[0].window)));
  Napi::Array frames = Napi::Array::New(env, s.windows.size());
  for (size_t i = 0; i < s.windows.size(); ++i)
    frames.Set(static_cast<uint32_t>(i), FrameObject(env, s.windows[i].frame));
  SetKey(o, "windowFrames", frames);
  SetKey(o, "windowFrame", s.windows.empty() ? env.Null() : FrameObject(env, s.windows[0].frame));
  Napi::Array groups = Napi::Array::New(env, s.groups.size());
  for (size_t i = 0; i < s.groups.size(); ++i)
    groups.Set(static_cast<uint32_t>(i), GroupObject(env, *s.groups[i]));
  SetKey(o, "groups", groups);
  return o;
}

Napi::Value GhostRenderPng(const Napi::CallbackInfo& info) {
  if (info.Length() < 3 || !info[0].IsString()) return Bool(info, false);
  double w, h;
  if (!ReadWholeNumber(info[1], 1, 4096, &w) || !ReadWholeNumber(info[2], 1, 4096, &h))
    return Bool(info, false);
  std::string path = info[0].As<Napi::String>().Utf8Value();
  if (path.empty()) return Bool(info, false);
  GhostGroup* g = ghost::GroupForRequest();
  const auto& windows = ghost::S().windows;
  if (!g || g->screenIndex < 0 || static_cast<size_t>(g->screenIndex) >= windows.size())
    return Bool(info, false);
  const ghost::GhostScreenWindow& win = windows[static_cast<size_t>(g->screenIndex)];
  // Pixels at the display's backing scale, the cursor tip at the centre.
  double scale = win.frame.scale > 0 ? win.frame.scale : 1.0;
  platform::Point c = ghost::ToWindowContent(g->screenIndex, g->motion.position.x,
                                             g->motion.position.y);
  platform::Rect region{c.x - w / scale / 2, c.y - h / scale / 2, w / scale, h / scale};
  platform::Image img = platform::Get().surfaces().RenderWindow(win.window, region,
                                                                static_cast<int>(w),
                                                                static_cast<int>(h));
  std::vector<uint8_t> png;
  if (!img || !EncodePngBytes(img, &png)) return Bool(info, false);
  return Bool(info, WriteAtomically(path, png));
}

Napi::Value GhostSetEnabled(const Napi::CallbackInfo& info) {
  bool v;
  if (!ReadBool(info, 0, &v)) return Bool(info, false);
  ghost_cursor_set_enabled(v ? 1 : 0);
  return Bool(info, true);
}

Napi::Value GhostSetCapture(const Napi::CallbackInfo& info) {
  bool v;
  if (!ReadBool(info, 0, &v)) return Bool(info, false);
  ghost_cursor_set_capture(v ? 1 : 0);
  return Bool(info, true);
}

Napi::Value GhostSetControllerStatus(const Napi::CallbackInfo& info) {
  std::string text;
  if (info.Length() > 0 && !IsNullish(info[0])) {
    if (!info[0].IsString()) return Bool(info, false);
    text = info[0].As<Napi::String>().Utf8Value();
  }
  ghost::OverlayState& s = ghost::S();
  s.controllerActive = !text.empty();
  if (s.controllerActive) {
    ghost::EnsureGhostInit();
    ghost::StartPumpTimer();
  } else {
    if (!ghost::AnyGroupShown()) ghost::OrderAllOut();
    ghost::StopPumpTimerIfIdle();
  }
  return Bool(info, true);
}

Napi::Value GhostBeginAction(const Napi::CallbackInfo& info) {
  double kind;
  if (info.Length() < 1 || !Finite(info[0], &kind)) return Bool(info, false);
  std::string session;
  if (!StoreSession(info, 1, &session)) return Bool(info, false);
  std::string title;
  if (info.Length() > 2 && !IsNullish(info[2])) {
    if (!info[2].IsString()) return Bool(info, false);
    title = info[2].As<Napi::String>().Utf8Value();
  }
  if (!ghost::GhostCursorOverlayEnabled()) return Bool(info, false);
  // Kind 1 is typing; any other number a key press (compared as a double:
  // no conversion of an arbitrary number to an integer).
  if (GhostGroup* g = ghost::GroupForAction(session))
    ghost::BeginAction(*g, kind == 1 ? 1 : 2, title.c_str());
  return Bool(info, true);
}

Napi::Value GhostEndAction(const Napi::CallbackInfo& info) {
  std::string session;
  if (!StoreSession(info, 0, &session)) return Bool(info, false);
  if (!ghost::GhostCursorOverlayEnabled()) return Bool(info, false);
  if (GhostGroup* g = ghost::GroupForRequest()) ghost::EndAction(*g);
  return Bool(info, true);
}

Napi::Value GhostShowFocusRect(const Napi::CallbackInfo& info) {
  double x, y, w, h;
  if (info.Length() < 4 || !info[0].IsNumber() || !info[1].IsNumber() || !info[2].IsNumber() ||
      !info[3].IsNumber())
    return Bool(info, false);
  x = info[0].As<Napi::Number>().DoubleValue();
  y = info[1].As<Napi::Number>().DoubleValue();
  w = info[2].As<Napi::Number>().DoubleValue();
  h = info[3].As<Napi::Number>().DoubleValue();
  std::string session;
  if (!StoreSession(info, 4, &session)) return Bool(info, false);
  if (!ghost::GhostCursorOverlayEnabled()) return Bool(info, false);
  ghost::EnsureGhostInit();
  ghost::ShowFocusRect(ghost::GroupForRequest(), x, y, w, h);
  return Bool(info, true);
}

Napi::Value GhostBeginActionWithTitle(const Napi::CallbackInfo& info) {
  if (info.Length() < 1 || !info[0].IsString()) return Bool(info, false);
  std::string title = info[0].As<Napi::String>().Utf8Value();
  std::string session;
  if (!StoreSession(info, 1, &session)) return Bool(info, false);
  ghost_cursor_update_badge(session.c_str(), title.c_str());
  return Bool(info, true);
}

Napi::Value GhostSetRequestSession(const Napi::CallbackInfo& info) {
  std::string session;
  if (info.Length() < 1 || !OptionalSession(info, 0, &session)) return Bool(info, false);
  ghost::S().requestSession = session;
  return Bool(info, true);
}

Napi::Value GhostSetMultiCursorEnabled(const Napi::CallbackInfo& info) {
  bool v;
  if (!ReadBool(info, 0, &v)) return Bool(info, false);
  ghost::S().multiSession = v;
  return Bool(info, true);
}

Napi::Value GhostSessionTurnEnd(const Napi::CallbackInfo& info) {
  if (info.Length() < 1 || !info[0].IsString()) return Bool(info, false);
  ghost_cursor_session_turn_ended(info[0].As<Napi::String>().Utf8Value().c_str());
  return Bool(info, true);
}

Napi::Value GhostRemoveSession(const Napi::CallbackInfo& info) {
  if (info.Length() < 1 || !info[0].IsString()) return Bool(info, false);
  ghost_cursor_remove_session(info[0].As<Napi::String>().Utf8Value().c_str());
  return Bool(info, true);
}

}  // namespace addon
