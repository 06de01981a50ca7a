// Accessible windows and X windows. AT-SPI carries no X window id, so an
// accessible window is matched to a client window of the same pid by title
// and geometry (AT-SPI frame extents are the client rect, or the client
// rect grown by _NET_FRAME_EXTENTS, depending on the toolkit); menus open in
// override-redirect windows of the same pid, matched by geometry. Hit-tests
// start at the top-level X window under the point and descend with
// Component.GetAccessibleAtPoint until the answer stops changing (GTK
// answers one level at a time).
#include <X11/Xatom.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <map>

#include "x11/x11_atspi_ax.h"
#include "x11/x11_display.h"
#include "x11/x11_windows.h"

namespace x11::atspi {

using platform::AXElement;
using platform::AXError;

namespace {

constexpr double kSlack = 2;  // pixels of disagreement tolerated between the two views

bool Near(double a, double b) { return std::fabs(a - b) <= kSlack; }

bool SameRect(const Node& n, const platform::Rect& r) {
  return Near(n.x, r.x) && Near(n.y, r.y) && Near(n.w, r.width) && Near(n.h, r.height);
}

// The client rect inside a window's outer frame.
platform::Rect ClientRect(Display* d, const WindowInfo& w) {
  auto ext = Cardinals(d, w.client, A(d, "_NET_FRAME_EXTENTS"), XA_CARDINAL);
  platform::Rect r = w.bounds;
  if (ext.size() == 4) {
    r.x += ext[0];
    r.y += ext[2];
    r.width -= ext[0] + ext[1];
    r.height -= ext[2] + ext[3];
  }
  return r;
}

int Score(Display* d, const Node& n, const WindowInfo& w) {
  int score = 0;
  if (n.has_extents && (SameRect(n, w.bounds) || SameRect(n, ClientRect(d, w)))) score += 4;
  if (w.title && *w.title == n.name && !n.name.empty()) score += 2;
  return score;
}

std::mutex g_cache_mu;
std::map<std::pair<std::string, std::string>, Window>* g_cache =
    new std::map<std::pair<std::string, std::string>, Window>();

bool IsMenu(uint32_t role) { return role == ATSPI_ROLE_MENU || role == ATSPI_ROLE_POPUP_MENU; }

bool Shown(const Node& n) { return Has(n.states, ATSPI_STATE_SHOWING) && n.has_extents && n.w > 0 && n.h > 0; }

bool Contains(const Node& n, float x, float y) {
  return x >= n.x && y >= n.y && x < n.x + n.w && y < n.y + n.h;
}

// The child of `n` that holds the point, looking through children that
// have no place of their own (GTK3's notebook page tabs); empty when none.
// The last such child wins: toolkits draw later children over earlier ones.
std::string ChildAt(const AppPtr& app, const Node& n, float x, float y, uint64_t timeout, int through) {
  std::string found;
  AXError err;
  for (const auto& c : n.children) {
    if (c.bus != app->bus) continue;
    auto cn = Record(app, c.path, timeout, &err);
    if (!cn || !Has(cn->states, ATSPI_STATE_SHOWING)) continue;
    if (Shown(*cn)) {
      if (Contains(*cn, x, y)) found = c.path;
    } else if (through > 0 && (!cn->has_extents || cn->w <= 0 || cn->h <= 0)) {
      std::string inner = ChildAt(app, *cn, x, y, timeout, through - 1);
      if (!inner.empty()) found = inner;
    }
  }
  return found;
}

// Below `at`, the deepest shown object whose extents hold the point.
// GetAccessibleAtPoint stops at containers that do not answer for their
// children (GTK3 notebooks answer with their page tab list); a widget that
// presses is the unit a hit answers, not the label inside it (GTK 4).
std::string DescendByExtents(const AppPtr& app, std::string at, float x, float y, uint64_t timeout) {
  AXError err;
  for (int depth = 0; depth < 64; ++depth) {
    auto n = Record(app, at, timeout, &err);
    if (!n || ActionIndexFor(*n, "AXPress") >= 0) break;
    std::string next = ChildAt(app, *n, x, y, timeout, 2);
    if (next.empty()) break;
    at = next;
  }
  return at;
}

}  // namespace

Window XWindowOf(const Element& e, AXError* err) {
  *err = platform::kAXErrorSuccess;
  if (e.IsApp()) {
    *err = platform::kAXErrorFailure;
    return 0;
  }
  Display* d = Dpy();
  if (!d) {
    *err = platform::kAXErrorCannotComplete;
    return 0;
  }
  auto n = Record(e.app, e.path, e.Timeout(), err);
  if (!n) return 0;
  if (n->role == ATSPI_ROLE_MENU_BAR) {
    *err = platform::kAXErrorFailure;
    return 0;
  }
  // Up to the nearest open menu or window.
  for (int depth = 0; n && depth < 64 && !IsWindowRole(n->role) && !(IsMenu(n->role) && Shown(*n)); ++depth)
    n = n->parent.null() || n->parent.bus != e.app->bus ? nullptr : Record(e.app, n->parent.path, e.Timeout(), err);
  if (!n) {
    *err = *err ? *err : platform::kAXErrorFailure;
    return 0;
  }
  auto key = std::make_pair(e.app->bus, n->self.path);
  {
    std::lock_guard<std::mutex> l(g_cache_mu);
    auto it = g_cache->find(key);
    // Still the application's (one property read; a whole window
    // description costs a few milliseconds, and the core asks often).
    if (it != g_cache->end()) {
      if (WindowPid(d, it->second) == e.app->pid) return it->second;
      g_cache->erase(it);
    }
  }
  Window best = 0;
  int best_score = 0;
  if (IsMenu(n->role)) {
    for (const auto& w : ListWindows(d))
      if (w.override_redirect && w.pid == e.app->pid && SameRect(*n, w.bounds)) best = w.client;
  } else {
    auto windows = WindowsOfPid(d, e.app->pid);
    for (const auto& w : windows) {
      int s = Score(d, *n, w);
      if (s > best_score) {
        best_score = s;
        best = w.client;
      }
    }
    // One window and nothing contradicting: that one.
    if (!best && windows.size() == 1) best = windows[0].client;
  }
  if (!best) {
    *err = platform::kAXErrorFailure;
    return 0;
  }
  std::lock_guard<std::mutex> l(g_cache_mu);
  (*g_cache)[key] = best;
  return best;
}

bool WindowOrigin(const App& app, const Node& window, int32_t* x, int32_t* y) {
  Display* d = Dpy();
  if (!d) return false;
  // The X window matched before, while it is still the application's.
  auto key = std::make_pair(app.bus, window.self.path);
  Window client = 0;
  {
    std::lock_guard<std::mutex> l(g_cache_mu);
    auto it = g_cache->find(key);
    if (it != g_cache->end()) client = it->second;
  }
  if (client && WindowPid(d, client) != app.pid) client = 0;
  if (!client) {
    auto windows = WindowsOfPid(d, app.pid);
    int best_score = 0;
    for (const auto& w : windows) {
      int s = Score(d, window, w);
      if (s > best_score) {
        best_score = s;
        client = w.client;
      }
    }
    if (!client && windows.size() == 1) client = windows[0].client;
    if (!client) return false;
    std::lock_guard<std::mutex> l(g_cache_mu);
    (*g_cache)[key] = client;
  }
  XWindowAttributes attrs;
  Window child;
  int cx = 0, cy = 0;
  {
    ErrorTrap trap(d);
    if (!XGetWindowAttributes(d, client, &attrs) ||
        !XTranslateCoordinates(d, client, DefaultRootWindow(d), 0, 0, &cx, &cy, &child) || trap.Seen())
      return false;
  }
  // The client-side margin around the content (shadows, resize borders):
  // announced with a compositor, else laid evenly around it.
  auto margin = Cardinals(d, client, A(d, "_GTK_FRAME_EXTENTS"), XA_CARDINAL);
  int32_t mx = margin.size() == 4 ? static_cast<int32_t>(margin[0]) : std::max(0, (attrs.width - window.w) / 2);
  int32_t my = margin.size() == 4 ? static_cast<int32_t>(margin[2]) : std::max(0, (attrs.height - window.h) / 2);
  *x = cx + mx;
  *y = cy + my;
  return true;
}

std::optional<platform::Rect> OuterFrameOf(const Element& e) {
  AXError err;
  Window w = XWindowOf(e, &err);
  Display* d = Dpy();
  if (!w || !d) return std::nullopt;
  auto placed = PlaceWindow(d, w);
  if (!placed) return std::nullopt;
  return placed->bounds;
}

AXError ElementAtPoint(const AppPtr& only, float x, float y, AXElement* out) {
  Display* d = Dpy();
  if (!d) return platform::kAXErrorCannotComplete;
  const pid_t self = getpid();
  std::optional<WindowInfo> hit;
  for (auto& w : ListWindows(d)) {
    if (!w.on_screen || w.pid <= 0 || w.pid == self) continue;  // our own overlays let clicks through
    const auto& b = w.bounds;
    if (x < b.x || y < b.y || x >= b.x + b.width || y >= b.y + b.height) continue;
    hit = std::move(w);
    break;
  }
  if (!hit || (only && only->pid != hit->pid)) return platform::kAXErrorNoValue;
  AppPtr app = only ? only : AppForPid(hit->pid);
  if (!app) return platform::kAXErrorAttributeUnsupported;  // not on the bus: the caller falls back
  return ElementAtPointInWindow(app, *hit, x, y, out);
}

AXError ElementAtPointInWindow(const AppPtr& app, const WindowInfo& window, float x, float y,
                               AXElement* out) {
  const WindowInfo* hit = &window;
  uint64_t timeout = TimeoutOf(*app);
  AXError err;
  // The accessible object that stands for the X window: an open menu for a
  // popup, else the application's window whose match is this X window.
  std::string start;
  if (hit->override_redirect) {
    if (!PrefetchFresh(*app)) Prefetch(app, timeout);
    std::lock_guard<std::mutex> l(app->mu);
    for (const auto& [path, n] : app->records)
      if ((IsMenu(n->role) || IsWindowRole(n->role)) && Shown(*n) && SameRect(*n, hit->bounds))
        start = path;
  } else {
    auto root = Record(app, kRootPath, timeout, &err);
    if (!root) return err;
    std::string fallback;
    for (const auto& c : root->children) {
      auto n = c.bus == app->bus ? Record(app, c.path, timeout, &err) : nullptr;
      if (!n || !IsWindowRole(n->role) || !Shown(*n) || !Contains(*n, x, y)) continue;
      Element w(app, c.path);
      AXError werr;
      if (XWindowOf(w, &werr) == hit->client) {
        start = c.path;
        break;
      }
      if (fallback.empty()) fallback = c.path;
    }
    if (start.empty()) start = fallback;
  }
  if (start.empty()) return platform::kAXErrorNoValue;
  std::string at = start;
  // GTK 4 answers GetAccessibleAtPoint in window coordinates of its own:
  // its objects are found by their extents alone.
  if (app->gtk4 && !PrefetchFresh(*app)) Prefetch(app, timeout);
  for (int depth = 0; depth < 48 && !app->gtk4; ++depth) {
    std::vector<Call> one{Method(app->bus, at, "org.a11y.atspi.Component", "GetAccessibleAtPoint",
                                 {int32_t(std::lround(x)), int32_t(std::lround(y)), uint32_t{0}})};
    RunFor(*app, &one, timeout);
    if (!one[0].ok()) {
      if (one[0].err == platform::kAXErrorCannotComplete || one[0].err == platform::kAXErrorInvalidUIElement)
        return one[0].err;
      break;
    }
    Ref next = RefOf(one[0].reply.at(0), app->bus);
    if (next.null() || next.path == at || next.bus != app->bus) break;
    at = next.path;
  }
  at = DescendByExtents(app, at, x, y, timeout);
  if (out) *out = MakeElement(app, at);
  return platform::kAXErrorSuccess;
}

AXElement FocusedElement(const AppPtr& app) {
  auto search = [&]() -> AXElement {
    std::lock_guard<std::mutex> l(app->mu);
    for (const auto& [path, n] : app->records)
      if (Has(n->states, ATSPI_STATE_FOCUSED) && Has(n->states, ATSPI_STATE_SHOWING))
        return MakeElement(app, path);
    return {};
  };
  if (PrefetchFresh(*app))
    if (auto f = search()) return f;
  // A focus change drops the records it touched: fetch everything again.
  {
    std::lock_guard<std::mutex> l(app->mu);
    app->prefetched = {};
  }
  if (Prefetch(app, TimeoutOf(*app)) != platform::kAXErrorSuccess) return {};
  return search();
}

}  // namespace x11::atspi
