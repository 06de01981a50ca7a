#include "x11/x11_windows.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <unordered_set>

#include "x11/x11_display.h"

namespace x11 {

namespace {

bool HasAtom(const std::vector<unsigned long>& list, Atom a) {
  return std::find(list.begin(), list.end(), a) != list.end();
}

// The client inside a frame: the first descendant (breadth first, three levels
// at most) that carries WM_STATE.
Window FindClient(Display* d, Window w, int depth, std::vector<Window>* visited = nullptr) {
  if (visited) visited->push_back(w);
  Atom wm_state = A(d, "WM_STATE");
  if (!Cardinals(d, w, wm_state, wm_state).empty()) return w;
  if (depth >= 3) return 0;
  Window root, parent, *kids = nullptr;
  unsigned int n = 0;
  ErrorTrap trap(d);
  if (!XQueryTree(d, w, &root, &parent, &kids, &n)) return 0;
  std::vector<Window> children(kids, kids + n);
  if (kids) XFree(kids);
  if (visited) visited->insert(visited->end(), children.begin(), children.end());
  for (Window c : children) {
    if (!Cardinals(d, c, wm_state, wm_state).empty()) return c;
  }
  for (Window c : children) {
    if (Window found = FindClient(d, c, depth + 1, visited)) return found;
  }
  return 0;
}

std::vector<unsigned long> ManagedClients(Display* d) {
  Window root = DefaultRootWindow(d);
  auto list = Cardinals(d, root, A(d, "_NET_CLIENT_LIST_STACKING"), XA_WINDOW);
  if (list.empty()) list = Cardinals(d, root, A(d, "_NET_CLIENT_LIST"), XA_WINDOW);
  return list;
}

// Outer bounds: the client's root position widened by the frame extents
// (the frame's own geometry when the window manager sets none).
bool OuterBounds(Display* d, Window client, Window frame, const XWindowAttributes& frame_attrs,
                 platform::Rect* out, XWindowAttributes* client_attrs) {
  Window root = DefaultRootWindow(d), child;
  int cx = 0, cy = 0;
  XWindowAttributes& ca = *client_attrs;
  {
    ErrorTrap trap(d);
    if (!XGetWindowAttributes(d, client, &ca) ||
        !XTranslateCoordinates(d, client, root, 0, 0, &cx, &cy, &child) || trap.Seen())
      return false;
  }
  auto ext = frame != client ? Cardinals(d, client, A(d, "_NET_FRAME_EXTENTS"), XA_CARDINAL)
                             : std::vector<unsigned long>();
  if (ext.size() == 4) {
    *out = {static_cast<double>(cx - static_cast<long>(ext[0])),
            static_cast<double>(cy - static_cast<long>(ext[2])),
            static_cast<double>(ca.width + ext[0] + ext[1]),
            static_cast<double>(ca.height + ext[2] + ext[3])};
  } else if (frame != client) {
    int fx = 0, fy = 0;
    XTranslateCoordinates(d, frame, root, 0, 0, &fx, &fy, &child);
    int bw = frame_attrs.border_width;
    *out = {static_cast<double>(fx - bw), static_cast<double>(fy - bw),
            static_cast<double>(frame_attrs.width + 2 * bw),
            static_cast<double>(frame_attrs.height + 2 * bw)};
  } else {
    *out = {static_cast<double>(cx), static_cast<double>(cy), static_cast<double>(ca.width),
            static_cast<double>(ca.height)};
  }
  return true;
}

// Fills everything but the frame / client pair, which the caller resolved.
bool Describe(Display* d, Window frame, Window client, const XWindowAttributes& frame_attrs,
              bool managed, WindowInfo* out) {
  WindowInfo& w = *out;
  w.frame = frame;
  w.client = client;
  w.managed = managed;
  w.override_redirect = frame_attrs.override_redirect;
  w.viewable = frame_attrs.map_state == IsViewable;
  w.pid = WindowPid(d, client);
  w.title = Text(d, client, A(d, "_NET_WM_NAME"));
  if (!w.title) w.title = Text(d, client, XA_WM_NAME);
  if (auto cls = Bytes(d, client, XA_WM_CLASS)) {
    size_t nul = cls->find('\0');
    w.wm_instance = cls->substr(0, nul);
    if (nul != std::string::npos) {
      std::string rest = cls->substr(nul + 1);
      w.wm_class = rest.substr(0, rest.find('\0'));
    }
  }
  w.gtk_app_id = Text(d, client, A(d, "_GTK_APPLICATION_ID"));
  if (w.wm_class && !w.wm_class->empty()) w.owner_name = *w.wm_class;
  else if (w.pid > 0) w.owner_name = ProcessName(w.pid);

  auto types = Cardinals(d, client, A(d, "_NET_WM_WINDOW_TYPE"), XA_ATOM);
  auto states = Cardinals(d, client, A(d, "_NET_WM_STATE"), XA_ATOM);
  Atom first_type = types.empty() ? None : types[0];
  w.desktop = first_type == A(d, "_NET_WM_WINDOW_TYPE_DESKTOP");
  if (w.override_redirect) w.layer = kLayerPopup;
  else if (w.desktop) w.layer = kLayerDesktop;
  else if (first_type == A(d, "_NET_WM_WINDOW_TYPE_DOCK")) w.layer = kLayerDock;
  else if (first_type == A(d, "_NET_WM_WINDOW_TYPE_UTILITY") ||
           HasAtom(states, A(d, "_NET_WM_STATE_ABOVE")))
    w.layer = kLayerAbove;
  w.normal_type = !w.override_redirect &&
                  (first_type == None || first_type == A(d, "_NET_WM_WINDOW_TYPE_NORMAL") ||
                   first_type == A(d, "_NET_WM_WINDOW_TYPE_DIALOG"));

  XWindowAttributes ca;
  if (!OuterBounds(d, client, frame, frame_attrs, &w.bounds, &ca)) return false;
  Window root = DefaultRootWindow(d);
  bool hidden = HasAtom(states, A(d, "_NET_WM_STATE_HIDDEN"));
  bool on_desktop = true;
  if (auto desk = Cardinal(d, client, A(d, "_NET_WM_DESKTOP"), XA_CARDINAL)) {
    auto current = Cardinal(d, root, A(d, "_NET_CURRENT_DESKTOP"), XA_CARDINAL);
    on_desktop = *desk == 0xFFFFFFFFul || !current || *desk == *current;
  }
  w.on_screen = w.viewable && ca.map_state == IsViewable && !hidden && on_desktop;
  if (auto op = Cardinal(d, client, A(d, "_NET_WM_WINDOW_OPACITY"), XA_CARDINAL))
    w.alpha = static_cast<double>(*op) / 4294967295.0;
  return true;
}

}  // namespace

namespace {

// A capture reads the window list several times (7 to 10 ms of round trips
// each), so one list is reused while nothing it was read from can have
// changed: a connection of its own selects structure and property events on
// the root, on every top-level window and on every window the client search
// looked at, and any event at all drops the copy. The copy is also never
// older than 100 ms, and a list read while new windows were still being
// watched is not kept (an event could have been missed before the selection).
class ListWatch {
 public:
  // The kept list, when still valid; `generation` identifies the state the
  // caller will read against.
  bool Take(std::vector<WindowInfo>* out, uint64_t* generation) {
    std::lock_guard<std::mutex> l(mu_);
    Drain();
    *generation = generation_;
    if (!kept_ || std::chrono::steady_clock::now() - kept_at_ > kMaxAge) return false;
    *out = *kept_;
    return true;
  }

