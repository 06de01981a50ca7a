#include "ax/capture_convert.h"

#include <array>
#include <cstring>
#include <map>
#include <mutex>
#include <iterator>
#include <string>
#include <unordered_map>

namespace addon {

namespace {

#define KV_SNAPSHOT_KEYS(X)                                                                  \
  X(app) X(pid) X(bundle_id) X(name) X(active) X(window) X(title) X(bounds) X(window_id)     \
  X(presentation_window_id) X(main) X(focused) X(window_id_fallback) X(empty_capture_reason) \
  X(elements) X(surfaces) X(capture_epoch) X(empty_capture_diagnostics) X(ref) X(role)       \
  X(subrole) X(description) X(value) X(enabled) X(selected) X(default_action) X(editable)    \
  X(ownerPid) X(actions) X(children) X(children_total) X(children_offset)                    \
  X(actual_window_id) X(surface_kind) X(relation) X(owner_pid)

// Which optional keys an element object has.
constexpr unsigned kHasSubrole = 1;
constexpr unsigned kHasTitle = 2;
constexpr unsigned kHasDescription = 4;
constexpr unsigned kHasValue = 8;
constexpr unsigned kHasSelected = 16;
constexpr unsigned kHasChildren = 32;
constexpr unsigned kHasChildrenTotal = 64;
constexpr unsigned kElementShapes = 128;

unsigned ElementShape(const AxElementSnapshotData& e) {
  return (e.subrole ? kHasSubrole : 0) | (e.title ? kHasTitle : 0) |
         (e.description ? kHasDescription : 0) | (e.value ? kHasValue : 0) |
         (e.selected ? kHasSelected : 0) | (e.children.empty() ? 0 : kHasChildren) |
         (e.children_total ? kHasChildrenTotal : 0);
}

// "(function(a0,...){return{ref:a0,...};})" for one shape, keys in the
// documented order; its parameters follow Writer::Element's arguments.
std::string ElementFactorySource(unsigned shape) {
  std::string params, body;
  int next = 0;
  auto arg = [&]() {
    std::string name = "a";
    name += std::to_string(next++);
    if (!params.empty()) params += ',';
    params += name;
    return name;
  };
  auto key = [&](const char* k, unsigned bit = 0) {
    if (bit && !(shape & bit)) return;
    body += k;
    body += ':';
    body += arg();
    body += ',';
  };
  key("ref");
  key("role");
  key("subrole", kHasSubrole);
  key("title", kHasTitle);
  key("description", kHasDescription);
  key("value", kHasValue);
  body += "bounds:[";
  for (int i = 0; i < 4; ++i) {
    body += arg();
    body += i < 3 ? "," : "],";
  }
  key("enabled");
  key("focused");
  key("selected", kHasSelected);
  key("default_action");
  key("editable");
  key("ownerPid");
  key("actions");
  key("children", kHasChildren);
  key("children_total", kHasChildrenTotal);
  key("children_offset", kHasChildrenTotal);
  std::string source = "(function(";
  source += params;
  source += "){return{";
  source += body;
  source += "};})";
  return source;
}

// Compiled factories, per environment (an add-on may be loaded by several
// worker threads) and shape; dropped when the environment is torn down.
struct FactoryCache {
  std::array<napi_ref, kElementShapes> refs{};
};
std::mutex g_factory_mutex;
std::map<napi_env, FactoryCache> g_factories;

void DropFactories(void* arg) {
  auto env = static_cast<napi_env>(arg);
  std::lock_guard<std::mutex> lock(g_factory_mutex);
  auto it = g_factories.find(env);
  if (it == g_factories.end()) return;
  for (napi_ref ref : it->second.refs) {
    if (ref) napi_delete_reference(env, ref);
  }
  g_factories.erase(it);
}

// The factory function for a shape, or null when it cannot be made.
napi_value ElementFactory(napi_env env, unsigned shape) {
  napi_ref* slot;
  {
    std::lock_guard<std::mutex> lock(g_factory_mutex);
    auto [it, inserted] = g_factories.try_emplace(env);
    if (inserted && napi_add_env_cleanup_hook(env, DropFactories, env) != napi_ok) {
      g_factories.erase(it);
      return nullptr;
    }
    slot = &it->second.refs[shape];
  }
  napi_value fn = nullptr;
  if (*slot) {
    if (napi_get_reference_value(env, *slot, &fn) == napi_ok && fn) return fn;
    return nullptr;
  }
  std::string source = ElementFactorySource(shape);
  napi_value script = nullptr;
  if (napi_create_string_utf8(env, source.data(), source.size(), &script) != napi_ok ||
      napi_run_script(env, script, &fn) != napi_ok) {
    bool pending = false;
    napi_is_exception_pending(env, &pending);
    if (pending) {
      napi_value ignored;
      napi_get_and_clear_last_exception(env, &ignored);
    }
    return nullptr;
  }
  napi_ref ref = nullptr;
  if (napi_create_reference(env, fn, 1, &ref) == napi_ok) {
    std::lock_guard<std::mutex> lock(g_factory_mutex);
    auto it = g_factories.find(env);
    if (it != g_factories.end()) {
      it->second.refs[shape] = ref;
    } else {
      napi_delete_reference(env, ref);
    }
  }
  return fn;
}

class Writer {
 public:
  explicit Writer(napi_env env) : env_(env) {
    napi_get_boolean(env_, true, &true_);
    napi_get_boolean(env_, false, &false_);
    napi_get_null(env_, &null_);
    napi_value* keys[] = {
#define KV_KEY_SLOT(k) &key_##k,
        KV_SNAPSHOT_KEYS(KV_KEY_SLOT)
#undef KV_KEY_SLOT
    };
    const char* names[] = {
#define KV_KEY_NAME(k) #k,
        KV_SNAPSHOT_KEYS(KV_KEY_NAME)
#undef KV_KEY_NAME
    };
    for (size_t i = 0; i < std::size(keys); ++i) *keys[i] = Str(names[i], std::strlen(names[i]));
    InternalizeKeys(keys, std::size(keys));
  }

