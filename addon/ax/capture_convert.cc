#include "ax/capture_convert.h"

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

class Writer {
 public:
  explicit Writer(napi_env env) : env_(env) {
#define KV_MAKE_KEY(k) key_##k = Str(#k, sizeof(#k) - 1);
    KV_SNAPSHOT_KEYS(KV_MAKE_KEY)
#undef KV_MAKE_KEY
    napi_get_boolean(env_, true, &true_);
    napi_get_boolean(env_, false, &false_);
    napi_get_null(env_, &null_);
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

  napi_value Element(const AxElementSnapshotData& e) {
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
    napi_value actions = Array(e.actions.size());
    for (size_t i = 0; i < e.actions.size(); ++i) SetAt(actions, i, Interned(e.actions[i]));
    props.Add(key_actions, actions);
    if (!e.children.empty()) {
      napi_value children = Array(e.children.size());
      for (size_t i = 0; i < e.children.size(); ++i) SetAt(children, i, Element(e.children[i]));
      props.Add(key_children, children);
    }
    if (e.children_total) props.Add(key_children_total, Int(*e.children_total));
    if (e.children_offset) props.Add(key_children_offset, Int(*e.children_offset));
    return Build(props);
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
