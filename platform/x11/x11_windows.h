// The X window model the x11 services share: top-level windows front to back,
// each resolved to its client (the window with WM_STATE inside the window
// manager's frame), with owner, title, layer, outer bounds and visibility.
#pragma once

#include <X11/Xlib.h>
#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/value.h"

namespace x11 {

// Layers, in the numbers the core already knows from the window list.
inline constexpr int kLayerNormal = 0;
inline constexpr int kLayerAbove = 3;
inline constexpr int kLayerDock = 20;
inline constexpr int kLayerPopup = 101;
inline constexpr int kLayerDesktop = -2147483603;

struct WindowInfo {
  Window client = 0;  // the window number
  Window frame = 0;   // the top-level window that holds it (the client itself when unframed)
  pid_t pid = 0;
  std::string owner_name;
  std::optional<std::string> title;
  std::optional<std::string> wm_class;     // class part of WM_CLASS
  std::optional<std::string> wm_instance;  // instance part of WM_CLASS
  std::optional<std::string> gtk_app_id;   // _GTK_APPLICATION_ID
  int layer = kLayerNormal;
  platform::Rect bounds;  // outer frame, root coordinates
  bool managed = false;   // in the window manager's client list
  bool override_redirect = false;
  bool viewable = false;
  bool on_screen = false;
  bool desktop = false;
  bool normal_type = false;  // a normal or dialog window (what makes an application regular)
  std::optional<double> alpha;
};

// Every top-level window front to back: managed clients, unframed clients and
// viewable override-redirect windows (menus, popups, tooltips).
std::vector<WindowInfo> ListWindows(Display* d);
std::optional<WindowInfo> FindWindow(Display* d, Window client);
// Where a client is drawn: its frame, the frame's attributes and the outer
// bounds (a few round trips, for callers that need nothing else).
struct Placement {
  Window frame = 0;
  XWindowAttributes frame_attrs{};
  platform::Rect bounds;
  bool viewable = false;
};
std::optional<Placement> PlaceWindow(Display* d, Window client);
// The managed clients of one pid, top-most first.
std::vector<WindowInfo> WindowsOfPid(Display* d, pid_t pid);

// _NET_ACTIVE_WINDOW (0 when none).
Window ActiveWindow(Display* d);
// The top-level client holding the X input focus (0 when None / PointerRoot).
Window FocusClient(Display* d);
// Whether a window manager announces itself (_NET_SUPPORTING_WM_CHECK).
bool HasWindowManager(Display* d);

// Asks the window manager to activate a client (_NET_ACTIVE_WINDOW, source 2,
// which also un-minimises it); without a window manager raises and focuses it.
bool RequestActivate(Display* d, Window client);
// Asks the window manager to move / resize the outer frame (_NET_MOVERESIZE_WINDOW).
bool RequestMoveResize(Display* d, Window client, std::optional<platform::Point> origin,
                       std::optional<platform::Size> size);

// The frame (top-level child of the root) that holds a window.
Window TopLevelOf(Display* d, Window w);

}  // namespace x11