  bool ok() const { return ok_; }

  napi_value Snapshot(const AxCaptureSnapshotData& s) {
    napi_value obj = Object();
    Set(obj, key_app, App(s.app));
    Set(obj, key_window, Window(s));
    napi_value elements = Array(s.elements.size());
    for (size_t i = 0; i < s.elements.size(); ++i) SetAt(elements, i, Element(s.elements[i]));
    Set(obj, key_elements, elements);
    napi_value surfaces = Array(s.surfaces.size());
    for (size_t i = 0; i < s.surfaces.size(); ++i) SetAt(surfaces, i, Surface(s.surfaces[i]));
    Set(obj, key_surfaces, surfaces);
    Set(obj, key_capture_epoch, Num(static_cast<double>(s.capture_epoch)));
    if (!s.empty_capture_diagnostics.empty()) {
      Set(obj, key_empty_capture_diagnostics, Str(s.empty_capture_diagnostics));
    }
    return obj;
  }

 private:
  napi_value App(const AxAppSnapshotData& a) {
    napi_value obj = Object();
    Set(obj, key_pid, Num(a.pid));
    Set(obj, key_bundle_id, a.bundle_id ? Str(*a.bundle_id) : null_);
    Set(obj, key_name, a.name ? Str(*a.name) : null_);
    Set(obj, key_active, Bool(a.active));
    return obj;
  }

  napi_value Window(const AxCaptureSnapshotData& s) {
    napi_value obj = Object();
    Set(obj, key_title, s.window_title ? Str(*s.window_title) : null_);
    Set(obj, key_bounds, Bounds(s.window_bounds));
    Set(obj, key_window_id, s.window_id ? Num(*s.window_id) : null_);
    if (s.presentation_window_id) {
      Set(obj, key_presentation_window_id, Num(*s.presentation_window_id));
    }
    Set(obj, key_main, Bool(s.main));
    Set(obj, key_focused, Bool(s.focused));
    if (s.window_id_fallback) Set(obj, key_window_id_fallback, true_);
    if (!s.empty_capture_reason.empty()) {
      Set(obj, key_empty_capture_reason, Str(s.empty_capture_reason));
    }
    return obj;
  }

