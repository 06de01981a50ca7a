#include "sim/scene.h"

#include <algorithm>

#include "sim/scene_validate.h"
#include "sim/sim_clock.h"

namespace sim {

namespace {

const std::set<std::string> kTextRoles = {"AXTextField", "AXTextArea", "AXComboBox",
                                          "AXSearchField", "AXSecureTextField"};
const std::set<std::string> kFocusableRoles = {
    "AXTextField", "AXTextArea",   "AXComboBox",   "AXSearchField", "AXSecureTextField",
    "AXButton",    "AXCheckBox",   "AXRadioButton", "AXSlider",     "AXPopUpButton",
    "AXList",      "AXTable",      "AXOutline",    "AXWindow",      "AXSheet",
    "AXDialog",    "AXScrollArea", "AXMenuButton", "AXLink"};

std::vector<std::string> DefaultActions(const std::string& role) {
  if (role == "AXButton" || role == "AXCheckBox" || role == "AXRadioButton" ||
      role == "AXMenuItem" || role == "AXMenuBarItem" || role == "AXLink" ||
      role == "AXMenuButton" || role == "AXRow")
    return {"AXPress"};
  if (role == "AXPopUpButton") return {"AXPress", "AXShowMenu"};
  if (role == "AXSlider" || role == "AXIncrementor") return {"AXIncrement", "AXDecrement"};
  if (role == "AXWindow" || role == "AXSheet" || role == "AXDialog") return {"AXRaise"};
  if (role == "AXTextField" || role == "AXComboBox" || role == "AXSearchField")
    return {"AXConfirm"};
  return {};
}

std::string ReplaceIndex(std::string s, int64_t i) {
  size_t p;
  while ((p = s.find("{i}")) != std::string::npos) s.replace(p, 3, std::to_string(i));
  return s;
}

Json TemplateFor(const Json& gen, int64_t i) {
  Json out = Json::Object();
  for (const auto& [k, v] : gen.members()) {
    if (k == "count" || k == "idPrefix" || k == "step" || k == "start") continue;
    if (v.is_string()) out.set(k, Json(ReplaceIndex(v.as_string(), i)));
    else out.set(k, v);
  }
  return out;
}

void SetStrings(const Json& spec, const char* key, std::set<std::string>* out) {
  for (const Json& a : spec[key].items())
    if (a.is_string()) out->insert(a.as_string());
}

struct BuildCtx {
  World& w;
  App& app;
  std::vector<std::pair<std::shared_ptr<CgWindow>, uint32_t>> surfaces;  // window, host
  std::string* error;
};

NodePtr BuildElement(BuildCtx& c, const Json& spec, const NodePtr& parent,
                     const std::string& auto_id, pid_t pid);

void BuildChildren(BuildCtx& c, const Json& list, const NodePtr& n) {
  int64_t index = 0;
  for (const Json& child : list.items()) {
    if (child.has("generate")) {
      const Json& gen = child["generate"];
      int64_t count = gen["count"].as_int(0);
      int64_t start = gen["start"].as_int(0);
      std::string prefix = gen["idPrefix"].str_or(n->id + ".item");
      platform::Rect first;
      bool has_frame = ParseRect(gen["frame"], &first);
      double dx = 0, dy = has_frame ? first.height : 0;
      if (gen["step"].size() == 2) {
        dx = gen["step"][0].as_double();
        dy = gen["step"][1].as_double();
      }
      for (int64_t i = start; i < start + count; ++i) {
        Json t = TemplateFor(gen, i);
        t.set("id", Json(prefix + "-" + std::to_string(i)));
        if (has_frame) {
          Json f = Json::Array();
          f.push(Json(first.x + dx * (i - start)));
          f.push(Json(first.y + dy * (i - start)));
          f.push(Json(first.width));
          f.push(Json(first.height));
          t.set("frame", f);
        }
        auto kid = BuildElement(c, t, n, n->id + "." + std::to_string(index++), n->pid);
        if (kid) n->children.push_back(kid);
      }
      continue;
    }
    auto kid = BuildElement(c, child, n, n->id + "." + std::to_string(index++), n->pid);
    if (kid) n->children.push_back(kid);
  }
}

// Applies the element keys of a scene entry (shared by building and patching).
void ApplyElementKeys(World& w, App* app, const NodePtr& n, const Json& spec) {
  static const std::pair<const char*, const char*> kPlain[] = {
      {"title", "AXTitle"},   {"description", "AXDescription"}, {"value", "AXValue"},
      {"help", "AXHelp"},     {"identifier", "AXIdentifier"},   {"enabled", "AXEnabled"},
      {"selected", "AXSelected"}, {"roleDescription", "AXRoleDescription"},
      {"minValue", "AXMinValue"}, {"maxValue", "AXMaxValue"}, {"placeholder", "AXPlaceholderValue"}};
  for (const auto& [key, attr] : kPlain) {
    if (!spec.has(key)) continue;
    if (spec[key].is_null()) n->attrs.erase(attr);
    else n->attrs[attr] = spec[key];
  }
  if (spec.has("role")) n->role = spec["role"].as_string();
  if (spec.has("subrole")) n->subrole = spec["subrole"].str_or("");
  for (const auto& [k, v] : spec["attributes"].members()) {
    if (v.is_null()) n->attrs.erase(k);
    else n->attrs[k] = v;
  }
  platform::Rect r;
  if (spec.has("frame")) {
    if (ParseRect(spec["frame"], &r)) n->frame = r;
    else n->frame.reset();
  }
  if (spec.has("actions")) {
    n->actions.clear();
    n->action_effects.clear();
    const Json& a = spec["actions"];
    if (a.is_array()) {
      for (const Json& name : a.items()) n->actions.push_back(name.as_string());
    } else {
      for (const auto& [name, effects] : a.members()) {
        n->actions.push_back(name);
        n->action_effects[name] = effects.is_array() ? effects : Json::Array();
        if (!effects.is_array() && !effects.is_null()) n->action_effects[name].push(effects);
      }
    }
  }
  if (spec.has("onPress")) {
    Json effects = spec["onPress"].is_array() ? spec["onPress"] : Json::Array();
    if (!spec["onPress"].is_array()) effects.push(spec["onPress"]);
    n->action_effects["AXPress"] = effects;
    if (std::find(n->actions.begin(), n->actions.end(), "AXPress") == n->actions.end())
      n->actions.push_back("AXPress");
  }
  SetStrings(spec, "settable", &n->settable);
  for (const Json& a : spec["notSettable"].items()) n->settable.erase(a.as_string());
  if (spec.has("errors")) {
    n->errors.clear();
    for (const auto& [k, v] : spec["errors"].members())
      n->errors[k] = static_cast<int32_t>(v.as_int());
  }
  if (spec.has("wrongType")) {
    n->wrong_type.clear();
    SetStrings(spec, "wrongType", &n->wrong_type);
  }
  if (spec.has("missing")) {
    n->hidden_attrs.clear();
    SetStrings(spec, "missing", &n->hidden_attrs);
  }
  if (spec.has("delayMs")) n->delay_ms = spec["delayMs"].as_double();
  if (spec.has("hang")) n->hang = spec["hang"].as_bool();
  if (spec.has("batchFails")) n->batch_fails = spec["batchFails"].as_bool();
  if (spec.has("hidden")) n->hidden = spec["hidden"].as_bool();
  if (spec.has("parent")) n->parent_override = spec["parent"].str_or("");
  if (spec.has("titleElement")) n->title_element = spec["titleElement"].str_or("");
  if (spec.has("defaultButton")) n->default_button = spec["defaultButton"].str_or("");
  if (spec.has("visibleChildren")) {
    n->visible_children.clear();
    n->has_visible_children = spec["visibleChildren"].is_array();
    for (const Json& v : spec["visibleChildren"].items()) n->visible_children.push_back(v.as_string());
  }
  if (spec.has("windowNumberError")) {
    if (spec["windowNumberError"].is_null()) n->window_number_error.reset();
    else n->window_number_error = static_cast<int32_t>(spec["windowNumberError"].as_int());
  }
  if (spec.has("windowNumberOverride")) {
    if (spec["windowNumberOverride"].is_null()) n->window_number_override.reset();
    else n->window_number_override = static_cast<uint32_t>(spec["windowNumberOverride"].as_int());
  }
  if (app && spec["focused"].is_bool() && spec["focused"].as_bool() && !n->id.empty()) {
    if (n->window_number != 0 && n->kind == NodeKind::kElement &&
        (n->role == "AXWindow"))
      app->focused_window_id = n->id;
    else
      app->focused_element_id = n->id;
  }
  (void)w;
}

NodePtr BuildElement(BuildCtx& c, const Json& spec, const NodePtr& parent,
                     const std::string& auto_id, pid_t pid) {
  World& w = c.w;
  auto n = NewNode(w, NodeKind::kElement);
  n->id = spec["id"].str_or(auto_id);
  n->pid = static_cast<pid_t>(spec["pid"].as_int(pid));
  n->app_pid = c.app.pid;
  n->parent = parent;
  n->role = spec["role"].str_or("AXGroup");
  n->actions = DefaultActions(n->role);
  if (kTextRoles.count(n->role)) {
    // Text fields take a value and a selection, as real ones do.
    n->settable.insert("AXValue");
    n->settable.insert("AXSelectedTextRange");
  }
  if (n->role == "AXSlider") n->settable.insert("AXValue");
  if (kFocusableRoles.count(n->role)) n->settable.insert("AXFocused");
  if (spec.has("windowNumber")) n->window_number = static_cast<uint32_t>(spec["windowNumber"].as_int());
  ApplyElementKeys(w, &c.app, n, spec);
  if (n->role == "AXWindow" || n->role == "AXSheet" || n->role == "AXDialog") {
    n->settable.insert("AXMain");
    n->settable.insert("AXPosition");
    n->settable.insert("AXSize");
  }
  RegisterNode(w, n);
  if (n->window_number != 0 && !(spec["cg"].is_bool() && !spec["cg"].as_bool())) {
    auto cw = std::make_shared<CgWindow>();
    cw->number = n->window_number;
    cw->owner = n->pid;
    auto owner = FindApp(w, n->pid);
    cw->owner_name = owner && owner->name ? *owner->name : (n->pid == c.app.pid && c.app.name ? *c.app.name : "");
    cw->title = spec["cgTitle"].str_or(n->attrs.count("AXTitle") ? n->attrs["AXTitle"].str_or("") : "");
    if (n->frame) cw->bounds = *n->frame;
    ParseRect(spec["bounds"], &cw->bounds);
    cw->layer = spec["layer"].as_int(0);
    cw->on_screen = spec["onScreen"].as_bool(true);
    cw->alpha = spec["alpha"].as_double(1.0);
    cw->accepts_mouse_down = spec["acceptsMouseDown"].as_bool(true);
    for (const Json& k : spec["omitKeys"].items()) cw->omit_keys.push_back(k.as_string());
    cw->bad_keys = spec["badKeys"];
    cw->element = n;
    NodePtr host = ContainingWindow(parent);
    c.surfaces.emplace_back(cw, host ? host->window_number : 0);
  }
  BuildChildren(c, spec["children"], n);
  return n;
}

void BuildWindow(BuildCtx& c, const Json& spec) {
  World& w = c.w;
  App& app = c.app;
  bool ax = !(spec["ax"].is_bool() && !spec["ax"].as_bool());
  uint32_t number = static_cast<uint32_t>(spec["number"].as_int(0));
  if (number == 0 && !(spec["cg"].is_bool() && !spec["cg"].as_bool())) number = w.next_window++;
  platform::Rect bounds{0, 0, 0, 0};
  ParseRect(spec["bounds"], &bounds);
  if (!ax) {
    auto cw = std::make_shared<CgWindow>();
    cw->number = number;
    cw->owner = app.pid;
    cw->owner_name = app.name.value_or("");
    cw->title = spec["title"].str_or("");
    cw->bounds = bounds;
    cw->layer = spec["layer"].as_int(0);
    cw->on_screen = spec["onScreen"].as_bool(true);
    cw->alpha = spec["alpha"].as_double(1.0);
    cw->accepts_mouse_down = spec["acceptsMouseDown"].as_bool(true);
    cw->desktop = spec["desktop"].as_bool(false);
    for (const Json& k : spec["omitKeys"].items()) cw->omit_keys.push_back(k.as_string());
    cw->bad_keys = spec["badKeys"];
    c.surfaces.emplace_back(cw, 0);
    return;
  }
  Json el = spec;
  if (!el.has("role")) el.set("role", Json("AXWindow"));
  if (!el.has("subrole") && el["role"].as_string() == "AXWindow")
    el.set("subrole", Json("AXStandardWindow"));
  if (number != 0) el.set("windowNumber", Json(static_cast<int64_t>(number)));
  if (!el.has("frame")) {
    if (spec.has("axFrame")) el.set("frame", spec["axFrame"]);
    else if (spec.has("bounds")) el.set("frame", spec["bounds"]);
  }
  if (spec.has("axFrame")) el.set("frame", spec["axFrame"]);
  std::string auto_id = app.element->id + ".w" + std::to_string(app.window_ids.size());
  auto n = BuildElement(c, el, app.element, auto_id, app.pid);
  app.window_ids.push_back(n->id);
  if (spec["main"].as_bool(false)) app.main_window_id = n->id;
  if (spec["focused"].as_bool(false)) app.focused_window_id = n->id;
}

}  // namespace

bool ParseRect(const Json& j, platform::Rect* out) {
  if (j.is_array() && j.size() == 4) {
    *out = {j[0].as_double(), j[1].as_double(), j[2].as_double(), j[3].as_double()};
    return true;
  }
  if (j.is_object() && j.has("x")) {
    *out = {j["x"].as_double(), j["y"].as_double(), j["width"].as_double(),
            j["height"].as_double()};
    return true;
  }
  return false;
}

Installed ParseInstalled(const Json& inst) {
  Installed in;
  in.bundle_id = inst["bundleId"].str_or("");
  in.name = inst["name"].str_or("");
  in.path = inst["path"].str_or("");
  in.app = inst["app"].is_object() ? inst["app"] : Json::Object();
  in.open_result = inst["openResult"];
  return in;
}

Display ParseDisplay(const Json& d, size_t index, bool default_main) {
  Display disp;
  disp.id = static_cast<uint32_t>(d["id"].as_int(static_cast<int64_t>(index + 1)));
  ParseRect(d["bounds"], &disp.bounds);
  double scale = d["scale"].as_double(2.0);
  disp.pixel_width = d["pixelWidth"].as_int(static_cast<int64_t>(disp.bounds.width * scale));
  disp.pixel_height = d["pixelHeight"].as_int(static_cast<int64_t>(disp.bounds.height * scale));
  disp.main = d["main"].as_bool(default_main);
  disp.mirror = d["mirror"].as_bool(false);
  return disp;
}

platform::ActivationPolicy ParsePolicy(const Json& j) {
  std::string s = j.str_or("regular");
  if (s == "accessory") return platform::ActivationPolicy::kAccessory;
  if (s == "prohibited") return platform::ActivationPolicy::kProhibited;
  return platform::ActivationPolicy::kRegular;
}

void InsertWindowInFront(World& w, const std::shared_ptr<CgWindow>& cw, uint32_t behind) {
  auto it = w.z.begin();
  if (behind != 0) {
    it = std::find_if(w.z.begin(), w.z.end(),
                      [&](const std::shared_ptr<CgWindow>& x) { return x->number == behind; });
    if (it == w.z.end()) it = w.z.begin();
  }
  w.z.insert(it, cw);
}

std::shared_ptr<App> InstantiateApp(World& w, const Json& spec, pid_t pid, double launch_time,
                                    bool to_front, std::string* error) {
  if (pid <= 0) {
    *error = "application needs a positive pid";
    return nullptr;
  }
  if (FindApp(w, pid)) QuitApp(w, pid);
  auto app = std::make_shared<App>();
  app->pid = pid;
  if (spec["bundleId"].is_string()) app->bundle_id = spec["bundleId"].as_string();
  if (spec["name"].is_string()) app->name = spec["name"].as_string();
  if (spec["path"].is_string()) app->path = spec["path"].as_string();
  app->launch_time = launch_time;
  app->policy = ParsePolicy(spec["policy"]);
  app->terminated = spec["terminated"].as_bool(false);
  app->other_user = spec["otherUser"].as_bool(false);
  app->unlisted = spec["unlisted"].as_bool(false);
  app->unresponsive = spec["unresponsive"].as_bool(false);
  app->batch_fails = spec["batchFails"].as_bool(false);
  app->refuses_activation = spec["refusesActivation"].as_bool(false);
  app->responsible_pid = static_cast<pid_t>(spec["responsiblePid"].as_int(pid));
  app->messaging_timeout = 0;
  const Json& sig = spec["signing"];
  if (sig.is_object()) {
    platform::SigningInfo si;
    if (sig["teamId"].is_string()) si.team_identifier = sig["teamId"].as_string();
    if (sig["identifier"].is_string()) si.identifier = sig["identifier"].as_string();
    app->signing = si;
    app->anchor = sig["anchor"].str_or(si.team_identifier ? "apple generic" : "apple");
  } else if (!sig.is_null() || !spec.has("signing")) {
    platform::SigningInfo si;
    si.identifier = app->bundle_id;
    app->signing = si;
    app->anchor = "apple";
  }
  app->spec = spec;

  auto el = NewNode(w, NodeKind::kApplication);
  el->id = spec["id"].str_or("app:" + std::to_string(pid));
  el->pid = pid;
  el->app_pid = pid;
  el->role = "AXApplication";
  if (app->name) el->attrs["AXTitle"] = Json(*app->name);
  el->settable = {"AXManualAccessibility", "AXEnhancedUserInterface", "AXFrontmost",
                  "AXFocusedWindow", "AXMainWindow", "AXFocusedUIElement"};
  app->element = el;
  w.apps[pid] = app;
  w.app_order.erase(std::remove(w.app_order.begin(), w.app_order.end(), pid), w.app_order.end());
  w.app_order.push_back(pid);
  ApplyElementKeys(w, app.get(), el, spec["element"]);
  if (spec.has("delayMs")) el->delay_ms = spec["delayMs"].as_double();
  if (spec.has("hang")) el->hang = spec["hang"].as_bool();
  RegisterNode(w, el);

  BuildCtx c{w, *app, {}, error};
  for (const Json& ws : spec["windows"].items()) BuildWindow(c, ws);
  if (spec["menuBar"].is_object()) {
    Json mb = spec["menuBar"];
    if (!mb.has("role")) mb.set("role", Json("AXMenuBar"));
    auto bar = BuildElement(c, mb, el, el->id + ".menubar", pid);
    app->menu_bar_id = bar->id;
    std::string open = spec["openMenu"].str_or("");
    for (auto& item : bar->children) {
      std::string title = item->attrs.count("AXTitle") ? item->attrs["AXTitle"].str_or("") : "";
      for (auto& menu : item->children) {
        if (menu->role != "AXMenu") continue;
        platform::Rect r;
        if (!open.empty() && title == open && ParseRect(menu->attrs["openFrame"], &r))
          menu->frame = r;
      }
    }
  }
  for (const Json& id : spec["extraWindows"].items()) app->window_ids.push_back(id.as_string());
  if (spec["focusedElement"].is_string()) app->focused_element_id = spec["focusedElement"].as_string();
  if (spec["focusedWindow"].is_string()) app->focused_window_id = spec["focusedWindow"].as_string();
  if (spec["mainWindow"].is_string()) app->main_window_id = spec["mainWindow"].as_string();
  if (spec["defaultButton"].is_string()) app->default_button_id = spec["defaultButton"].as_string();
  if (app->main_window_id.empty() && !app->window_ids.empty()) app->main_window_id = app->window_ids[0];
  if (app->focused_window_id.empty() && !app->window_ids.empty())
    app->focused_window_id = app->window_ids[0];

  // Window-server windows: each top-level window with its surfaces in front
  // of it (surfaces are built after their host, so walk the list backwards
  // and put each surface in front of its host).
  std::vector<std::shared_ptr<CgWindow>> ordered;
  for (auto& [cw, host] : c.surfaces) {
    if (host == 0) {
      ordered.push_back(cw);
    } else {
      auto it = std::find_if(ordered.begin(), ordered.end(),
                             [&](const std::shared_ptr<CgWindow>& x) { return x->number == host; });
      ordered.insert(it == ordered.end() ? ordered.end() : it, cw);
    }
  }
  if (to_front) w.z.insert(w.z.begin(), ordered.begin(), ordered.end());
  else w.z.insert(w.z.end(), ordered.begin(), ordered.end());
  return app;
}

void QuitApp(World& w, pid_t pid) {
  auto app = FindApp(w, pid);
  std::vector<std::string> dead;
  for (auto& [id, n] : w.nodes) {
    if (n->pid == pid || n->app_pid == pid) {
      n->alive = false;
      dead.push_back(id);
    }
  }
  for (const auto& id : dead) {
    w.retired[id] = w.nodes[id];
    w.nodes.erase(id);
  }
  if (app) app->element->alive = false;
  w.z.erase(std::remove_if(w.z.begin(), w.z.end(),
                           [&](const std::shared_ptr<CgWindow>& cw) {
                             return cw->owner == pid || (cw->element && !cw->element->alive);
                           }),
            w.z.end());
  w.apps.erase(pid);
  w.app_order.erase(std::remove(w.app_order.begin(), w.app_order.end(), pid), w.app_order.end());
  if (w.frontmost == pid) {
    w.frontmost = 0;
    for (auto& cw : w.z) {
      auto other = FindApp(w, cw->owner);
      if (cw->layer == 0 && other && !other->terminated &&
          other->policy == platform::ActivationPolicy::kRegular) {
        w.frontmost = other->pid;
        break;
      }
    }
    if (w.frontmost != 0) w.activation_queue.push_back(w.frontmost);
  }
}

std::shared_ptr<CgWindow> AddWindow(World& w, App& app, const Json& spec, std::string* error) {
  BuildCtx c{w, app, {}, error};
  BuildWindow(c, spec);
  std::shared_ptr<CgWindow> top;
  std::vector<std::shared_ptr<CgWindow>> ordered;
  for (auto& [cw, host] : c.surfaces) {
    if (host == 0) {
      ordered.push_back(cw);
      if (!top) top = cw;
    } else {
      auto it = std::find_if(ordered.begin(), ordered.end(),
                             [&](const std::shared_ptr<CgWindow>& x) { return x->number == host; });
      ordered.insert(it, cw);
    }
  }
  w.z.insert(w.z.begin(), ordered.begin(), ordered.end());
  return top;
}

bool RemoveWindow(World& w, uint32_t number) {
  auto cw = FindWindow(w, number);
  if (!cw) return false;
  if (cw->element) {
    NodePtr root = cw->element;
    std::vector<NodePtr> stack{root};
    while (!stack.empty()) {
      NodePtr n = stack.back();
      stack.pop_back();
      n->alive = false;
      if (!n->id.empty() && w.nodes.count(n->id) && w.nodes[n->id] == n) {
        w.retired[n->id] = n;
        w.nodes.erase(n->id);
      }
      for (auto& k : n->children) stack.push_back(k);
    }
    if (auto parent = root->parent.lock()) {
      auto& kids = parent->children;
      kids.erase(std::remove(kids.begin(), kids.end(), root), kids.end());
    }
    if (auto app = FindApp(w, root->app_pid)) {
      auto& ids = app->window_ids;
      ids.erase(std::remove(ids.begin(), ids.end(), root->id), ids.end());
      if (app->focused_window_id == root->id)
        app->focused_window_id = ids.empty() ? "" : ids.front();
      if (app->main_window_id == root->id) app->main_window_id = ids.empty() ? "" : ids.front();
    }
  }
  w.z.erase(std::remove_if(w.z.begin(), w.z.end(),
                           [&](const std::shared_ptr<CgWindow>& x) {
                             return x->number == number || (x->element && !x->element->alive);
                           }),
            w.z.end());
  return true;
}

void PatchElement(World& w, const NodePtr& n, const Json& patch) {
  auto app = FindApp(w, n->app_pid);
  ApplyElementKeys(w, app.get(), n, patch);
  if (patch.has("windowNumber")) n->window_number = static_cast<uint32_t>(patch["windowNumber"].as_int());
  if (n->window_number != 0 && patch.has("frame") && n->frame) {
    if (auto cw = FindWindow(w, n->window_number)) cw->bounds = *n->frame;
  }
  if (patch.has("children")) {
    // The old children end like the elements of a closed window.
    std::vector<NodePtr> stack(n->children.begin(), n->children.end());
    while (!stack.empty()) {
      NodePtr old = stack.back();
      stack.pop_back();
      old->alive = false;
      auto it = w.nodes.find(old->id);
      if (it != w.nodes.end() && it->second == old) {
        w.retired[old->id] = old;
        w.nodes.erase(it);
      }
      for (auto& k : old->children) stack.push_back(k);
    }
    w.z.erase(std::remove_if(w.z.begin(), w.z.end(),
                             [](const std::shared_ptr<CgWindow>& x) { return x->element && !x->element->alive; }),
              w.z.end());
    n->children.clear();
    BuildCtx c{w, *app, {}, nullptr};
    BuildChildren(c, patch["children"], n);
    for (auto& [cw, host] : c.surfaces) InsertWindowInFront(w, cw, host);
  }
}

void PatchWindow(World& w, CgWindow& cw, const Json& patch) {
  (void)w;
  platform::Rect r;
  if (ParseRect(patch["bounds"], &r)) {
    cw.bounds = r;
    if (cw.element) cw.element->frame = r;
  }
  if (patch["title"].is_string()) {
    cw.title = patch["title"].as_string();
    if (cw.element) cw.element->attrs["AXTitle"] = patch["title"];
  }
  if (patch["cgTitle"].is_string()) cw.title = patch["cgTitle"].as_string();
  if (patch.has("layer")) cw.layer = patch["layer"].as_int();
  if (patch.has("onScreen")) cw.on_screen = patch["onScreen"].as_bool();
  if (patch.has("alpha")) cw.alpha = patch["alpha"].as_double();
  if (patch.has("acceptsMouseDown")) cw.accepts_mouse_down = patch["acceptsMouseDown"].as_bool();
  if (patch.has("omitKeys")) {
    cw.omit_keys.clear();
    for (const Json& k : patch["omitKeys"].items()) cw.omit_keys.push_back(k.as_string());
  }
  if (patch.has("badKeys")) cw.bad_keys = patch["badKeys"];
  if (patch.has("ownerName")) cw.owner_name = patch["ownerName"].str_or("");
}

void ResetWorld(World& w) {
  for (auto& [id, n] : w.nodes) n->alive = false;
  for (auto& [pid, app] : w.apps) app->element->alive = false;
  w.nodes.clear();
  w.retired.clear();
  w.apps.clear();
  w.app_order.clear();
  w.z.clear();
  w.displays = {Display{}};
  w.displays[0].main = true;
  w.screens_changed = true;
  w.installed.clear();
  w.frontmost = 0;
  w.ax_focused_app = 0;
  w.front_process_fails = false;
  w.pointer = {720, 450};
  w.pointer_available = true;
  w.pointer_follows_events = true;
  w.synthetic_focus.clear();
  w.os_version = "14.5";
  w.perms = Permissions{};
  w.private_absent.clear();
  w.single_window_image = true;
  w.keyboard_layout_available = true;
  w.keyboard_layout = "us";
  w.held_keys.clear();
  w.flags_state = 0;
  w.global_timeout = 0;
  w.journal.clear();
  w.activation_queue.clear();
  w.app_events = 0;
  w.log.clear();
  w.next_pid = 700;
  w.next_window = 9000;
  w.mouse_down_element.clear();
  if (w.system_wide) w.system_wide->alive = true;
}

bool LoadScene(World& w, const Json& scene, std::string* error) {
  if (!scene.is_object()) {
    *error = "a scene is a JSON object";
    return false;
  }
  // A malformed scene is refused before the current desktop is touched.
  if (!ValidateScene(scene, error)) return false;
  ResetWorld(w);
  if (scene["platformVersion"].is_string()) w.os_version = scene["platformVersion"].as_string();
  if (scene["displays"].is_array() && scene["displays"].size() > 0) {
    w.displays.clear();
    for (const Json& d : scene["displays"].items()) {
      w.displays.push_back(ParseDisplay(d, w.displays.size(), false));
    }
    bool any_main = false;
    for (auto& d : w.displays) any_main = any_main || d.main;
    if (!any_main) w.displays[0].main = true;
  }
  if (scene["pointer"].size() == 2) w.pointer = {scene["pointer"][0].as_double(), scene["pointer"][1].as_double()};
  const Json& p = scene["permissions"];
  w.perms.accessibility = p["accessibility"].as_bool(true);
  w.perms.screen_recording = p["screenRecording"].as_bool(true);
  w.perms.responsibility_available = p["responsibilityAvailable"].as_bool(true);
  w.perms.preflight_available = p["preflightAvailable"].as_bool(true);
  w.perms.request_available = p["requestAvailable"].as_bool(true);
  for (const Json& s : scene["privateEntriesAbsent"].items()) w.private_absent.insert(s.as_string());
  w.single_window_image = scene["singleWindowImage"].as_bool(true);
  w.front_process_fails = scene["frontProcessFails"].as_bool(false);
  w.keyboard_layout_available = scene["keyboardLayout"].as_bool(true);
  for (const Json& inst : scene["installed"].items()) w.installed.push_back(ParseInstalled(inst));
  double now = Clock().WallSeconds();
  for (const Json& a : scene["apps"].items()) {
    pid_t pid = static_cast<pid_t>(a["pid"].as_int(w.next_pid++));
    double launch = a["launchTime"].as_double(now - 3600);
    if (!InstantiateApp(w, a, pid, launch, false, error)) return false;
    // Running applications are installed too (lookups by bundle id and name).
    bool known = false;
    for (auto& in : w.installed) known = known || (a["bundleId"].is_string() && in.bundle_id == a["bundleId"].as_string());
    if (!known && a["path"].is_string()) {
      Installed in;
      in.bundle_id = a["bundleId"].str_or("");
      in.name = a["name"].str_or("");
      in.path = a["path"].as_string();
      in.app = a;
      w.installed.push_back(in);
    }
  }
  if (scene["frontmost"].is_number()) {
    w.frontmost = static_cast<pid_t>(scene["frontmost"].as_int());
  } else {
    for (pid_t pid : w.app_order) {
      auto app = FindApp(w, pid);
      if (app->policy == platform::ActivationPolicy::kRegular && !app->terminated) {
        w.frontmost = pid;
        break;
      }
    }
  }
  for (auto& cw : w.z) {
    auto owner = FindApp(w, cw->owner);
    if (cw->owner_name.empty() && owner && owner->name) cw->owner_name = *owner->name;
  }
  // Z-order: an explicit list first, else the frontmost application's windows
  // in front of the rest (scene order otherwise).
  if (scene["order"].is_array()) {
    std::vector<std::shared_ptr<CgWindow>> front;
    for (const Json& num : scene["order"].items()) {
      auto cw = FindWindow(w, static_cast<uint32_t>(num.as_int()));
      if (!cw) continue;
      w.z.erase(std::remove(w.z.begin(), w.z.end(), cw), w.z.end());
      front.push_back(cw);
    }
    w.z.insert(w.z.begin(), front.begin(), front.end());
  } else if (w.frontmost != 0) {
    std::stable_partition(w.z.begin(), w.z.end(), [&](const std::shared_ptr<CgWindow>& cw) {
      return cw->owner == w.frontmost || (cw->element && cw->element->app_pid == w.frontmost);
    });
  }
  return true;
}

}  // namespace sim
