#include "x11/x11_key_post.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <chrono>
#include <vector>

#include "x11/x11_display.h"
#include "x11/x11_keymap.h"
#include "x11/x11_services.h"
#include "x11/x11_windows.h"

namespace x11 {

namespace {

using Clock = std::chrono::steady_clock;

// How long a resolved target window is reused: typing posts an event every
// few milliseconds, and finding the focus window takes several round trips
// (each one slow while the application keeps the server busy). It is looked
// up again after a pause in the events or after kTargetMaxAge.
constexpr auto kTargetIdle = std::chrono::milliseconds(500);
constexpr auto kTargetMaxAge = std::chrono::seconds(2);

// The last target of this thread (each thread has its own connection).
struct Target {
  pid_t pid = 0;
  uint32_t named = 0;
  Window window = 0;
  Clock::time_point resolved;
  Clock::time_point used;
};
thread_local Target t_target;

bool ClientOfPid(Display* d, Window client, pid_t pid) {
  return client && WindowPid(d, client) == pid;
}

// The pid's top-most managed window that is shown (else its top-most one),
// from the window manager's stacking list: a property read per window.
Window TopMostWindowOf(Display* d, pid_t pid) {
  Window root = DefaultRootWindow(d);
  auto stack = Cardinals(d, root, A(d, "_NET_CLIENT_LIST_STACKING"), XA_WINDOW);
  if (stack.empty()) {
    // No window manager list: the full window model.
    for (const auto& w : WindowsOfPid(d, pid))
      if (w.viewable) return w.client;
    return 0;
  }
  Window fallback = 0;
  for (auto it = stack.rbegin(); it != stack.rend(); ++it) {
    Window w = static_cast<Window>(*it);
    if (WindowPid(d, w) != pid) continue;
    XWindowAttributes a;
    ErrorTrap trap(d);
    if (XGetWindowAttributes(d, w, &a) && !trap.Seen() && a.map_state == IsViewable) return w;
    if (!fallback) fallback = w;
  }
  return fallback;
}

// The window keys for `pid` go to when the call names none.
Window FocusWindowOf(Display* d, pid_t pid) {
  Window focus = 0;
  int revert = 0;
  XGetInputFocus(d, &focus, &revert);
  // The X focus may sit on a descendant of the client (a toolkit's focus
  // proxy): keys go to that window itself.
  if (focus != None && focus != PointerRoot && ClientOfPid(d, FocusClient(d), pid)) return focus;
  // Otherwise the pid's top-most managed window; its toolkit routes the keys
  // to the widget it has focused inside.
  return TopMostWindowOf(d, pid);
}

Window Resolve(Display* d, pid_t pid, uint32_t named) {
  Target& t = t_target;
  auto now = Clock::now();
  if (t.window && t.pid == pid && t.named == named && now - t.used < kTargetIdle &&
      now - t.resolved < kTargetMaxAge) {
    t.used = now;
    return t.window;
  }
  Window w = 0;
  if (named) {
    // A named window must be one of the pid's: keys never go to another
    // application. The owner is _NET_WM_PID, else the client that created
    // the window (X-Resource), so a child window counts too; a window that
    // does not exist has neither.
    if (ClientOfPid(d, named, pid)) w = named;
  } else {
    w = FocusWindowOf(d, pid);
  }
  t = Target{pid, named, w, now, now};
  return w;
}

void Forget() { t_target = Target{}; }

void AddKey(Display* d, Window w, bool down, unsigned int keycode, unsigned int state,
            std::vector<XEvent>* out) {
  XEvent e{};
  e.xkey.type = down ? KeyPress : KeyRelease;
  e.xkey.display = d;
  e.xkey.window = w;
  e.xkey.root = DefaultRootWindow(d);
  e.xkey.subwindow = None;
  e.xkey.time = CurrentTime;
  e.xkey.x = e.xkey.y = 1;
  e.xkey.x_root = e.xkey.y_root = 1;
  e.xkey.state = state;
  e.xkey.keycode = keycode;
  e.xkey.same_screen = True;
  out->push_back(e);
}

// Sends the events to the client that created `w` (the empty event mask):
// whatever input it selected, through core or XInput2 events. Flushed, not
// synced: waiting for the server after every key would cost a round trip
// each while the application keeps the server busy. A window that went away
// meanwhile is found when the target is next looked up.
bool Send(Display* d, Window w, std::vector<XEvent>& events) {
  for (auto& e : events) {
    if (!XSendEvent(d, w, False, NoEventMask, &e)) return false;
  }
  XFlush(d);
  return true;
}

}  // namespace

bool PostKeyToProcess(pid_t pid, uint32_t window, const platform::Event& event) {
  using platform::EventType;
  if (pid < 1 || (event.type != EventType::kKeyDown && event.type != EventType::kKeyUp)) return false;
  bool down = event.type == EventType::kKeyDown;
  // A Unicode payload is typed whole on the key-down; its key-up adds nothing.
  if (!down && !event.unicode.empty()) return true;
  Display* d = Dpy();
  if (!d) return false;
  Window w = Resolve(d, pid, window);
  if (!w) return false;
  unsigned int state = event.flags_set ? XStateOfFlags(event.flags) : 0;
  std::vector<XEvent> events;
  bool sent;
  if (event.unicode.empty()) {
    unsigned int kc = XKeycodeFor(event.keycode);
    if (!kc) return false;
    AddKey(d, w, down, kc, state, &events);
    sent = Send(d, w, events);
  } else {
    // The mapping for characters the layout lacks is the server's, shared
    // with the global path: plan and send under the same lock, on this
    // connection, so the clients see the mapping change before the keys.
    auto lock = LockTyping();
    std::vector<KeyStroke> strokes;
    if (!PlanStrokes(d, CodePoints(event.unicode), &strokes)) return false;
    for (const auto& k : strokes) {
      unsigned int s = state | (k.shift ? ShiftMask : 0);
      AddKey(d, w, true, k.keycode, s, &events);
      AddKey(d, w, false, k.keycode, s, &events);
    }
    sent = Send(d, w, events);
    NoteTyped();
  }
  // The window may have gone (BadWindow): look it up afresh next time.
  if (!sent) Forget();
  return sent;
}

}  // namespace x11
