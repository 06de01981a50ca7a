#include "sim/attributes.h"

#include <algorithm>
#include <cmath>

#include "sim/behaviour.h"
#include "sim/scene.h"

namespace sim {

using platform::AXError;
using platform::Value;

namespace {

Value Handle(const NodePtr& n) { return Value(MakeHandle(n)); }

Value HandleArray(const std::vector<NodePtr>& nodes) {
  platform::Array a;
  a.reserve(nodes.size());
  for (auto& n : nodes) a.push_back(Handle(n));
  return Value(std::move(a));
}

NodePtr Shown(World& w, const std::string& id) {
  NodePtr n = FindNode(w, id);
  return n && NodeVisible(n) ? n : nullptr;
}

size_t Utf16Length(const std::string& s) {
  size_t n = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if ((c & 0xC0) == 0x80) continue;
    n += (c >= 0xF0) ? 2 : 1;
  }
  return n;
}

AXError AppAttr(World& w, const NodePtr& n, const std::string& attr, Value* out) {
  auto app = FindApp(w, n->pid);
  if (!app) return platform::kAXErrorCannotComplete;
  if (attr == "AXRole") {
    *out = Value("AXApplication");
  } else if (attr == "AXWindows") {
    std::vector<NodePtr> wins;
    for (auto& id : app->window_ids)
      if (auto win = Shown(w, id)) wins.push_back(win);
    *out = HandleArray(wins);
  } else if (attr == "AXChildren") {
    std::vector<NodePtr> kids;
    for (auto& id : app->window_ids)
      if (auto win = Shown(w, id)) kids.push_back(win);
    if (auto bar = Shown(w, app->menu_bar_id)) kids.push_back(bar);
    *out = HandleArray(kids);
  } else if (attr == "AXFocusedWindow" || attr == "AXMainWindow" || attr == "AXMenuBar" ||
             attr == "AXFocusedUIElement") {
    const std::string& id = attr == "AXFocusedWindow" ? app->focused_window_id
                            : attr == "AXMainWindow"  ? app->main_window_id
                            : attr == "AXMenuBar"     ? app->menu_bar_id
                                                      : app->focused_element_id;
    NodePtr target = Shown(w, id);
    if (!target) return platform::kAXErrorNoValue;
    *out = Handle(target);
  } else if (attr == "AXFrontmost") {
    *out = Value(w.frontmost == app->pid);
  } else if (attr == "AXDefaultButton") {
    if (app->default_button_id.empty()) return platform::kAXErrorAttributeUnsupported;
    NodePtr b = Shown(w, app->default_button_id);
    if (!b) return platform::kAXErrorNoValue;
    *out = Handle(b);
  } else if (attr == "AXManualAccessibility" || attr == "AXEnhancedUserInterface") {
    auto it = n->attrs.find(attr);
    *out = Value(it != n->attrs.end() && it->second.as_bool());
  } else {
    auto it = n->attrs.find(attr);
    if (it == n->attrs.end()) return platform::kAXErrorAttributeUnsupported;
    *out = JsonToValue(w, it->second);
    if (out->is_null()) return platform::kAXErrorNoValue;
  }
  return platform::kAXErrorSuccess;
}

AXError SystemWideAttr(World& w, const std::string& attr, Value* out) {
  if (attr == "AXRole") {
    *out = Value("AXSystemWide");
    return platform::kAXErrorSuccess;
  }
  auto focused = w.ax_focused_app ? FindApp(w, w.ax_focused_app) : nullptr;
  auto app = focused && !focused->terminated ? focused : FindApp(w, w.frontmost);
  if (attr == "AXFocusedApplication") {
    if (!app) return platform::kAXErrorNoValue;
    *out = Handle(app->element);
    return platform::kAXErrorSuccess;
  }
  if (attr == "AXFocusedUIElement") {
    NodePtr f = app ? Shown(w, app->focused_element_id) : nullptr;
    if (!f) return platform::kAXErrorNoValue;
    *out = Handle(f);
    return platform::kAXErrorSuccess;
  }
  return platform::kAXErrorAttributeUnsupported;
}

AXError ElementAttr(World& w, const NodePtr& n, const std::string& attr, Value* out) {
  auto fapp = FocusApp(w, n);
  if (attr == "AXRole") {
    *out = Value(n->role);
  } else if (attr == "AXSubrole") {
    if (n->subrole.empty()) return platform::kAXErrorAttributeUnsupported;
    *out = Value(n->subrole);
  } else if (attr == "AXPosition") {
    if (!n->frame) return platform::kAXErrorAttributeUnsupported;
    *out = Value(platform::Point{n->frame->x, n->frame->y});
  } else if (attr == "AXSize") {
    if (!n->frame) return platform::kAXErrorAttributeUnsupported;
    *out = Value(platform::Size{n->frame->width, n->frame->height});
  } else if (attr == "AXFrame") {
    if (!n->frame) return platform::kAXErrorAttributeUnsupported;
    *out = Value(*n->frame);
  } else if (attr == "AXEnabled" && !n->attrs.count("AXEnabled")) {
    *out = Value(true);
  } else if (attr == "AXFocused") {
    bool focused = false;
    if (fapp) {
      focused = IsWindowLike(*n) ? fapp->focused_window_id == n->id
                                 : fapp->focused_element_id == n->id;
    }
    *out = Value(focused);
  } else if (attr == "AXMain" && IsWindowLike(*n)) {
    *out = Value(fapp && fapp->main_window_id == n->id);
  } else if (attr == "AXParent") {
    NodePtr p = n->parent_override.empty() ? n->parent.lock() : FindNode(w, n->parent_override);
    if (!p) return platform::kAXErrorNoValue;
    *out = Handle(p);
  } else if (attr == "AXChildren") {
    *out = HandleArray(ShownChildren(n));
  } else if (attr == "AXVisibleChildren") {
    if (!n->has_visible_children) return platform::kAXErrorAttributeUnsupported;
    std::vector<NodePtr> vis;
    for (auto& id : n->visible_children)
      if (auto v = Shown(w, id)) vis.push_back(v);
    *out = HandleArray(vis);
  } else if (attr == "AXWindow" || attr == "AXTopLevelUIElement") {
    NodePtr win = ContainingWindow(n);
    if (!win) return platform::kAXErrorNoValue;
    *out = Handle(win);
  } else if (attr == "AXTitleUIElement") {
    if (n->title_element.empty()) return platform::kAXErrorAttributeUnsupported;
    NodePtr t = Shown(w, n->title_element);
    if (!t) return platform::kAXErrorNoValue;
    *out = Handle(t);
  } else if (attr == "AXDefaultButton" && IsWindowLike(*n)) {
    if (n->default_button.empty()) return platform::kAXErrorAttributeUnsupported;
    NodePtr b = Shown(w, n->default_button);
    if (!b) return platform::kAXErrorNoValue;
    *out = Handle(b);
  } else if (attr == "AXSheets" && IsWindowLike(*n)) {
    std::vector<NodePtr> sheets;
    for (auto& k : ShownChildren(n))
      if (k->role == "AXSheet") sheets.push_back(k);
    *out = HandleArray(sheets);
  } else if (attr == "AXActionNames") {
    platform::Array names;
    for (auto& a : n->actions) names.push_back(Value(a));
    *out = Value(std::move(names));
  } else if (attr == "AXNumberOfCharacters" && IsTextRole(n->role)) {
    auto it = n->attrs.find("AXValue");
    *out = Value(static_cast<int64_t>(Utf16Length(it == n->attrs.end() ? "" : ValueText(it->second))));
  } else if (attr == "AXSelectedTextRange" && IsTextRole(n->role) && !n->attrs.count(attr)) {
    auto it = n->attrs.find("AXValue");
    int64_t len = static_cast<int64_t>(Utf16Length(it == n->attrs.end() ? "" : ValueText(it->second)));
    *out = Value(platform::Range{len, 0});
  } else if (attr == "AXMinimized" && IsWindowLike(*n) && !n->attrs.count(attr)) {
    *out = Value(false);
  } else {
    auto it = n->attrs.find(attr);
    if (it == n->attrs.end()) return platform::kAXErrorAttributeUnsupported;
    *out = JsonToValue(w, it->second);
    if (out->is_null()) return platform::kAXErrorNoValue;
  }
  return platform::kAXErrorSuccess;
}

}  // namespace

