#include "sim/behaviour.h"

#include <algorithm>
#include <cmath>

#include "sim/attributes.h"
#include "sim/scene.h"

namespace sim {

namespace {

bool Contains(const platform::Rect& r, platform::Point p) {
  return p.x >= r.x && p.y >= r.y && p.x < r.x + r.width && p.y < r.y + r.height;
}

bool IsEnabled(const Node& n) {
  auto it = n.attrs.find("AXEnabled");
  return it == n.attrs.end() || it->second.as_bool(true);
}

NodePtr Deepest(const NodePtr& n, platform::Point p) {
  auto kids = ShownChildren(n);
  for (auto it = kids.rbegin(); it != kids.rend(); ++it) {
    const NodePtr& k = *it;
    if (k->frame) {
      if (Contains(*k->frame, p)) return Deepest(k, p);
    } else if (NodePtr inner = Deepest(k, p); inner != k) {
      return inner;
    }
  }
  return n;
}

NodePtr Target(World& w, const NodePtr& source, const Json& v) {
  if (v.is_string()) return FindNode(w, v.as_string());
  if (v.is_object() && v["target"].is_string()) return FindNode(w, v["target"].as_string());
  return source;
}

void Step(World& w, const NodePtr& n, double sign) {
  if (!n) return;
  double step = 1;
  auto st = n->attrs.find("AXValueIncrement");
  if (st != n->attrs.end() && st->second.is_number()) step = st->second.as_double();
  double v = 0;
  auto cur = n->attrs.find("AXValue");
  bool integral = true;
  if (cur != n->attrs.end() && cur->second.is_number()) {
    v = cur->second.as_double();
    integral = cur->second.is_int();
  }
  platform::Value nv(platform::Number{v + sign * step, integral && step == std::floor(step)});
  bool had = n->settable.count("AXValue");
  n->settable.insert("AXValue");
  WriteAttr(w, n, "AXValue", nv);
  if (!had) n->settable.erase("AXValue");
}

void Toggle(const NodePtr& n) {
  if (!n) return;
  auto cur = n->attrs.find("AXValue");
  if (cur != n->attrs.end() && cur->second.is_bool()) {
    n->attrs["AXValue"] = Json(!cur->second.as_bool());
  } else {
    int64_t v = cur != n->attrs.end() ? cur->second.as_int(0) : 0;
    n->attrs["AXValue"] = Json(static_cast<int64_t>(v ? 0 : 1));
  }
}

void SetShown(World& w, const NodePtr& n, bool shown) {
  if (!n) return;
  n->hidden = !shown;
  if (!shown) {
    // Focus inside a closed sheet goes back to the window that held it.
    auto app = FocusApp(w, n);
    NodePtr host = ContainingWindow(n->parent.lock());
    if (app) {
      auto f = FindNode(w, app->focused_element_id);
      if (f && !NodeVisible(f)) app->focused_element_id.clear();
      for (std::string* id : {&app->focused_window_id, &app->main_window_id}) {
        auto win = FindNode(w, *id);
        if (win && !NodeVisible(win)) *id = host && NodeVisible(host) && host->pid == app->pid ? host->id : "";
      }
    }
  } else if (n->window_number != 0) {
    auto app = FocusApp(w, n);
    if (app && n->role == "AXWindow") app->focused_window_id = n->id;
  }
}

}  // namespace

bool ActivateApp(World& w, pid_t pid) {
  auto app = FindApp(w, pid);
  if (!app || app->terminated) return false;
  if (app->refuses_activation) return true;
  std::stable_partition(w.z.begin(), w.z.end(), [&](const std::shared_ptr<CgWindow>& cw) {
    return cw->owner == pid || (cw->element && cw->element->app_pid == pid);
  });
  w.ax_focused_app = 0;
  if (w.frontmost != pid) {
    w.frontmost = pid;
    w.activation_queue.push_back(pid);
  }
  return true;
}

void RaiseWindow(World& w, const NodePtr& window) {
  if (!window || window->window_number == 0) return;
  auto app = FocusApp(w, window);
  pid_t owner = app ? app->pid : window->pid;
  // The window and every surface nested inside it move together.
  std::vector<std::shared_ptr<CgWindow>> moving, rest;
  for (auto& cw : w.z) {
    bool inside = false;
    if (cw->element) {
      for (NodePtr cur = cw->element; cur; cur = cur->parent.lock()) {
        if (cur == window) {
          inside = true;
          break;
        }
      }
    }
    (inside ? moving : rest).push_back(cw);
  }
  if (moving.empty()) return;
  // Insert in front of the application's frontmost window (the very front
  // when the application is frontmost).
  size_t at = 0;
  if (w.frontmost != owner) {
    at = rest.size();
    for (size_t i = 0; i < rest.size(); ++i) {
      if (rest[i]->owner == owner || (rest[i]->element && rest[i]->element->app_pid == owner)) {
        at = i;
        break;
      }
    }
  }
  rest.insert(rest.begin() + static_cast<long>(at), moving.begin(), moving.end());
  w.z = std::move(rest);
  if (app) {
    app->main_window_id = window->id;
    app->focused_window_id = window->id;
  }
}

void FocusElement(World& w, const NodePtr& n, bool focused) {
  auto app = FocusApp(w, n);
  if (!app) return;
  if (!focused) {
    if (app->focused_element_id == n->id) app->focused_element_id.clear();
    return;
  }
  app->focused_element_id = n->id;
  if (NodePtr win = ContainingWindow(n)) {
    if (win->role == "AXWindow" || std::find(app->window_ids.begin(), app->window_ids.end(),
                                             win->id) != app->window_ids.end())
      app->focused_window_id = win->id;
  }
}

void RunEffects(World& w, const NodePtr& source, const Json& effects) {
  for (const Json& e : effects.items()) {
    if (!e.is_object()) continue;
    for (const auto& [kind, arg] : e.members()) {
      if (kind == "setValue" || kind == "setAttribute") {
        NodePtr t = Target(w, source, arg);
        if (!t) continue;
        std::string attr = kind == "setValue" ? "AXValue" : arg["attribute"].str_or("AXValue");
        if (arg["value"].is_null()) t->attrs.erase(attr);
        else t->attrs[attr] = arg["value"];
        // A window's title is also its name in the window list.
        if (attr == "AXTitle" && t->window_number != 0)
          if (auto cw = FindWindow(w, t->window_number)) cw->title = arg["value"].str_or("");
      } else if (kind == "openSheet" || kind == "show") {
        SetShown(w, Target(w, source, arg), true);
      } else if (kind == "closeSheet" || kind == "hide") {
        SetShown(w, Target(w, source, arg), false);
      } else if (kind == "activate") {
        pid_t pid = arg.is_number() ? static_cast<pid_t>(arg.as_int()) : 0;
        if (pid == 0 && source) {
          auto app = FocusApp(w, source);
          pid = app ? app->pid : 0;
        }
        if (pid) ActivateApp(w, pid);
      } else if (kind == "quit") {
        pid_t pid = arg.is_number() ? static_cast<pid_t>(arg.as_int()) : (source ? source->app_pid : 0);
        if (pid) QuitApp(w, pid);
        return;  // the source is gone
      } else if (kind == "increment" || kind == "decrement") {
        Step(w, Target(w, source, arg), kind == "increment" ? 1 : -1);
      } else if (kind == "toggle") {
        Toggle(Target(w, source, arg));
      } else if (kind == "focus") {
        if (NodePtr t = Target(w, source, arg)) FocusElement(w, t, true);
      } else if (kind == "raise") {
        if (NodePtr t = Target(w, source, arg)) RaiseWindow(w, ContainingWindow(t));
      } else if (kind == "press") {
        if (NodePtr t = Target(w, source, arg); t && t != source) PerformActionLocked(w, t, "AXPress");
      } else if (kind == "log") {
        Log(w, arg.str_or(""));
      }
    }
  }
}

platform::AXError PerformActionLocked(World& w, const NodePtr& n, const std::string& action) {
  if (std::find(n->actions.begin(), n->actions.end(), action) == n->actions.end())
    return platform::kAXErrorActionUnsupported;
  if (!IsEnabled(*n)) return platform::kAXErrorSuccess;
  n->action_counts[action]++;
  if (action == "AXPress") n->press_count++;
  auto it = n->action_effects.find(action);
  if (it != n->action_effects.end()) {
    Json effects = it->second;  // effects may change the node's own table
    RunEffects(w, n, effects);
    return platform::kAXErrorSuccess;
  }
  if (action == "AXRaise") {
    RaiseWindow(w, n);
  } else if (action == "AXIncrement" || action == "AXDecrement") {
    Step(w, n, action == "AXIncrement" ? 1 : -1);
  } else if (action == "AXPress") {
    if (n->role == "AXCheckBox" || n->role == "AXRadioButton") {
      Toggle(n);
    } else if (n->role == "AXMenuBarItem") {
      for (auto& menu : n->children) {
        if (menu->role != "AXMenu") continue;
        platform::Rect r;
        if (menu->frame) menu->frame.reset();
        else if (ParseRect(menu->attrs["openFrame"], &r)) menu->frame = r;
      }
    }
  }
  return platform::kAXErrorSuccess;
}

// The application's focused element when it is a shown, enabled text element.
static NodePtr FocusedTextElement(World& w, pid_t pid) {
  auto app = FindApp(w, pid);
  if (!app) return nullptr;
  NodePtr f = FindNode(w, app->focused_element_id);
  if (!f || !NodeVisible(f) || !IsTextRole(f->role) || !IsEnabled(*f)) return nullptr;
  return f;
}

bool InsertText(World& w, pid_t pid, const std::string& utf8) {
  NodePtr f = FocusedTextElement(w, pid);
  if (!f) return false;
  auto it = f->attrs.find("AXValue");
  std::string cur = it == f->attrs.end() ? "" : ValueText(it->second);
  f->attrs["AXValue"] = Json(cur + utf8);
  return true;
}

bool DeleteBackward(World& w, pid_t pid) {
  NodePtr f = FocusedTextElement(w, pid);
  if (!f) return false;
  auto it = f->attrs.find("AXValue");
  std::string cur = it == f->attrs.end() ? "" : ValueText(it->second);
  if (cur.empty()) return true;
  size_t cut = cur.size() - 1;
  while (cut > 0 && (static_cast<unsigned char>(cur[cut]) & 0xC0) == 0x80) --cut;
  f->attrs["AXValue"] = Json(cur.substr(0, cut));
  return true;
}

NodePtr HitTest(World& w, platform::Point p, pid_t pid) {
  for (auto& cw : w.z) {
    if (!cw->on_screen || !WindowVisible(w, *cw) || !Contains(cw->bounds, p)) continue;
    if (pid > 0 && cw->owner != pid && !(cw->element && cw->element->app_pid == pid)) continue;
    if (!cw->element) return nullptr;
    return Deepest(cw->element, p);
  }
  return nullptr;
}

void ClickAt(World& w, platform::Point p, pid_t pid, bool activate) {
  NodePtr target = HitTest(w, p, pid);
  if (!target) return;
  auto app = FocusApp(w, target);
  if (activate && app) ActivateApp(w, app->pid);
  if (NodePtr win = ContainingWindow(target); win && activate) RaiseWindow(w, win);
  if (IsTextRole(target->role)) FocusElement(w, target, true);
  if (std::find(target->actions.begin(), target->actions.end(), "AXPress") != target->actions.end())
    PerformActionLocked(w, target, "AXPress");
}


}  // namespace sim
