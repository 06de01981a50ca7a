#include "x11/x11_window_input.h"

#include <X11/Xutil.h>

#include <cmath>
#include <mutex>
#include <optional>
#include <string>

#include "x11/x11_atspi_ax.h"
#include "x11/x11_display.h"
#include "x11/x11_keymap.h"
#include "x11/x11_windows.h"

namespace x11 {

namespace {

using platform::EventType;
using Delivery = platform::WindowEventDelivery;

constexpr int kAncestorsTried = 3;  // a label inside a button answers the hit test

enum class Phase { kDown, kUp, kMove, kDrag, kScroll, kNone };

Phase PhaseOf(EventType t) {
  switch (t) {
    case EventType::kLeftMouseDown:
    case EventType::kRightMouseDown:
    case EventType::kOtherMouseDown:
      return Phase::kDown;
    case EventType::kLeftMouseUp:
    case EventType::kRightMouseUp:
    case EventType::kOtherMouseUp:
      return Phase::kUp;
    case EventType::kMouseMoved:
      return Phase::kMove;
    case EventType::kLeftMouseDragged:
    case EventType::kRightMouseDragged:
    case EventType::kOtherMouseDragged:
      return Phase::kDrag;
    case EventType::kScrollWheel:
      return Phase::kScroll;
    default:
      return Phase::kNone;
  }
}

// X button numbers: 1 left, 2 middle, 3 right; other buttons from 8.
unsigned int XButtonOf(const platform::Event& e) {
  switch (e.type) {
    case EventType::kLeftMouseDown:
    case EventType::kLeftMouseUp:
    case EventType::kLeftMouseDragged:
      return 1;
    case EventType::kRightMouseDown:
    case EventType::kRightMouseUp:
    case EventType::kRightMouseDragged:
      return 3;
    default: {
      auto it = e.integer_fields.find(platform::kFieldMouseEventButtonNumber);
      const int64_t n = it == e.integer_fields.end() ? 2 : it->second;
      return n <= 0 ? 1 : n == 1 ? 3 : n == 2 ? 2 : static_cast<unsigned int>(std::min<int64_t>(n + 5, 255));
    }
  }
}

unsigned int ButtonMask(unsigned int button) {
  return button >= 1 && button <= 5 ? Button1Mask << (button - 1) : 0;
}

uint32_t WindowOf(const platform::Event& e) {
  auto it = e.integer_fields.find(platform::kFieldMouseEventWindowUnderMousePointer);
  return it == e.integer_fields.end() || it->second <= 0 ? 0 : static_cast<uint32_t>(it->second);
}

// ---- accessible actions ----

// A press begun over an accessible element: the action runs when the same
// button goes up over the same element.
struct PendingPress {
  pid_t pid = 0;
  Window window = 0;
  unsigned int button = 0;
  platform::AXElement element;
  bool caret = false;  // editable text: move the caret instead of pressing
};
std::mutex g_pending_mu;
std::optional<PendingPress>* g_pending = new std::optional<PendingPress>();

bool IsEditableText(const atspi::Node& n) {
  return (n.ifaces & atspi::kText) && atspi::Has(n.states, ATSPI_STATE_EDITABLE);
}

// The element a press at (x, y) acts on: the one there with the action the
// button means, or one of its nearest ancestors inside the window.
std::optional<PendingPress> AccessibleTarget(pid_t pid, const WindowInfo& window, unsigned int button,
                                             double x, double y) {
  if (button != 1 && button != 3) return std::nullopt;
  atspi::AppPtr app = atspi::AppForPid(pid);
  if (!app) return std::nullopt;
  platform::AXElement hit;
  if (atspi::ElementAtPointInWindow(app, window, static_cast<float>(x), static_cast<float>(y),
                                    &hit) != platform::kAXErrorSuccess) {
    return std::nullopt;
  }
  const atspi::Element* e = atspi::AsElement(hit);
  if (!e) return std::nullopt;
  const uint64_t timeout = atspi::TimeoutOf(*app);
  std::string path = e->path;
  const char* action = button == 1 ? "AXPress" : "AXShowMenu";
  for (int depth = 0; depth <= kAncestorsTried; ++depth) {
    platform::AXError err;
    auto n = atspi::Record(app, path, timeout, &err);
    if (!n || atspi::IsWindowRole(n->role)) break;
    if (button == 1 && IsEditableText(*n)) {
      return PendingPress{pid, window.client, button, atspi::MakeElement(app, path), true};
    }
    if (atspi::ActionIndexFor(*n, action) >= 0) {
      return PendingPress{pid, window.client, button, atspi::MakeElement(app, path), false};
    }
    if (n->parent.null() || n->parent.bus != app->bus) break;
    path = n->parent.path;
  }
  return std::nullopt;
}

// Runs a pending press released at (x, y): the action, or the caret placed
// at the character there.
Delivery Complete(const PendingPress& p, double x, double y) {
  const atspi::Element* e = atspi::AsElement(p.element);
  if (!e) return Delivery::kUndeliverable;
  if (!p.caret) {
    return atspi::PerformAction(*e, p.button == 1 ? "AXPress" : "AXShowMenu") ==
                   platform::kAXErrorSuccess
               ? Delivery::kDelivered
               : Delivery::kUndeliverable;
  }
  const uint64_t timeout = e->Timeout();
  std::vector<atspi::Call> at{atspi::Method(e->app->bus, e->path, "org.a11y.atspi.Text",
                                            "GetOffsetAtPoint",
                                            {int32_t(std::lround(x)), int32_t(std::lround(y)), uint32_t{0}})};
  atspi::RunFor(*e->app, &at, timeout);
  if (!at[0].ok()) return Delivery::kUndeliverable;
  int64_t offset = at[0].reply.at(0).Int(-1);
  if (offset < 0) {
    // No character there (Qt answers so below the last line, and for an
    // empty text): the caret goes to the end, as a click there puts it.
    std::vector<atspi::Call> count{atspi::GetProperty(e->app->bus, e->path, "org.a11y.atspi.Text",
                                                      "CharacterCount")};
    atspi::RunFor(*e->app, &count, timeout);
    if (!count[0].ok()) return Delivery::kUndeliverable;
    offset = count[0].reply.at(0).Int(-1);
    if (offset < 0) return Delivery::kUndeliverable;
  }
  std::vector<atspi::Call> set{atspi::Method(e->app->bus, e->path, "org.a11y.atspi.Text",
                                             "SetCaretOffset", {int32_t(offset)})};
  atspi::RunFor(*e->app, &set, timeout);
  atspi::Invalidate(*e->app, e->path);
  return set[0].ok() && set[0].reply.at(0).Int() != 0 ? Delivery::kDelivered : Delivery::kUndeliverable;
}

// Whether the element under (x, y) in the window is the pending one's.
bool SameTarget(const PendingPress& p, const WindowInfo& window, double x, double y) {
  auto now = AccessibleTarget(p.pid, window, p.button, x, y);
  return now && now->element.get() && p.element.get() && now->element.get()->SameElement(*p.element.get());
}

// ---- core events ----

// The window under (x, y) inside `client` that receives core events of
// `mask`: the deepest window there, or the nearest ancestor that selects
// them and is not behind a window that stops their propagation. 0: none.
Window CoreReceiver(Display* d, Window client, int x, int y, long mask, Window* child_of_receiver) {
  Window root = DefaultRootWindow(d);
  std::vector<Window> chain{client};
  for (int depth = 0; depth < 32; ++depth) {
    int lx = 0, ly = 0;
    Window child = 0;
    if (!XTranslateCoordinates(d, root, chain.back(), x, y, &lx, &ly, &child) || !child) break;
    chain.push_back(child);
  }
  for (size_t i = chain.size(); i-- > 0;) {
    XWindowAttributes a;
    ErrorTrap trap(d);
    if (!XGetWindowAttributes(d, chain[i], &a) || trap.Seen()) return 0;
    if (a.all_event_masks & mask) {
      *child_of_receiver = i + 1 < chain.size() ? chain[i + 1] : None;
      return chain[i];
    }
    if (a.do_not_propagate_mask & mask) return 0;
  }
  return 0;
}

bool InsideClient(Display* d, Window client, int x, int y) {
  int lx = 0, ly = 0;
  Window child = 0;
  XWindowAttributes a;
  ErrorTrap trap(d);
  if (!XTranslateCoordinates(d, DefaultRootWindow(d), client, x, y, &lx, &ly, &child) ||
      !XGetWindowAttributes(d, client, &a) || trap.Seen()) {
    return false;
  }
  return lx >= 0 && ly >= 0 && lx < a.width && ly < a.height;
}

// Sends one core pointer event to the receiver under (x, y); kPosted once
// the server took it, kUndeliverable when no window there selects it.
Delivery SendCore(Display* d, Window client, int type, unsigned int button, unsigned int state, int x,
                  int y) {
  long mask = type == ButtonPress     ? ButtonPressMask
              : type == ButtonRelease ? ButtonReleaseMask
                                      : PointerMotionMask;
  if (type == MotionNotify && (state & (Button1Mask | Button2Mask | Button3Mask | Button4Mask | Button5Mask))) {
    mask |= ButtonMotionMask;
    for (unsigned int b = 1; b <= 5; ++b)
      if (state & ButtonMask(b)) mask |= Button1MotionMask << (b - 1);
  }
  Window child = None;
  Window receiver = CoreReceiver(d, client, x, y, mask, &child);
  if (!receiver) return Delivery::kUndeliverable;
  int lx = 0, ly = 0;
  Window unused = 0;
  if (!XTranslateCoordinates(d, DefaultRootWindow(d), receiver, x, y, &lx, &ly, &unused))
    return Delivery::kUndeliverable;
  XEvent ev{};
  // The fields motion and button events share.
  auto address = [&](auto& e) {
    e.type = type;
    e.display = d;
    e.window = receiver;
    e.root = DefaultRootWindow(d);
    e.subwindow = child;
    e.time = CurrentTime;
    e.x = lx;
    e.y = ly;
    e.x_root = x;
    e.y_root = y;
    e.state = state;
    e.same_screen = True;
  };
  if (type == MotionNotify) {
    address(ev.xmotion);
    ev.xmotion.is_hint = NotifyNormal;
  } else {
    address(ev.xbutton);
    ev.xbutton.button = button;
  }
  ErrorTrap trap(d);
  const bool sent = XSendEvent(d, receiver, False, mask, &ev) != 0;
  return sent && trap.Check() == 0 ? Delivery::kPosted : Delivery::kUndeliverable;
}

// Wheel clicks as buttons 4/5 (vertical) and 6/7 (horizontal), one press per
// line of 10 pixels.
Delivery SendWheel(Display* d, Window client, const platform::Event& e, unsigned int mods, int x, int y) {
  auto lines = [&](int32_t delta) {
    if (e.scroll_units_pixel != 1 || delta == 0) return delta;
    int32_t l = static_cast<int32_t>(std::lround(delta / 10.0));
    return l != 0 ? l : (delta > 0 ? 1 : -1);
  };
  Delivery result = Delivery::kUndeliverable;
  const int32_t axes[2][3] = {{lines(e.scroll_deltas[0]), 4, 5}, {lines(e.scroll_deltas[1]), 6, 7}};
  for (const auto& axis : axes) {
    const unsigned int button = static_cast<unsigned int>(axis[0] > 0 ? axis[1] : axis[2]);
    for (int32_t i = 0; i < std::min(std::abs(axis[0]), 100); ++i) {
      if (SendCore(d, client, ButtonPress, button, mods, x, y) == Delivery::kUndeliverable ||
          SendCore(d, client, ButtonRelease, button, mods | ButtonMask(button), x, y) ==
              Delivery::kUndeliverable) {
        return Delivery::kUndeliverable;
      }
      result = Delivery::kPosted;
    }
  }
  return result;
}

}  // namespace

platform::WindowEventDelivery PostWindowMouseEvent(pid_t pid, const platform::Event& e) {
  const Phase phase = PhaseOf(e.type);
  const Window client = WindowOf(e);
  Display* d = Dpy();
  // Points outside the window (the platform's (-1, -1) primer) have no X meaning.
  if (phase == Phase::kNone || !client || !d ||
      (e.window_location && e.window_location->x < 0 && e.window_location->y < 0)) {
    return Delivery::kUndeliverable;
  }
  auto window = FindWindow(d, client);
  if (!window || window->pid != pid || !window->viewable) return Delivery::kUndeliverable;
  const int x = static_cast<int>(std::lround(e.location.x));
  const int y = static_cast<int>(std::lround(e.location.y));
  const unsigned int button = XButtonOf(e);
  const unsigned int mods = XStateOfFlags(e.flags);

  if (phase == Phase::kDown) {
    // Modifiers have no accessible meaning: such presses go as core events.
    std::optional<PendingPress> target;
    if (mods == 0) target = AccessibleTarget(pid, *window, button, x, y);
    std::lock_guard<std::mutex> l(g_pending_mu);
    *g_pending = std::move(target);
    if (*g_pending) return Delivery::kPosted;  // the release decides
  } else if (phase == Phase::kUp) {
    std::optional<PendingPress> pending;
    {
      std::lock_guard<std::mutex> l(g_pending_mu);
      pending.swap(*g_pending);
    }
    if (pending && pending->pid == pid && pending->window == client && pending->button == button) {
      // Released away from the element: no press, as with a real pointer.
      if (!SameTarget(*pending, *window, x, y)) return Delivery::kUndeliverable;
      return Complete(*pending, x, y);
    }
  }

  if (!InsideClient(d, client, x, y)) return Delivery::kUndeliverable;
  switch (phase) {
    case Phase::kDown:
      return SendCore(d, client, ButtonPress, button, mods, x, y);
    case Phase::kUp:
      return SendCore(d, client, ButtonRelease, button, mods | ButtonMask(button), x, y);
    case Phase::kMove:
      return SendCore(d, client, MotionNotify, 0, mods, x, y);
    case Phase::kDrag:
      return SendCore(d, client, MotionNotify, 0, mods | ButtonMask(button), x, y);
    case Phase::kScroll:
      return SendWheel(d, client, e, mods, x, y);
    case Phase::kNone:
      break;
  }
  return Delivery::kUndeliverable;
}

}  // namespace x11
