// The accessibility service of the simulated desktop. Each element call runs
// in three steps: look the element up (world lock), pass the test hooks and
// wait out the element's delay (no lock held), then answer from the world
// model (world lock).
#include "sim/services.h"

#include <algorithm>
#include <cmath>

#include "sim/attributes.h"
#include "sim/behaviour.h"
#include "sim/hooks.h"
#include "sim/scene.h"
#include "sim/sim_clock.h"

namespace sim {

using platform::AXElement;
using platform::AXError;
using platform::Value;

namespace {

platform::Duration Seconds(double s) {
  return std::chrono::duration_cast<platform::Duration>(std::chrono::duration<double>(s));
}

// One element call's preparation.
struct Call {
  NodePtr node;
  Fault fault;
  AXError error = platform::kAXErrorSuccess;
};

double TimeoutFor(World& w, const Node& n) {
  if (n.messaging_timeout > 0) return n.messaging_timeout;
  auto app = FindApp(w, n.app_pid);
  if (!app) app = FindApp(w, n.pid);
  if (app && app->messaging_timeout > 0) return app->messaging_timeout;
  if (w.global_timeout > 0) return w.global_timeout;
  return DefaultTimeoutSeconds();
}

AXError DeadError(const Node& n) {
  return n.phantom ? platform::kAXErrorCannotComplete : platform::kAXErrorInvalidUIElement;
}

// Looks the element up, runs the hooks and waits out delays. On return with
// error == success the caller answers under the world lock.
Call Begin(const AXElement& el, const char* op, const std::string& attr, bool messaging = true) {
  Call c;
  c.node = NodeOf(el);
  if (!c.node) {
    c.error = platform::kAXErrorIllegalArgument;
    return c;
  }
  World& w = W();
  CallSite site;
  site.op = op;
  site.attribute = attr;
  {
    std::lock_guard<std::mutex> l(w.mu);
    site.pid = c.node->pid;
    site.element = c.node->id;
    site.window = c.node->window_number;
  }
  c.fault = Hooks::Get().Enter(site);
  double delay_s = 0, timeout_s = 0;
  bool hang = false;
  {
    std::lock_guard<std::mutex> l(w.mu);
    if (c.fault.kind == FaultKind::kQuit && c.fault.quit_pid > 0) QuitApp(w, c.fault.quit_pid);
    if (!c.node->alive) {
      c.error = DeadError(*c.node);
      return c;
    }
    if (!messaging) return c;
    timeout_s = TimeoutFor(w, *c.node);
    delay_s = c.node->delay_ms / 1000.0;
    hang = c.node->hang;
    auto app = FindApp(w, c.node->pid);
    if (app && app->unresponsive) hang = true;
  }
  if (c.fault.kind == FaultKind::kNoAnswer || hang || (delay_s > 0 && delay_s >= timeout_s)) {
    Clock().SleepFor(Seconds(timeout_s));
    c.error = platform::kAXErrorCannotComplete;
    return c;
  }
  if (c.fault.kind == FaultKind::kError) {
    c.error = static_cast<AXError>(c.fault.code);
    return c;
  }
  if (delay_s > 0) Clock().SleepFor(Seconds(delay_s));
  return c;
}

}  // namespace

bool SimAccessibility::IsProcessTrusted(bool prompt) {
  CallSite site;
  site.op = "IsProcessTrusted";
  Fault f = Hooks::Get().Enter(site);
  World& w = W();
  std::lock_guard<std::mutex> l(w.mu);
  if (prompt) w.perms.prompt_count++;
  if (f.kind == FaultKind::kError) return false;
  return w.perms.accessibility;
}

AXElement SimAccessibility::CreateApplication(pid_t pid) {
  CallSite site;
  site.op = "CreateApplication";
  site.pid = pid;
  Fault f = Hooks::Get().Enter(site);
  World& w = W();
  std::lock_guard<std::mutex> l(w.mu);
  if (f.kind == FaultKind::kQuit && f.quit_pid > 0) QuitApp(w, f.quit_pid);
  if (f.kind == FaultKind::kError || f.kind == FaultKind::kNoAnswer || pid <= 0) return {};
  if (auto app = FindApp(w, pid)) return MakeHandle(app->element);
  // The platform hands out an element for any pid; calls on it fail.
  auto n = NewNode(w, NodeKind::kApplication);
  n->pid = pid;
  n->app_pid = pid;
  n->role = "AXApplication";
  n->phantom = true;
  n->alive = false;
  return MakeHandle(n);
}

AXElement SimAccessibility::CreateSystemWide() {
  World& w = W();
  std::lock_guard<std::mutex> l(w.mu);
  if (!w.system_wide) {
    w.system_wide = NewNode(w, NodeKind::kSystemWide);
    w.system_wide->id = "system-wide";
    w.system_wide->role = "AXSystemWide";
    w.system_wide->settable.insert("AXFocusedApplication");
  }
  return MakeHandle(w.system_wide);
}

AXError SimAccessibility::CopyAttributeValue(const AXElement& el, const std::string& attr,
                                             Value* out) {
  Call c = Begin(el, "CopyAttributeValue", attr);
  if (c.error != platform::kAXErrorSuccess) return c.error;
  World& w = W();
  std::lock_guard<std::mutex> l(w.mu);
  if (!c.node->alive) return DeadError(*c.node);
  Value v;
  AXError e = ReadAttr(w, c.node, attr, &v);
  if (e != platform::kAXErrorSuccess) return e;
  if (c.fault.kind == FaultKind::kWrongType) v = WrongTypeOf(v);
  if (out) *out = std::move(v);
  return platform::kAXErrorSuccess;
}

AXError SimAccessibility::CopyMultipleAttributeValues(const AXElement& el,
                                                      const std::vector<std::string>& attrs,
                                                      std::vector<Value>* out) {
  Call c = Begin(el, "CopyMultipleAttributeValues", "");
  if (c.error != platform::kAXErrorSuccess) return c.error;
  World& w = W();
  std::lock_guard<std::mutex> l(w.mu);
  if (!c.node->alive) return DeadError(*c.node);
  auto app = FindApp(w, c.node->pid);
  if (c.node->batch_fails || (app && app->batch_fails)) return platform::kAXErrorFailure;
  std::vector<Value> values;
  values.reserve(attrs.size());
  for (const auto& a : attrs) {
    Value v;
    AXError e = ReadAttr(w, c.node, a, &v);
    if (e != platform::kAXErrorSuccess) v = Value(platform::ErrorValue{e});
    else if (c.fault.kind == FaultKind::kWrongType) v = WrongTypeOf(v);
    values.push_back(std::move(v));
  }
  if (out) *out = std::move(values);
  return platform::kAXErrorSuccess;
}

AXError SimAccessibility::CopyAttributeNames(const AXElement& el, std::vector<std::string>* out) {
  Call c = Begin(el, "CopyAttributeNames", "");
  if (c.error != platform::kAXErrorSuccess) return c.error;
  World& w = W();
  std::lock_guard<std::mutex> l(w.mu);
  if (!c.node->alive) return DeadError(*c.node);
  if (out) *out = AttrNames(w, c.node);
  return platform::kAXErrorSuccess;
}

AXError SimAccessibility::GetAttributeValueCount(const AXElement& el, const std::string& attr,
                                                 int64_t* count) {
  Call c = Begin(el, "GetAttributeValueCount", attr);
  if (c.error != platform::kAXErrorSuccess) return c.error;
  World& w = W();
  std::lock_guard<std::mutex> l(w.mu);
  if (!c.node->alive) return DeadError(*c.node);
  Value v;
  AXError e = ReadAttr(w, c.node, attr, &v);
  if (e != platform::kAXErrorSuccess) return e;
  if (!v.array()) return platform::kAXErrorIllegalArgument;
  if (count) *count = static_cast<int64_t>(v.array()->size());
  return platform::kAXErrorSuccess;
}

AXError SimAccessibility::IsAttributeSettable(const AXElement& el, const std::string& attr,
                                              bool* settable) {
  Call c = Begin(el, "IsAttributeSettable", attr);
  if (c.error != platform::kAXErrorSuccess) return c.error;
  World& w = W();
  std::lock_guard<std::mutex> l(w.mu);
  if (!c.node->alive) return DeadError(*c.node);
  if (c.node->hidden_attrs.count(attr)) return platform::kAXErrorAttributeUnsupported;
  if (settable) *settable = IsSettable(*c.node, attr);
  return platform::kAXErrorSuccess;
}

AXError SimAccessibility::SetAttributeValue(const AXElement& el, const std::string& attr,
                                            const Value& value) {
  Call c = Begin(el, "SetAttributeValue", attr);
  if (c.error != platform::kAXErrorSuccess) return c.error;
  World& w = W();
  std::lock_guard<std::mutex> l(w.mu);
  if (!c.node->alive) return DeadError(*c.node);
  auto it = c.node->errors.find("set:" + attr);
  if (it != c.node->errors.end()) return static_cast<AXError>(it->second);
  return WriteAttr(w, c.node, attr, value);
}

AXError SimAccessibility::CopyParameterizedAttributeValue(const AXElement& el,
                                                          const std::string& attr,
                                                          const Value& parameter, Value* out) {
  Call c = Begin(el, "CopyParameterizedAttributeValue", attr);
  if (c.error != platform::kAXErrorSuccess) return c.error;
  World& w = W();
  std::lock_guard<std::mutex> l(w.mu);
  if (!c.node->alive) return DeadError(*c.node);
  if (!IsTextRole(c.node->role)) return platform::kAXErrorParameterizedAttributeUnsupported;
  auto it = c.node->attrs.find("AXValue");
  std::string text = it == c.node->attrs.end() ? "" : ValueText(it->second);
  if (attr == "AXStringForRange") {
    const platform::Range* r = parameter.range();
    if (!r || r->location < 0 || r->length < 0) return platform::kAXErrorIllegalArgument;
    // Code points stand in for UTF-16 units; scene texts keep to the BMP.
    std::vector<size_t> starts;
    for (size_t i = 0; i < text.size(); ++i)
      if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) starts.push_back(i);
    starts.push_back(text.size());
    size_t n = starts.size() - 1;
    size_t a = std::min<size_t>(static_cast<size_t>(r->location), n);
    size_t b = std::min<size_t>(a + static_cast<size_t>(r->length), n);
    if (out) *out = Value(text.substr(starts[a], starts[b] - starts[a]));
    return platform::kAXErrorSuccess;
  }
  if (attr == "AXBoundsForRange") {
    if (!parameter.range()) return platform::kAXErrorIllegalArgument;
    if (out) *out = Value(c.node->frame.value_or(platform::Rect{}));
    return platform::kAXErrorSuccess;
  }
  return platform::kAXErrorParameterizedAttributeUnsupported;
}

