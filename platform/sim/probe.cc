// Probe commands: calls through the platform seam exactly as the core makes
// them, so desktop-sim users can exercise the simulated desktop without the
// add-on (tests of the simulator itself, scripted demos). Handles taken with
// probe.hold stay alive until probe.release, so live counts can be checked.
#include <map>
#include <mutex>

#include "common/text.h"
#include "platform/platform.h"
#include "sim/attributes.h"
#include "sim/control.h"
#include "sim/scene.h"

namespace sim {

namespace {

std::mutex g_probe_mu;
std::map<uint64_t, platform::AXElement> g_held;
uint64_t g_next_slot = 1;
std::vector<Json> g_completions;
std::vector<int64_t> g_activations;
uint64_t g_observer = 0;

platform::AXElement HandleFor(const Json& ref) {
  if (ref.is_number()) {
    std::lock_guard<std::mutex> l(g_probe_mu);
    auto it = g_held.find(static_cast<uint64_t>(ref.as_int()));
    return it == g_held.end() ? platform::AXElement() : it->second;
  }
  World& w = W();
  std::lock_guard<std::mutex> l(w.mu);
  std::string id = ref.str_or("");
  NodePtr n = id == "system-wide" ? w.system_wide : FindNode(w, id);
  if (!n) {
    for (auto& [pid, app] : w.apps)
      if (app->element->id == id) n = app->element;
  }
  return MakeHandle(n);
}

platform::Event EventFrom(const Json& j) {
  platform::Event e;
  e.type = static_cast<platform::EventType>(j["type"].as_int(0));
  e.keycode = static_cast<uint16_t>(j["keycode"].as_int(0));
  e.unicode = common::Utf16OfUtf8(j["unicode"].str_or(""));
  e.location = {j["x"].as_double(0), j["y"].as_double(0)};
  e.flags = static_cast<uint64_t>(j["flags"].as_int(0));
  for (const auto& [k, v] : j["fields"].members()) e.integer_fields[std::stoi(k)] = v.as_int();
  return e;
}

}  // namespace

bool RunProbeCommand(const std::string& name, const Json& args, Json* result, std::string* error,
                     bool* handled) {
  *handled = true;
  // The probe drives whichever backend the process chose; with none there is
  // nothing to probe (and nothing held to release).
  std::string no_desktop;
  platform::Platform* active = platform::TryGet(&no_desktop);
  if (!active) {
    if (name == "probe.releaseAll") return true;
    *error = no_desktop;
    return false;
  }
  platform::Platform& p = *active;
  if (name == "probe.hold" || name == "probe.createApplication" || name == "probe.systemWide") {
    platform::AXElement el = name == "probe.hold"             ? HandleFor(args[0])
                             : name == "probe.systemWide"     ? p.ax().CreateSystemWide()
                                                              : p.ax().CreateApplication(static_cast<pid_t>(args[0].as_int()));
    if (!el) {
      *result = Json();
      return true;
    }
    std::lock_guard<std::mutex> l(g_probe_mu);
    uint64_t slot = g_next_slot++;
    g_held[slot] = std::move(el);
    *result = Json(slot);
    return true;
  }
  if (name == "probe.release") {
    std::lock_guard<std::mutex> l(g_probe_mu);
    auto it = g_held.find(static_cast<uint64_t>(args[0].as_int()));
    *result = Json(it != g_held.end());
    if (it != g_held.end()) g_held.erase(it);
    return true;
  }
  if (name == "probe.releaseAll") {
    std::lock_guard<std::mutex> l(g_probe_mu);
    g_held.clear();
    return true;
  }
  if (name == "probe.copyAttribute" || name == "probe.perform" || name == "probe.setAttribute" ||
      name == "probe.batch" || name == "probe.windowNumber" || name == "probe.elementAt" ||
      name == "probe.setTimeout") {
    platform::AXElement el = HandleFor(args[0]);
    if (!el) {
      *error = name + ": no such element";
      return false;
    }
    Json out = Json::Object();
    platform::AXError err = platform::kAXErrorSuccess;
    if (name == "probe.copyAttribute") {
      platform::Value v;
      err = p.ax().CopyAttributeValue(el, args[1].str_or(""), &v);
      if (err == platform::kAXErrorSuccess) out.set("value", ValueToJson(v));
    } else if (name == "probe.perform") {
      err = p.ax().PerformAction(el, args[1].str_or("AXPress"));
    } else if (name == "probe.setAttribute") {
      platform::Value v;
      {
        World& w = W();
        std::lock_guard<std::mutex> l(w.mu);
        v = JsonToValue(w, args[2]);
      }
      err = p.ax().SetAttributeValue(el, args[1].str_or(""), v);
    } else if (name == "probe.batch") {
      std::vector<std::string> attrs;
      for (const Json& a : args[1].items()) attrs.push_back(a.as_string());
      std::vector<platform::Value> values;
      err = p.ax().CopyMultipleAttributeValues(el, attrs, &values);
      Json list = Json::Array();
      for (auto& v : values) list.push(ValueToJson(v));
      if (err == platform::kAXErrorSuccess) out.set("values", list);
    } else if (name == "probe.windowNumber") {
      uint32_t number = 0;
      err = p.ax().GetWindow(el, &number);
      if (err == platform::kAXErrorSuccess) out.set("value", Json(static_cast<int64_t>(number)));
    } else if (name == "probe.setTimeout") {
      err = p.ax().SetMessagingTimeout(el, static_cast<float>(args[1].as_double(0)));
    } else {
      platform::AXElement hit;
      err = p.ax().CopyElementAtPosition(el, static_cast<float>(args[1].as_double()),
                                         static_cast<float>(args[2].as_double()), &hit);
      if (err == platform::kAXErrorSuccess) {
        out.set("value", ValueToJson(platform::Value(hit)));
      }
    }
    out.set("error", Json(static_cast<int64_t>(err)));
    *result = out;
    return true;
  }
  if (name == "probe.post" || name == "probe.postToPid" || name == "probe.privatePostToPid") {
    bool ok = true;
    if (name == "probe.post") {
      const Json& ev = args[0];
      std::string tap = ev["tap"].str_or("hid");
      ok = p.events().Post(tap == "hid" ? platform::EventTap::kHID : platform::EventTap::kSession,
                           EventFrom(ev));
    } else if (name == "probe.postToPid") {
      ok = p.events().PostToPid(static_cast<pid_t>(args[0].as_int()), EventFrom(args[1]));
    } else {
      p.private_api().EventPostToPid(static_cast<pid_t>(args[0].as_int()), EventFrom(args[1]));
    }
    *result = Json(ok);
    return true;
  }
  if (name == "probe.windowList") {
    auto list = p.windows().CopyWindowList(args[0].as_bool(false)
                                               ? platform::WindowListOption::kOnScreenOnlyExcludingDesktop
                                               : platform::WindowListOption::kAll);
    if (!list) {
      *result = Json();
      return true;
    }
    *result = ValueToJson(platform::Value(*list));
    return true;
  }
  if (name == "probe.openApplication") {
    platform::OpenConfiguration config;
    config.activates = args[1].as_bool(false);
    p.workspace().OpenApplication(args[0].str_or(""), config, [](int64_t err, pid_t pid) {
      Json c = Json::Object();
      c.set("error", Json(err));
      c.set("pid", Json(static_cast<int64_t>(pid)));
      std::lock_guard<std::mutex> l(g_probe_mu);
      g_completions.push_back(c);
    });
    return true;
  }
  if (name == "probe.completions") {
    std::lock_guard<std::mutex> l(g_probe_mu);
    Json list = Json::Array();
    for (auto& c : g_completions) list.push(c);
    *result = list;
    return true;
  }
  if (name == "probe.observeActivations") {
    std::lock_guard<std::mutex> l(g_probe_mu);
    if (g_observer == 0) {
      g_observer = p.workspace().AddActivationObserver([](pid_t pid) {
        std::lock_guard<std::mutex> l2(g_probe_mu);
        g_activations.push_back(pid);
      });
    }
    g_activations.clear();
    return true;
  }
  if (name == "probe.activations") {
    std::lock_guard<std::mutex> l(g_probe_mu);
    Json list = Json::Array();
    for (auto pid : g_activations) list.push(Json(pid));
    *result = list;
    return true;
  }
  if (name == "probe.runOnce") {
    p.app_loop().RunOnce();
    return true;
  }
  if (name == "probe.isTrusted") {
    *result = Json(p.ax().IsProcessTrusted(args[0].as_bool(false)));
    return true;
  }
  if (name == "probe.sleep") {
    auto t0 = p.clock().Now();
    p.clock().SleepFor(std::chrono::duration_cast<platform::Duration>(
        std::chrono::duration<double, std::milli>(args[0].as_double(0))));
    *result = Json(std::chrono::duration<double, std::milli>(p.clock().Now() - t0).count());
    return true;
  }
  *handled = false;
  return true;
}

}  // namespace sim
