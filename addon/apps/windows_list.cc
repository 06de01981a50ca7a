// listWindows: the windows of one application as the accessibility tree
// lists them, completed with the window server's windows of that process.
// Untitled windows get a short preview of the text they show.
#include <chrono>
#include <set>
#include <string>
#include <vector>

#include "apps/identity.h"
#include "apps/windows_preview.h"
#include "ax/ax_read.h"
#include "ax/surfaces.h"
#include "ax/warmup.h"
#include "ax/window_list.h"
#include "bounds.h"
#include "conventions.h"
#include "exports.h"

namespace addon {

namespace {

constexpr float kMessagingTimeoutSeconds = 0.3f;
constexpr auto kStableChildrenWait = std::chrono::milliseconds(1500);

const CGWindowCandidate* FindCandidate(const std::vector<CGWindowCandidate>& list, uint32_t id) {
  for (const auto& c : list) {
    if (c.window_id == id) return &c;
  }
  return nullptr;
}

Napi::Object AxWindowEntry(Napi::Env env, uint32_t index, const platform::AXElement& window,
                           const std::vector<CGWindowCandidate>& candidates,
                           const std::optional<uint32_t>& focused_id, uint32_t* window_id_out) {
  Napi::Object obj = Napi::Object::New(env);
  SetKey(obj, "index", Napi::Number::New(env, index));

  std::string title;
  bool has_title = CopyStringAttr(window, "AXTitle", &title);
  SetKey(obj, "title", has_title ? Napi::Value(Napi::String::New(env, title)) : env.Null());
  std::string subrole;
  if (CopyStringAttr(window, "AXSubrole", &subrole) && !subrole.empty()) {
    SetKey(obj, "subrole", Napi::String::New(env, subrole));
  }
  if (title.empty()) {
    std::string preview = CollectWindowTextPreview(window);
    if (!preview.empty()) SetKey(obj, "text_preview", Napi::String::New(env, preview));
  }

  platform::Point pos;
  platform::Size size;
  platform::Rect frame;
  if (CopyPoint(window, &pos) && CopySize(window, &size) && size.width > 0 && size.height > 0) {
    frame = platform::Rect{pos.x, pos.y, size.width, size.height};
  }
  SetKey(obj, "bounds", BoundsArray(env, frame));

  uint32_t id = CopyWindowNumber(window);
  SetKey(obj, "window_id", id ? Napi::Value(Napi::Number::New(env, id)) : env.Null());
  bool main = false;
  CopyBoolAttr(window, "AXMain", &main);
  SetKey(obj, "main", Napi::Boolean::New(env, main));
  bool focused = false;
  if (id != 0 && focused_id) {
    focused = *focused_id == id;
  } else {
    CopyBoolAttr(window, "AXFocused", &focused);
  }
  SetKey(obj, "focused", Napi::Boolean::New(env, focused));
  bool onscreen = true;
  if (id != 0) {
    const CGWindowCandidate* c = FindCandidate(candidates, id);
    onscreen = c && c->on_screen;
  }
  SetKey(obj, "onscreen", Napi::Boolean::New(env, onscreen));
  *window_id_out = id;
  return obj;
}

Napi::Object CandidateEntry(Napi::Env env, uint32_t index, const CGWindowCandidate& c) {
  Napi::Object obj = Napi::Object::New(env);
  SetKey(obj, "index", Napi::Number::New(env, index));
  SetKey(obj, "title", c.title.empty() ? env.Null() : Napi::Value(Napi::String::New(env, c.title)));
  SetKey(obj, "bounds", BoundsArray(env, c.bounds));
  SetKey(obj, "window_id", Napi::Number::New(env, c.window_id));
  SetKey(obj, "main", Napi::Boolean::New(env, false));
  SetKey(obj, "focused", Napi::Boolean::New(env, false));
  SetKey(obj, "onscreen", Napi::Boolean::New(env, c.on_screen));
  return obj;
}

}  // namespace

Napi::Value ListWindows(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  int32_t pid = 0;
  if (info.Length() < 1 || !ReadInt32Loose(info[0], &pid)) return env.Null();
  if (!FreshAXIsTrusted()) return env.Null();
  auto& p = platform::Get();
  platform::AXElement app = p.ax().CreateApplication(pid);
  if (!app) return env.Null();
  p.ax().SetMessagingTimeout(app, kMessagingTimeoutSeconds);

  if (WarmAccessibilityTree(app, pid, kNoDeadline)) {
    WaitForChildrenStableUntil(app, p.clock().Now() + kStableChildrenWait);
  }

  Napi::Array out = Napi::Array::New(env);
  std::vector<CGWindowCandidate> candidates = CopyCGWindowsForPid(pid);
  std::optional<uint32_t> focused_id = CopyFocusedWindowId(app);
  std::set<uint32_t> seen;
  uint32_t n = 0;
  std::vector<platform::AXElement> windows;
  if (CopyElementArrayAttr(app, "AXWindows", &windows)) {
    for (const auto& window : windows) {
      uint32_t id = 0;
      Napi::Object entry = AxWindowEntry(env, n, window, candidates, focused_id, &id);
      out.Set(n++, entry);
      if (id) seen.insert(id);
    }
  }
  for (const auto& c : candidates) {
    if (seen.count(c.window_id)) continue;
    out.Set(n, CandidateEntry(env, n, c));
    ++n;
  }
  return out;
}

}  // namespace addon
