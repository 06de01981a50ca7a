// The simulated surfaces service: overlay windows, the layer tree and its
// animations. Screens follow the world's displays (converted to the window
// system's bottom-left space); a display change notifies the observers from
// the application loop, as a screen-parameters notification would.
#include "sim/surfaces.h"

#include <unistd.h>

#include <algorithm>
#include <functional>

#include "sim/sim_clock.h"
#include "sim/world.h"

namespace sim {

namespace {

constexpr uint32_t kFirstOverlayWindowNumber = 0x7F000000;


SimLayer* FindLayer(SurfaceStore& s, platform::LayerId id) {
  auto it = s.layers.find(id);
  return it == s.layers.end() ? nullptr : &it->second;
}

void Detach(SurfaceStore& s, SimLayer& l) {
  if (SimLayer* p = FindLayer(s, l.parent)) {
    p->children.erase(std::remove(p->children.begin(), p->children.end(), l.id), p->children.end());
  }
  l.parent = 0;
}

void DestroyTree(SurfaceStore& s, platform::LayerId id) {
  SimLayer* l = FindLayer(s, id);
  if (!l) return;
  Detach(s, *l);
  std::vector<platform::LayerId> kids = l->children;
  for (auto k : kids) {
    if (SimLayer* c = FindLayer(s, k)) c->parent = 0;
    DestroyTree(s, k);
  }
  s.layers.erase(id);
}

SimSurfaceWindow* FindWin(SurfaceStore& s, platform::SurfaceId id) {
  auto it = s.windows.find(id);
  return it == s.windows.end() ? nullptr : &it->second;
}

}  // namespace

SurfaceStore& Store() {
  static SurfaceStore* store = new SurfaceStore();
  return *store;
}

SimSurfaces& SimSurfaceService() {
  static SimSurfaces* service = new SimSurfaces();
  return *service;
}

double NowSeconds() {
  return std::chrono::duration<double>(Clock().Now().time_since_epoch()).count();
}

void PruneAnimations(SimLayer& layer, double now_s) {
  for (auto it = layer.animations.begin(); it != layer.animations.end();) {
    const auto& a = it->second;
    if (a.anim.removed_on_completion && now_s >= a.begin_s + a.anim.duration)
      it = layer.animations.erase(it);
    else
      ++it;
  }
}

std::vector<platform::ScreenInfo> SimSurfaces::Screens() {
  World& w = W();
  std::lock_guard<std::mutex> l(w.mu);
  double primary_h = PrimaryDisplayHeight(w);
  std::vector<platform::ScreenInfo> out;
  // The primary (main) display's screen comes first, as the screen list does.
  std::vector<const Display*> order;
  // A mirroring display shares the screen of the display it mirrors.
  for (auto& d : w.displays)
    if (d.main) order.push_back(&d);
  for (auto& d : w.displays)
    if (!d.main && !d.mirror) order.push_back(&d);
  for (const Display* d : order) {
    platform::ScreenInfo si;
    si.frame = platform::Rect{d->bounds.x, primary_h - d->bounds.y - d->bounds.height,
                              d->bounds.width, d->bounds.height};
    si.backing_scale = d->bounds.width > 0 ? d->pixel_width / d->bounds.width : 1.0;
    if (!(si.backing_scale > 0)) si.backing_scale = 1.0;
    out.push_back(si);
  }
  return out;
}

uint64_t SimSurfaces::AddScreensChangedObserver(std::function<void()> cb) {
  SurfaceStore& s = Store();
  std::lock_guard<std::mutex> l(s.mu);
  uint64_t token = s.next_id++;
  s.screen_observers[token] = std::move(cb);
  return token;
}

void SimSurfaces::RemoveScreensChangedObserver(uint64_t token) {
  SurfaceStore& s = Store();
  std::lock_guard<std::mutex> l(s.mu);
  s.screen_observers.erase(token);
}

void DeliverScreensChanged() {
  std::vector<std::function<void()>> observers;
  {
    SurfaceStore& s = Store();
    std::lock_guard<std::mutex> l(s.mu);
    for (auto& [token, cb] : s.screen_observers) observers.push_back(cb);
  }
  for (auto& cb : observers) cb();
}

platform::SurfaceId SimSurfaces::CreateOverlayWindow(const platform::SurfaceWindowSpec& spec) {
  if (!(spec.frame.width > 0) || !(spec.frame.height > 0)) return 0;
  SurfaceStore& s = Store();
  std::lock_guard<std::mutex> l(s.mu);
  // Numbers from a range of their own: a scene reload restarts the scene's
  // window numbers, never these.
  uint32_t number = kFirstOverlayWindowNumber + s.next_window++;
  SimSurfaceWindow win;
  win.id = s.next_id++;
  win.spec = spec;
  win.number = number;
  SimLayer content;
  content.id = s.next_id++;
  content.state.bounds = platform::Rect{0, 0, spec.frame.width, spec.frame.height};
  content.state.anchor = platform::Point{0, 0};
  content.state.contents_scale = spec.backing_scale;
  win.content = content.id;
  s.layers[content.id] = content;
  s.windows[win.id] = win;
  return win.id;
}

void SimSurfaces::CloseWindow(platform::SurfaceId id) {
  SurfaceStore& s = Store();
  std::lock_guard<std::mutex> l(s.mu);
  SimSurfaceWindow* win = FindWin(s, id);
  if (!win) return;
  // Sublayers the caller still owns are detached, not destroyed.
  if (SimLayer* c = FindLayer(s, win->content)) {
    for (auto k : c->children)
      if (SimLayer* kid = FindLayer(s, k)) kid->parent = 0;
    c->children.clear();
  }
  s.layers.erase(win->content);
  s.windows.erase(id);
}

void SimSurfaces::OrderFront(platform::SurfaceId id) {
  SurfaceStore& s = Store();
  std::lock_guard<std::mutex> l(s.mu);
  if (SimSurfaceWindow* win = FindWin(s, id)) win->ordered_in = true;
}

void SimSurfaces::OrderOut(platform::SurfaceId id) {
  SurfaceStore& s = Store();
  std::lock_guard<std::mutex> l(s.mu);
  if (SimSurfaceWindow* win = FindWin(s, id)) win->ordered_in = false;
}

bool SimSurfaces::IsOrderedIn(platform::SurfaceId id) {
  SurfaceStore& s = Store();
  std::lock_guard<std::mutex> l(s.mu);
  SimSurfaceWindow* win = FindWin(s, id);
  return win && win->ordered_in;
}

void SimSurfaces::SetSharingType(platform::SurfaceId id, int type) {
  SurfaceStore& s = Store();
  std::lock_guard<std::mutex> l(s.mu);
  if (SimSurfaceWindow* win = FindWin(s, id)) win->spec.sharing_type = type;
}

bool SimSurfaces::GetWindowSpec(platform::SurfaceId id, platform::SurfaceWindowSpec* out) {
  SurfaceStore& s = Store();
  std::lock_guard<std::mutex> l(s.mu);
  SimSurfaceWindow* win = FindWin(s, id);
  if (!win || !out) return false;
  *out = win->spec;
  return true;
}

uint32_t SimSurfaces::WindowNumber(platform::SurfaceId id) {
  SurfaceStore& s = Store();
  std::lock_guard<std::mutex> l(s.mu);
  SimSurfaceWindow* win = FindWin(s, id);
  return win ? win->number : 0;
}

platform::LayerId SimSurfaces::ContentLayer(platform::SurfaceId id) {
  SurfaceStore& s = Store();
  std::lock_guard<std::mutex> l(s.mu);
  SimSurfaceWindow* win = FindWin(s, id);
  return win ? win->content : 0;
}

platform::LayerId SimSurfaces::CreateLayer(platform::LayerKind kind) {
  SurfaceStore& s = Store();
  std::lock_guard<std::mutex> l(s.mu);
  SimLayer layer;
  layer.id = s.next_id++;
  layer.kind = kind;
  s.layers[layer.id] = layer;
  return layer.id;
}

void SimSurfaces::DestroyLayer(platform::LayerId id) {
  SurfaceStore& s = Store();
  std::lock_guard<std::mutex> l(s.mu);
  DestroyTree(s, id);
}

void SimSurfaces::AddSublayer(platform::LayerId parent, platform::LayerId child) {
  SurfaceStore& s = Store();
  std::lock_guard<std::mutex> l(s.mu);
  SimLayer* p = FindLayer(s, parent);
  SimLayer* c = FindLayer(s, child);
  if (!p || !c || parent == child) return;
  // A layer cannot become its own descendant.
  for (SimLayer* a = p; a; a = FindLayer(s, a->parent))
    if (a->id == child) return;
  Detach(s, *c);
  p->children.push_back(child);
  c->parent = parent;
}

void SimSurfaces::RemoveFromSuperlayer(platform::LayerId id) {
  SurfaceStore& s = Store();
  std::lock_guard<std::mutex> l(s.mu);
  if (SimLayer* c = FindLayer(s, id)) Detach(s, *c);
}

platform::LayerId SimSurfaces::Superlayer(platform::LayerId id) {
  SurfaceStore& s = Store();
  std::lock_guard<std::mutex> l(s.mu);
  SimLayer* c = FindLayer(s, id);
  return c ? c->parent : 0;
}

bool SimSurfaces::GetLayer(platform::LayerId id, platform::LayerState* out) {
  SurfaceStore& s = Store();
  std::lock_guard<std::mutex> l(s.mu);
  SimLayer* c = FindLayer(s, id);
  if (!c || !out) return false;
  *out = c->state;
  return true;
}

void SimSurfaces::SetLayer(platform::LayerId id, const platform::LayerState& state) {
  SurfaceStore& s = Store();
  std::lock_guard<std::mutex> l(s.mu);
  if (SimLayer* c = FindLayer(s, id)) c->state = state;
}

void SimSurfaces::AddAnimation(platform::LayerId id, const std::string& key,
                               const platform::Animation& anim) {
  double now = NowSeconds();
  SurfaceStore& s = Store();
  std::lock_guard<std::mutex> l(s.mu);
  if (SimLayer* c = FindLayer(s, id)) c->animations[key] = SimAnimation{anim, now};
}

void SimSurfaces::RemoveAnimation(platform::LayerId id, const std::string& key) {
  SurfaceStore& s = Store();
  std::lock_guard<std::mutex> l(s.mu);
  if (SimLayer* c = FindLayer(s, id)) c->animations.erase(key);
}

bool SimSurfaces::HasAnimation(platform::LayerId id, const std::string& key) {
  double now = NowSeconds();
  SurfaceStore& s = Store();
  std::lock_guard<std::mutex> l(s.mu);
  SimLayer* c = FindLayer(s, id);
  if (!c) return false;
  PruneAnimations(*c, now);
  return c->animations.count(key) > 0;
}

void SimSurfaces::CommitTransaction() {
  SurfaceStore& s = Store();
  std::lock_guard<std::mutex> l(s.mu);
  s.transactions_committed++;
}

bool SimSurfaces::MeasureText(const std::string& utf8, double size, int weight,
                              platform::Size* out) {
  return MeasureLine(utf8, size, weight, out);
}

platform::Image SimSurfaces::RenderWindow(platform::SurfaceId id, platform::Rect region,
                                          int width_px, int height_px) {
  if (width_px < 1 || height_px < 1 || width_px > 16384 || height_px > 16384) return nullptr;
  SurfaceStore& s = Store();
  std::lock_guard<std::mutex> l(s.mu);
  SimSurfaceWindow* win = FindWin(s, id);
  if (!win) return nullptr;
  auto bmp = std::make_shared<platform::Bitmap>();
  bmp->width = width_px;
  bmp->height = height_px;
  if (!DrawWindowLayers(s, *win, region, width_px, height_px, &bmp->rgba)) return nullptr;
  return bmp;
}

void AppendOverlayWindowEntries(platform::Array* list, double primary_height) {
  SurfaceStore& s = Store();
  std::lock_guard<std::mutex> l(s.mu);
  // Later windows were ordered in later and sit in front.
  for (auto it = s.windows.rbegin(); it != s.windows.rend(); ++it) {
    const SimSurfaceWindow& win = it->second;
    if (!win.ordered_in) continue;
    platform::Dict d;
    d[platform::kWindowNumber] = platform::Value(static_cast<int64_t>(win.number));
    d[platform::kWindowOwnerPID] = platform::Value(static_cast<int64_t>(getpid()));
    d[platform::kWindowOwnerName] = platform::Value(std::string("node"));
    d[platform::kWindowName] = platform::Value(std::string());
    d[platform::kWindowLayer] = platform::Value(static_cast<int64_t>(win.spec.level));
    platform::Dict b;
    b["X"] = platform::Value(win.spec.frame.x);
    b["Y"] = platform::Value(primary_height - win.spec.frame.y - win.spec.frame.height);
    b["Width"] = platform::Value(win.spec.frame.width);
    b["Height"] = platform::Value(win.spec.frame.height);
    d[platform::kWindowBounds] = platform::Value(std::move(b));
    d[platform::kWindowIsOnscreen] = platform::Value(true);
    d[platform::kWindowAlpha] = platform::Value(1.0);
    list->push_back(platform::Value(std::move(d)));
  }
}

namespace {
int CountLayers(SurfaceStore& s, platform::LayerId id, int depth) {
  auto it = s.layers.find(id);
  if (it == s.layers.end() || depth > 64) return 0;
  int n = 1;
  for (auto k : it->second.children) n += CountLayers(s, k, depth + 1);
  return n;
}
}  // namespace

Json OverlayWindowsJson() {
  const double primary_h = PrimaryDisplayHeightNow();
  SurfaceStore& s = Store();
  std::lock_guard<std::mutex> l(s.mu);
  Json list = Json::Array();
  for (auto& [id, win] : s.windows) {
    if (win.panel) continue;  // listed by panels()
    Json o = Json::Object();
    o.set("number", Json(win.number));
    o.set("frame", TopLeftFrameJson(win.spec.frame, primary_h));
    o.set("orderedIn", Json(win.ordered_in));
    o.set("level", Json(static_cast<int64_t>(win.spec.level)));
    o.set("ignoresMouse", Json(win.spec.ignores_mouse));
    o.set("sharingType", Json(win.spec.sharing_type));
    o.set("scale", Json(win.spec.backing_scale));
    o.set("layers", Json(CountLayers(s, win.content, 0) - 1));
    list.push(o);
  }
  return list;
}

bool IsOverlayWindow(uint32_t number, bool* accepts_mouse_down) {
  SurfaceStore& s = Store();
  std::lock_guard<std::mutex> l(s.mu);
  for (auto& [id, win] : s.windows) {
    if (win.number != number || !win.ordered_in) continue;
    if (accepts_mouse_down) *accepts_mouse_down = !win.spec.ignores_mouse;
    return true;
  }
  return false;
}

double PrimaryDisplayHeight(World& w) {
  for (auto& d : w.displays)
    if (d.main) return d.bounds.height;
  return w.displays.empty() ? 0 : w.displays[0].bounds.height;
}

double PrimaryDisplayHeightNow() {
  World& w = W();
  std::lock_guard<std::mutex> l(w.mu);
  return PrimaryDisplayHeight(w);
}

Json TopLeftFrameJson(const platform::Rect& frame, double primary_h) {
  Json f = Json::Array();
  f.push(Json(frame.x));
  f.push(Json(primary_h - frame.y - frame.height));
  f.push(Json(frame.width));
  f.push(Json(frame.height));
  return f;
}

}  // namespace sim
