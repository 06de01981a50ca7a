// Scene checking: primitive shapes, ids and references, element entries,
// generators, effects and typed attribute values. Application, window,
// display and whole-scene entries are in scene_validate.cc.
#include "sim/scene_checker.h"

#include <cmath>
#include <limits>

namespace sim {

namespace {

constexpr double kInt32Min = std::numeric_limits<int32_t>::min();
constexpr double kInt32Max = std::numeric_limits<int32_t>::max();
constexpr double kUint32Max = std::numeric_limits<uint32_t>::max();
constexpr double kSafeInt = 9007199254740991.0;  // 2^53 - 1
constexpr int64_t kMaxGenerated = 100000;

// Keys ApplyElementKeys reads: allowed on every element entry and patch.
const std::set<std::string> kElementKeys = {
    "title",     "description",  "value",         "help",          "identifier",
    "enabled",   "selected",     "roleDescription", "minValue",    "maxValue",
    "placeholder", "role",       "subrole",       "attributes",    "frame",
    "actions",   "onPress",      "settable",      "notSettable",   "errors",
    "wrongType", "missing",      "delayMs",       "hang",          "batchFails",
    "hidden",    "parent",       "titleElement",  "defaultButton", "visibleChildren",
    "windowNumberError", "windowNumberOverride", "focused"};
// Keys of an element's place in the tree.
const std::set<std::string> kTreeKeys = {"id", "pid", "windowNumber", "children"};
const std::set<std::string> kWindowTreeKeys = {"id", "pid", "children"};
const std::set<std::string> kTemplateTreeKeys = {"pid", "children"};
const std::set<std::string> kPatchTreeKeys = {"windowNumber", "children"};
// Window-list keys of windows and of surfaces (elements with a windowNumber).
const std::set<std::string> kSurfaceKeys = {"cg",      "cgTitle",          "bounds",
                                            "layer",   "onScreen",         "alpha",
                                            "acceptsMouseDown", "omitKeys", "badKeys"};
const std::set<std::string> kWindowOnlyKeys = {"number", "axFrame", "desktop", "ax", "main"};
const std::set<std::string> kGeneratorKeys = {"count", "idPrefix", "step", "start"};
const std::set<std::string> kGenerateEntryKeys = {"generate"};
const std::set<std::string> kTargetKeys = {"target"};
const std::set<std::string> kSetValueKeys = {"target", "value"};
const std::set<std::string> kSetAttributeKeys = {"target", "attribute", "value"};
const std::set<std::string> kTargetEffects = {"openSheet", "show",   "closeSheet", "hide",
                                              "increment", "decrement", "toggle",  "focus",
                                              "raise",     "press"};
const std::set<std::string> kTextKeys = {"title", "description", "help", "identifier",
                                         "roleDescription", "placeholder", "subrole"};
const char* const kEffectKinds =
    "an effect kind (setValue, setAttribute, openSheet, show, closeSheet, hide, activate, quit, "
    "increment, decrement, toggle, focus, raise, press, log)";

bool Finite(const Json& j) { return j.is_number() && std::isfinite(j.as_double()); }

}  // namespace

std::string KeyPath(const std::string& path, const std::string& key) {
  return path.empty() ? key : path + "." + key;
}

std::string IndexPath(const std::string& path, size_t i) {
  return path + "[" + std::to_string(i) + "]";
}

void SceneChecker::Fail(const std::string& path, const std::string& what) {
  if (error_.empty()) error_ = (path.empty() ? std::string("scene") : path) + ": expected " + what;
}

bool SceneChecker::Object(const Json& j, const std::string& path, const char* what) {
  if (j.is_object()) return true;
  Fail(path, what);
  return false;
}

bool SceneChecker::String(const Json& j, const std::string& path) {
  if (j.is_string()) return true;
  Fail(path, "a string");
  return false;
}

bool SceneChecker::Bool(const Json& j, const std::string& path) {
  if (j.is_bool()) return true;
  Fail(path, "true or false");
  return false;
}

bool SceneChecker::Number(const Json& j, const std::string& path) {
  if (Finite(j)) return true;
  Fail(path, "a finite number");
  return false;
}

bool SceneChecker::NonNegative(const Json& j, const std::string& path) {
  if (Finite(j) && j.as_double() >= 0) return true;
  Fail(path, "a number >= 0");
  return false;
}

bool SceneChecker::Integer(const Json& j, const std::string& path, double min, double max,
                           const char* what) {
  // 3.0 written in a file is still a whole number.
  if (Finite(j)) {
    double v = j.as_double();
    if (v == std::floor(v) && v >= min && v <= max) return true;
  }
  Fail(path, what);
  return false;
}

bool SceneChecker::Rect(const Json& j, const std::string& path) {
  bool ok = j.is_array() && j.size() == 4;
  for (size_t i = 0; ok && i < 4; ++i) ok = Finite(j[i]);
  if (!ok) Fail(path, "[x, y, width, height]");
  return ok;
}

bool SceneChecker::Pair(const Json& j, const std::string& path, const char* what) {
  if (j.is_array() && j.size() == 2 && Finite(j[0]) && Finite(j[1])) return true;
  Fail(path, what);
  return false;
}

bool SceneChecker::StringList(const Json& j, const std::string& path) {
  if (!j.is_array()) {
    Fail(path, "an array of strings");
    return false;
  }
  for (size_t i = 0; i < j.size(); ++i)
    if (!String(j[i], IndexPath(path, i))) return false;
  return true;
}

bool SceneChecker::NonEmptyId(const Json& j, const std::string& path) {
  if (j.is_string() && !j.as_string().empty()) return true;
  Fail(path, "an element id (a non-empty string)");
  return false;
}

void SceneChecker::Keys(const Json& j, const std::string& path,
                        std::initializer_list<const std::set<std::string>*> allowed,
                        const char* what) {
  for (const auto& [key, value] : j.members()) {
    bool known = false;
    for (const auto* set : allowed) known = known || set->count(key) > 0;
    if (!known) {
      Fail(KeyPath(path, key), std::string("a known ") + what + " key");
      return;
    }
  }
}

void SceneChecker::DefineId(const std::string& id, const std::string& path) {
  auto [it, fresh] = ids_.emplace(id, path);
  if (!fresh) Fail(path, "a unique id (\"" + id + "\" is also defined at " + it->second + ")");
}

void SceneChecker::DefineWindowNumber(const Json& number, const std::string& path) {
  int64_t n = number.as_int();
  auto [it, fresh] = window_numbers_.emplace(n, path);
  if (!fresh) {
    Fail(path, "a unique window number (" + std::to_string(n) + " is also used at " + it->second + ")");
  } else if (window_in_use && window_in_use(n)) {
    Fail(path, "a window number not in use (" + std::to_string(n) + " is)");
  }
}

void SceneChecker::Reference(const Json& id, const std::string& path) {
  if (NonEmptyId(id, path) && shape_) refs_.emplace_back(id.as_string(), path);
}

bool SceneChecker::HasId(const std::string& id) const {
  return ids_.count(id) || (outer_ids && outer_ids->count(id)) || (lookup && lookup(id));
}

void SceneChecker::ResolveReferences() {
  for (const auto& [id, path] : refs_) {
    if (!HasId(id)) {
      Fail(path, "the id of an element (there is no \"" + id + "\")");
      return;
    }
  }
  refs_.clear();
}

void SceneChecker::Element(const Json& spec, const std::string& path, const std::string& auto_id,
                           Use use) {
  if (!Object(spec, path, use == Use::kWindow ? "a window entry" : "an element entry")) return;
  if (shape_) {
    switch (use) {
      case Use::kElement:
        Keys(spec, path, {&kElementKeys, &kTreeKeys, &kSurfaceKeys}, "element");
        break;
      case Use::kWindow:
        Keys(spec, path, {&kElementKeys, &kWindowTreeKeys, &kSurfaceKeys, &kWindowOnlyKeys},
             "window");
        break;
      case Use::kTemplate:
        Keys(spec, path, {&kElementKeys, &kTemplateTreeKeys, &kGeneratorKeys}, "generator");
        break;
      case Use::kAppElement:
        Keys(spec, path, {&kElementKeys}, "element");
        break;
      case Use::kPatch:
        Keys(spec, path, {&kElementKeys, &kPatchTreeKeys}, "element patch");
        break;
    }
  }
  std::string id = auto_id;
  bool defines = use == Use::kElement || use == Use::kWindow || use == Use::kTemplate;
  if (defines) {
    bool own = use != Use::kTemplate && spec.has("id");
    if (own && NonEmptyId(spec["id"], KeyPath(path, "id"))) id = spec["id"].as_string();
    DefineId(id, own ? KeyPath(path, "id") : path);
  }
  if (shape_) {
    ElementKeys(spec, path, id);
    if (spec.has("pid")) Integer(spec["pid"], KeyPath(path, "pid"), 1, kInt32Max, "a positive integer pid");
    if (spec.has("windowNumber") && (use == Use::kElement || use == Use::kPatch) &&
        Integer(spec["windowNumber"], KeyPath(path, "windowNumber"), 1, kUint32Max,
                "a positive integer window number"))
      DefineWindowNumber(spec["windowNumber"], KeyPath(path, "windowNumber"));
    if (use == Use::kElement || use == Use::kWindow) SurfaceKeys(spec, path);
  }
  if (spec.has("children")) Children(spec["children"], KeyPath(path, "children"), id);
}

void SceneChecker::Children(const Json& list, const std::string& path, const std::string& parent_id) {
  if (!list.is_array()) {
    Fail(path, "an array of element entries");
    return;
  }
  size_t index = 0;
  for (size_t i = 0; i < list.size() && ok(); ++i) {
    const Json& child = list[i];
    if (child.is_object() && child.has("generate")) {
      Generator(child, IndexPath(path, i), parent_id, &index);
    } else {
      Element(child, IndexPath(path, i), parent_id + "." + std::to_string(index++), Use::kElement);
    }
  }
}

void SceneChecker::Generator(const Json& entry, const std::string& path, const std::string& parent_id,
                             size_t* index) {
  Keys(entry, path, {&kGenerateEntryKeys}, "generator entry ({\"generate\": {...}})");
  const std::string gp = KeyPath(path, "generate");
  const Json& gen = entry["generate"];
  if (!Object(gen, gp, "a generator object")) return;
  if (shape_) {
    Integer(gen["count"], KeyPath(gp, "count"), 0, kMaxGenerated,
            "a count from 0 to 100000");
    if (gen.has("start")) Integer(gen["start"], KeyPath(gp, "start"), -kSafeInt, kSafeInt, "an integer");
    if (gen.has("idPrefix")) String(gen["idPrefix"], KeyPath(gp, "idPrefix"));
    if (gen.has("step")) Pair(gen["step"], KeyPath(gp, "step"), "[dx, dy]");
  }
  if (!ok()) return;
  int64_t count = gen["count"].as_int();
  int64_t start = gen["start"].as_int(0);
  std::string prefix = gen["idPrefix"].str_or(parent_id + ".item");
  // The template is checked once; the other copies are walked for their ids.
  bool was = shape_;
  for (int64_t i = start; i < start + count && ok(); ++i) {
    Element(gen, gp, prefix + "-" + std::to_string(i), Use::kTemplate);
    ++*index;
    shape_ = false;
  }
  shape_ = was;
}

void SceneChecker::ElementKeys(const Json& spec, const std::string& path, const std::string& id) {
  (void)id;
  for (const auto& [key, v] : spec.members()) {
    if (!ok()) return;
    const std::string p = KeyPath(path, key);
    if (kTextKeys.count(key)) {
      if (!v.is_null()) String(v, p);
    } else if (key == "value") {
      if (!v.is_null() && !v.is_string() && !v.is_bool() && !Finite(v))
        Fail(p, "a string, a finite number, true/false or null");
    } else if (key == "enabled" || key == "selected") {
      if (!v.is_null()) Bool(v, p);
    } else if (key == "minValue" || key == "maxValue") {
      if (!v.is_null()) Number(v, p);
    } else if (key == "role") {
      String(v, p);
    } else if (key == "attributes") {
      if (Object(v, p, "an object of attribute name -> value"))
        for (const auto& [name, value] : v.members()) {
          // The sim computes these itself; given here they would be ignored.
          if (name == "AXPosition" || name == "AXSize")
            Fail(KeyPath(p, name), "no " + name + " under attributes (give the element a frame)");
          else if (name == "AXActionNames")
            Fail(KeyPath(p, name), "no AXActionNames under attributes (give the element actions)");
          else
            AttributeValue(value, KeyPath(p, name));
        }
    } else if (key == "frame") {
      if (!v.is_null()) Rect(v, p);
    } else if (key == "actions") {
      if (v.is_array()) {
        for (size_t i = 0; i < v.size(); ++i)
          if (!v[i].is_string() || v[i].as_string().empty()) Fail(IndexPath(p, i), "an action name");
      } else if (v.is_object()) {
        for (const auto& [name, effects] : v.members())
          if (!effects.is_null()) Effects(effects, KeyPath(p, name));
      } else if (!v.is_null()) {
        Fail(p, "an array of action names or an object of action name -> effects");
      }
    } else if (key == "onPress") {
      Effects(v, p);
    } else if (key == "settable" || key == "notSettable" || key == "wrongType" || key == "missing") {
      StringList(v, p);
    } else if (key == "errors") {
      if (Object(v, p, "an object of attribute name -> error code"))
        for (const auto& [name, code] : v.members())
          Integer(code, KeyPath(p, name), kInt32Min, kInt32Max, "an integer error code");
    } else if (key == "delayMs") {
      NonNegative(v, p);
    } else if (key == "hang" || key == "batchFails" || key == "hidden" || key == "focused") {
      Bool(v, p);
    } else if (key == "parent" || key == "titleElement" || key == "defaultButton") {
      if (!v.is_null()) Reference(v, p);
    } else if (key == "visibleChildren") {
      if (v.is_array()) {
        for (size_t i = 0; i < v.size(); ++i) Reference(v[i], IndexPath(p, i));
      } else if (!v.is_null()) {
        Fail(p, "an array of element ids");
      }
    } else if (key == "windowNumberError") {
      if (!v.is_null()) Integer(v, p, kInt32Min, kInt32Max, "an integer error code");
    } else if (key == "windowNumberOverride") {
      if (!v.is_null()) Integer(v, p, 0, kUint32Max, "a window number");
    }
  }
}

void SceneChecker::SurfaceKeys(const Json& spec, const std::string& path) {
  for (const auto& [key, v] : spec.members()) {
    const std::string p = KeyPath(path, key);
    if (key == "cg" || key == "onScreen" || key == "acceptsMouseDown") Bool(v, p);
    else if (key == "cgTitle") String(v, p);
    else if (key == "bounds") Rect(v, p);
    else if (key == "layer") Integer(v, p, kInt32Min, kInt32Max, "an integer layer");
    else if (key == "alpha") Number(v, p);
    else if (key == "omitKeys") StringList(v, p);
    else if (key == "badKeys") Object(v, p, "an object of window-list key -> value");
  }
}

void SceneChecker::Effects(const Json& effects, const std::string& path) {
  if (effects.is_array()) {
    for (size_t i = 0; i < effects.size() && ok(); ++i) Effect(effects[i], IndexPath(path, i));
  } else {
    Effect(effects, path);
  }
}

void SceneChecker::Effect(const Json& e, const std::string& path) {
  if (!e.is_object() || e.size() == 0) {
    Fail(path, "an effect ({\"<kind>\": argument}) or an array of effects");
    return;
  }
  for (const auto& [kind, arg] : e.members()) {
    const std::string p = KeyPath(path, kind);
    if (kTargetEffects.count(kind)) {
      Target(arg, p);
    } else if (kind == "setValue" || kind == "setAttribute") {
      if (!Object(arg, p, kind == "setValue" ? "{target?, value}" : "{target?, attribute, value}"))
        continue;
      Keys(arg, p, {kind == "setValue" ? &kSetValueKeys : &kSetAttributeKeys}, "effect");
      if (arg.has("target")) Reference(arg["target"], KeyPath(p, "target"));
      if (arg.has("attribute") && !arg["attribute"].is_string())
        Fail(KeyPath(p, "attribute"), "an attribute name");
      if (arg.has("value")) AttributeValue(arg["value"], KeyPath(p, "value"));
    } else if (kind == "activate" || kind == "quit") {
      if (!(arg.is_bool() && arg.as_bool())) Integer(arg, p, 1, kInt32Max, "true or a pid");
    } else if (kind == "log") {
      String(arg, p);
    } else {
      Fail(p, kEffectKinds);
    }
  }
}

// An effect's target: an element id, {"target": id}, or true for the element itself.
void SceneChecker::Target(const Json& arg, const std::string& path) {
  if (arg.is_bool() && arg.as_bool()) return;
  if (arg.is_string()) {
    Reference(arg, path);
  } else if (arg.is_object() && arg.size() == 1 && arg.has("target")) {
    Reference(arg["target"], KeyPath(path, "target"));
  } else {
    Fail(path, "an element id (or true for the element itself)");
  }
}

void SceneChecker::AttributeValue(const Json& v, const std::string& path) {
  if (v.is_number()) {
    Number(v, path);
  } else if (v.is_array()) {
    for (size_t i = 0; i < v.size() && ok(); ++i) AttributeValue(v[i], IndexPath(path, i));
  } else if (v.is_object()) {
    static const char* const kTyped[] = {"ref", "refs", "point", "size", "rect", "range", "error"};
    for (const char* kind : kTyped) {
      if (!v.has(kind)) continue;
      const std::string p = KeyPath(path, kind);
      if (v.size() != 1) {
        Fail(path, std::string("a typed value with the single key \"") + kind + "\"");
      } else if (std::string(kind) == "ref") {
        Reference(v[kind], p);
      } else if (std::string(kind) == "refs") {
        if (!v[kind].is_array()) Fail(p, "an array of element ids");
        for (size_t i = 0; i < v[kind].size(); ++i) Reference(v[kind][i], IndexPath(p, i));
      } else if (std::string(kind) == "point") {
        Pair(v[kind], p, "[x, y]");
      } else if (std::string(kind) == "size") {
        Pair(v[kind], p, "[width, height]");
      } else if (std::string(kind) == "rect") {
        Rect(v[kind], p);
      } else if (std::string(kind) == "range") {
        const Json& r = v[kind];
        bool ok = r.is_array() && r.size() == 2;
        for (size_t i = 0; ok && i < 2; ++i)
          ok = Finite(r[i]) && r[i].as_double() == std::floor(r[i].as_double());
        if (!ok) Fail(p, "[location, length] (integers)");
      } else {
        Integer(v[kind], p, kInt32Min, kInt32Max, "an integer error code");
      }
      return;
    }
    for (const auto& [k, item] : v.members()) AttributeValue(item, KeyPath(path, k));
  }
}

}  // namespace sim