AXError SimAccessibility::CopyActionNames(const AXElement& el, std::vector<std::string>* out) {
  Call c = Begin(el, "CopyActionNames", "");
  if (c.error != platform::kAXErrorSuccess) return c.error;
  World& w = W();
  std::lock_guard<std::mutex> l(w.mu);
  if (!c.node->alive) return DeadError(*c.node);
  if (out) *out = c.node->actions;
  return platform::kAXErrorSuccess;
}

AXError SimAccessibility::PerformAction(const AXElement& el, const std::string& action) {
  Call c = Begin(el, "PerformAction", action);
  if (c.error != platform::kAXErrorSuccess) return c.error;
  World& w = W();
  std::lock_guard<std::mutex> l(w.mu);
  if (!c.node->alive) return DeadError(*c.node);
  return PerformActionLocked(w, c.node, action);
}

AXError SimAccessibility::GetPid(const AXElement& el, pid_t* pid) {
  // Local on the platform: answers even for elements of ended processes.
  NodePtr n = NodeOf(el);
  if (!n) return platform::kAXErrorIllegalArgument;
  if (n->kind == NodeKind::kSystemWide) return platform::kAXErrorIllegalArgument;
  CallSite site;
  site.op = "GetPid";
  {
    std::lock_guard<std::mutex> l(W().mu);
    site.pid = n->pid;
    site.element = n->id;
  }
  Fault f = Hooks::Get().Enter(site);
  if (f.kind == FaultKind::kError) return static_cast<AXError>(f.code);
  if (pid) *pid = n->pid;
  return platform::kAXErrorSuccess;
}

