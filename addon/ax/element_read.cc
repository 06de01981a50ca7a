// Reading one element again by its token (readElement), and its window
// number (getWindowId).
#include "ax/element_read.h"

#include <chrono>
#include <optional>
#include <vector>

#include "ax/ax_read.h"
#include "ax/capture_text.h"
#include "ax/tokens.h"
#include "bounds.h"
#include "conventions.h"
#include "exports.h"

namespace addon {

namespace {

constexpr size_t kMaxActions = 64;
constexpr auto kReadBudget = std::chrono::seconds(5);

class DeadlineReader {
 public:
  DeadlineReader(const platform::AXElement& el, platform::TimePoint deadline)
      : el_(el), deadline_(deadline), p_(platform::Get()) {}

  bool open() { return p_.clock().Now() < deadline_; }

  bool Value(const char* attr, platform::Value* out) {
    return open() && p_.ax().CopyAttributeValue(el_, attr, out) == platform::kAXErrorSuccess;
  }
  std::optional<std::string> String(const char* attr) {
    platform::Value v;
    if (!Value(attr, &v) || !v.string()) return std::nullopt;
    return *v.string();
  }
  std::optional<bool> Bool(const char* attr) {
    if (!open()) return std::nullopt;
    return CopyOptionalBoolAttr(el_, attr);
  }

 private:
  const platform::AXElement& el_;
  platform::TimePoint deadline_;
  platform::Platform& p_;
};

void SetOptionalString(Napi::Object o, const char* key, const std::optional<std::string>& s) {
  if (s) SetKey(o, key, Napi::String::New(o.Env(), *s));
}

}  // namespace

Napi::Object BuildElement(Napi::Env env, const platform::AXElement& el, const std::string& ref,
                          platform::TimePoint deadline) {
  auto& ax = platform::Get().ax();
  DeadlineReader r(el, deadline);
  Napi::Object o = Napi::Object::New(env);
  SetKey(o, "ref", Napi::String::New(env, ref));
  SetKey(o, "role", Napi::String::New(env, r.String("AXRole").value_or("")));
  SetOptionalString(o, "subrole", r.String("AXSubrole"));
  SetOptionalString(o, "title", r.String("AXTitle"));
  SetOptionalString(o, "description", r.String("AXDescription"));

  platform::Value value;
  std::string value_text;
  if (r.Value("AXValue", &value) && CoerceAxValueToString(value, &value_text)) {
    SetKey(o, "value", Napi::String::New(env, value_text));
  }

  platform::Rect frame;
  platform::Value pos, size;
  if (r.Value("AXPosition", &pos) && pos.point()) {
    frame.x = pos.point()->x;
    frame.y = pos.point()->y;
  }
  if (r.Value("AXSize", &size) && size.size()) {
    frame.width = size.size()->width;
    frame.height = size.size()->height;
  }
  SetKey(o, "bounds", BoundsArray(env, frame));

  SetKey(o, "enabled", Napi::Boolean::New(env, r.Bool("AXEnabled").value_or(true)));
  SetKey(o, "focused", Napi::Boolean::New(env, r.Bool("AXFocused").value_or(false)));
  if (auto selected = r.Bool("AXSelected")) SetKey(o, "selected", Napi::Boolean::New(env, *selected));

  platform::Value range;
  if (r.Value("AXSelectedTextRange", &range) && range.range()) {
    Napi::Array pair = Napi::Array::New(env, 2);
    pair.Set(0u, Napi::Number::New(env, static_cast<double>(range.range()->location)));
    pair.Set(1u, Napi::Number::New(env, static_cast<double>(range.range()->length)));
    SetKey(o, "selected_text_range", pair);
  }

  std::vector<std::string> names;
  Napi::Array actions = Napi::Array::New(env);
  if (r.open() && ax.CopyActionNames(el, &names) == platform::kAXErrorSuccess) {
    uint32_t n = 0;
    for (auto& name : names) {
      if (n >= kMaxActions) break;
      LimitSnapshotText(&name, kSnapshotActionNameCap);
      actions.Set(n++, Napi::String::New(env, name));
    }
  }
  SetKey(o, "actions", actions);

  bool settable = false;
  bool editable = r.open() &&
                  ax.IsAttributeSettable(el, "AXValue", &settable) == platform::kAXErrorSuccess &&
                  settable;
  SetKey(o, "editable", Napi::Boolean::New(env, editable));

  pid_t pid = 0;
  if (r.open() && CopyElementPid(el, &pid)) SetKey(o, "ownerPid", Napi::Number::New(env, pid));
  return o;
}

Napi::Value ReadElement(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  platform::AXElement el;
  if (!ResolveRef(info, &el)) return env.Null();
  // An element whose role cannot be read (its application quit, say) is gone.
  std::string role;
  if (!CopyStringAttr(el, "AXRole", &role)) return env.Null();
  std::string ref = info[0].As<Napi::String>().Utf8Value();
  return BuildElement(env, el, ref, platform::Get().clock().Now() + kReadBudget);
}

Napi::Value GetWindowId(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  platform::AXElement el;
  if (!ResolveRef(info, &el)) return env.Null();
  uint32_t window_id = CopyWindowNumber(el);
  if (window_id == 0) return env.Null();
  return Napi::Number::New(env, window_id);
}

}  // namespace addon