  // Elements are the bulk of a snapshot. Each is built by one call of a small
  // function whose object literal has the element's keys: the engine then
  // makes the object with all its properties in place, instead of growing it
  // one property (and one hidden-class transition) at a time.
  napi_value Element(const AxElementSnapshotData& e) {
    unsigned shape = ElementShape(e);
    napi_value factory = ElementFactory(env_, shape);
    if (!factory) return ElementByProperties(e);
    napi_value args[20];
    size_t n = 0;
    args[n++] = Str(e.ref);
    args[n++] = Interned(e.role);
    if (e.subrole) args[n++] = Interned(*e.subrole);
    if (e.title) args[n++] = Str(*e.title);
    if (e.description) args[n++] = Str(*e.description);
    if (e.value) args[n++] = Str(*e.value);
    for (int32_t b : e.bounds) args[n++] = Int(b);
    args[n++] = Bool(e.enabled);
    args[n++] = Bool(e.focused);
    if (e.selected) args[n++] = Bool(*e.selected);
    args[n++] = Bool(e.default_action);
    args[n++] = Bool(e.editable);
    args[n++] = Int(e.owner_pid);
    args[n++] = Actions(e.actions);
    if (!e.children.empty()) args[n++] = Children(e.children);
    if (e.children_total) {
      args[n++] = Int(*e.children_total);
      args[n++] = Int(e.children_offset.value_or(0));
    }
    napi_value obj = nullptr;
    if (ok_) Check(napi_call_function(env_, null_, factory, n, args, &obj));
    return obj;
  }

  napi_value ElementByProperties(const AxElementSnapshotData& e) {
    Props props;
    props.Add(key_ref, Str(e.ref));
    props.Add(key_role, Interned(e.role));
    if (e.subrole) props.Add(key_subrole, Interned(*e.subrole));
    if (e.title) props.Add(key_title, Str(*e.title));
    if (e.description) props.Add(key_description, Str(*e.description));
    if (e.value) props.Add(key_value, Str(*e.value));
    props.Add(key_bounds, Bounds(e.bounds));
    props.Add(key_enabled, Bool(e.enabled));
    props.Add(key_focused, Bool(e.focused));
    if (e.selected) props.Add(key_selected, Bool(*e.selected));
    props.Add(key_default_action, Bool(e.default_action));
    props.Add(key_editable, Bool(e.editable));
    props.Add(key_ownerPid, Int(e.owner_pid));
    props.Add(key_actions, Actions(e.actions));
    if (!e.children.empty()) props.Add(key_children, Children(e.children));
    if (e.children_total) props.Add(key_children_total, Int(*e.children_total));
    if (e.children_offset) props.Add(key_children_offset, Int(*e.children_offset));
    return Build(props);
  }

  napi_value Actions(const std::vector<std::string>& actions) {
    napi_value arr = Array(actions.size());
    for (size_t i = 0; i < actions.size(); ++i) SetAt(arr, i, Interned(actions[i]));
    return arr;
  }

  napi_value Children(const std::vector<AxElementSnapshotData>& children) {
    napi_value arr = Array(children.size());
    for (size_t i = 0; i < children.size(); ++i) SetAt(arr, i, Element(children[i]));
    return arr;
  }

  // Up to 20 data properties defined on a new object in one call.
  struct Props {
    napi_property_descriptor d[20];
    size_t n = 0;
    void Add(napi_value key, napi_value value) {
      d[n++] = {nullptr, key, nullptr, nullptr, nullptr, value,
                static_cast<napi_property_attributes>(napi_writable | napi_enumerable |
                                                      napi_configurable),
                nullptr};
    }
  };
  napi_value Build(const Props& props) {
    napi_value obj = Object();
    if (ok_) Check(napi_define_properties(env_, obj, props.n, props.d));
    return obj;
  }