  // Keeps `list`, read since Take answered `generation`, when no event came
  // meanwhile and every window it was read from was already watched.
  void Keep(const std::vector<WindowInfo>& list, const std::vector<Window>& read_from,
            uint64_t generation) {
    std::lock_guard<std::mutex> l(mu_);
    if (!Open()) return;
    bool fresh = true;
    {
      ErrorTrap trap(own_);
      if (watched_.size() > kMaxWatched) {
        watched_.clear();
        fresh = false;
      }
      for (Window w : read_from) {
        if (!watched_.insert(w).second) continue;
        XSelectInput(own_, w, StructureNotifyMask | SubstructureNotifyMask | PropertyChangeMask);
        fresh = false;
      }
      XSync(own_, False);  // the selections hold from here on
    }
    Drain();
    if (!fresh || generation != generation_ || dead_) return;
    kept_ = list;
    kept_at_ = std::chrono::steady_clock::now();
  }

 private:
  static constexpr auto kMaxAge = std::chrono::milliseconds(100);
  static constexpr size_t kMaxWatched = 4096;

  static void OnIoExit(Display*, void* self) { static_cast<ListWatch*>(self)->dead_ = true; }

  bool Open() {
    if (own_ && !dead_) return true;
    // A lost connection is left open (Xlib cannot close it cleanly); a new
    // one watches everything again.
    own_ = XOpenDisplay(nullptr);
    dead_ = false;
    watched_.clear();
    kept_.reset();
    ++generation_;
    if (!own_) return false;
    XSetIOErrorExitHandler(own_, OnIoExit, this);
    ErrorTrap trap(own_);
    Window root = DefaultRootWindow(own_);
    XSelectInput(own_, root, SubstructureNotifyMask | PropertyChangeMask);
    watched_.insert(root);
    XSync(own_, False);
    return !dead_;
  }

