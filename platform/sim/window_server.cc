// The window server of the simulated desktop: the window list (front to back,
// any key possibly missing or of another type), displays, the pointer and
// single-window images.
#include <algorithm>

#include "sim/attributes.h"
#include "sim/hooks.h"
#include "sim/scene.h"
#include "sim/services.h"
#include "sim/surfaces.h"

namespace sim {

namespace {

platform::Value Entry(World& w, const CgWindow& cw) {
  platform::Dict d;
  d[platform::kWindowNumber] = platform::Value(static_cast<int64_t>(cw.number));
  d[platform::kWindowOwnerPID] = platform::Value(static_cast<int64_t>(cw.owner));
  std::string owner_name = cw.owner_name;
  if (owner_name.empty())
    if (auto app = FindApp(w, cw.owner); app && app->name) owner_name = *app->name;
  d[platform::kWindowOwnerName] = platform::Value(owner_name);
  std::string title = cw.title;
  d[platform::kWindowName] = platform::Value(title);
  d[platform::kWindowLayer] = platform::Value(cw.layer);
  platform::Dict b;
  b["X"] = platform::Value(cw.bounds.x);
  b["Y"] = platform::Value(cw.bounds.y);
  b["Width"] = platform::Value(cw.bounds.width);
  b["Height"] = platform::Value(cw.bounds.height);
  d[platform::kWindowBounds] = platform::Value(std::move(b));
  d[platform::kWindowIsOnscreen] = platform::Value(cw.on_screen);
  d[platform::kWindowAlpha] = platform::Value(cw.alpha);
  for (const auto& k : cw.omit_keys) d.erase(k);
  for (const auto& [k, v] : cw.bad_keys.members()) d[k] = JsonToValue(w, v);
  return platform::Value(std::move(d));
}

}  // namespace

std::optional<platform::Array> SimWindowServer::CopyWindowList(platform::WindowListOption option) {
  CallSite site;
  site.op = "CopyWindowList";
  Fault f = Hooks::Get().Enter(site);
  World& w = W();
  std::lock_guard<std::mutex> l(w.mu);
  if (f.kind == FaultKind::kQuit && f.quit_pid > 0) QuitApp(w, f.quit_pid);
  if (f.kind == FaultKind::kError || f.kind == FaultKind::kNoAnswer) return std::nullopt;
  platform::Array list;
  // The add-on's own overlay windows float above every application window.
  if (f.kind != FaultKind::kWrongType) AppendOverlayWindowEntries(&list, PrimaryDisplayHeight(w));
  for (auto& cw : w.z) {
    if (!WindowVisible(w, *cw)) continue;
    if (option == platform::WindowListOption::kOnScreenOnlyExcludingDesktop &&
        (!cw->on_screen || cw->desktop))
      continue;
    list.push_back(f.kind == FaultKind::kWrongType ? platform::Value("wrong-type") : Entry(w, *cw));
  }
  return list;
}

bool SimWindowServer::GetActiveDisplays(uint32_t max_displays,
                                        std::vector<platform::DisplayInfo>* out) {
  CallSite site;
  site.op = "GetActiveDisplays";
  Fault f = Hooks::Get().Enter(site);
  if (f.kind == FaultKind::kError || f.kind == FaultKind::kNoAnswer) return false;
  World& w = W();
  std::lock_guard<std::mutex> l(w.mu);
  out->clear();
  for (auto& d : w.displays) {
    if (out->size() >= max_displays) break;
    out->push_back(platform::DisplayInfo{d.id, d.bounds, d.pixel_width, d.pixel_height, d.mirror});
  }
  return true;
}

uint32_t SimWindowServer::MainDisplayId() {
  World& w = W();
  std::lock_guard<std::mutex> l(w.mu);
  for (auto& d : w.displays)
    if (d.main) return d.id;
  return w.displays.empty() ? 0 : w.displays[0].id;
}

bool SimWindowServer::CurrentPointerLocation(platform::Point* out) {
  World& w = W();
  std::lock_guard<std::mutex> l(w.mu);
  if (!w.pointer_available) return false;
  if (out) *out = w.pointer;
  return true;
}

bool SimWindowServer::HasSingleWindowImageEntry() {
  World& w = W();
  std::lock_guard<std::mutex> l(w.mu);
  return w.single_window_image;
}

platform::Image SimWindowServer::CreateSingleWindowImage(uint32_t window_id) {
  CallSite site;
  site.op = "CreateSingleWindowImage";
  site.window = window_id;
  World& w = W();
  {
    std::lock_guard<std::mutex> l(w.mu);
    if (auto cw = FindWindow(w, window_id)) site.pid = cw->owner;
  }
  Fault f = Hooks::Get().Enter(site);
  std::lock_guard<std::mutex> l(w.mu);
  if (f.kind == FaultKind::kQuit && f.quit_pid > 0) QuitApp(w, f.quit_pid);
  if (f.kind != FaultKind::kNone && f.kind != FaultKind::kQuit) return nullptr;
  if (!w.single_window_image || !w.perms.screen_recording) return nullptr;
  auto cw = FindWindow(w, window_id);
  if (!cw || !WindowVisible(w, *cw)) return nullptr;
  return RenderWindow(w, *cw);
}

double ScaleAt(World& w, platform::Point p) {
  const Display* hit = nullptr;
  for (auto& d : w.displays) {
    if (p.x >= d.bounds.x && p.y >= d.bounds.y && p.x < d.bounds.x + d.bounds.width &&
        p.y < d.bounds.y + d.bounds.height) {
      hit = &d;
      break;
    }
  }
  if (!hit) {
    for (auto& d : w.displays)
      if (d.main) hit = &d;
  }
  if (!hit || hit->bounds.width <= 0) return 1.0;
  double s = static_cast<double>(hit->pixel_width) / hit->bounds.width;
  return s > 0 ? s : 1.0;
}

}  // namespace sim
