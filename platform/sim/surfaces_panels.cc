// The simulated desktop's floating panels and display links. Panels are
// surface windows with a panel spec: they join the window list while ordered
// in (owned by the host process, at their level) and render with cairo like
// overlays, so a test can read a panel's pixels. Display links tick every
// 16 ms of sim time on a thread of their own; in manual mode they tick only
// when a test asks (tickDisplayLinks), on the asking thread.
#include <chrono>
#include <condition_variable>
#include <memory>
#include <thread>

#include "sim/sim_clock.h"
#include "sim/surfaces.h"
#include "sim/world.h"

namespace sim {

namespace {

constexpr uint32_t kFirstPanelWindowNumber = 0x7E000000;
constexpr auto kRefreshInterval = std::chrono::milliseconds(16);

SimSurfaceWindow* FindPanel(SurfaceStore& s, platform::SurfaceId id) {
  auto it = s.windows.find(id);
  return it == s.windows.end() || !it->second.panel ? nullptr : &it->second;
}

struct Link {
  std::function<void()> tick;
  bool stopped = false;
  int running = 0;  // ticks in progress
  std::thread::id thread;
};

struct LinkStore {
  std::mutex mu;
  std::condition_variable idle;
  std::map<uint64_t, std::shared_ptr<Link>> links;
  uint64_t next_id = 1;
  uint64_t ticks = 0;
  uint64_t started = 0;
  bool manual = false;
  uint32_t next_panel = 0;
  int shadow_invalidations = 0;
};

LinkStore& Links() {
  static LinkStore* store = new LinkStore();
  return *store;
}

// One tick of a link unless it was stopped; false once it is.
bool RunTick(LinkStore& ls, const std::shared_ptr<Link>& link) {
  {
    std::lock_guard<std::mutex> l(ls.mu);
    if (link->stopped) return false;
    link->running++;
    ls.ticks++;
  }
  link->tick();
  std::lock_guard<std::mutex> l(ls.mu);
  link->running--;
  ls.idle.notify_all();
  return true;
}

void LinkThread(std::shared_ptr<Link> link) {
  LinkStore& ls = Links();
  for (;;) {
    Clock().SleepUntil(Clock().Now() + kRefreshInterval);
    bool manual;
    {
      std::lock_guard<std::mutex> l(ls.mu);
      if (link->stopped) return;
      manual = ls.manual;
    }
    if (!manual && !RunTick(ls, link)) return;
  }
}

Json PanelJson(const SimSurfaceWindow& win, double primary_h, SurfaceStore& s) {
  const auto& p = win.panel_spec;
  Json o = Json::Object();
  o.set("number", Json(win.number));
  o.set("frame", TopLeftFrameJson(p.frame, primary_h));
  o.set("orderedIn", Json(win.ordered_in));
  o.set("level", Json(static_cast<int64_t>(p.level)));
  o.set("collectionBehavior", Json(static_cast<int64_t>(p.collection_behavior)));
  o.set("hasShadow", Json(p.has_shadow));
  o.set("opaque", Json(p.opaque));
  o.set("movableByBackground", Json(p.movable_by_background));
  o.set("ignoresMouse", Json(p.ignores_mouse));
  o.set("hidesOnDeactivate", Json(p.hides_on_deactivate));
  Json aspect = Json::Array();
  aspect.push(Json(p.content_aspect.width));
  aspect.push(Json(p.content_aspect.height));
  o.set("aspect", aspect);
  o.set("cornerRadius", Json(p.corner_radius));
  o.set("scale", Json(p.backing_scale));
  int images = 0;
  for (auto& [id, layer] : s.layers)
    if (layer.kind == platform::LayerKind::kImage && layer.contents) {
      // Only layers inside this panel's tree count.
      for (platform::LayerId a = layer.parent; a; ) {
        if (a == win.content) {
          images++;
          break;
        }
        auto it = s.layers.find(a);
        a = it == s.layers.end() ? 0 : it->second.parent;
      }
    }
  o.set("imageLayersWithContents", Json(images));
  return o;
}

}  // namespace

platform::SurfaceId SimSurfaces::CreatePanelWindow(const platform::PanelWindowSpec& spec) {
  if (!(spec.frame.width > 0) || !(spec.frame.height > 0)) return 0;
  uint32_t number;
  {
    LinkStore& ls = Links();
    std::lock_guard<std::mutex> l(ls.mu);
    number = kFirstPanelWindowNumber + ls.next_panel++;
  }
  SurfaceStore& s = Store();
  std::lock_guard<std::mutex> l(s.mu);
  SimSurfaceWindow win;
  win.id = s.next_id++;
  win.panel = true;
  win.panel_spec = spec;
  win.spec.frame = spec.frame;
  win.spec.level = spec.level;
  win.spec.collection_behavior = spec.collection_behavior;
  win.spec.ignores_mouse = spec.ignores_mouse;
  win.spec.opaque = spec.opaque;
  win.spec.has_shadow = spec.has_shadow;
  win.spec.sharing_type = spec.sharing_type;
  win.spec.backing_scale = spec.backing_scale;
  win.number = number;
  SimLayer content;
  content.id = s.next_id++;
  content.state.bounds = platform::Rect{0, 0, spec.frame.width, spec.frame.height};
  content.state.anchor = platform::Point{0, 0};
  content.state.contents_scale = spec.backing_scale;
  content.state.corner_radius = spec.corner_radius;
  content.state.masks_to_bounds = spec.corner_radius > 0;
  win.content = content.id;
  s.layers[content.id] = content;
  s.windows[win.id] = win;
  return win.id;
}

bool SimSurfaces::GetPanelSpec(platform::SurfaceId id, platform::PanelWindowSpec* out) {
  SurfaceStore& s = Store();
  std::lock_guard<std::mutex> l(s.mu);
  SimSurfaceWindow* win = FindPanel(s, id);
  if (!win || !out) return false;
  *out = win->panel_spec;
  return true;
}

bool SimSurfaces::SetWindowFrame(platform::SurfaceId id, platform::Rect frame) {
  if (!(frame.width > 0) || !(frame.height > 0)) return false;
  SurfaceStore& s = Store();
  std::lock_guard<std::mutex> l(s.mu);
  auto it = s.windows.find(id);
  if (it == s.windows.end()) return false;
  SimSurfaceWindow& win = it->second;
  win.spec.frame = frame;
  win.panel_spec.frame = frame;
  auto c = s.layers.find(win.content);
  if (c != s.layers.end()) c->second.state.bounds = platform::Rect{0, 0, frame.width, frame.height};
  return true;
}

void SimSurfaces::SetIgnoresMouse(platform::SurfaceId id, bool ignores) {
  SurfaceStore& s = Store();
  std::lock_guard<std::mutex> l(s.mu);
  auto it = s.windows.find(id);
  if (it == s.windows.end()) return;
  it->second.spec.ignores_mouse = ignores;
  it->second.panel_spec.ignores_mouse = ignores;
}

void SimSurfaces::InvalidateShadow(platform::SurfaceId) {
  LinkStore& ls = Links();
  std::lock_guard<std::mutex> l(ls.mu);
  ls.shadow_invalidations++;
}

void SimSurfaces::SetLayerContents(platform::LayerId id, platform::Image image) {
  SurfaceStore& s = Store();
  std::lock_guard<std::mutex> l(s.mu);
  auto it = s.layers.find(id);
  if (it != s.layers.end()) it->second.contents = std::move(image);
}

uint64_t SimSurfaces::StartDisplayLink(std::function<void()> tick) {
  if (!tick) return 0;
  LinkStore& ls = Links();
  auto link = std::make_shared<Link>();
  link->tick = std::move(tick);
  uint64_t id;
  {
    std::lock_guard<std::mutex> l(ls.mu);
    id = ls.next_id++;
    ls.links[id] = link;
    ls.started++;
  }
  // Never joined: it ends within one refresh interval of its stop and must
  // not keep the host alive.
  std::thread t(LinkThread, link);
  link->thread = t.get_id();
  t.detach();
  return id;
}

void SimSurfaces::StopDisplayLink(uint64_t id) {
  LinkStore& ls = Links();
  std::unique_lock<std::mutex> l(ls.mu);
  auto it = ls.links.find(id);
  if (it == ls.links.end()) return;
  std::shared_ptr<Link> link = it->second;
  ls.links.erase(it);
  link->stopped = true;
  // A tick that stops its own link cannot wait for itself.
  if (link->thread == std::this_thread::get_id()) return;
  ls.idle.wait(l, [&] { return link->running == 0 || link->thread == std::this_thread::get_id(); });
}

platform::Image RenderSurfaceByNumber(uint32_t number) {
  platform::SurfaceId id = 0;
  platform::Rect frame;
  double scale = 1;
  {
    SurfaceStore& s = Store();
    std::lock_guard<std::mutex> l(s.mu);
    for (auto& [wid, win] : s.windows)
      if (win.number == number) {
        id = wid;
        frame = win.spec.frame;
        if (win.spec.backing_scale > 0) scale = win.spec.backing_scale;
      }
  }
  if (!id) return nullptr;
  return SimSurfaceService().RenderWindow(id, platform::Rect{0, 0, frame.width, frame.height},
                                          static_cast<int>(frame.width * scale + 0.5),
                                          static_cast<int>(frame.height * scale + 0.5));
}

void ResetPanelSim() {
  {
    LinkStore& ls = Links();
    std::lock_guard<std::mutex> l(ls.mu);
    ls.manual = false;
  }
  ResetScreenshots();
}

bool RunPanelCommand(const std::string& name, const Json& args, Json* result, std::string* error,
                     bool* handled) {
  *handled = true;
  LinkStore& ls = Links();
  if (name == "panels") {
    const double primary_h = PrimaryDisplayHeightNow();
    SurfaceStore& s = Store();
    std::lock_guard<std::mutex> l(s.mu);
    Json list = Json::Array();
    for (auto& [id, win] : s.windows)
      if (win.panel) list.push(PanelJson(win, primary_h, s));
    *result = list;
    return true;
  }
  if (name == "setManualDisplayLinks") {
    std::lock_guard<std::mutex> l(ls.mu);
    ls.manual = args.size() > 0 && args[0].as_bool();
    return true;
  }
  if (name == "tickDisplayLinks") {
    int64_t n = args.size() > 0 ? args[0].as_int(1) : 1;
    if (n < 0 || n > 100000) {
      *error = "tickDisplayLinks(n) expects 0 .. 100000";
      return false;
    }
    int64_t ran = 0;
    for (int64_t i = 0; i < n; ++i) {
      std::vector<std::shared_ptr<Link>> links;
      {
        std::lock_guard<std::mutex> l(ls.mu);
        for (auto& [id, link] : ls.links) links.push_back(link);
      }
      for (auto& link : links) ran += RunTick(ls, link) ? 1 : 0;
    }
    *result = Json(ran);
    return true;
  }
  if (name == "displayLinks") {
    std::lock_guard<std::mutex> l(ls.mu);
    Json o = Json::Object();
    o.set("active", Json(static_cast<int64_t>(ls.links.size())));
    o.set("started", Json(static_cast<int64_t>(ls.started)));
    o.set("ticks", Json(static_cast<int64_t>(ls.ticks)));
    o.set("manual", Json(ls.manual));
    o.set("shadowInvalidations", Json(ls.shadow_invalidations));
    *result = o;
    return true;
  }
  return RunScreenshotCommand(name, args, result, error, handled);
}

}  // namespace sim