  napi_value Surface(const AxSurfaceSnapshotData& s) {
    napi_value obj = Object();
    Set(obj, key_actual_window_id, Num(s.actual_window_id));
    Set(obj, key_presentation_window_id, Num(s.presentation_window_id));
    Set(obj, key_surface_kind, Interned(s.surface_kind));
    Set(obj, key_relation, Interned(s.relation));
    Set(obj, key_owner_pid, Num(s.owner_pid));
    Set(obj, key_bounds, Bounds(s.bounds));
    return obj;
  }

  napi_value Bounds(const IntBounds& b) {
    napi_value arr = Array(4);
    for (uint32_t i = 0; i < 4; ++i) SetAt(arr, i, Int(b[i]));
    return arr;
  }

  // Property names read back from an object are the engine's own
  // (internalized) strings: with them, every later property definition skips
  // the string-table lookup a freshly made key string costs each time.
  void InternalizeKeys(napi_value** keys, size_t n) {
    napi_value holder = Object();
    for (size_t i = 0; i < n; ++i) Set(holder, *keys[i], true_);
    napi_value names = nullptr;
    if (!ok_ || napi_get_property_names(env_, holder, &names) != napi_ok) return;
    uint32_t length = 0;
    if (napi_get_array_length(env_, names, &length) != napi_ok || length != n) return;
    for (uint32_t i = 0; i < length; ++i) {
      napi_value key = nullptr;
      if (napi_get_element(env_, names, i, &key) == napi_ok) *keys[i] = key;
    }
  }

  napi_value Object() {
    napi_value v = nullptr;
    Check(napi_create_object(env_, &v));
    return v;
  }
  napi_value Array(size_t n) {
    napi_value v = nullptr;
    Check(napi_create_array_with_length(env_, n, &v));
    return v;
  }
  napi_value Str(const char* s, size_t n) {
    napi_value v = nullptr;
    Check(napi_create_string_utf8(env_, s, n, &v));
    return v;
  }
  napi_value Str(const std::string& s) { return Str(s.data(), s.size()); }
  // Roles, subroles, action names and surface words repeat across a tree:
  // one JavaScript string per distinct text.
  napi_value Interned(const std::string& s) {
    auto it = interned_.find(s);
    if (it != interned_.end()) return it->second;
    napi_value v = Str(s);
    if (interned_.size() < 512) interned_.emplace(s, v);
    return v;
  }
  napi_value Num(double d) {
    napi_value v = nullptr;
    Check(napi_create_double(env_, d, &v));
    return v;
  }
  napi_value Int(int32_t i) {
    napi_value v = nullptr;
    Check(napi_create_int32(env_, i, &v));
    return v;
  }
  napi_value Bool(bool b) { return b ? true_ : false_; }
  void Set(napi_value obj, napi_value key, napi_value value) {
    if (ok_) Check(napi_set_property(env_, obj, key, value));
  }
  void SetAt(napi_value arr, size_t i, napi_value value) {
    if (ok_) Check(napi_set_element(env_, arr, static_cast<uint32_t>(i), value));
  }
  void Check(napi_status status) {
    if (status != napi_ok) ok_ = false;
  }

  napi_env env_;
  bool ok_ = true;
  napi_value true_ = nullptr, false_ = nullptr, null_ = nullptr;
  std::unordered_map<std::string, napi_value> interned_;
#define KV_DECLARE_KEY(k) napi_value key_##k = nullptr;
  KV_SNAPSHOT_KEYS(KV_DECLARE_KEY)
#undef KV_DECLARE_KEY
};

}  // namespace

Napi::Value CaptureSnapshotToNapi(Napi::Env env, const AxCaptureSnapshotData& snapshot) {
  Napi::EscapableHandleScope scope(env);
  Writer writer(env);
  napi_value result = writer.Snapshot(snapshot);
  if (!writer.ok()) {
    if (!env.IsExceptionPending()) {
      napi_throw_error(env, nullptr, "captureApp: snapshot conversion failed");
    }
    return Napi::Value();
  }
  return scope.Escape(result);
}

}  // namespace addon