  // Any event on a watched window (or a lost connection) ends the kept list.
  void Drain() {
    if (!own_ || dead_) {
      kept_.reset();
      return;
    }
    ErrorTrap trap(own_);
    bool changed = false;
    while (!dead_ && XEventsQueued(own_, QueuedAfterReading) > 0) {
      XEvent e;
      XNextEvent(own_, &e);
      changed = true;
    }
    if (changed || dead_) {
      kept_.reset();
      ++generation_;
    }
  }

  std::mutex mu_;
  Display* own_ = nullptr;
  bool dead_ = false;
  std::unordered_set<Window> watched_;
  std::optional<std::vector<WindowInfo>> kept_;
  std::chrono::steady_clock::time_point kept_at_;
  uint64_t generation_ = 0;
};

ListWatch& Watch() {
  static auto* watch = new ListWatch();  // never destroyed: callers may outlive statics
  return *watch;
}

std::vector<WindowInfo> ReadWindows(Display* d, std::vector<Window>* read_from);

}  // namespace

std::vector<WindowInfo> ListWindows(Display* d) {
  std::vector<WindowInfo> out;
  uint64_t generation = 0;
  if (Watch().Take(&out, &generation)) return out;
  std::vector<Window> read_from;
  out = ReadWindows(d, &read_from);
  Watch().Keep(out, read_from, generation);
  return out;
}

namespace {

std::vector<WindowInfo> ReadWindows(Display* d, std::vector<Window>* read_from) {
  std::vector<WindowInfo> out;
  Window root = DefaultRootWindow(d), r, p, *kids = nullptr;
  unsigned int n = 0;
  {
    ErrorTrap trap(d);
    if (!XQueryTree(d, root, &r, &p, &kids, &n)) return out;
  }
  std::vector<Window> tops(kids, kids + n);
  if (kids) XFree(kids);
  std::reverse(tops.begin(), tops.end());  // XQueryTree answers bottom to top
  read_from->insert(read_from->end(), tops.begin(), tops.end());
  auto managed = ManagedClients(d);
  for (Window top : tops) {
    XWindowAttributes a;
    {
      ErrorTrap trap(d);
      if (!XGetWindowAttributes(d, top, &a) || trap.Seen()) continue;
    }
    if (a.c_class == InputOnly) continue;
    Window client = 0;
    if (a.override_redirect) {
      // Menus and popups: listed while shown; unshown ones are toolkit caches.
      if (a.map_state != IsViewable) continue;
      client = top;
    } else {
      client = FindClient(d, top, 0, read_from);
      if (!client) {
        // Without a window manager, a top-level window with an owner is a client.
        if (!managed.empty() || WindowPid(d, top) <= 0) continue;
        client = top;
      }
    }
    WindowInfo info;
    if (Describe(d, top, client, a, HasAtom(managed, client), &info)) out.push_back(std::move(info));
  }
  return out;
}

}  // namespace

std::optional<WindowInfo> FindWindow(Display* d, Window client) {
  if (client == 0) return std::nullopt;
  Window top = TopLevelOf(d, client);
  if (!top) return std::nullopt;
  XWindowAttributes a;
  {
    ErrorTrap trap(d);
    if (!XGetWindowAttributes(d, top, &a) || trap.Seen()) return std::nullopt;
  }
  // Only a window the list would show under this number.
  if (top != client && FindClient(d, top, 0) != client) return std::nullopt;
  WindowInfo info;
  if (!Describe(d, top, client, a, HasAtom(ManagedClients(d), client), &info)) return std::nullopt;
  return info;
}

std::optional<Placement> PlaceWindow(Display* d, Window client) {
  if (client == 0) return std::nullopt;
  Placement p;
  p.frame = TopLevelOf(d, client);
  XWindowAttributes ca;
  {
    ErrorTrap trap(d);
    if (!p.frame || !XGetWindowAttributes(d, p.frame, &p.frame_attrs) || trap.Seen())
      return std::nullopt;
  }
  if (!OuterBounds(d, client, p.frame, p.frame_attrs, &p.bounds, &ca)) return std::nullopt;
  p.viewable = p.frame_attrs.map_state == IsViewable && ca.map_state == IsViewable;
  return p;
}

std::vector<WindowInfo> WindowsOfPid(Display* d, pid_t pid) {
  std::vector<WindowInfo> out;
  if (pid <= 0) return out;
  for (auto& w : ListWindows(d)) {
    if (w.pid == pid && (w.managed || !w.override_redirect)) out.push_back(std::move(w));
  }
  return out;
}

Window ActiveWindow(Display* d) {
  auto w = Cardinal(d, DefaultRootWindow(d), A(d, "_NET_ACTIVE_WINDOW"), XA_WINDOW);
  return w ? static_cast<Window>(*w) : 0;
}

Window FocusClient(Display* d) {
  Window focus = 0;
  int revert = 0;
  XGetInputFocus(d, &focus, &revert);
  if (focus == None || focus == PointerRoot) return 0;
  Window top = TopLevelOf(d, focus);
  if (!top) return 0;
  Window client = FindClient(d, top, 0);
  return client ? client : top;
}

bool HasWindowManager(Display* d) {
  return Cardinal(d, DefaultRootWindow(d), A(d, "_NET_SUPPORTING_WM_CHECK"), XA_WINDOW)
      .has_value();
}

Window TopLevelOf(Display* d, Window w) {
  Window root = DefaultRootWindow(d);
  ErrorTrap trap(d);
  for (int i = 0; i < 16 && w; ++i) {
    Window r, parent, *kids = nullptr;
    unsigned int n = 0;
    if (!XQueryTree(d, w, &r, &parent, &kids, &n)) return 0;
    if (kids) XFree(kids);
    if (parent == root) return w;
    w = parent;
  }
  return 0;
}

namespace {

bool SendRootMessage(Display* d, Window client, Atom type, const long (&data)[5]) {
  XEvent e{};
  e.xclient.type = ClientMessage;
  e.xclient.window = client;
  e.xclient.message_type = type;
  e.xclient.format = 32;
  for (int i = 0; i < 5; ++i) e.xclient.data.l[i] = data[i];
  ErrorTrap trap(d);
  XSendEvent(d, DefaultRootWindow(d), False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
  return trap.Check() == 0;
}

}  // namespace

bool RequestActivate(Display* d, Window client) {
  if (!client) return false;
  if (!HasWindowManager(d)) {
    ErrorTrap trap(d);
    XMapRaised(d, client);
    XSetInputFocus(d, client, RevertToParent, CurrentTime);
    return trap.Check() == 0;
  }
  // Source 2: a pager acting for the user, which window managers honour
  // without focus-stealing prevention.
  return SendRootMessage(d, client, A(d, "_NET_ACTIVE_WINDOW"), {2, CurrentTime, 0, 0, 0});
}

bool RequestMoveResize(Display* d, Window client, std::optional<platform::Point> origin,
                       std::optional<platform::Size> size) {
  if (!client || (!origin && !size)) return false;
  // Gravity 1 (north-west); bits 8-11 say which of x, y, width, height are given.
  long flags = 1 | (2L << 12);
  long x = 0, y = 0, wd = 0, ht = 0;
  if (origin) {
    flags |= (1L << 8) | (1L << 9);
    x = static_cast<long>(origin->x);
    y = static_cast<long>(origin->y);
  }
  if (size) {
    // The request sizes the client; the seam speaks of the outer frame.
    auto ext = Cardinals(d, client, A(d, "_NET_FRAME_EXTENTS"), XA_CARDINAL);
    long dw = ext.size() == 4 ? static_cast<long>(ext[0] + ext[1]) : 0;
    long dh = ext.size() == 4 ? static_cast<long>(ext[2] + ext[3]) : 0;
    flags |= (1L << 10) | (1L << 11);
    wd = std::max(1L, static_cast<long>(size->width) - dw);
    ht = std::max(1L, static_cast<long>(size->height) - dh);
  }
  return SendRootMessage(d, client, A(d, "_NET_MOVERESIZE_WINDOW"), {flags, x, y, wd, ht});
}

}  // namespace x11
