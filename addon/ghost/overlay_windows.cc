// The overlay windows: one borderless, click-through window per non-mirror
// display, floating above everything, rebuilt when the displays change.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <mutex>

#include "ghost/overlay.h"
#include "platform/platform.h"

namespace ghost {

namespace {
constexpr uint32_t kMaxDisplays = 16;
constexpr int64_t kOverlayLevel = 1000;
// Can join all spaces, stationary, full-screen auxiliary.
constexpr uint32_t kOverlayCollectionBehavior = 0x111;

// Window frames in the window system's space (bottom-left origin), one per
// overlay window, and the primary screen's height they were converted with.
std::vector<platform::Rect> g_window_screen_frames;
double g_primary_height = 0;

bool Near(double a, double b) { return std::fabs(a - b) < 0.5; }
}  // namespace

std::vector<ghost_geometry::DisplayFrame> CurrentDisplayFrames() {
  std::vector<platform::DisplayInfo> list;
  std::vector<ghost_geometry::DisplayFrame> out;
  if (!platform::Get().windows().GetActiveDisplays(kMaxDisplays, &list)) return out;
  for (const auto& d : list) {
    ghost_geometry::DisplayFrame f;
    f.x = d.bounds.x;
    f.y = d.bounds.y;
    f.width = d.bounds.width;
    f.height = d.bounds.height;
    f.scale = d.bounds.width > 0 ? static_cast<double>(d.pixel_width) / d.bounds.width : 1.0;
    if (!(f.scale > 0)) f.scale = 1.0;
    f.mirror = d.mirror;
    f.displayId = d.id;
    out.push_back(f);
  }
  return out;
}

bool WindowCapturable() {
  if (S().explicitCapture) return *S().explicitCapture;
  const char* v = std::getenv("KORVO_OZA_GHOST_CAPTURE");
  return v && (v[0] == '1' || v[0] == 't');
}

namespace {
// The overlay's window numbers, for threads that must recognise the overlay
// in the window list (the mirroring panels' ownership probes).
std::mutex g_own_numbers_mu;
std::vector<uint32_t>* g_own_numbers = new std::vector<uint32_t>();

void SetOwnOverlayNumbers(std::vector<uint32_t> numbers) {
  std::lock_guard<std::mutex> l(g_own_numbers_mu);
  *g_own_numbers = std::move(numbers);
}
}  // namespace

bool GhostOverlayOwnsWindowNumber(uint32_t number) {
  std::lock_guard<std::mutex> l(g_own_numbers_mu);
  return number != 0 &&
         std::find(g_own_numbers->begin(), g_own_numbers->end(), number) != g_own_numbers->end();
}

void RebuildScreenWindows() {
  OverlayState& s = S();
  auto& surf = platform::Get().surfaces();
  surf.BeginTransaction();
  for (auto& g : s.groups) {
    if (g->rootLayer) surf.RemoveFromSuperlayer(g->rootLayer);
    for (auto fx : g->fxLayers)
      if (fx) surf.DestroyLayer(fx);
    g->fxLayers.clear();
    g->screenIndex = -1;
  }
  for (auto& w : s.windows) surf.CloseWindow(w.window);
  s.windows.clear();
  SetOwnOverlayNumbers({});
  g_window_screen_frames.clear();

  std::vector<platform::ScreenInfo> screens = surf.Screens();
  g_primary_height = screens.empty() ? 0 : screens[0].frame.height;
  for (const auto& d : CurrentDisplayFrames()) {
    if (d.mirror) continue;
    // The screen list uses a bottom-left origin: convert its y before
    // comparing, so displays stacked vertically with the same x and size are
    // told apart.
    const platform::ScreenInfo* match = nullptr;
    for (const auto& sc : screens) {
      double top = g_primary_height - sc.frame.y - sc.frame.height;
      if (Near(sc.frame.x, d.x) && Near(sc.frame.width, d.width) &&
          Near(sc.frame.height, d.height) && Near(top, d.y)) {
        match = &sc;
        break;
      }
    }
    if (!match) continue;
    platform::SurfaceWindowSpec spec;
    spec.frame = match->frame;
    spec.level = kOverlayLevel;
    spec.collection_behavior = kOverlayCollectionBehavior;
    spec.ignores_mouse = true;
    spec.opaque = false;
    spec.has_shadow = false;
    spec.sharing_type = WindowCapturable() ? 1 : 0;
    spec.backing_scale = d.scale;
    platform::SurfaceId id = surf.CreateOverlayWindow(spec);
    if (!id) continue;
    GhostScreenWindow w;
    w.window = id;
    w.content = surf.ContentLayer(id);
    w.frame = d;
    w.number = surf.WindowNumber(id);
    platform::LayerState cs;
    if (surf.GetLayer(w.content, &cs)) {
      cs.contents_scale = d.scale;
      surf.SetLayer(w.content, cs);
    }
    s.windows.push_back(w);
    g_window_screen_frames.push_back(match->frame);
  }
  std::vector<uint32_t> numbers;
  for (auto& w : s.windows) numbers.push_back(w.number);
  SetOwnOverlayNumbers(std::move(numbers));
  s.displayGeneration++;
  for (auto& g : s.groups) {
    if (!g->rootLayer) continue;
    AttachGroupToScreen(*g);
    UpdateGroupLayout(*g);
  }
  surf.CommitTransaction();
  if (AnyGroupShown()) OrderAllFront();
}

std::vector<ghost_geometry::DisplayFrame> WindowFrames() {
  std::vector<ghost_geometry::DisplayFrame> out;
  for (const auto& w : S().windows) out.push_back(w.frame);
  return out;
}

int WindowIndexForPoint(double x, double y) {
  int i = ghost_geometry::ScreenIndexForPoint(WindowFrames(), x, y);
  return i < 0 ? 0 : i;
}

void ClampToOverlayDisplays(double* x, double* y) {
  ghost_geometry::ClampToDisplays(WindowFrames(), x, y);
  *x = ghost_motion::ClampCoordinate(*x);
  *y = ghost_motion::ClampCoordinate(*y);
}

void SetAllSharingTypes() {
  int type = WindowCapturable() ? 1 : 0;
  for (auto& w : S().windows) platform::Get().surfaces().SetSharingType(w.window, type);
}

void OrderAllFront() {
  for (auto& w : S().windows) platform::Get().surfaces().OrderFront(w.window);
}

void OrderAllOut() {
  for (auto& w : S().windows) platform::Get().surfaces().OrderOut(w.window);
}

double PrimaryHeight() { return g_primary_height; }

platform::Point ToWindowContent(int i, double x, double y) {
  if (i < 0 || static_cast<size_t>(i) >= g_window_screen_frames.size()) return platform::Point{x, y};
  const platform::Rect& f = g_window_screen_frames[static_cast<size_t>(i)];
  return platform::Point{x - f.x, g_primary_height - y - f.y};
}

}  // namespace ghost