AXError SimAccessibility::GetWindow(const AXElement& el, uint32_t* window_id) {
  Call c = Begin(el, "GetWindow", "");
  if (c.error != platform::kAXErrorSuccess) return c.error;
  World& w = W();
  std::lock_guard<std::mutex> l(w.mu);
  if (!c.node->alive) return DeadError(*c.node);
  if (c.node->window_number_error) return static_cast<AXError>(*c.node->window_number_error);
  uint32_t number = 0;
  if (c.node->window_number_override) {
    number = *c.node->window_number_override;
  } else if (c.node->kind == NodeKind::kElement) {
    if (NodePtr win = ContainingWindow(c.node)) number = win->window_number;
  }
  if (number == 0) return platform::kAXErrorFailure;
  if (window_id) *window_id = number;
  return platform::kAXErrorSuccess;
}

AXError SimAccessibility::SetMessagingTimeout(const AXElement& el, float seconds) {
  NodePtr n = NodeOf(el);
  if (!n || seconds < 0 || !std::isfinite(seconds)) return platform::kAXErrorIllegalArgument;
  // The float argument carries 0.3 as 0.30000001; keep microseconds so that a
  // 300 ms delay meets a 0.3 s time-out.
  double timeout = std::round(static_cast<double>(seconds) * 1e6) / 1e6;
  World& w = W();
  std::lock_guard<std::mutex> l(w.mu);
  if (n->kind == NodeKind::kSystemWide) {
    w.global_timeout = timeout;
  } else if (n->kind == NodeKind::kApplication) {
    if (auto app = FindApp(w, n->pid); app && app->element == n) app->messaging_timeout = timeout;
    else n->messaging_timeout = timeout;
  } else {
    n->messaging_timeout = timeout;
  }
  return platform::kAXErrorSuccess;
}

AXError SimAccessibility::CopyElementAtPosition(const AXElement& app, float x, float y,
                                                AXElement* out) {
  Call c = Begin(app, "CopyElementAtPosition", "");
  if (c.error != platform::kAXErrorSuccess) return c.error;
  if (c.node->kind == NodeKind::kElement) return platform::kAXErrorIllegalArgument;
  World& w = W();
  std::lock_guard<std::mutex> l(w.mu);
  if (!c.node->alive) return DeadError(*c.node);
  pid_t pid = c.node->kind == NodeKind::kApplication ? c.node->pid : 0;
  NodePtr hit = HitTest(w, platform::Point{x, y}, pid);
  if (!hit) return platform::kAXErrorNoValue;
  if (out) *out = MakeHandle(hit);
  return platform::kAXErrorSuccess;
}

}  // namespace sim