std::shared_ptr<App> FocusApp(World& w, const NodePtr& n) {
  auto app = FindApp(w, n->pid);
  return app ? app : FindApp(w, n->app_pid);
}

bool IsWindowLike(const Node& n) {
  return n.kind == NodeKind::kElement &&
         (n.role == "AXWindow" || n.role == "AXSheet" || n.role == "AXDialog" ||
          n.role == "AXPopover" || n.window_number != 0);
}

bool IsTextRole(const std::string& role) {
  return role == "AXTextField" || role == "AXTextArea" || role == "AXComboBox" ||
         role == "AXSearchField" || role == "AXSecureTextField";
}

std::vector<NodePtr> ShownChildren(const NodePtr& n) {
  std::vector<NodePtr> out;
  out.reserve(n->children.size());
  for (auto& k : n->children)
    if (k->alive && !k->hidden) out.push_back(k);
  return out;
}

AXError ReadAttr(World& w, const NodePtr& n, const std::string& attr, Value* out) {
  if (n->hidden_attrs.count(attr)) return platform::kAXErrorAttributeUnsupported;
  auto err = n->errors.find(attr);
  if (err != n->errors.end()) return static_cast<AXError>(err->second);
  AXError e;
  if (n->kind == NodeKind::kSystemWide) e = SystemWideAttr(w, attr, out);
  else if (n->kind == NodeKind::kApplication) e = AppAttr(w, n, attr, out);
  else e = ElementAttr(w, n, attr, out);
  if (e == platform::kAXErrorSuccess && n->wrong_type.count(attr)) *out = WrongTypeOf(*out);
  return e;
}

