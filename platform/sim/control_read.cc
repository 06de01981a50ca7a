// Reader commands of the simulated desktop: elements (live values, press
// counts, live handle counts), applications, windows, the event journal, the
// log and permission counters.
#include <cstdio>

#include "common/text.h"
#include "sim/attributes.h"
#include "sim/behaviour.h"
#include "sim/keyboard_layouts.h"
#include "sim/control.h"
#include "sim/hooks.h"
#include "sim/scene.h"
#include "sim/sim_clock.h"
#include "sim/timed_accessibility.h"

namespace sim {

namespace {

Json RectJson(const platform::Rect& r) {
  Json a = Json::Array();
  a.push(Json(r.x));
  a.push(Json(r.y));
  a.push(Json(r.width));
  a.push(Json(r.height));
  return a;
}

Json PointJson(const platform::Point& p) {
  Json o = Json::Object();
  o.set("x", Json(p.x));
  o.set("y", Json(p.y));
  return o;
}

const char* PolicyName(platform::ActivationPolicy p) {
  switch (p) {
    case platform::ActivationPolicy::kAccessory: return "accessory";
    case platform::ActivationPolicy::kProhibited: return "prohibited";
    default: return "regular";
  }
}

Json Attr(const Node& n, const char* a) {
  auto it = n.attrs.find(a);
  return it == n.attrs.end() ? Json() : it->second;
}

Json ElementJson(World& w, const NodePtr& n) {
  Json o = Json::Object();
  o.set("id", Json(n->id));
  o.set("role", Json(n->role));
  o.set("subrole", n->subrole.empty() ? Json() : Json(n->subrole));
  o.set("title", Attr(*n, "AXTitle"));
  o.set("description", Attr(*n, "AXDescription"));
  o.set("value", Attr(*n, "AXValue"));
  o.set("identifier", Attr(*n, "AXIdentifier"));
  o.set("help", Attr(*n, "AXHelp"));
  o.set("enabled", Json(Attr(*n, "AXEnabled").as_bool(true)));
  platform::Value focused;
  bool f = n->alive && ReadAttr(w, n, "AXFocused", &focused) == platform::kAXErrorSuccess &&
           focused.boolean() && *focused.boolean();
  if (n->kind == NodeKind::kApplication) f = w.frontmost == n->pid;
  o.set("focused", Json(f));
  if (IsWindowLike(*n)) {
    auto app = FocusApp(w, n);
    o.set("main", Json(app && app->main_window_id == n->id));
  }
  o.set("selected", Attr(*n, "AXSelected"));
  o.set("frame", n->frame ? RectJson(*n->frame) : Json());
  o.set("pid", Json(static_cast<int64_t>(n->pid)));
  o.set("appPid", Json(static_cast<int64_t>(n->app_pid)));
  o.set("windowNumber", n->window_number ? Json(static_cast<int64_t>(n->window_number)) : Json());
  o.set("pressCount", Json(static_cast<int64_t>(n->press_count)));
  Json counts = Json::Object();
  for (auto& [a, c] : n->action_counts) counts.set(a, Json(static_cast<int64_t>(c)));
  o.set("actionCounts", counts);
  o.set("liveHandles", Json(static_cast<int64_t>(n->live.load())));
  o.set("alive", Json(n->alive));
  o.set("hidden", Json(n->hidden));
  o.set("visible", Json(NodeVisible(n)));
  NodePtr parent = n->parent.lock();
  o.set("parent", parent ? Json(parent->id) : Json());
  Json kids = Json::Array();
  for (auto& k : n->children) kids.push(Json(k->id));
  o.set("children", kids);
  Json actions = Json::Array();
  for (auto& a : n->actions) actions.push(Json(a));
  o.set("actions", actions);
  Json settable = Json::Array();
  for (auto& a : n->settable) settable.push(Json(a));
  o.set("settable", settable);
  Json attrs = Json::Object();
  for (auto& [k, v] : n->attrs) attrs.set(k, v);
  o.set("attributes", attrs);
  o.set("delayMs", Json(n->delay_ms));
  o.set("hang", Json(n->hang));
  return o;
}

Json AppJson(World& w, const App& a) {
  Json o = Json::Object();
  o.set("pid", Json(static_cast<int64_t>(a.pid)));
  o.set("bundleId", a.bundle_id ? Json(*a.bundle_id) : Json());
  o.set("name", a.name ? Json(*a.name) : Json());
  o.set("path", a.path ? Json(*a.path) : Json());
  o.set("launchTime", Json(a.launch_time));
  o.set("policy", Json(PolicyName(a.policy)));
  o.set("terminated", Json(a.terminated));
  o.set("active", Json(w.frontmost == a.pid));
  o.set("otherUser", Json(a.other_user));
  o.set("unlisted", Json(a.unlisted));
  o.set("unresponsive", Json(a.unresponsive));
  o.set("elementId", Json(a.element->id));
  Json wins = Json::Array();
  for (auto& id : a.window_ids) wins.push(Json(id));
  o.set("windows", wins);
  o.set("focusedWindow", a.focused_window_id.empty() ? Json() : Json(a.focused_window_id));
  o.set("mainWindow", a.main_window_id.empty() ? Json() : Json(a.main_window_id));
  o.set("focusedElement", a.focused_element_id.empty() ? Json() : Json(a.focused_element_id));
  // The time-out the application's calls wait for: its own, else the one set
  // on the system-wide element, else the platform default.
  double timeout = a.messaging_timeout > 0 ? a.messaging_timeout
                   : w.global_timeout > 0  ? w.global_timeout
                                           : DefaultTimeoutSeconds();
  o.set("messagingTimeout", Json(timeout));
  o.set("manualAccessibility", Attr(*a.element, "AXManualAccessibility"));
  o.set("enhancedUserInterface", Attr(*a.element, "AXEnhancedUserInterface"));
  return o;
}

Json WindowJson(World& w, const CgWindow& cw) {
  Json o = Json::Object();
  o.set("number", Json(static_cast<int64_t>(cw.number)));
  o.set("pid", Json(static_cast<int64_t>(cw.owner)));
  o.set("ownerName", Json(cw.owner_name));
  o.set("title", Json(cw.title));
  o.set("layer", Json(cw.layer));
  o.set("bounds", RectJson(cw.bounds));
  o.set("onScreen", Json(cw.on_screen));
  o.set("alpha", Json(cw.alpha));
  o.set("acceptsMouseDown", Json(cw.accepts_mouse_down));
  o.set("elementId", cw.element ? Json(cw.element->id) : Json());
  o.set("visible", Json(WindowVisible(w, cw)));
  return o;
}

const char* TypeName(platform::EventType t) {
  using T = platform::EventType;
  switch (t) {
    case T::kLeftMouseDown: return "leftMouseDown";
    case T::kLeftMouseUp: return "leftMouseUp";
    case T::kRightMouseDown: return "rightMouseDown";
    case T::kRightMouseUp: return "rightMouseUp";
    case T::kMouseMoved: return "mouseMoved";
    case T::kLeftMouseDragged: return "leftMouseDragged";
    case T::kRightMouseDragged: return "rightMouseDragged";
    case T::kKeyDown: return "keyDown";
    case T::kKeyUp: return "keyUp";
    case T::kFlagsChanged: return "flagsChanged";
    case T::kScrollWheel: return "scrollWheel";
    case T::kOtherMouseDown: return "otherMouseDown";
    case T::kOtherMouseUp: return "otherMouseUp";
    case T::kOtherMouseDragged: return "otherMouseDragged";
    default: return "null";
  }
}

const char* SourceName(platform::EventSourceState s) {
  switch (s) {
    case platform::EventSourceState::kPrivate: return "private";
    case platform::EventSourceState::kCombinedSession: return "combinedSession";
    default: return "hidSystem";
  }
}

Json EventJson(const JournalEntry& j) {
  Json o = Json::Object();
  o.set("seq", Json(j.seq));
  o.set("route", Json(j.route));
  o.set("pid", Json(static_cast<int64_t>(j.target_pid)));
  o.set("simMs", Json(j.sim_ms));
  if (!j.has_event) {
    std::string hex;
    char buf[4];
    for (uint8_t b : j.record) {
      snprintf(buf, sizeof buf, "%02x", b);
      hex += buf;
    }
    o.set("type", Json("eventRecord"));
    o.set("record", Json(hex));
    if (j.record.size() >= 0x8B) {
      uint32_t win = 0;
      for (int i = 0; i < 4; ++i) win |= static_cast<uint32_t>(j.record[0x3C + i]) << (8 * i);
      o.set("recordKind", Json(static_cast<int64_t>(j.record[8])));
      o.set("recordWindowId", Json(static_cast<int64_t>(win)));
      o.set("recordFocus", Json(static_cast<int64_t>(j.record[0x8A])));
    }
    return o;
  }
  const platform::Event& e = j.event;
  o.set("type", Json(TypeName(e.type)));
  o.set("typeCode", Json(static_cast<int64_t>(e.type)));
  o.set("source", Json(SourceName(e.source)));
  o.set("location", PointJson(e.location));
  o.set("windowLocation", e.window_location ? PointJson(*e.window_location) : Json());
  o.set("flags", Json(static_cast<int64_t>(e.flags)));
  o.set("keycode", Json(static_cast<int64_t>(e.keycode)));
  o.set("flagsSet", Json(e.flags_set));
  // Lone surrogate halves read as U+FFFD here; unicodeUnits has the exact units.
  o.set("unicode", Json(common::Utf8OfUtf16(e.unicode)));
  Json units = Json::Array();
  for (char16_t c : e.unicode) units.push(Json(static_cast<int64_t>(c)));
  o.set("unicodeUnits", units);
  Json fields = Json::Object();
  for (auto& [k, v] : e.integer_fields) fields.set(std::to_string(k), Json(static_cast<int64_t>(v)));
  o.set("fields", fields);
  Json dfields = Json::Object();
  for (auto& [k, v] : e.double_fields) dfields.set(std::to_string(k), Json(v));
  o.set("doubleFields", dfields);
  if (e.type == platform::EventType::kScrollWheel) {
    Json s = Json::Object();
    s.set("pixelUnits", Json(e.scroll_units_pixel != 0));
    s.set("wheelCount", Json(static_cast<int64_t>(e.scroll_wheel_count)));
    Json d = Json::Array();
    for (int i = 0; i < 3; ++i) d.push(Json(static_cast<int64_t>(e.scroll_deltas[i])));
    s.set("deltas", d);
    o.set("scroll", s);
  }
  o.set("timestampNs", Json(static_cast<int64_t>(e.timestamp_ns)));
  return o;
}

}  // namespace

bool RunReadCommand(const std::string& name, const Json& args, Json* result, std::string* error,
                    bool* handled) {
  World& w = W();
  *handled = true;
  std::lock_guard<std::mutex> l(w.mu);
  if (name == "element") {
    std::string id = args[0].str_or("");
    NodePtr n = FindNode(w, id);
    if (!n) {
      auto it = w.retired.find(id);
      if (it != w.retired.end()) n = it->second;
    }
    if (!n && id.rfind("app:", 0) != 0) {
      for (auto& [pid, app] : w.apps)
        if (app->element->id == id) n = app->element;
    }
    *result = n ? ElementJson(w, n) : Json();
    return true;
  }
  if (name == "elements") {
    Json list = Json::Array();
    pid_t pid = static_cast<pid_t>(args[0].as_int(0));
    for (auto& [id, n] : w.nodes) {
      if (pid && n->app_pid != pid && n->pid != pid) continue;
      Json o = Json::Object();
      o.set("id", Json(id));
      o.set("role", Json(n->role));
      o.set("title", Attr(*n, "AXTitle"));
      o.set("pid", Json(static_cast<int64_t>(n->pid)));
      o.set("liveHandles", Json(static_cast<int64_t>(n->live.load())));
      list.push(o);
    }
    *result = list;
    return true;
  }
  if (name == "liveHandleCount") {
    *result = Json(static_cast<int64_t>(TotalLiveHandles().load()));
    return true;
  }
  if (name == "apps") {
    Json list = Json::Array();
    for (pid_t pid : w.app_order)
      if (auto app = FindApp(w, pid)) list.push(AppJson(w, *app));
    *result = list;
    return true;
  }
  if (name == "app") {
    auto app = FindApp(w, static_cast<pid_t>(args[0].as_int(0)));
    *result = app ? AppJson(w, *app) : Json();
    return true;
  }
  if (name == "windows") {
    Json list = Json::Array();
    for (auto& cw : w.z) list.push(WindowJson(w, *cw));
    *result = list;
    return true;
  }
  if (name == "frontmost") {
    *result = Json(static_cast<int64_t>(w.frontmost));
    return true;
  }
  if (name == "pointer") {
    *result = PointJson(w.pointer);
    return true;
  }
  if (name == "syntheticFocus") {
    Json o = Json::Object();
    for (const auto& [pid, window] : w.synthetic_focus)
      o.set(std::to_string(pid), Json(static_cast<int64_t>(window)));
    *result = o;
    return true;
  }
  if (name == "events") {
    Json list = Json::Array();
    for (auto& j : w.journal) list.push(EventJson(j));
    *result = list;
    return true;
  }
  if (name == "heldKeys") {
    // One pid: its keys down, ascending. No pid: {pid: keys} for every
    // process with a key down.
    auto keys = [](const std::set<uint16_t>& held) {
      Json list = Json::Array();
      for (uint16_t k : held) list.push(Json(static_cast<int64_t>(k)));
      return list;
    };
    if (args.size() > 0 && args[0].is_number() && args[0].as_int() > 0) {
      auto it = w.held_keys.find(static_cast<pid_t>(args[0].as_int()));
      *result = it == w.held_keys.end() ? Json::Array() : keys(it->second);
    } else {
      Json all = Json::Object();
      for (auto& [pid, held] : w.held_keys) all.set(std::to_string(pid), keys(held));
      *result = all;
    }
    return true;
  }
  if (name == "keyboardLayout") {
    Json o = Json::Object();
    o.set("name", Json(w.keyboard_layout));
    const LayoutInfo* info = FindLayout(w.keyboard_layout);
    o.set("inputSourceId", Json(info ? info->input_source_id : std::string()));
    *result = o;
    return true;
  }
  if (name == "clearEvents") {
    w.journal.clear();
    return true;
  }
  if (name == "logLines") {
    Json list = Json::Array();
    for (auto& line : w.log) list.push(Json(line));
    *result = list;
    return true;
  }
  if (name == "clearLog") {
    w.log.clear();
    return true;
  }
  if (name == "promptCount") {
    *result = Json(static_cast<int64_t>(w.perms.prompt_count));
    return true;
  }
  if (name == "permissions") {
    Json o = Json::Object();
    o.set("accessibility", Json(w.perms.accessibility));
    o.set("screenRecording", Json(w.perms.screen_recording));
    o.set("responsibilityAvailable", Json(w.perms.responsibility_available));
    o.set("preflightAvailable", Json(w.perms.preflight_available));
    o.set("requestAvailable", Json(w.perms.request_available));
    o.set("promptCount", Json(static_cast<int64_t>(w.perms.prompt_count)));
    o.set("requestCount", Json(static_cast<int64_t>(w.perms.request_count)));
    *result = o;
    return true;
  }
  if (name == "displays") {
    Json list = Json::Array();
    for (auto& d : w.displays) {
      Json o = Json::Object();
      o.set("id", Json(static_cast<int64_t>(d.id)));
      o.set("bounds", RectJson(d.bounds));
      o.set("pixelWidth", Json(d.pixel_width));
      o.set("pixelHeight", Json(d.pixel_height));
      o.set("main", Json(d.main));
      list.push(o);
    }
    *result = list;
    return true;
  }
  if (name == "stats") {
    Json o = Json::Object();
    o.set("observers", Json(static_cast<int64_t>(w.observers.size())));
    o.set("pendingActivations", Json(static_cast<int64_t>(w.activation_queue.size())));
    o.set("pendingAppEvents", Json(static_cast<int64_t>(w.app_events)));
    o.set("dispatchedAppEvents", Json(static_cast<int64_t>(w.dispatched_events)));
    o.set("runLoopTurns", Json(w.run_loop_turns));
    o.set("ensureApplicationCalls", Json(static_cast<int64_t>(w.ensure_application_calls)));
    o.set("platformVersion", Json(w.os_version));
    o.set("timeScale", Json(Clock().Scale()));
    o.set("liveHandles", Json(static_cast<int64_t>(TotalLiveHandles().load())));
    o.set("axCalls", Json(AccessibilityCallCount()));
    o.set("axBackendNs", Json(AccessibilityBackendNanos()));
    *result = o;
    return true;
  }
  (void)error;
  *handled = false;
  return true;
}

}  // namespace sim
