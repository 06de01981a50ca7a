// AX attributes of AT-SPI objects: reads answered from the object's record
// (a hash lookup during a capture), live reads where a fresh answer matters,
// settable queries and sets.
#include "x11/x11_atspi_ax.h"

#include <X11/Xatom.h>

#include <deque>
#include <functional>
#include <thread>
#include <unordered_set>

#include "x11/x11_display.h"
#include "x11/x11_windows.h"

namespace x11::atspi {

using platform::AXElement;
using platform::AXError;
using platform::Value;

namespace {

std::atomic<int64_t> g_live{0};

const char* const kAcc = "org.a11y.atspi.Accessible";
const char* const kTextIface = "org.a11y.atspi.Text";

Call On(const Element& e, const char* iface, const char* member, std::vector<Arg> args = {}) {
  return Method(e.app->bus, e.path, iface, member, std::move(args));
}

// One live call on the element's application with the element's time-out.
Call Live(const Element& e, Call c) {
  std::vector<Call> one;
  one.push_back(std::move(c));
  RunFor(*e.app, &one, e.Timeout());
  return std::move(one[0]);
}

// A boolean-answering method: false is the platform's "failure".
AXError BoolCall(const Element& e, Call c) {
  Call r = Live(e, std::move(c));
  if (!r.ok()) return r.err;
  Invalidate(*e.app, e.path);
  return r.reply.at(0).Int() ? platform::kAXErrorSuccess : platform::kAXErrorFailure;
}

// Whether a write that answered true took effect, by `took` read back now
// and for a moment after (toolkits may apply it on their next turn): the
// platform's failure when it never does.
AXError Confirmed(const Element& e, const std::function<bool(const Element&)>& took) {
  constexpr int kTries = 10;
  constexpr auto kPause = std::chrono::milliseconds(25);
  for (int i = 0; i < kTries; ++i) {
    if (i > 0) std::this_thread::sleep_for(kPause);
    if (took(e)) return platform::kAXErrorSuccess;
  }
  return platform::kAXErrorFailure;
}

Value Elements(const std::vector<Ref>& refs, const AppPtr& owner) {
  platform::Array a;
  for (const auto& r : refs)
    if (auto el = ElementFor(r, owner)) a.push_back(Value(std::move(el)));
  return Value(std::move(a));
}

bool IsCheckable(uint32_t role) {
  return role == ATSPI_ROLE_CHECK_BOX || role == ATSPI_ROLE_RADIO_BUTTON ||
         role == ATSPI_ROLE_TOGGLE_BUTTON || role == ATSPI_ROLE_CHECK_MENU_ITEM ||
         role == ATSPI_ROLE_RADIO_MENU_ITEM;
}

AXError ValueOf(const Node& n, Value* out) {
  if (n.text && (IsTextRole(n.role) || Has(n.states, ATSPI_STATE_EDITABLE))) {
    *out = Value(*n.text);
  } else if (IsCheckable(n.role)) {
    *out = Value(Has(n.states, ATSPI_STATE_CHECKED)         ? 1
                 : Has(n.states, ATSPI_STATE_INDETERMINATE) ? 2
                                                            : 0);
  } else if (n.value) {
    *out = Value(*n.value);
  } else if (n.role == ATSPI_ROLE_COMBO_BOX || n.role == ATSPI_ROLE_LABEL ||
             n.role == ATSPI_ROLE_STATIC) {
    if (n.name.empty()) return platform::kAXErrorNoValue;
    *out = Value(n.name);
  } else {
    return platform::kAXErrorNoValue;
  }
  return platform::kAXErrorSuccess;
}

// Walks records breadth-first below `from` (at most `limit` objects) and
// answers the first that `match` accepts.
std::shared_ptr<const Node> Find(const Element& from, size_t limit,
                                 const std::function<bool(const Node&)>& match) {
  AXError err;
  std::deque<std::string> queue{from.path};
  std::unordered_set<std::string> seen;
  while (!queue.empty() && seen.size() < limit) {
    std::string path = queue.front();
    queue.pop_front();
    if (!seen.insert(path).second) continue;
    auto n = Record(from.app, path, from.Timeout(), &err);
    if (!n) {
      if (err == platform::kAXErrorCannotComplete) return nullptr;
      continue;
    }
    if (path != from.path && match(*n)) return n;
    for (const auto& c : n->children)
      if (c.bus == from.app->bus) queue.push_back(c.path);
  }
  return nullptr;
}

// The application's windows (its children of a window role that are shown
// or minimised), in the application's order.
std::vector<std::shared_ptr<const Node>> Windows(const Element& app) {
  std::vector<std::shared_ptr<const Node>> out;
  AXError err;
  auto root = Record(app.app, kRootPath, app.Timeout(), &err);
  if (!root) return out;
  for (const auto& c : root->children) {
    auto n = c.bus == app.app->bus ? Record(app.app, c.path, app.Timeout(), &err) : nullptr;
    if (n && IsWindowRole(n->role) &&
        (Has(n->states, ATSPI_STATE_SHOWING) || Has(n->states, ATSPI_STATE_ICONIFIED)))
      out.push_back(n);
  }
  return out;
}

std::shared_ptr<const Node> KeyWindow(const Element& app) {
  auto windows = Windows(app);
  for (const auto& w : windows)
    if (Has(w->states, ATSPI_STATE_ACTIVE)) return w;
  return windows.empty() ? nullptr : windows.front();
}

// A window whose accessible name is empty (client-side decorated GTK
// windows) is titled by its X window, as the window list shows it.
std::string XTitleOf(const Element& e) {
  AXError err;
  Window w = XWindowOf(e, &err);
  Display* d = Dpy();
  if (!w || !d) return {};
  auto title = Text(d, w, A(d, "_NET_WM_NAME"));
  if (!title) title = Text(d, w, XA_WM_NAME);
  return title.value_or(std::string());
}

AXError AppAttribute(const Element& e, const Node& n, const std::string& attr, Value* out) {
  if (attr == "AXWindows") {
    platform::Array a;
    for (const auto& w : Windows(e)) a.push_back(Value(MakeElement(e.app, w->self.path)));
    *out = Value(std::move(a));
  } else if (attr == "AXFocusedWindow" || attr == "AXMainWindow") {
    auto w = KeyWindow(e);
    if (!w) return platform::kAXErrorNoValue;
    *out = Value(MakeElement(e.app, w->self.path));
  } else if (attr == "AXMenuBar") {
    auto w = KeyWindow(e);
    if (!w) return platform::kAXErrorNoValue;
    Element win(e.app, w->self.path);
    auto bar = Find(win, 400, [](const Node& m) { return m.role == ATSPI_ROLE_MENU_BAR; });
    if (!bar) return platform::kAXErrorNoValue;
    *out = Value(MakeElement(e.app, bar->self.path));
  } else if (attr == "AXFrontmost") {
    Display* d = Dpy();
    Window active = d ? ActiveWindow(d) : 0;
    *out = Value(active != 0 && WindowPid(d, active) == e.app->pid);
  } else if (attr == "AXFocusedUIElement") {
    auto f = FocusedElement(e.app);
    if (!f) return platform::kAXErrorNoValue;
    *out = Value(std::move(f));
  } else if (attr == "AXTitle") {
    *out = Value(n.name);
  } else if (attr == "AXRole") {
    *out = Value("AXApplication");
  } else if (attr == "AXChildren") {
    *out = Elements(n.children, e.app);
  } else {
    return platform::kAXErrorAttributeUnsupported;
  }
  return platform::kAXErrorSuccess;
}

AXError Attribute(const Element& e, const Node& n, const std::string& attr, Value* out) {
  if (e.IsApp()) return AppAttribute(e, n, attr, out);
  const bool window = IsWindowRole(n.role);
  const uint64_t s = n.states;
  if (attr == "AXRole") {
    *out = Value(RoleFor(n).role);
  } else if (attr == "AXSubrole") {
    const char* sub = RoleFor(n).subrole;
    if (!sub) return platform::kAXErrorNoValue;
    *out = Value(sub);
  } else if (attr == "AXTitle") {
    *out = Value(window && n.name.empty() ? XTitleOf(e) : n.name);
  } else if (attr == "AXDescription") {
    *out = Value(n.description);
  } else if (attr == "AXValue") {
    return ValueOf(n, out);
  } else if (attr == "AXPosition" || attr == "AXSize" || attr == "AXFrame" ||
             attr == "AXActivationPoint") {
    platform::Rect r{double(n.x), double(n.y), double(n.w), double(n.h)};
    // A window is its X window's outer frame, as the window list and window
    // images have it, whatever the toolkit reports (Qt and Gecko the client
    // rectangle, GTK4 its own size at the origin).
    // (Qt also gives widgets inside a window the frame role: only the
    // application's own children are windows.)
    std::optional<platform::Rect> frame =
        window && n.parent.path == kRootPath ? OuterFrameOf(e) : std::nullopt;
    if (frame) r = *frame;
    else if (!n.has_extents)
      return n.ifaces & kComponent ? platform::kAXErrorNoValue : platform::kAXErrorAttributeUnsupported;
    if (attr == "AXPosition") *out = Value(platform::Point{r.x, r.y});
    else if (attr == "AXSize") *out = Value(platform::Size{r.width, r.height});
    else if (attr == "AXFrame") *out = Value(r);
    else *out = Value(platform::Point{r.x + r.width / 2, r.y + r.height / 2});
  } else if (attr == "AXEnabled") {
    *out = Value(Has(s, ATSPI_STATE_ENABLED) && Has(s, ATSPI_STATE_SENSITIVE));
  } else if (attr == "AXFocused") {
    *out = Value(window ? Has(s, ATSPI_STATE_ACTIVE) : Has(s, ATSPI_STATE_FOCUSED));
  } else if (attr == "AXMain" && window) {
    *out = Value(Has(s, ATSPI_STATE_ACTIVE));
  } else if (attr == "AXMinimized" && window) {
    *out = Value(Has(s, ATSPI_STATE_ICONIFIED));
  } else if (attr == "AXSelected") {
    if (!Has(s, ATSPI_STATE_SELECTABLE)) return platform::kAXErrorAttributeUnsupported;
    *out = Value(Has(s, ATSPI_STATE_SELECTED));
  } else if (attr == "AXExpanded") {
    if (!Has(s, ATSPI_STATE_EXPANDABLE)) return platform::kAXErrorAttributeUnsupported;
    *out = Value(Has(s, ATSPI_STATE_EXPANDED));
  } else if (attr == "AXActionNames") {
    platform::Array a;
    for (auto& name : AxActionNames(n)) a.push_back(Value(name));
    *out = Value(std::move(a));
  } else if (attr == "AXChildren") {
    *out = Elements(n.children, e.app);
  } else if (attr == "AXVisibleChildren") {
    std::vector<Ref> shown;
    AXError err;
    for (const auto& c : n.children) {
      auto cn = c.bus == e.app->bus ? Record(e.app, c.path, e.Timeout(), &err) : nullptr;
      if (cn && Has(cn->states, ATSPI_STATE_SHOWING)) shown.push_back(c);
    }
    *out = Elements(shown, e.app);
  } else if (attr == "AXParent") {
    if (n.parent.null()) return platform::kAXErrorNoValue;
    *out = Value(ElementFor(n.parent, e.app));
  } else if (attr == "AXTitleUIElement") {
    if (!n.labelled_by) return platform::kAXErrorNoValue;
    *out = Value(ElementFor(*n.labelled_by, e.app));
  } else if (attr == "AXHelp") {
    return platform::kAXErrorNoValue;
  } else if (attr == "AXIdentifier") {
    if (!n.identifier) return platform::kAXErrorNoValue;
    *out = Value(*n.identifier);
  } else if (attr == "AXWindow" || attr == "AXTopLevelUIElement") {
    AXError err;
    std::shared_ptr<const Node> at = Record(e.app, e.path, e.Timeout(), &err);
    for (int depth = 0; at && depth < 64 && !IsWindowRole(at->role); ++depth)
      at = at->parent.null() || at->parent.bus != e.app->bus ? nullptr
                                                              : Record(e.app, at->parent.path, e.Timeout(), &err);
    if (!at) return platform::kAXErrorNoValue;
    *out = Value(MakeElement(e.app, at->self.path));
  } else if (attr == "AXSelectedTextRange" || attr == "AXNumberOfCharacters") {
    if (!(n.ifaces & kText)) return platform::kAXErrorAttributeUnsupported;
    if (attr == "AXNumberOfCharacters") {
      Call c = Live(e, GetProperty(e.app->bus, e.path, kTextIface, "CharacterCount"));
      if (!c.ok()) return c.err;
      *out = Value(c.reply.at(0).Int());
      return platform::kAXErrorSuccess;
    }
    std::vector<Call> calls{On(e, kTextIface, "GetSelection", {int32_t{0}}),
                            GetProperty(e.app->bus, e.path, kTextIface, "CaretOffset")};
    RunFor(*e.app, &calls, e.Timeout());
    int64_t start = calls[0].reply.at(0).Int(), end = calls[0].reply.at(1).Int();
    if (calls[0].ok() && end > start) {
      *out = Value(platform::Range{start, end - start});
    } else if (calls[1].ok()) {
      *out = Value(platform::Range{calls[1].reply.at(0).Int(), 0});
    } else {
      return calls[1].err;
    }
  } else {
    return platform::kAXErrorAttributeUnsupported;
  }
  return platform::kAXErrorSuccess;
}

AXError SetWindowAttribute(const Element& e, const std::string& attr, const Value& v) {
  AXError err = platform::kAXErrorSuccess;
  Window w = XWindowOf(e, &err);
  Display* d = Dpy();
  if (!w || !d) return err ? err : platform::kAXErrorFailure;
  if (attr == "AXMain" || attr == "AXFocused") {
    if (!v.boolean()) return platform::kAXErrorIllegalArgument;
    if (!*v.boolean()) return platform::kAXErrorSuccess;
    return RequestActivate(d, w) ? platform::kAXErrorSuccess : platform::kAXErrorFailure;
  }
  bool ok = attr == "AXPosition" ? v.point() && RequestMoveResize(d, w, *v.point(), std::nullopt)
                                 : v.size() && RequestMoveResize(d, w, std::nullopt, *v.size());
  Invalidate(*e.app, e.path);
  return ok ? platform::kAXErrorSuccess : platform::kAXErrorIllegalArgument;
}

AXError SetAppAttribute(const Element& e, const std::string& attr, const Value& v) {
  if (attr == "AXManualAccessibility") return Prefetch(e.app, e.Timeout());
  if (attr == "AXEnhancedUserInterface") return platform::kAXErrorSuccess;
  if (attr == "AXFrontmost" || attr == "AXFocusedWindow" || attr == "AXMainWindow") {
    std::shared_ptr<const Node> target;
    if (attr == "AXFrontmost") {
      if (!v.boolean()) return platform::kAXErrorIllegalArgument;
      if (!*v.boolean()) return platform::kAXErrorSuccess;
      target = KeyWindow(e);
    } else {
      const Element* w = v.element() ? AsElement(*v.element()) : nullptr;
      if (!w || w->app != e.app) return platform::kAXErrorIllegalArgument;
      return SetWindowAttribute(*w, "AXMain", Value(true));
    }
    if (!target) return platform::kAXErrorFailure;
    return SetWindowAttribute(Element(e.app, target->self.path), "AXMain", Value(true));
  }
  return platform::kAXErrorAttributeUnsupported;
}

}  // namespace

Element::Element(AppPtr a, std::string p) : app(std::move(a)), path(std::move(p)) {
  g_live.fetch_add(1, std::memory_order_relaxed);
}
Element::~Element() { g_live.fetch_sub(1, std::memory_order_relaxed); }

bool Element::SameElement(const platform::ElementObject& other) const {
  auto* o = dynamic_cast<const Element*>(&other);
  return o && o->app->bus == app->bus && o->path == path;
}

size_t Element::Hash() const { return std::hash<std::string>()(app->bus) * 31 + std::hash<std::string>()(path); }

uint64_t Element::Timeout() const {
  uint64_t t = timeout_usec.load();
  return t ? t : TimeoutOf(*app);
}

AXElement MakeElement(const AppPtr& app, const std::string& path) {
  return AXElement::Adopt(new Element(app, path));
}

AXElement ElementFor(const Ref& ref, const AppPtr& owner) {
  if (ref.null()) return {};
  if (ref.bus == owner->bus) return MakeElement(owner, ref.path);
  AppPtr other = AppForBus(ref.bus);
  return other ? MakeElement(other, ref.path) : AXElement();
}

const Element* AsElement(const AXElement& el) { return dynamic_cast<const Element*>(el.get()); }

int64_t LiveHandles() { return g_live.load(); }

std::shared_ptr<const Node> RecordOf(const Element& e, bool batch, AXError* err) {
  auto n = Record(e.app, e.path, e.Timeout(), err);
  if (n && batch && IsWindowRole(n->role) && !PrefetchFresh(*e.app) &&
      Prefetch(e.app, e.Timeout()) == platform::kAXErrorSuccess) {
    AXError again;
    if (auto fresh = Record(e.app, e.path, e.Timeout(), &again)) n = fresh;
  }
  return n;
}

namespace {

// Facts that change while an element lives: a single read (readElement, a
// hit-test's answer, an action's diagnostics) answers them as they are now,
// not from the capture's record.
bool Volatile(const std::string& attr) {
  static const char* const kNames[] = {"AXValue", "AXTitle", "AXDescription", "AXPosition", "AXSize",
                                       "AXFrame", "AXActivationPoint", "AXEnabled", "AXFocused",
                                       "AXSelected", "AXExpanded", "AXMain", "AXMinimized"};
  for (const char* n : kNames)
    if (attr == n) return true;
  return false;
}

}  // namespace

AXError CopyAttribute(const Element& e, const std::string& attr, Value* out, bool batch) {
  AXError err;
  auto n = !batch && !e.IsApp() && Volatile(attr) ? LiveRecord(e.app, e.path, e.Timeout(), &err)
                                                 : RecordOf(e, batch, &err);
  if (!n) return err;
  Value v;
  err = Attribute(e, *n, attr, &v);
  if (err == platform::kAXErrorSuccess && out) *out = std::move(v);
  return err;
}

AXError CopyAttributes(const Element& e, const std::vector<std::string>& attrs,
                       std::vector<Value>* out) {
  AXError err;
  auto n = RecordOf(e, true, &err);
  if (!n) return err;
  out->clear();
  for (const auto& a : attrs) {
    Value v;
    AXError one = Attribute(e, *n, a, &v);
    out->push_back(one == platform::kAXErrorSuccess ? std::move(v) : Value(platform::ErrorValue{one}));
  }
  return platform::kAXErrorSuccess;
}

AXError CopyAttributeNames(const Element& e, std::vector<std::string>* out) {
  AXError err;
  auto n = RecordOf(e, false, &err);
  if (!n) return err;
  if (e.IsApp()) {
    *out = {"AXRole", "AXTitle", "AXChildren", "AXWindows", "AXFocusedWindow", "AXMainWindow",
            "AXMenuBar", "AXFrontmost", "AXFocusedUIElement"};
    return platform::kAXErrorSuccess;
  }
  *out = {"AXRole", "AXSubrole", "AXTitle", "AXDescription", "AXEnabled", "AXFocused",
          "AXChildren", "AXVisibleChildren", "AXParent", "AXWindow", "AXTopLevelUIElement",
          "AXActionNames", "AXIdentifier"};
  if (n->ifaces & kComponent) out->insert(out->end(), {"AXPosition", "AXSize", "AXFrame", "AXActivationPoint"});
  if ((n->ifaces & (kText | kValue)) || IsCheckable(n->role)) out->push_back("AXValue");
  if (n->ifaces & kText) out->insert(out->end(), {"AXSelectedTextRange", "AXNumberOfCharacters"});
  if (Has(n->states, ATSPI_STATE_SELECTABLE)) out->push_back("AXSelected");
  if (Has(n->states, ATSPI_STATE_EXPANDABLE)) out->push_back("AXExpanded");
  if (n->labelled_by) out->push_back("AXTitleUIElement");
  if (IsWindowRole(n->role)) out->insert(out->end(), {"AXMain", "AXMinimized"});
  return platform::kAXErrorSuccess;
}

AXError ChildCount(const Element& e, int64_t* count) {
  // Read live: the core polls it while waiting for a window to settle.
  Call c = Live(e, GetProperty(e.app->bus, e.path, kAcc, "ChildCount"));
  if (!c.ok()) return c.err;
  if (count) *count = c.reply.at(0).Int();
  return platform::kAXErrorSuccess;
}

AXError IsSettable(const Element& e, const std::string& attr, bool* settable) {
  AXError err;
  auto n = RecordOf(e, false, &err);
  if (!n) return err;
  bool s = false;
  if (e.IsApp()) {
    s = attr == "AXFrontmost" || attr == "AXFocusedWindow" || attr == "AXMainWindow";
  } else if (attr == "AXValue") {
    s = ((n->ifaces & kEditableText) && Has(n->states, ATSPI_STATE_EDITABLE)) ||
        ((n->ifaces & kValue) && n->role != ATSPI_ROLE_PROGRESS_BAR && n->role != ATSPI_ROLE_LEVEL_BAR);
  } else if (attr == "AXFocused") {
    s = IsWindowRole(n->role) || Has(n->states, ATSPI_STATE_FOCUSABLE);
  } else if (attr == "AXSelectedTextRange") {
    s = n->ifaces & kText;
  } else if (attr == "AXSelected") {
    auto p = n->parent.null() ? nullptr : Record(e.app, n->parent.path, e.Timeout(), &err);
    s = p && (p->ifaces & kSelection);
  } else if (attr == "AXPosition" || attr == "AXSize" || attr == "AXMain") {
    s = IsWindowRole(n->role);
  }
  if (settable) *settable = s;
  return platform::kAXErrorSuccess;
}

AXError SetAttribute(const Element& e, const std::string& attr, const Value& v) {
  if (e.IsApp()) return SetAppAttribute(e, attr, v);
  AXError err;
  auto n = RecordOf(e, false, &err);
  if (!n) return err;
  if (IsWindowRole(n->role) &&
      (attr == "AXMain" || attr == "AXFocused" || attr == "AXPosition" || attr == "AXSize"))
    return SetWindowAttribute(e, attr, v);
  if (attr == "AXValue") {
    if (v.string()) {
      if (!(n->ifaces & kEditableText)) return platform::kAXErrorAttributeUnsupported;
      Call before = Live(e, On(e, kTextIface, "GetText", {int32_t{0}, int32_t{-1}}));
      AXError r = BoolCall(e, On(e, "org.a11y.atspi.EditableText", "SetTextContents", {*v.string()}));
      if (r != platform::kAXErrorSuccess || !before.ok() || before.reply.at(0).s == *v.string()) return r;
      // A text that stays as it was was not set (a toolkit may reformat
      // what it takes, so only "unchanged" counts as refused).
      return Confirmed(e, [&](const Element& el) {
        Call now = Live(el, On(el, kTextIface, "GetText", {int32_t{0}, int32_t{-1}}));
        return now.ok() && now.reply.at(0).s != before.reply.at(0).s;
      });
    }
    if (v.number()) {
      if (!(n->ifaces & kValue)) return platform::kAXErrorAttributeUnsupported;
      Call c = Live(e, Method(e.app->bus, e.path, "org.freedesktop.DBus.Properties", "Set",
                              {std::string("org.a11y.atspi.Value"), std::string("CurrentValue"),
                               VarDouble{v.number()->value}}));
      Invalidate(*e.app, e.path);
      return c.err;
    }
    return platform::kAXErrorIllegalArgument;
  }
  if (attr == "AXFocused") {
    if (!v.boolean()) return platform::kAXErrorIllegalArgument;
    if (!*v.boolean()) return platform::kAXErrorSuccess;
    if (!(n->ifaces & kComponent)) return platform::kAXErrorAttributeUnsupported;
    return BoolCall(e, On(e, "org.a11y.atspi.Component", "GrabFocus"));
  }
  if (attr == "AXSelectedTextRange") {
    if (!v.range()) return platform::kAXErrorIllegalArgument;
    if (!(n->ifaces & kText)) return platform::kAXErrorAttributeUnsupported;
    int64_t loc = v.range()->location, len = v.range()->length;
    if (loc < 0 || len < 0 || loc + len > INT32_MAX) return platform::kAXErrorIllegalArgument;
    AXError r;
    if (len == 0) {
      r = BoolCall(e, On(e, kTextIface, "SetCaretOffset", {int32_t(loc)}));
    } else {
      r = BoolCall(e, On(e, kTextIface, "SetSelection", {int32_t{0}, int32_t(loc), int32_t(loc + len)}));
      // GTK 4 never answers AddSelection: asking would cost the time-out
      // and mark the application hung.
      if (r == platform::kAXErrorFailure && !e.app->gtk4)
        r = BoolCall(e, On(e, kTextIface, "AddSelection", {int32_t(loc), int32_t(loc + len)}));
    }
    if (r != platform::kAXErrorSuccess) return r;
    // The range read back decides: a toolkit may answer true and select
    // nothing, and a range that cannot be read back is not known to be set.
    return Confirmed(e, [&](const Element& el) {
      if (len == 0) {
        Call c = Live(el, GetProperty(el.app->bus, el.path, kTextIface, "CaretOffset"));
        return c.ok() && c.reply.at(0).Int() == loc;
      }
      Call c = Live(el, On(el, kTextIface, "GetSelection", {int32_t{0}}));
      return c.ok() && c.reply.at(0).Int() == loc && c.reply.at(1).Int() == loc + len;
    });
  }
  if (attr == "AXSelected") {
    if (!v.boolean()) return platform::kAXErrorIllegalArgument;
    if (n->parent.null() || n->parent.bus != e.app->bus) return platform::kAXErrorAttributeUnsupported;
    Call index = Live(e, On(e, kAcc, "GetIndexInParent"));
    if (!index.ok()) return index.err;
    Element parent(e.app, n->parent.path);
    Invalidate(*e.app, e.path);
    return BoolCall(parent, Method(e.app->bus, n->parent.path, "org.a11y.atspi.Selection",
                                   *v.boolean() ? "SelectChild" : "DeselectChild",
                                   {int32_t(index.reply.at(0).Int())}));
  }
  return platform::kAXErrorAttributeUnsupported;
}

AXError CopyParameterized(const Element& e, const std::string& attr, const Value& parameter,
                          Value* out) {
  AXError err;
  auto n = RecordOf(e, false, &err);
  if (!n) return err;
  if (!(n->ifaces & kText) || (attr != "AXStringForRange" && attr != "AXBoundsForRange"))
    return platform::kAXErrorParameterizedAttributeUnsupported;
  if (!parameter.range()) return platform::kAXErrorIllegalArgument;
  int64_t loc = parameter.range()->location, len = parameter.range()->length;
  if (loc < 0 || len < 0 || loc + len > INT32_MAX) return platform::kAXErrorIllegalArgument;
  if (attr == "AXStringForRange") {
    Call c = Live(e, On(e, kTextIface, "GetText", {int32_t(loc), int32_t(loc + len)}));
    if (!c.ok()) return c.err;
    *out = Value(c.reply.at(0).s);
  } else {
    Call c = Live(e, On(e, kTextIface, "GetRangeExtents", {int32_t(loc), int32_t(loc + len), uint32_t{0}}));
    if (!c.ok()) return c.err;
    const D& r = c.reply;
    *out = Value(platform::Rect{r.at(0).Real(), r.at(1).Real(), r.at(2).Real(), r.at(3).Real()});
  }
  return platform::kAXErrorSuccess;
}

AXError CopyActionNames(const Element& e, std::vector<std::string>* out) {
  AXError err;
  auto n = RecordOf(e, false, &err);
  if (!n) return err;
  *out = e.IsApp() ? std::vector<std::string>{} : AxActionNames(*n);
  return platform::kAXErrorSuccess;
}

AXError PerformAction(const Element& e, const std::string& action) {
  AXError err;
  auto n = RecordOf(e, false, &err);
  if (!n) return err;
  if (e.IsApp()) return platform::kAXErrorActionUnsupported;
  if (action == "AXRaise" && IsWindowRole(n->role)) return SetWindowAttribute(e, "AXMain", Value(true));
  int index = ActionIndexFor(*n, action);
  if (index >= 0) {
    // On a connection of its own: a press that opens a modal dialog keeps
    // the connection that carried it busy until the dialog closes.
    Call press = On(e, "org.a11y.atspi.Action", "DoAction", {int32_t(index)});
    press.own_connection = true;
    return BoolCall(e, std::move(press));
  }
  if ((action == "AXIncrement" || action == "AXDecrement") && (n->ifaces & kValue)) {
    std::vector<Call> calls{GetProperty(e.app->bus, e.path, "org.a11y.atspi.Value", "CurrentValue"),
                            GetProperty(e.app->bus, e.path, "org.a11y.atspi.Value", "MinimumIncrement")};
    RunFor(*e.app, &calls, e.Timeout());
    if (!calls[0].ok()) return calls[0].err;
    double step = calls[1].reply.at(0).Real();
    if (step <= 0) step = 1;
    double next = calls[0].reply.at(0).Real() + (action == "AXIncrement" ? step : -step);
    return SetAttribute(e, "AXValue", Value(next));
  }
  return platform::kAXErrorActionUnsupported;
}

}  // namespace x11::atspi