std::vector<std::string> AttrNames(World& w, const NodePtr& n) {
  std::vector<std::string> names;
  auto add = [&](const std::string& a) {
    if (n->hidden_attrs.count(a)) return;
    if (std::find(names.begin(), names.end(), a) == names.end()) names.push_back(a);
  };
  if (n->kind == NodeKind::kSystemWide) {
    for (const char* a : {"AXRole", "AXFocusedApplication", "AXFocusedUIElement"}) add(a);
    return names;
  }
  if (n->kind == NodeKind::kApplication) {
    for (const char* a : {"AXRole", "AXTitle", "AXChildren", "AXWindows", "AXFocusedWindow",
                          "AXMainWindow", "AXMenuBar", "AXFocusedUIElement", "AXFrontmost",
                          "AXEnhancedUserInterface", "AXManualAccessibility"})
      add(a);
    auto app = FindApp(w, n->pid);
    if (app && !app->default_button_id.empty()) add("AXDefaultButton");
  } else {
    add("AXRole");
    if (!n->subrole.empty()) add("AXSubrole");
    for (const char* a : {"AXParent", "AXChildren", "AXEnabled", "AXFocused", "AXWindow",
                          "AXTopLevelUIElement"})
      add(a);
    if (n->frame) {
      add("AXPosition");
      add("AXSize");
    }
    if (n->has_visible_children) add("AXVisibleChildren");
    if (!n->title_element.empty()) add("AXTitleUIElement");
    if (IsWindowLike(*n)) {
      add("AXMain");
      add("AXMinimized");
      add("AXSheets");
      if (!n->default_button.empty()) add("AXDefaultButton");
    }
    if (IsTextRole(n->role)) {
      add("AXNumberOfCharacters");
      add("AXSelectedTextRange");
    }
  }
  for (auto& [k, v] : n->attrs) add(k);
  return names;
}

bool IsSettable(const Node& n, const std::string& attr) { return n.settable.count(attr) > 0; }

