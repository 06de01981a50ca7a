// Scene validation: the whole scene, applications, windows, displays and
// installed entries, and the entry points for control commands. Element
// entries, effects and attribute values are checked in scene_checker.cc.
#include "sim/scene_validate.h"

#include <limits>

#include "sim/scene_checker.h"

namespace sim {

namespace {

constexpr double kInt32Max = std::numeric_limits<int32_t>::max();
constexpr double kInt32Min = std::numeric_limits<int32_t>::min();
constexpr double kUint32Max = std::numeric_limits<uint32_t>::max();

const std::set<std::string> kSceneKeys = {
    "platformVersion", "displays",  "pointer",      "permissions",          "frontmost",
    "frontProcessFails", "singleWindowImage", "keyboardLayout", "privateEntriesAbsent",
    "installed",       "apps",      "order"};
const std::set<std::string> kPermissionKeys = {"accessibility", "screenRecording",
                                               "responsibilityAvailable", "preflightAvailable",
                                               "requestAvailable"};
const std::set<std::string> kDisplayKeys = {"id",          "bounds", "pixelWidth",
                                            "pixelHeight", "scale",  "main", "mirror"};
const std::set<std::string> kInstalledKeys = {"bundleId", "name", "path", "app", "openResult"};
const std::set<std::string> kOpenResultKeys = {"error", "delayMs", "never"};
const std::set<std::string> kAppKeys = {
    "pid",          "bundleId",     "name",          "path",          "launchTime",
    "policy",       "terminated",   "otherUser",     "unlisted",      "unresponsive",  "batchFails",
    "refusesActivation", "signing", "responsiblePid", "id",           "element",
    "windows",      "extraWindows", "menuBar",       "openMenu",      "focusedWindow",
    "mainWindow",   "focusedElement", "defaultButton", "delayMs",     "hang"};
const std::set<std::string> kLaunchKeys = {"activate"};
const std::set<std::string> kAppPatchKeys = {
    "unresponsive", "batchFails",   "otherUser",      "unlisted",     "terminated",   "refusesActivation",
    "responsiblePid", "policy",     "name",           "bundleId",     "launchTime",
    "signing",      "focusedElement", "focusedWindow", "mainWindow",  "defaultButton",
    "element"};
const std::set<std::string> kSigningKeys = {"teamId", "identifier", "anchor"};
const std::set<std::string> kListOnlyWindowKeys = {
    "number", "ax",       "cg",       "title",   "bounds",  "layer",
    "onScreen", "alpha",  "acceptsMouseDown", "desktop", "omitKeys", "badKeys"};
const std::set<std::string> kWindowPatchKeys = {"bounds",   "title",   "cgTitle",
                                                "layer",    "onScreen", "alpha",
                                                "acceptsMouseDown", "omitKeys", "badKeys",
                                                "ownerName"};
const std::set<std::string> kAppBools = {"terminated", "otherUser", "unlisted", "unresponsive", "batchFails",
                                         "refusesActivation", "hang", "activate"};
const std::set<std::string> kAppRefs = {"focusedWindow", "mainWindow", "focusedElement",
                                        "defaultButton"};

// Keys shared by application entries and setApp patches.
void AppValue(SceneChecker& c, const std::string& key, const Json& v, const std::string& p) {
  if (key == "bundleId" || key == "name" || key == "path" || key == "openMenu") {
    c.String(v, p);
  } else if (key == "launchTime") {
    c.Number(v, p);
  } else if (key == "policy") {
    if (!v.is_string() || (v.as_string() != "regular" && v.as_string() != "accessory" &&
                           v.as_string() != "prohibited"))
      c.Fail(p, "\"regular\", \"accessory\" or \"prohibited\"");
  } else if (kAppBools.count(key)) {
    c.Bool(v, p);
  } else if (key == "delayMs") {
    c.NonNegative(v, p);
  } else if (key == "responsiblePid") {
    c.Integer(v, p, 1, kInt32Max, "a positive integer pid");
  } else if (key == "signing") {
    if (!v.is_null()) c.Signing(v, p);
  } else if (kAppRefs.count(key)) {
    if (!v.is_null()) c.Reference(v, p);
  }
}

SceneChecker FragmentChecker(World& w) {
  SceneChecker c;
  c.lookup = [&w](const std::string& id) { return FindNode(w, id) != nullptr; };
  return c;
}

bool Finish(SceneChecker& c, std::string* error) {
  if (c.ok()) c.ResolveReferences();
  if (c.ok()) return true;
  *error = c.error();
  return false;
}

}  // namespace

void SceneChecker::Signing(const Json& sig, const std::string& path) {
  if (!Object(sig, path, "{teamId, identifier, anchor} or null")) return;
  Keys(sig, path, {&kSigningKeys}, "signing");
  if (sig.has("teamId")) String(sig["teamId"], KeyPath(path, "teamId"));
  if (sig.has("identifier")) String(sig["identifier"], KeyPath(path, "identifier"));
  if (sig.has("anchor")) {
    const Json& a = sig["anchor"];
    if (!a.is_string() || (a.as_string() != "apple" && a.as_string() != "apple generic"))
      Fail(KeyPath(path, "anchor"), "\"apple\" or \"apple generic\"");
  }
}

int64_t SceneChecker::App(const Json& a, const std::string& path, int64_t default_pid, bool launch) {
  if (!Object(a, path, "an application entry")) return default_pid;
  if (launch) Keys(a, path, {&kAppKeys, &kLaunchKeys}, "application");
  else Keys(a, path, {&kAppKeys}, "application");
  int64_t pid = default_pid;
  if (a.has("pid") && Integer(a["pid"], KeyPath(path, "pid"), 1, kInt32Max, "a positive integer pid"))
    pid = a["pid"].as_int();
  std::string app_id = "app:" + std::to_string(pid);
  if (a.has("id") && NonEmptyId(a["id"], KeyPath(path, "id"))) app_id = a["id"].as_string();
  DefineId(app_id, a.has("id") ? KeyPath(path, "id") : path);
  for (const auto& [key, v] : a.members()) {
    if (!ok()) break;
    const std::string p = KeyPath(path, key);
    if (key == "element") {
      Element(v, p, app_id, Use::kAppElement);
    } else if (key == "windows") {
      if (!v.is_array()) {
        Fail(p, "an array of window entries");
        continue;
      }
      size_t ax_index = 0;
      for (size_t i = 0; i < v.size() && ok(); ++i) Window(v[i], IndexPath(p, i), app_id, &ax_index);
    } else if (key == "menuBar") {
      Element(v, p, app_id + ".menubar", Use::kElement);
    } else if (key == "extraWindows") {
      if (!v.is_array()) Fail(p, "an array of element ids");
      for (size_t i = 0; i < v.size(); ++i) Reference(v[i], IndexPath(p, i));
    } else {
      AppValue(*this, key, v, p);
    }
  }
  return pid;
}

void SceneChecker::Window(const Json& spec, const std::string& path, const std::string& app_id,
                          size_t* ax_index) {
  if (!Object(spec, path, "a window entry")) return;
  if (spec.has("ax")) Bool(spec["ax"], KeyPath(path, "ax"));
  if (spec.has("number") && Integer(spec["number"], KeyPath(path, "number"), 1, kUint32Max,
                                    "a positive integer window number"))
    DefineWindowNumber(spec["number"], KeyPath(path, "number"));
  for (const char* key : {"desktop", "main"})
    if (spec.has(key)) Bool(spec[key], KeyPath(path, key));
  if (spec.has("axFrame")) Rect(spec["axFrame"], KeyPath(path, "axFrame"));
  if (spec["ax"].is_bool() && !spec["ax"].as_bool()) {
    // Only in the window list: element keys would be ignored.
    Keys(spec, path, {&kListOnlyWindowKeys}, "window-list-only window");
    if (spec.has("title")) String(spec["title"], KeyPath(path, "title"));
    for (const char* key : {"cg", "onScreen", "acceptsMouseDown"})
      if (spec.has(key)) Bool(spec[key], KeyPath(path, key));
    if (spec.has("bounds")) Rect(spec["bounds"], KeyPath(path, "bounds"));
    if (spec.has("layer")) Integer(spec["layer"], KeyPath(path, "layer"), kInt32Min, kInt32Max, "an integer layer");
    if (spec.has("alpha")) Number(spec["alpha"], KeyPath(path, "alpha"));
    if (spec.has("omitKeys")) StringList(spec["omitKeys"], KeyPath(path, "omitKeys"));
    if (spec.has("badKeys")) Object(spec["badKeys"], KeyPath(path, "badKeys"), "an object of window-list key -> value");
    return;
  }
  Element(spec, path, app_id + ".w" + std::to_string((*ax_index)++), Use::kWindow);
}

void SceneChecker::WindowPatch(const Json& patch, const std::string& path) {
  if (!Object(patch, path, "a window patch")) return;
  Keys(patch, path, {&kWindowPatchKeys}, "window patch");
  for (const auto& [key, v] : patch.members()) {
    const std::string p = KeyPath(path, key);
    if (key == "bounds") Rect(v, p);
    else if (key == "title" || key == "cgTitle") String(v, p);
    else if (key == "layer") Integer(v, p, kInt32Min, kInt32Max, "an integer layer");
    else if (key == "onScreen" || key == "acceptsMouseDown") Bool(v, p);
    else if (key == "alpha") Number(v, p);
    else if (key == "omitKeys") StringList(v, p);
    else if (key == "badKeys") Object(v, p, "an object of window-list key -> value");
    else if (key == "ownerName" && !v.is_null()) String(v, p);
  }
}

void SceneChecker::AppPatch(const Json& patch, const std::string& path) {
  if (!Object(patch, path, "an application patch")) return;
  Keys(patch, path, {&kAppPatchKeys}, "application patch");
  for (const auto& [key, v] : patch.members()) {
    const std::string p = KeyPath(path, key);
    if (key == "element") Element(v, p, "", Use::kAppElement);
    else if ((key == "name" || key == "bundleId") && v.is_null()) continue;  // clears it
    else AppValue(*this, key, v, p);
  }
}

void SceneChecker::Installed(const Json& entry, const std::string& path) {
  if (!Object(entry, path, "an installed application entry")) return;
  Keys(entry, path, {&kInstalledKeys}, "installed application");
  for (const char* key : {"bundleId", "name", "path"})
    if (entry.has(key)) String(entry[key], KeyPath(path, key));
  if (entry.has("openResult")) {
    const Json& r = entry["openResult"];
    const std::string p = KeyPath(path, "openResult");
    if (Object(r, p, "{error, delayMs, never}")) {
      Keys(r, p, {&kOpenResultKeys}, "openResult");
      if (r.has("error")) Integer(r["error"], KeyPath(p, "error"), kInt32Min, kInt32Max, "an integer error code");
      if (r.has("delayMs")) NonNegative(r["delayMs"], KeyPath(p, "delayMs"));
      if (r.has("never")) Bool(r["never"], KeyPath(p, "never"));
    }
  }
  if (entry.has("app") && ok()) {
    // The entry's tree exists only once it launches: its ids are its own,
    // and its references may also name elements of the running applications.
    SceneChecker inner;
    inner.outer_ids = &ids_;
    inner.lookup = lookup;
    inner.App(entry["app"], KeyPath(path, "app"), 0, false);
    if (inner.ok()) inner.ResolveReferences();
    if (!inner.ok() && ok()) error_ = inner.error();
  }
}

void SceneChecker::Displays(const Json& list, const std::string& path) {
  if (!list.is_array()) {
    Fail(path, "an array of displays");
    return;
  }
  std::set<int64_t> ids;
  bool main = false;
  for (size_t i = 0; i < list.size() && ok(); ++i) {
    const Json& d = list[i];
    const std::string p = IndexPath(path, i);
    if (!Object(d, p, "a display entry")) return;
    Keys(d, p, {&kDisplayKeys}, "display");
    if (d.has("id") && Integer(d["id"], KeyPath(p, "id"), 1, kUint32Max, "a positive integer display id") &&
        !ids.insert(d["id"].as_int()).second)
      Fail(KeyPath(p, "id"), "a unique display id");
    if (d.has("bounds")) Rect(d["bounds"], KeyPath(p, "bounds"));
    for (const char* key : {"pixelWidth", "pixelHeight"})
      if (d.has(key)) Integer(d[key], KeyPath(p, key), 0, kInt32Max, "an integer >= 0");
    if (d.has("scale") && !(d["scale"].is_number() && d["scale"].as_double() > 0 &&
                            d["scale"].as_double() < 1e6))
      Fail(KeyPath(p, "scale"), "a number > 0");
    if (d.has("mirror")) Bool(d["mirror"], KeyPath(p, "mirror"));
    if (d.has("main") && Bool(d["main"], KeyPath(p, "main")) && d["main"].as_bool()) {
      if (main) Fail(KeyPath(p, "main"), "at most one display with main: true");
      main = true;
    }
  }
}

void SceneChecker::Scene(const Json& scene) {
  if (!Object(scene, "", "a JSON object")) return;
  Keys(scene, "", {&kSceneKeys}, "scene");
  for (const auto& [key, v] : scene.members()) {
    if (!ok()) return;
    if (key == "platformVersion") String(v, key);
    else if (key == "displays") Displays(v, key);
    else if (key == "pointer") Pair(v, key, "[x, y]");
    else if (key == "frontmost") Integer(v, key, 0, kInt32Max, "a pid");
    else if (key == "frontProcessFails" || key == "singleWindowImage" || key == "keyboardLayout") Bool(v, key);
    else if (key == "privateEntriesAbsent") StringList(v, key);
    else if (key == "permissions" && Object(v, key, "an object of permission flags")) {
      Keys(v, key, {&kPermissionKeys}, "permissions");
      for (const auto& [flag, value] : v.members()) Bool(value, KeyPath(key, flag));
    } else if ((key == "installed" || key == "apps" || key == "order") && !v.is_array()) {
      Fail(key, key == "order" ? "an array of window numbers" : "an array of application entries");
    }
  }
  // Running applications (the loader gives the n-th one pid 700 + n by default).
  // Duplicate pids are reported as such before their application ids clash.
  std::map<int64_t, std::string> pids;
  const Json& apps = scene["apps"];
  for (size_t i = 0; i < apps.size() && ok(); ++i) {
    const std::string p = IndexPath("apps", i);
    const Json& pid_value = apps[i]["pid"];
    bool whole = pid_value.is_number() && static_cast<double>(pid_value.as_int()) == pid_value.as_double();
    int64_t pid = whole ? pid_value.as_int() : 700 + static_cast<int64_t>(i);
    auto [it, fresh] = pids.emplace(pid, p);
    if (!fresh)
      Fail(apps[i].has("pid") ? KeyPath(p, "pid") : p,
           "a unique pid (" + std::to_string(pid) + " is also " + it->second + ")");
  }
  for (size_t i = 0; i < apps.size() && ok(); ++i)
    App(apps[i], IndexPath("apps", i), 700 + static_cast<int64_t>(i), false);
  if (!ok()) return;
  if (scene["frontmost"].as_int() != 0 && !pids.count(scene["frontmost"].as_int()))
    Fail("frontmost", "the pid of an application of the scene");
  const Json& order = scene["order"];
  for (size_t i = 0; i < order.size() && ok(); ++i) {
    const std::string p = IndexPath("order", i);
    if (Integer(order[i], p, 1, kUint32Max, "a window number") && !HasWindowNumber(order[i].as_int()))
      Fail(p, "a window number of the scene");
  }
  if (ok()) ResolveReferences();
  const Json& installed = scene["installed"];
  for (size_t i = 0; i < installed.size() && ok(); ++i) Installed(installed[i], IndexPath("installed", i));
}

bool ValidateScene(const Json& scene, std::string* error) {
  SceneChecker c;
  c.Scene(scene);
  return Finish(c, error);
}

bool ValidateLaunchSpec(World& w, const Json& spec, std::string* error) {
  SceneChecker c = FragmentChecker(w);
  int64_t pid = spec["pid"].is_number() && spec["pid"].as_int() > 0 ? spec["pid"].as_int() : w.next_pid;
  c.App(spec, "spec", pid, true);
  return Finish(c, error);
}

bool ValidateWindowSpec(World& w, const App& app, const Json& spec, std::string* error) {
  SceneChecker c = FragmentChecker(w);
  c.window_in_use = [&w](int64_t n) { return FindWindow(w, static_cast<uint32_t>(n)) != nullptr; };
  size_t ax_index = app.window_ids.size();
  c.Window(spec, "spec", app.element ? app.element->id : "", &ax_index);
  return Finish(c, error);
}

bool ValidateWindowPatch(const Json& patch, const std::string& path, std::string* error) {
  SceneChecker c;
  c.WindowPatch(patch, path);
  return Finish(c, error);
}

bool ValidateElementPatch(World& w, const Node& n, const Json& patch, std::string* error) {
  SceneChecker c = FragmentChecker(w);
  c.Element(patch, "patch", n.id, SceneChecker::Use::kPatch);
  return Finish(c, error);
}

bool ValidateAppPatch(World& w, const Json& patch, std::string* error) {
  SceneChecker c = FragmentChecker(w);
  c.AppPatch(patch, "patch");
  return Finish(c, error);
}

bool ValidateInstalledEntry(World& w, const Json& entry, std::string* error) {
  SceneChecker c = FragmentChecker(w);
  c.Installed(entry, "entry");
  return Finish(c, error);
}

bool ValidateDisplays(const Json& displays, std::string* error) {
  SceneChecker c;
  c.Displays(displays, "displays");
  return Finish(c, error);
}

}  // namespace sim
