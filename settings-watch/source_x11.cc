// The window list of a real X display, read with Xlib: top-level windows
// front to back, each resolved to its client (the window with WM_STATE
// inside the window manager's frame). Owner name: WM_CLASS's class, else the
// owning process's name; bounds: the client's root position widened by
// _NET_FRAME_EXTENTS; layer: 0 normal, 3 kept above or utility, 20 dock, 101
// override-redirect popups. Hidden, unmapped and desktop windows are left out.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <fstream>

#include "records.h"

namespace settings_watch {

namespace {

Display* g_dpy = nullptr;

int IgnoreErrors(Display*, XErrorEvent*) { return 0; }

std::vector<unsigned long> Longs(Window w, const char* name, Atom type) {
  std::vector<unsigned long> out;
  Atom actual;
  int format;
  unsigned long n = 0, after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(g_dpy, w, XInternAtom(g_dpy, name, False), 0, 4096, False, type, &actual,
                         &format, &n, &after, &data) == Success &&
      data && format == 32) {
    auto* v = reinterpret_cast<unsigned long*>(data);
    out.assign(v, v + n);
  }
  if (data) XFree(data);
  return out;
}

bool Has(const std::vector<unsigned long>& v, const char* name) {
  Atom a = XInternAtom(g_dpy, name, False);
  return std::find(v.begin(), v.end(), a) != v.end();
}

Window ClientOf(Window w, int depth) {
  if (!Longs(w, "WM_STATE", XInternAtom(g_dpy, "WM_STATE", False)).empty()) return w;
  if (depth >= 3) return 0;
  Window root, parent, *kids = nullptr;
  unsigned int n = 0;
  if (!XQueryTree(g_dpy, w, &root, &parent, &kids, &n)) return 0;
  Window found = 0;
  for (unsigned int i = 0; i < n && !found; ++i) found = ClientOf(kids[i], depth + 1);
  if (kids) XFree(kids);
  return found;
}

std::optional<std::string> OwnerName(Window w) {
  XClassHint hint{};
  if (XGetClassHint(g_dpy, w, &hint)) {
    std::optional<std::string> name;
    if (hint.res_class && *hint.res_class) name = hint.res_class;
    if (hint.res_name) XFree(hint.res_name);
    if (hint.res_class) XFree(hint.res_class);
    if (name) return name;
  }
  auto pid = Longs(w, "_NET_WM_PID", XA_CARDINAL);
  if (pid.empty()) return std::nullopt;
  std::ifstream in("/proc/" + std::to_string(pid[0]) + "/comm");
  std::string comm;
  if (!std::getline(in, comm) || comm.empty()) return std::nullopt;
  return comm;
}

}  // namespace

bool X11Open() {
  XSetErrorHandler(IgnoreErrors);
  g_dpy = XOpenDisplay(nullptr);
  return g_dpy != nullptr;
}

std::optional<std::vector<ListedWindow>> X11Windows() {
  Window root = DefaultRootWindow(g_dpy), r, p, *kids = nullptr;
  unsigned int n = 0;
  if (!XQueryTree(g_dpy, root, &r, &p, &kids, &n)) return std::nullopt;
  std::vector<Window> tops(kids, kids + n);
  if (kids) XFree(kids);
  std::vector<ListedWindow> out;
  for (auto it = tops.rbegin(); it != tops.rend(); ++it) {
    XWindowAttributes a;
    if (!XGetWindowAttributes(g_dpy, *it, &a) || a.map_state != IsViewable || a.c_class == InputOnly)
      continue;
    Window client = a.override_redirect ? *it : ClientOf(*it, 0);
    if (!client) continue;
    auto types = Longs(client, "_NET_WM_WINDOW_TYPE", XA_ATOM);
    auto states = Longs(client, "_NET_WM_STATE", XA_ATOM);
    if (Has(types, "_NET_WM_WINDOW_TYPE_DESKTOP") || Has(states, "_NET_WM_STATE_HIDDEN")) continue;
    ListedWindow w;
    w.owner_name = OwnerName(client);
    int cx = 0, cy = 0;
    Window child;
    XWindowAttributes ca;
    if (XGetWindowAttributes(g_dpy, client, &ca) &&
        XTranslateCoordinates(g_dpy, client, root, 0, 0, &cx, &cy, &child)) {
      auto ext = client != *it ? Longs(client, "_NET_FRAME_EXTENTS", XA_CARDINAL)
                               : std::vector<unsigned long>();
      long l = 0, rt = 0, t = 0, b = 0;
      if (ext.size() == 4) {
        l = static_cast<long>(ext[0]);
        rt = static_cast<long>(ext[1]);
        t = static_cast<long>(ext[2]);
        b = static_cast<long>(ext[3]);
      }
      w.x = cx - l;
      w.y = cy - t;
      w.w = ca.width + l + rt;
      w.h = ca.height + t + b;
    }
    if (a.override_redirect) w.layer = 101;
    else if (Has(types, "_NET_WM_WINDOW_TYPE_DOCK")) w.layer = 20;
    else if (Has(types, "_NET_WM_WINDOW_TYPE_UTILITY") || Has(states, "_NET_WM_STATE_ABOVE")) w.layer = 3;
    else w.layer = 0;
    out.push_back(std::move(w));
  }
  return out;
}

}  // namespace settings_watch