AXError WriteAttr(World& w, const NodePtr& n, const std::string& attr, const Value& v) {
  if (!IsSettable(*n, attr)) return platform::kAXErrorAttributeUnsupported;
  if (n->kind == NodeKind::kSystemWide) {
    // AXFocusedApplication: names an application as focused for accessibility
    // without activating it.
    NodePtr target = v.element() ? NodeOf(*v.element()) : nullptr;
    if (!target || !target->alive || target->kind != NodeKind::kApplication) {
      return platform::kAXErrorIllegalArgument;
    }
    auto app = FindApp(w, target->pid);
    if (!app || app->terminated) return platform::kAXErrorCannotComplete;
    w.ax_focused_app = app->pid;
    return platform::kAXErrorSuccess;
  }
  if (n->kind == NodeKind::kApplication) {
    auto app = FindApp(w, n->pid);
    if (!app) return platform::kAXErrorCannotComplete;
    if (attr == "AXFrontmost") {
      if (v.boolean() && *v.boolean()) ActivateApp(w, app->pid);
      return platform::kAXErrorSuccess;
    }
    if (attr == "AXFocusedWindow" || attr == "AXMainWindow" || attr == "AXFocusedUIElement") {
      NodePtr target = v.element() ? NodeOf(*v.element()) : nullptr;
      if (!target || !target->alive) return platform::kAXErrorIllegalArgument;
      if (attr == "AXFocusedWindow") app->focused_window_id = target->id;
      else if (attr == "AXMainWindow") app->main_window_id = target->id;
      else app->focused_element_id = target->id;
      return platform::kAXErrorSuccess;
    }
    n->attrs[attr] = ValueToJson(v);
    return platform::kAXErrorSuccess;
  }
  auto fapp = FocusApp(w, n);
  if (attr == "AXFocused") {
    if (!v.boolean()) return platform::kAXErrorIllegalArgument;
    if (fapp) {
      if (IsWindowLike(*n)) {
        if (*v.boolean()) fapp->focused_window_id = n->id;
        else if (fapp->focused_window_id == n->id) fapp->focused_window_id.clear();
      } else {
        FocusElement(w, n, *v.boolean());
      }
    }
    return platform::kAXErrorSuccess;
  }
  if (attr == "AXMain") {
    if (!v.boolean()) return platform::kAXErrorIllegalArgument;
    if (fapp && *v.boolean()) fapp->main_window_id = n->id;
    return platform::kAXErrorSuccess;
  }
  if (attr == "AXPosition" || attr == "AXSize") {
    platform::Rect r = n->frame.value_or(platform::Rect{});
    if (attr == "AXPosition" && v.point()) {
      r.x = v.point()->x;
      r.y = v.point()->y;
    } else if (attr == "AXSize" && v.size()) {
      r.width = v.size()->width;
      r.height = v.size()->height;
    } else {
      return platform::kAXErrorIllegalArgument;
    }
    n->frame = r;
    if (n->window_number)
      if (auto cw = FindWindow(w, n->window_number)) cw->bounds = r;
    return platform::kAXErrorSuccess;
  }
  if (attr == "AXValue") {
    if (IsTextRole(n->role)) {
      if (!v.string()) return platform::kAXErrorIllegalArgument;
      n->attrs["AXValue"] = Json(*v.string());
      return platform::kAXErrorSuccess;
    }
    if (v.number()) {
      double x = v.number()->value;
      auto mn = n->attrs.find("AXMinValue");
      auto mx = n->attrs.find("AXMaxValue");
      if (mn != n->attrs.end() && mn->second.is_number()) x = std::max(x, mn->second.as_double());
      if (mx != n->attrs.end() && mx->second.is_number()) x = std::min(x, mx->second.as_double());
      n->attrs["AXValue"] = v.number()->integral_type && x == std::floor(x)
                                ? Json(static_cast<int64_t>(x))
                                : Json(x);
      return platform::kAXErrorSuccess;
    }
  }
  n->attrs[attr] = ValueToJson(v);
  return platform::kAXErrorSuccess;
}

