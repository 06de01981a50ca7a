// What the x11 backend can do on the display it drives, and the facts a host
// reads about that display. Answers that depend on the server (extensions,
// the accessibility bus, a compositing manager) are asked of it; the rest say
// what this backend has not built yet.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cstdlib>
#include <string>

#include "x11/x11_ax.h"
#include "x11/x11_display.h"
#include "x11/x11_services.h"

namespace x11 {

namespace {

using platform::Capability;
using platform::Facility;

bool HasExtension(Display* d, const char* name) {
  int opcode = 0, event = 0, error = 0;
  return d && XQueryExtension(d, name, &opcode, &event, &error);
}

// The window manager's name from _NET_SUPPORTING_WM_CHECK, empty when none.
std::string WindowManagerName(Display* d) {
  Window root = DefaultRootWindow(d);
  auto check = Cardinal(d, root, A(d, "_NET_SUPPORTING_WM_CHECK"), XA_WINDOW);
  if (!check) return "";
  ErrorTrap trap(d);
  auto name = Text(d, static_cast<Window>(*check), A(d, "_NET_WM_NAME"));
  if (trap.Check()) return "";
  return name ? *name : "";
}

// Whether a compositing manager holds _NET_WM_CM_S<screen>.
bool CompositingManagerRuns(Display* d) {
  std::string selection = "_NET_WM_CM_S" + std::to_string(DefaultScreen(d));
  return XGetSelectionOwner(d, A(d, selection.c_str())) != None;
}

// Available while this thread's connection to the display lives.
Capability NeedsDisplay(Display* d) {
  return d ? Capability::Available() : Capability::Unavailable("the X display does not answer");
}

Capability NeedsExtension(Display* d, const char* extension, const char* what) {
  if (!d) return NeedsDisplay(d);
  if (HasExtension(d, extension)) return Capability::Available();
  return Capability::Unavailable(std::string("the X server has no ") + extension +
                                 " extension, which " + what + " needs");
}

Capability Accessibility() {
  if (AccessibilityBusReachable(false)) return Capability::Available();
  return Capability::Unavailable(
      "the accessibility bus does not answer (at-spi2-core's bus launcher on the session bus); "
      "only window-level elements can be read");
}

}  // namespace

Capability X11Capable(Facility facility) {
  Display* d = Dpy();
  switch (facility) {
    case Facility::kAccessibility:
    case Facility::kElementActions:
      return Accessibility();
    case Facility::kWindowList:
    case Facility::kApplications:
    case Facility::kKeyboardLayout:
    case Facility::kWindowEventMasks:
      return NeedsDisplay(d);
    case Facility::kDisplays:
      return NeedsExtension(d, "RANDR", "the monitor list");
    case Facility::kWindowImages:
      return NeedsExtension(d, "Composite", "covered windows' own pixels");
    case Facility::kGlobalKeyboard:
    case Facility::kGlobalMouse:
      return NeedsExtension(d, "XTEST", "synthetic input");
    case Facility::kCaptureStreams: {
      // Streams name the composite pixmap and watch it with XDamage (RENDER
      // only scales; without it frames are scaled on the CPU).
      Capability composite = NeedsExtension(d, "Composite", "per-window frame streams");
      if (!composite.available()) return composite;
      return NeedsExtension(d, "DAMAGE", "per-window frame streams");
    }
    case Facility::kKeyboardToProcess:
    case Facility::kPasteboard:
      // Keys by XSendEvent to the process's focus window; the clipboard as
      // the CLIPBOARD selection's owner.
      return NeedsDisplay(d);
    case Facility::kMouseToProcess:
      return Capability::NotBuilt(
          "mouse events posted to one process are not built yet: they answer false");
    case Facility::kMouseToBackgroundWindow:
      // Per call: the accessible action at the point, else core events; a
      // window neither reaches is refused as undeliverable.
      return NeedsDisplay(d);
    case Facility::kOverlayWindows:
      return Capability::NotBuilt(
          "overlay windows are not built yet: the ghost cursor draws nothing and mirroring panels "
          "do not start");
    case Facility::kEventTaps:
      return Capability::NotBuilt("a passive XInput2 pointer monitor is not built yet");
    case Facility::kEventSwallowing:
      return Capability::Unavailable(
          "X lets no client keep another client's pointer events from their window");
    case Facility::kPermissionsDatabase:
      return Capability::Available();
    case Facility::kCodeSigning:
      return Capability::Unavailable("Linux has no code signatures");
    case Facility::kCount:
      break;
  }
  return Capability::NotBuilt("unknown facility");
}

platform::Facts X11Facts() {
  platform::Facts facts;
  Display* d = Dpy();
  const char* display = std::getenv("DISPLAY");
  facts.emplace_back("display", display ? display : "");
  if (!d) {
    facts.emplace_back("x_server", "does not answer");
    return facts;
  }
  facts.emplace_back("x_server_vendor", ServerVendor(d));
  facts.emplace_back("x_server_release", std::to_string(VendorRelease(d)));
  facts.emplace_back("x_protocol",
                     std::to_string(ProtocolVersion(d)) + "." + std::to_string(ProtocolRevision(d)));
  std::string wm = WindowManagerName(d);
  facts.emplace_back("window_manager", wm.empty() ? "none" : wm);
  facts.emplace_back("compositing_manager", CompositingManagerRuns(d) ? "running" : "none");
  facts.emplace_back("accessibility_bus",
                     AccessibilityBusReachable(false) ? "reachable" : "not reachable");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if (wayland && *wayland) facts.emplace_back("wayland_display", wayland);
  return facts;
}

}  // namespace x11
