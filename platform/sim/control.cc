// Commands that change the simulated desktop.
#include "sim/control.h"
#include "sim/services.h"
#include "sim/event_taps.h"
#include "sim/surfaces.h"

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "sim/attributes.h"
#include "sim/behaviour.h"
#include "sim/hooks.h"
#include "sim/keyboard_layouts.h"
#include "sim/pasteboard.h"
#include "sim/scene.h"
#include "sim/scene_validate.h"
#include "sim/sim_clock.h"

namespace sim {

namespace {

bool NeedPid(const Json& args, size_t i, pid_t* pid, std::string* error) {
  if (args.size() <= i || !args[i].is_number()) {
    *error = "expected a pid";
    return false;
  }
  *pid = static_cast<pid_t>(args[i].as_int());
  return true;
}

bool NeedString(const Json& args, size_t i, std::string* out, std::string* error) {
  if (args.size() <= i || !args[i].is_string()) {
    *error = "expected a string argument";
    return false;
  }
  *out = args[i].as_string();
  return true;
}

void PatchApp(World& w, App& app, const Json& p) {
  if (p.has("unresponsive")) app.unresponsive = p["unresponsive"].as_bool();
  if (p.has("batchFails")) app.batch_fails = p["batchFails"].as_bool();
  if (p.has("otherUser")) app.other_user = p["otherUser"].as_bool();
  if (p.has("unlisted")) app.unlisted = p["unlisted"].as_bool();
  if (p.has("terminated")) app.terminated = p["terminated"].as_bool();
  if (p.has("refusesActivation")) app.refuses_activation = p["refusesActivation"].as_bool();
  if (p.has("responsiblePid")) app.responsible_pid = static_cast<pid_t>(p["responsiblePid"].as_int());
  if (p.has("policy")) app.policy = ParsePolicy(p["policy"]);
  if (p.has("name")) {
    if (p["name"].is_string()) app.name = p["name"].as_string();
    else app.name.reset();
  }
  if (p.has("bundleId")) {
    if (p["bundleId"].is_string()) app.bundle_id = p["bundleId"].as_string();
    else app.bundle_id.reset();
  }
  if (p.has("launchTime")) app.launch_time = p["launchTime"].as_double();
  if (p.has("signing")) {
    const Json& sig = p["signing"];
    if (sig.is_object()) {
      platform::SigningInfo si;
      if (sig["teamId"].is_string()) si.team_identifier = sig["teamId"].as_string();
      if (sig["identifier"].is_string()) si.identifier = sig["identifier"].as_string();
      app.signing = si;
      app.anchor = sig["anchor"].str_or(si.team_identifier ? "apple generic" : "apple");
    } else {
      app.signing.reset();
    }
  }
  if (p.has("focusedElement")) app.focused_element_id = p["focusedElement"].str_or("");
  if (p.has("focusedWindow")) app.focused_window_id = p["focusedWindow"].str_or("");
  if (p.has("mainWindow")) app.main_window_id = p["mainWindow"].str_or("");
  if (p.has("defaultButton")) app.default_button_id = p["defaultButton"].str_or("");
  if (p.has("element")) PatchElement(w, app.element, p["element"]);
}

bool Mutate(const std::string& name, const Json& args, Json* result, std::string* error,
            bool* handled) {
  World& w = W();
  *handled = true;
  std::lock_guard<std::mutex> l(w.mu);
  if (name == "loadScene") {
    if (args.size() < 1) {
      *error = "loadScene(scene) needs a scene";
      return false;
    }
    return LoadScene(w, args[0], error);
  }
  if (name == "quitApp") {
    pid_t pid;
    if (!NeedPid(args, 0, &pid, error)) return false;
    bool known = FindApp(w, pid) != nullptr;
    QuitApp(w, pid);
    *result = Json(known);
    return true;
  }
  if (name == "launchApp") {
    const Json& spec = args[0];
    if (!spec.is_object()) {
      *error = "launchApp(spec) expects an application entry";
      return false;
    }
    if (!ValidateLaunchSpec(w, spec, error)) return false;
    pid_t pid = static_cast<pid_t>(spec["pid"].as_int(0));
    if (pid <= 0) pid = w.next_pid++;
    double launch = spec["launchTime"].as_double(Clock().WallSeconds());
    if (!InstantiateApp(w, spec, pid, launch, true, error)) return false;
    if (spec["activate"].as_bool(false)) ActivateApp(w, pid);
    *result = Json(static_cast<int64_t>(pid));
    return true;
  }
  if (name == "relaunch") {
    pid_t pid;
    if (!NeedPid(args, 0, &pid, error)) return false;
    auto app = FindApp(w, pid);
    if (!app) {
      *error = "relaunch: no application with pid " + std::to_string(pid);
      return false;
    }
    Json spec = app->spec;
    const Json& opts = args[1];
    if (opts["bundleId"].is_string()) spec.set("bundleId", opts["bundleId"]);
    if (opts["name"].is_string()) spec.set("name", opts["name"]);
    double launch = opts["launchTime"].as_double(std::max(Clock().WallSeconds(), app->launch_time + 1));
    bool was_front = w.frontmost == pid;
    QuitApp(w, pid);
    if (!InstantiateApp(w, spec, pid, launch, true, error)) return false;
    if (was_front) ActivateApp(w, pid);
    return true;
  }
  if (name == "addWindow") {
    pid_t pid;
    if (!NeedPid(args, 0, &pid, error)) return false;
    auto app = FindApp(w, pid);
    if (!app) {
      *error = "addWindow: no application with pid " + std::to_string(pid);
      return false;
    }
    if (!ValidateWindowSpec(w, *app, args[1], error)) return false;
    auto cw = AddWindow(w, *app, args[1], error);
    *result = cw ? Json(static_cast<int64_t>(cw->number)) : Json();
    return true;
  }
  if (name == "moveWindow" || name == "setWindow" || name == "raiseWindow") {
    uint32_t number = static_cast<uint32_t>(args[0].as_int(0));
    auto cw = FindWindow(w, number);
    if (!cw) {
      *error = name + ": no window " + std::to_string(number);
      return false;
    }
    if (name == "raiseWindow") {
      if (cw->element) RaiseWindow(w, cw->element);
      else {
        w.z.erase(std::remove(w.z.begin(), w.z.end(), cw), w.z.end());
        w.z.insert(w.z.begin(), cw);
      }
      return true;
    }
    Json patch = name == "moveWindow" ? Json::Object() : args[1];
    if (name == "moveWindow") patch.set("bounds", args[1]);
    if (!ValidateWindowPatch(patch, name == "moveWindow" ? "" : "patch", error)) return false;
    PatchWindow(w, *cw, patch);
    return true;
  }
  if (name == "removeWindow") {
    *result = Json(RemoveWindow(w, static_cast<uint32_t>(args[0].as_int(0))));
    return true;
  }
  if (name == "setAttribute" || name == "setElement" || name == "press") {
    std::string id;
    if (!NeedString(args, 0, &id, error)) return false;
    NodePtr n = FindNode(w, id);
    if (!n) {
      *error = name + ": no element " + id;
      return false;
    }
    if (name == "press") {
      *result = Json(static_cast<int64_t>(PerformActionLocked(w, n, args[1].str_or("AXPress"))));
      return true;
    }
    if (name == "setAttribute") {
      std::string attr;
      if (!NeedString(args, 1, &attr, error)) return false;
      if (attr == "AXFocused" && args[2].is_bool()) {
        if (IsWindowLike(*n)) {
          if (auto app = FocusApp(w, n)) app->focused_window_id = args[2].as_bool() ? n->id : "";
        } else {
          FocusElement(w, n, args[2].as_bool());
        }
      } else if (attr == "AXPosition" || attr == "AXSize" || attr == "AXMain") {
        bool had = n->settable.count(attr);
        n->settable.insert(attr);
        WriteAttr(w, n, attr, JsonToValue(w, args[2]));
        if (!had) n->settable.erase(attr);
      } else if (attr == "AXRole") {
        n->role = args[2].str_or("");
      } else if (attr == "AXSubrole") {
        n->subrole = args[2].str_or("");
      } else if (args[2].is_null()) {
        n->attrs.erase(attr);
      } else {
        n->attrs[attr] = args[2];
      }
      return true;
    }
    if (!ValidateElementPatch(w, *n, args[1], error)) return false;
    PatchElement(w, n, args[1]);
    return true;
  }
  if (name == "setApp") {
    pid_t pid;
    if (!NeedPid(args, 0, &pid, error)) return false;
    auto app = FindApp(w, pid);
    if (!app) {
      *error = "setApp: no application with pid " + std::to_string(pid);
      return false;
    }
    if (!ValidateAppPatch(w, args[1], error)) return false;
    PatchApp(w, *app, args[1]);
    return true;
  }
  if (name == "setPermissions") {
    const Json& p = args[0];
    if (p.has("accessibility")) w.perms.accessibility = p["accessibility"].as_bool();
    if (p.has("screenRecording")) w.perms.screen_recording = p["screenRecording"].as_bool();
    if (p.has("responsibilityAvailable")) w.perms.responsibility_available = p["responsibilityAvailable"].as_bool();
    if (p.has("preflightAvailable")) w.perms.preflight_available = p["preflightAvailable"].as_bool();
    if (p.has("requestAvailable")) w.perms.request_available = p["requestAvailable"].as_bool();
    return true;
  }
  if (name == "setFrontmost") {
    pid_t pid;
    if (!NeedPid(args, 0, &pid, error)) return false;
    if (pid == 0) {
      w.frontmost = 0;
      return true;
    }
    *result = Json(ActivateApp(w, pid));
    return true;
  }
  if (name == "setPlatformVersion") {
    std::string v;
    if (!NeedString(args, 0, &v, error)) return false;
    w.os_version = v;
    return true;
  }
  if (name == "setPrivateEntriesAbsent") {
    w.private_absent.clear();
    for (const Json& s : args[0].items()) w.private_absent.insert(s.as_string());
    return true;
  }
  if (name == "setDisplays") {
    if (!ValidateDisplays(args[0], error)) return false;
    w.displays.clear();
    for (const Json& d : args[0].items()) {
      w.displays.push_back(ParseDisplay(d, w.displays.size(), w.displays.empty()));
    }
    w.screens_changed = true;
    return true;
  }
  if (name == "setKeyboardLayout") {
    const std::string layout = args[0].is_string() ? args[0].as_string() : "";
    if (!FindLayout(layout)) {
      *error = "unknown keyboard layout \"" + layout + "\" (known: us, de)";
      return false;
    }
    w.keyboard_layout = layout;
    return true;
  }
  if (name == "setPointer") {
    w.pointer = {args[0].as_double(), args[1].as_double()};
    return true;
  }
  if (name == "setOptions") {
    const Json& o = args[0];
    if (o.has("singleWindowImage")) w.single_window_image = o["singleWindowImage"].as_bool();
    if (o.has("frontProcessFails")) w.front_process_fails = o["frontProcessFails"].as_bool();
    if (o.has("keyboardLayout")) w.keyboard_layout_available = o["keyboardLayout"].as_bool();
    if (o.has("pointerAvailable")) w.pointer_available = o["pointerAvailable"].as_bool();
    if (o.has("pointerFollowsEvents")) w.pointer_follows_events = o["pointerFollowsEvents"].as_bool();
    return true;
  }
  if (name == "setHeldModifiers") {
    // The modifier keys the user physically holds (combined session state).
    if (args.size() < 1 || !args[0].is_number() || args[0].as_double() < 0) {
      *error = "expected modifier flags (a number >= 0)";
      return false;
    }
    w.flags_state = static_cast<uint64_t>(args[0].as_double());
    return true;
  }
  if (name == "install") {
    const Json& inst = args[0];
    if (!ValidateInstalledEntry(w, inst, error)) return false;
    Installed in = ParseInstalled(inst);
    w.installed.erase(std::remove_if(w.installed.begin(), w.installed.end(),
                                     [&](const Installed& x) { return x.path == in.path; }),
                      w.installed.end());
    w.installed.push_back(in);
    return true;
  }
  if (name == "queueAppEvents") {
    w.app_events += static_cast<int>(args[0].as_int(1));
    return true;
  }
  *handled = false;
  return true;
}

}  // namespace

bool RunCommand(const std::string& name, const Json& args, Json* result, std::string* error) {
  *result = Json();
  if (name == "reset") {
    bool ignored = false;
    RunProbeCommand("probe.releaseAll", Json::Array(), result, error, &ignored);
    Hooks::Get().Clear();
    Clock().ResetScale();
    ResetPanelSim();
    ResetEventTaps();
    ResetPasteboard();
    World& w = W();
    std::lock_guard<std::mutex> l(w.mu);
    ResetWorld(w);
    return true;
  }
  if (name == "injectFault" || name == "block") {
    uint64_t id = name == "block" ? Hooks::Get().AddBlock(args[0], error)
                                  : Hooks::Get().AddFault(args[0], error);
    if (id == 0) return false;
    *result = Json(id);
    return true;
  }
  if (name == "unblock") {
    *result = Json(Hooks::Get().Unblock(static_cast<uint64_t>(args[0].as_int())));
    return true;
  }
  if (name == "isBlocked") {
    *result = Json(Hooks::Get().IsBlocked(static_cast<uint64_t>(args[0].as_int())));
    return true;
  }
  if (name == "clearFaults") {
    Hooks::Get().Clear();
    return true;
  }
  if (name == "hooks") {
    *result = Hooks::Get().Describe();
    return true;
  }
  if (name == "setTimeScale") {
    double k = args[0].as_double(1);
    if (!(k > 0)) {
      *error = "setTimeScale(k) expects a positive number";
      return false;
    }
    Clock().SetScale(k);
    return true;
  }
  if (name == "advanceClock") {
    double ms = args[0].as_double(0);
    // At most ten years a step: past that the nanosecond count would overflow.
    if (!(ms >= 0) || ms > 3.2e11) {
      *error = "advanceClock(ms) expects a non-negative number of at most 3.2e11";
      return false;
    }
    Clock().Advance(std::chrono::duration_cast<platform::Duration>(
        std::chrono::duration<double, std::milli>(ms)));
    return true;
  }
  if (name == "setSteppedClock") {
    Clock().SetStepped(args[0].as_bool(false));
    return true;
  }
  if (name == "clockWaiters") {
    *result = Json(Clock().Waiters());
    return true;
  }
  if (name == "clockStaleWaiters") {
    *result = Json(Clock().StaleWaiters());
    return true;
  }
  if (name == "clockNow") {
    *result = Json(std::chrono::duration<double, std::milli>(Clock().Now().time_since_epoch()).count());
    return true;
  }
  if (name == "writeWindowList") {
    // The on-screen window list as JSON, written atomically to a file: the
    // settings watcher, a separate process, reads the simulated desktop there.
    std::string file = args[0].str_or("");
    if (file.empty()) {
      *error = "writeWindowList(path) expects a file path";
      return false;
    }
    auto list = SimPlatform().windows().CopyWindowList(
        platform::WindowListOption::kOnScreenOnlyExcludingDesktop);
    std::string text = list ? ValueToJson(platform::Value(*list)).Dump() : "null";
    std::string tmp = file + ".tmp";
    {
      std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
      out << text;
      if (!out) {
        *error = "writeWindowList: cannot write " + tmp;
        return false;
      }
    }
    if (std::rename(tmp.c_str(), file.c_str()) != 0) {
      std::remove(tmp.c_str());
      *error = "writeWindowList: cannot replace " + file;
      return false;
    }
    *result = Json(file);
    return true;
  }
  if (name == "overlayWindows") {
    *result = OverlayWindowsJson();
    return true;
  }
  bool handled = false;
  bool ok = RunPanelCommand(name, args, result, error, &handled);
  if (handled) return ok;
  ok = RunTapCommand(name, args, result, error, &handled);
  if (handled) return ok;
  ok = Mutate(name, args, result, error, &handled);
  if (handled) return ok;
  ok = RunPasteboardCommand(name, args, result, error, &handled);
  if (handled) return ok;
  ok = RunReadCommand(name, args, result, error, &handled);
  if (handled) return ok;
  if (name.rfind("probe.", 0) == 0) {
    ok = RunProbeCommand(name, args, result, error, &handled);
    if (handled) return ok;
  }
  *error = "unknown command " + name;
  return false;
}

std::string RunCommandJson(const std::string& name, const std::string& args_json) {
  Json args;
  std::string error;
  Json out = Json::Object();
  if (!Json::Parse(args_json.empty() ? "[]" : args_json, &args, &error)) {
    out.set("error", Json("bad arguments: " + error));
    return out.Dump();
  }
  if (!args.is_array()) args = Json::Array();
  Json result;
  if (!RunCommand(name, args, &result, &error)) {
    out.set("error", Json(error));
  } else {
    out.set("value", result);
  }
  return out.Dump();
}

}  // namespace sim
