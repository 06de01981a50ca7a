#include <signal.h>

#include <atomic>
#include <chrono>
#include <functional>

#include "x11/x11_atspi_ax.h"
#include "x11/x11_ax.h"
#include "x11/x11_busy.h"
#include "x11/x11_display.h"
#include "x11/x11_services.h"
#include "x11/x11_windows.h"

namespace x11 {

namespace {

using platform::AXElement;
using platform::AXError;
using platform::Value;
namespace at = x11::atspi;

enum class Kind { kSystemWide, kApp, kWindow };

class Element final : public platform::ElementObject {
 public:
  Element(Kind kind, pid_t pid, Window window) : kind(kind), pid(pid), window(window) {}
  void Retain() override { refs_.fetch_add(1, std::memory_order_relaxed); }
  void Release() override {
    if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }
  bool SameElement(const platform::ElementObject& other) const override {
    auto* o = dynamic_cast<const Element*>(&other);
    return o && o->kind == kind && o->pid == pid && o->window == window;
  }
  size_t Hash() const override {
    return std::hash<uint64_t>()((static_cast<uint64_t>(kind) << 62) ^
                                 (static_cast<uint64_t>(pid) << 32) ^ window);
  }

  const Kind kind;
  const pid_t pid;
  const Window window;

 private:
  std::atomic<int> refs_{1};
};

AXElement Make(Kind kind, pid_t pid, Window window = 0) {
  return AXElement::Adopt(new Element(kind, pid, window));
}

const Element* Get(const AXElement& el) { return dynamic_cast<const Element*>(el.get()); }

bool Alive(pid_t pid) { return pid > 0 && kill(pid, 0) == 0; }

// The pid's windows as elements, top-most first.
std::vector<WindowInfo> AppWindows(Display* d, pid_t pid) {
  std::vector<WindowInfo> out;
  for (auto& w : WindowsOfPid(d, pid))
    if (!w.override_redirect) out.push_back(std::move(w));
  return out;
}

Value WindowArray(const std::vector<WindowInfo>& windows, pid_t pid) {
  platform::Array a;
  for (const auto& w : windows) a.push_back(Value(Make(Kind::kWindow, pid, w.client)));
  return Value(std::move(a));
}

// The window the application works in: the active window when it is the
// application's, else its top-most normal window.
std::optional<Window> KeyWindow(Display* d, pid_t pid) {
  auto windows = AppWindows(d, pid);
  Window active = ActiveWindow(d);
  for (const auto& w : windows)
    if (w.client == active) return active;
  for (const auto& w : windows)
    if (w.normal_type) return w.client;
  return std::nullopt;
}

AXError AppAttribute(Display* d, const Element& e, const std::string& attr, Value* out) {
  if (!Alive(e.pid)) return platform::kAXErrorCannotComplete;
  if (attr == "AXRole") {
    *out = Value("AXApplication");
  } else if (attr == "AXTitle") {
    X11Workspace ws;
    auto app = ws.RunningApplicationWithPid(e.pid);
    if (!app || !app->name) return platform::kAXErrorNoValue;
    *out = Value(*app->name);
  } else if (attr == "AXWindows" || attr == "AXChildren") {
    *out = WindowArray(AppWindows(d, e.pid), e.pid);
  } else if (attr == "AXFocusedWindow" || attr == "AXMainWindow") {
    auto w = KeyWindow(d, e.pid);
    if (!w) return platform::kAXErrorNoValue;
    *out = Value(Make(Kind::kWindow, e.pid, *w));
  } else if (attr == "AXFrontmost") {
    Window active = ActiveWindow(d);
    *out = Value(active != 0 && WindowPid(d, active) == e.pid);
  } else if (attr == "AXFocusedUIElement") {
    return platform::kAXErrorNoValue;
  } else {
    return platform::kAXErrorAttributeUnsupported;
  }
  return platform::kAXErrorSuccess;
}

AXError WindowAttribute(Display* d, const Element& e, const std::string& attr, Value* out) {
  auto w = FindWindow(d, e.window);
  if (!w || w->pid != e.pid) return platform::kAXErrorInvalidUIElement;
  if (attr == "AXRole") {
    *out = Value("AXWindow");
  } else if (attr == "AXSubrole") {
    *out = Value(w->layer == kLayerNormal ? "AXStandardWindow" : "AXFloatingWindow");
  } else if (attr == "AXTitle") {
    *out = Value(w->title.value_or(""));
  } else if (attr == "AXPosition") {
    *out = Value(platform::Point{w->bounds.x, w->bounds.y});
  } else if (attr == "AXSize") {
    *out = Value(platform::Size{w->bounds.width, w->bounds.height});
  } else if (attr == "AXMain" || attr == "AXFocused") {
    *out = Value(ActiveWindow(d) == w->client);
  } else if (attr == "AXMinimized") {
    *out = Value(!w->viewable);
  } else if (attr == "AXChildren" || attr == "AXVisibleChildren") {
    *out = Value(platform::Array{});
  } else if (attr == "AXParent") {
    *out = Value(Make(Kind::kApp, e.pid));
  } else if (attr == "AXWindow" || attr == "AXTopLevelUIElement") {
    *out = Value(Make(Kind::kWindow, e.pid, e.window));
  } else {
    return platform::kAXErrorAttributeUnsupported;
  }
  return platform::kAXErrorSuccess;
}

AXError SystemAttribute(Display* d, const std::string& attr, Value* out) {
  if (attr == "AXRole") {
    *out = Value("AXSystemWide");
  } else if (attr == "AXFocusedApplication") {
    Window active = ActiveWindow(d);
    pid_t pid = active ? WindowPid(d, active) : 0;
    if (pid <= 0) return platform::kAXErrorNoValue;
    auto app = at::AppForPid(pid);
    *out = Value(app ? at::MakeElement(app, at::kRootPath) : Make(Kind::kApp, pid));
  } else if (attr == "AXFocusedUIElement") {
    Window active = ActiveWindow(d);
    pid_t pid = active ? WindowPid(d, active) : 0;
    auto app = pid > 0 ? at::AppForPid(pid) : nullptr;
    AXElement focused = app ? at::FocusedElement(app) : AXElement();
    if (!focused) return platform::kAXErrorNoValue;
    *out = Value(std::move(focused));
  } else {
    return platform::kAXErrorAttributeUnsupported;
  }
  return platform::kAXErrorSuccess;
}

const std::vector<std::string>& NamesOf(Kind kind) {
  static const std::vector<std::string> app = {"AXRole",       "AXTitle",      "AXWindows",
                                               "AXChildren",   "AXFocusedWindow", "AXMainWindow",
                                               "AXFrontmost",  "AXFocusedUIElement"};
  static const std::vector<std::string> window = {
      "AXRole", "AXSubrole", "AXTitle",    "AXPosition", "AXSize",   "AXMain",
      "AXFocused", "AXMinimized", "AXChildren", "AXParent", "AXWindow"};
  static const std::vector<std::string> system = {"AXRole", "AXFocusedApplication",
                                                  "AXFocusedUIElement"};
  return kind == Kind::kApp ? app : kind == Kind::kWindow ? window : system;
}

}  // namespace

std::atomic<int64_t>& BusyNsCounter() {
  static std::atomic<int64_t> ns{0};
  return ns;
}

bool X11Accessibility::IsProcessTrusted(bool prompt) { return AccessibilityBusReachable(prompt); }

AXElement X11Accessibility::CreateApplication(pid_t pid) {
  BusyTimer busy;
  if (pid <= 0) return {};
  // Applications on the accessibility bus answer with their whole tree;
  // others only at window level.
  if (auto app = at::AppForPid(pid)) return at::MakeElement(app, at::kRootPath);
  return Make(Kind::kApp, pid);
}

AXElement X11Accessibility::CreateSystemWide() { return Make(Kind::kSystemWide, 0); }

AXError X11Accessibility::CopyAttributeValue(const AXElement& el, const std::string& attr,
                                             Value* out) {
  BusyTimer busy;
  if (auto* a = at::AsElement(el)) return at::CopyAttribute(*a, attr, out);
  const Element* e = Get(el);
  if (!e) return platform::kAXErrorIllegalArgument;
  Display* d = Dpy();
  if (!d) return platform::kAXErrorCannotComplete;
  Value v;
  AXError err = e->kind == Kind::kApp      ? AppAttribute(d, *e, attr, &v)
                : e->kind == Kind::kWindow ? WindowAttribute(d, *e, attr, &v)
                                           : SystemAttribute(d, attr, &v);
  if (err == platform::kAXErrorSuccess && out) *out = std::move(v);
  return err;
}

AXError X11Accessibility::CopyMultipleAttributeValues(const AXElement& el,
                                                      const std::vector<std::string>& attrs,
                                                      std::vector<Value>* out) {
  BusyTimer busy;
  if (auto* a = at::AsElement(el)) return at::CopyAttributes(*a, attrs, out);
  const Element* e = Get(el);
  if (!e) return platform::kAXErrorIllegalArgument;
  if (e->kind == Kind::kApp && !Alive(e->pid)) return platform::kAXErrorCannotComplete;
  out->clear();
  for (const auto& a : attrs) {
    Value v;
    AXError err = CopyAttributeValue(el, a, &v);
    if (err == platform::kAXErrorInvalidUIElement || err == platform::kAXErrorCannotComplete) {
      out->clear();
      return err;
    }
    out->push_back(err == platform::kAXErrorSuccess ? std::move(v) : Value(platform::ErrorValue{err}));
  }
  return platform::kAXErrorSuccess;
}

AXError X11Accessibility::CopyAttributeNames(const AXElement& el, std::vector<std::string>* out) {
  BusyTimer busy;
  if (auto* a = at::AsElement(el)) return at::CopyAttributeNames(*a, out);
  const Element* e = Get(el);
  if (!e) return platform::kAXErrorIllegalArgument;
  *out = NamesOf(e->kind);
  return platform::kAXErrorSuccess;
}

AXError X11Accessibility::GetAttributeValueCount(const AXElement& el, const std::string& attr,
                                                 int64_t* count) {
  BusyTimer busy;
  if (auto* a = at::AsElement(el); a && attr == "AXChildren" && !a->IsApp()) return at::ChildCount(*a, count);
  Value v;
  AXError err = CopyAttributeValue(el, attr, &v);
  if (err != platform::kAXErrorSuccess) return err;
  if (!v.array()) return platform::kAXErrorIllegalArgument;
  if (count) *count = static_cast<int64_t>(v.array()->size());
  return platform::kAXErrorSuccess;
}

AXError X11Accessibility::IsAttributeSettable(const AXElement& el, const std::string& attr,
                                              bool* settable) {
  BusyTimer busy;
  if (auto* a = at::AsElement(el)) return at::IsSettable(*a, attr, settable);
  const Element* e = Get(el);
  if (!e) return platform::kAXErrorIllegalArgument;
  bool s = false;
  if (e->kind == Kind::kWindow)
    s = attr == "AXPosition" || attr == "AXSize" || attr == "AXMain" || attr == "AXFocused";
  else if (e->kind == Kind::kApp)
    s = attr == "AXFrontmost" || attr == "AXFocusedWindow" || attr == "AXMainWindow";
  if (settable) *settable = s;
  return platform::kAXErrorSuccess;
}

AXError X11Accessibility::SetAttributeValue(const AXElement& el, const std::string& attr,
                                            const Value& value) {
  BusyTimer busy;
  if (auto* a = at::AsElement(el)) return at::SetAttribute(*a, attr, value);
  const Element* e = Get(el);
  if (!e) return platform::kAXErrorIllegalArgument;
  Display* d = Dpy();
  if (!d) return platform::kAXErrorCannotComplete;
  if (e->kind == Kind::kSystemWide) return platform::kAXErrorAttributeUnsupported;
  if (e->kind == Kind::kApp) {
    if (!Alive(e->pid)) return platform::kAXErrorCannotComplete;
    if (attr == "AXManualAccessibility" || attr == "AXEnhancedUserInterface") {
      // The warm-up request: ask toolkits to expose their trees.
      AccessibilityBusReachable(true);
      return platform::kAXErrorSuccess;
    }
    if (attr == "AXFrontmost") {
      if (!value.boolean()) return platform::kAXErrorIllegalArgument;
      if (!*value.boolean()) return platform::kAXErrorSuccess;
      auto w = KeyWindow(d, e->pid);
      return w && RequestActivate(d, *w) ? platform::kAXErrorSuccess : platform::kAXErrorFailure;
    }
    if (attr == "AXFocusedWindow" || attr == "AXMainWindow") {
      const Element* w = value.element() ? Get(*value.element()) : nullptr;
      if (!w || w->kind != Kind::kWindow || w->pid != e->pid) return platform::kAXErrorIllegalArgument;
      return RequestActivate(d, w->window) ? platform::kAXErrorSuccess : platform::kAXErrorFailure;
    }
    return platform::kAXErrorAttributeUnsupported;
  }
  auto w = FindWindow(d, e->window);
  if (!w || w->pid != e->pid) return platform::kAXErrorInvalidUIElement;
  if (attr == "AXMain" || attr == "AXFocused") {
    if (!value.boolean()) return platform::kAXErrorIllegalArgument;
    if (!*value.boolean()) return platform::kAXErrorSuccess;
    return RequestActivate(d, w->client) ? platform::kAXErrorSuccess : platform::kAXErrorFailure;
  }
  if (attr == "AXPosition" || attr == "AXSize") {
    bool ok = attr == "AXPosition"
                  ? value.point() && RequestMoveResize(d, w->client, *value.point(), std::nullopt)
                  : value.size() && RequestMoveResize(d, w->client, std::nullopt, *value.size());
    return ok ? platform::kAXErrorSuccess : platform::kAXErrorIllegalArgument;
  }
  return platform::kAXErrorAttributeUnsupported;
}

AXError X11Accessibility::CopyParameterizedAttributeValue(const AXElement& el,
                                                          const std::string& attr,
                                                          const Value& parameter, Value* out) {
  BusyTimer busy;
  if (auto* a = at::AsElement(el)) return at::CopyParameterized(*a, attr, parameter, out);
  return Get(el) ? platform::kAXErrorParameterizedAttributeUnsupported
                 : platform::kAXErrorIllegalArgument;
}

AXError X11Accessibility::CopyActionNames(const AXElement& el, std::vector<std::string>* out) {
  BusyTimer busy;
  if (auto* a = at::AsElement(el)) return at::CopyActionNames(*a, out);
  const Element* e = Get(el);
  if (!e) return platform::kAXErrorIllegalArgument;
  out->clear();
  if (e->kind == Kind::kWindow) out->push_back("AXRaise");
  return platform::kAXErrorSuccess;
}

AXError X11Accessibility::PerformAction(const AXElement& el, const std::string& action) {
  BusyTimer busy;
  if (auto* a = at::AsElement(el)) return at::PerformAction(*a, action);
  const Element* e = Get(el);
  if (!e) return platform::kAXErrorIllegalArgument;
  if (e->kind != Kind::kWindow || action != "AXRaise") return platform::kAXErrorActionUnsupported;
  Display* d = Dpy();
  if (!d) return platform::kAXErrorCannotComplete;
  auto w = FindWindow(d, e->window);
  if (!w || w->pid != e->pid) return platform::kAXErrorInvalidUIElement;
  return RequestActivate(d, w->client) ? platform::kAXErrorSuccess : platform::kAXErrorFailure;
}

AXError X11Accessibility::GetPid(const AXElement& el, pid_t* pid) {
  BusyTimer busy;
  if (auto* a = at::AsElement(el)) {
    if (pid) *pid = a->app->pid;
    return platform::kAXErrorSuccess;
  }
  const Element* e = Get(el);
  if (!e) return platform::kAXErrorIllegalArgument;
  if (pid) *pid = e->pid;
  return platform::kAXErrorSuccess;
}

AXError X11Accessibility::GetWindow(const AXElement& el, uint32_t* window_id) {
  BusyTimer busy;
  if (auto* a = at::AsElement(el)) {
    AXError err;
    Window w = at::XWindowOf(*a, &err);
    if (!w) return err ? err : platform::kAXErrorFailure;
    if (window_id) *window_id = static_cast<uint32_t>(w);
    return platform::kAXErrorSuccess;
  }
  const Element* e = Get(el);
  if (!e) return platform::kAXErrorIllegalArgument;
  if (e->kind != Kind::kWindow) return platform::kAXErrorFailure;
  if (window_id) *window_id = static_cast<uint32_t>(e->window);
  return platform::kAXErrorSuccess;
}

// Per element, per application when set on the application, process-wide
// when set on the system-wide element; 0 restores the default. Window-level
// elements wait on no other process (every answer is one X round trip).
AXError X11Accessibility::SetMessagingTimeout(const AXElement& el, float seconds) {
  BusyTimer busy;
  if (!(seconds >= 0) || seconds > 1e6) return platform::kAXErrorIllegalArgument;
  uint64_t usec = static_cast<uint64_t>(static_cast<double>(seconds) * 1e6);
  if (auto* a = at::AsElement(el)) {
    if (a->IsApp()) a->app->timeout_usec = usec;
    else a->timeout_usec = usec;
    return platform::kAXErrorSuccess;
  }
  const Element* e = Get(el);
  if (!e) return platform::kAXErrorIllegalArgument;
  if (e->kind == Kind::kSystemWide) at::GlobalTimeoutUsec() = usec;
  return platform::kAXErrorSuccess;
}

AXError X11Accessibility::CopyElementAtPosition(const AXElement& app, float x, float y,
                                                AXElement* out) {
  BusyTimer busy;
  if (auto* a = at::AsElement(app)) {
    if (!a->IsApp()) return platform::kAXErrorIllegalArgument;
    return at::ElementAtPoint(a->app, x, y, out);
  }
  const Element* e = Get(app);
  if (!e || e->kind == Kind::kWindow) return platform::kAXErrorIllegalArgument;
  if (e->kind == Kind::kSystemWide) {
    // Applications on the accessibility bus answer with the deepest object;
    // the others with their window.
    AXError err = at::ElementAtPoint(nullptr, x, y, out);
    if (err != platform::kAXErrorAttributeUnsupported) return err;
  }
  Display* d = Dpy();
  if (!d) return platform::kAXErrorCannotComplete;
  for (const auto& w : ListWindows(d)) {
    if (!w.on_screen || w.override_redirect || w.pid <= 0) continue;
    const auto& b = w.bounds;
    if (x < b.x || y < b.y || x >= b.x + b.width || y >= b.y + b.height) continue;
    // The front-most window there decides, as a click would.
    if (e->kind == Kind::kApp && w.pid != e->pid) return platform::kAXErrorNoValue;
    if (out) *out = Make(Kind::kWindow, w.pid, w.client);
    return platform::kAXErrorSuccess;
  }
  return platform::kAXErrorNoValue;
}

}  // namespace x11