Value JsonToValue(World& w, const Json& j) {
  switch (j.type()) {
    case Json::Type::kNull: return Value();
    case Json::Type::kBool: return Value(j.as_bool());
    case Json::Type::kNumber: return Value(platform::Number{j.as_double(), j.is_int()});
    case Json::Type::kString: return Value(j.as_string());
    case Json::Type::kArray: {
      platform::Array a;
      for (const Json& item : j.items()) a.push_back(JsonToValue(w, item));
      return Value(std::move(a));
    }
    case Json::Type::kObject: break;
  }
  auto num = [&](const Json& a, size_t i) { return a.size() > i ? a[i].as_double() : 0.0; };
  if (j.has("ref")) {
    NodePtr n = FindNode(w, j["ref"].as_string());
    return n ? Handle(n) : Value();
  }
  if (j.has("refs")) {
    std::vector<NodePtr> nodes;
    for (const Json& id : j["refs"].items())
      if (auto n = FindNode(w, id.as_string())) nodes.push_back(n);
    return HandleArray(nodes);
  }
  if (j.has("point")) return Value(platform::Point{num(j["point"], 0), num(j["point"], 1)});
  if (j.has("size")) return Value(platform::Size{num(j["size"], 0), num(j["size"], 1)});
  if (j.has("rect")) {
    const Json& r = j["rect"];
    return Value(platform::Rect{num(r, 0), num(r, 1), num(r, 2), num(r, 3)});
  }
  if (j.has("range")) {
    return Value(platform::Range{static_cast<int64_t>(num(j["range"], 0)),
                                 static_cast<int64_t>(num(j["range"], 1))});
  }
  if (j.has("error")) return Value(platform::ErrorValue{static_cast<platform::AXError>(j["error"].as_int())});
  platform::Dict d;
  for (const auto& [k, v] : j.members()) d[k] = JsonToValue(w, v);
  return Value(std::move(d));
}

Json ValueToJson(const Value& v) {
  if (auto s = v.string()) return Json(*s);
  if (auto b = v.boolean()) return Json(*b);
  if (auto n = v.number()) return n->integral_type ? Json(static_cast<int64_t>(n->value)) : Json(n->value);
  auto arr2 = [](double a, double b) {
    Json j = Json::Array();
    j.push(Json(a));
    j.push(Json(b));
    return j;
  };
  Json o = Json::Object();
  if (auto p = v.point()) {
    o.set("point", arr2(p->x, p->y));
    return o;
  }
  if (auto s = v.size()) {
    o.set("size", arr2(s->width, s->height));
    return o;
  }
  if (auto r = v.rect()) {
    Json a = arr2(r->x, r->y);
    a.push(Json(r->width));
    a.push(Json(r->height));
    o.set("rect", a);
    return o;
  }
  if (auto r = v.range()) {
    o.set("range", arr2(static_cast<double>(r->location), static_cast<double>(r->length)));
    return o;
  }
  if (auto e = v.element()) {
    NodePtr n = NodeOf(*e);
    o.set("ref", n ? Json(n->id) : Json());
    return o;
  }
  if (auto a = v.array()) {
    Json j = Json::Array();
    for (auto& item : *a) j.push(ValueToJson(item));
    return j;
  }
  if (auto d = v.dict()) {
    for (auto& [k, item] : *d) o.set(k, ValueToJson(item));
    return o;
  }
  if (auto e = v.error()) {
    o.set("error", Json(static_cast<int64_t>(e->code)));
    return o;
  }
  return Json();
}

Value WrongTypeOf(const Value& v) {
  if (v.string()) return Value(platform::Number{1, true});
  return Value("wrong-type");
}

std::string ValueText(const Json& j) {
  if (j.is_string()) return j.as_string();
  if (j.is_bool()) return j.as_bool() ? "true" : "false";
  if (j.is_number()) {
    double d = j.as_double();
    if (d == std::floor(d) && std::fabs(d) < 1e15) return std::to_string(static_cast<int64_t>(d));
    char buf[32];
    snprintf(buf, sizeof buf, "%g", d);
    return buf;
  }
  return "";
}

}  // namespace sim
