// activateAppFrameSurface: bring an application to the front with one of its
// file dialogs (open panel, save panel or attached dialog) focused, even when
// the dialog's window belongs to another process. Every step re-checks the
// processes the host named, the dialog must be related to the presentation
// window as claimed, and success is reported only once the platform confirms
// the application is frontmost with the dialog focused.
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "apps/activation.h"
#include "apps/identity.h"
#include "ax/ax_read.h"
#include "ax/surfaces.h"
#include "conventions.h"
#include "exports.h"
#include "platform/platform.h"

namespace addon {

namespace {

constexpr int kFrontmostPolls = 30;
constexpr int kFocusPolls = 30;
constexpr auto kPollInterval = std::chrono::milliseconds(10);
constexpr auto kLookupBudget = std::chrono::milliseconds(700);
constexpr size_t kMaxBundleIdBytes = 4096;
constexpr double kMaxPid = 2147483647.0;
constexpr double kMaxWindowId = 4294967295.0;

struct FrameSurfaceTarget {
  int32_t logical_pid = 0;
  std::string logical_bundle_id;
  uint32_t presentation_window_id = 0;
  int32_t actual_owner_pid = 0;
  std::string actual_owner_bundle_id;
  uint32_t actual_window_id = 0;
  std::string surface_kind;
};

bool ReadBoundedField(const Napi::Object& o, const char* key, double hi, double* out) {
  return ReadWholeNumber(o.Get(key), 1, hi, out);
}

bool ReadTarget(const Napi::Object& o, FrameSurfaceTarget* t) {
  double logical_pid, presentation, owner_pid, actual;
  if (!ReadBoundedField(o, "logicalPid", kMaxPid, &logical_pid) ||
      !ReadUtf8String(o.Get("logicalBundleId"), 1, kMaxBundleIdBytes, &t->logical_bundle_id) ||
      !ReadBoundedField(o, "presentationWindowId", kMaxWindowId, &presentation) ||
      !ReadBoundedField(o, "actualOwnerPid", kMaxPid, &owner_pid) ||
      !ReadUtf8String(o.Get("actualOwnerBundleId"), 1, kMaxBundleIdBytes,
                      &t->actual_owner_bundle_id) ||
      !ReadBoundedField(o, "actualWindowId", kMaxWindowId, &actual) ||
      !ReadUtf8String(o.Get("surfaceKind"), 1, 64, &t->surface_kind)) {
    return false;
  }
  if (t->surface_kind != "open_panel" && t->surface_kind != "save_panel" &&
      t->surface_kind != "attached_dialog") {
    return false;
  }
  t->logical_pid = static_cast<int32_t>(logical_pid);
  t->presentation_window_id = static_cast<uint32_t>(presentation);
  t->actual_owner_pid = static_cast<int32_t>(owner_pid);
  t->actual_window_id = static_cast<uint32_t>(actual);
  return true;
}

bool LineageHolds(const std::vector<AxSurfaceSnapshotData>& surfaces, const FrameSurfaceTarget& t) {
  bool surface_related = false;
  bool panel_present = false;
  for (const auto& s : surfaces) {
    if (s.actual_window_id == t.actual_window_id &&
        s.presentation_window_id == t.presentation_window_id &&
        s.owner_pid == t.actual_owner_pid && s.surface_kind == t.surface_kind) {
      surface_related = true;
    }
    if (s.presentation_window_id == t.presentation_window_id &&
        (s.surface_kind == "open_panel" || s.surface_kind == "save_panel")) {
      panel_present = true;
    }
  }
  // An attached dialog counts only while an open or save panel hangs off the
  // same presentation window.
  return surface_related && (t.surface_kind != "attached_dialog" || panel_present);
}

class SurfaceActivation {
 public:
  SurfaceActivation(Napi::Env env, Napi::Object result, const FrameSurfaceTarget& t)
      : env_(env), result_(result), t_(t), p_(platform::Get()) {}

  void Run() {
    if (!FreshAXIsTrusted()) return Finish("not_trusted");
    if (FocusStealPrevented()) return Finish("focus_prevented");
    if (!IdentitiesHold()) return Finish("identity_mismatch");
    platform::AXElement app = p_.ax().CreateApplication(t_.logical_pid);
    if (!app) return Finish("identity_mismatch");

    platform::TimePoint deadline = p_.clock().Now() + kLookupBudget;
    platform::AXElement presentation =
        CopyRequestedSurfaceById(app, t_.presentation_window_id, t_.logical_pid, deadline);
    if (!presentation) return Finish("presentation_unavailable");
    std::vector<AxSurfaceSnapshotData> related = CollectRelatedSurfaceSnapshots(
        presentation, t_.logical_pid, t_.presentation_window_id, deadline, nullptr);
    presentation.Reset();
    if (!LineageHolds(related, t_)) return Finish("lineage_unverified");

    platform::AXElement surface =
        CopyRequestedSurfaceById(app, t_.actual_window_id, t_.logical_pid, deadline);
    pid_t surface_pid = 0;
    if (!surface || !CopyElementPid(surface, &surface_pid) ||
        surface_pid != t_.actual_owner_pid || CopyWindowNumber(surface) != t_.actual_window_id) {
      return Finish("surface_unavailable");
    }

    if (!LogicalAppRunning()) return Finish("identity_mismatch");
    platform::AXElement owner_app = p_.ax().CreateApplication(t_.actual_owner_pid);
    if (!owner_app) return Finish("identity_mismatch");

    Activate();
    if (!WaitForLogicalFrontmost()) return FocusMismatch();

    auto& ax = p_.ax();
    ax.PerformAction(surface, "AXRaise");
    ax.SetAttributeValue(surface, "AXMain", platform::Value(true));
    ax.SetAttributeValue(surface, "AXFocused", platform::Value(true));
    ax.SetAttributeValue(owner_app, "AXMainWindow", platform::Value(surface));
    ax.SetAttributeValue(owner_app, "AXFocusedWindow", platform::Value(surface));
    Activate();

    if (!WaitForSurfaceFocus(owner_app, surface)) return FocusMismatch();
    SetKey(result_, "foreground_pid_after", Napi::Number::New(env_, last_frontmost_));
    SetKey(result_, "focused_window_id", Napi::Number::New(env_, t_.actual_window_id));
    SetKey(result_, "ok", Napi::Boolean::New(env_, true));
    Finish("activated");
  }

 private:
  void Finish(const char* reason) { SetKey(result_, "reason", Napi::String::New(env_, reason)); }

  void FocusMismatch() {
    if (last_frontmost_ > 0) {
      SetKey(result_, "foreground_pid_after", Napi::Number::New(env_, last_frontmost_));
    }
    Finish("focus_mismatch");
  }

  bool LogicalIdentityHolds() {
    return LivePidMatchesExpectedBundle(t_.logical_pid, t_.logical_bundle_id);
  }
  bool IdentitiesHold() {
    return LogicalIdentityHolds() &&
           LivePidMatchesExpectedBundle(t_.actual_owner_pid, t_.actual_owner_bundle_id);
  }
  bool LogicalAppRunning() {
    auto app = p_.workspace().RunningApplicationWithPid(t_.logical_pid);
    return app && !app->terminated;
  }
  void Activate() {
    p_.workspace().Activate(t_.logical_pid, platform::kActivateIgnoringOtherApps);
  }

  bool WaitForLogicalFrontmost() {
    for (int i = 0; i < kFrontmostPolls; ++i) {
      last_frontmost_ = LiveFrontmostPid();
      if (last_frontmost_ == t_.logical_pid) return true;
      if (!LogicalIdentityHolds()) return false;
      p_.clock().SleepFor(kPollInterval);
    }
    return false;
  }

  bool WaitForSurfaceFocus(const platform::AXElement& owner_app,
                           const platform::AXElement& surface) {
    for (int i = 0; i < kFocusPolls; ++i) {
      if (!IdentitiesHold()) return false;
      auto app = p_.workspace().RunningApplicationWithPid(t_.logical_pid);
      last_frontmost_ = LiveFrontmostPid();
      std::optional<uint32_t> focused_id = CopyFocusedWindowId(owner_app);
      std::optional<bool> surface_focused = CopyOptionalBoolAttr(surface, "AXFocused");
      bool app_front = app && !app->terminated && app->active && last_frontmost_ == t_.logical_pid;
      bool surface_front = focused_id ? *focused_id == t_.actual_window_id
                                      : surface_focused.value_or(false);
      if (app_front && surface_front) return true;
      p_.clock().SleepFor(kPollInterval);
    }
    return false;
  }

  Napi::Env env_;
  Napi::Object result_;
  const FrameSurfaceTarget& t_;
  platform::Platform& p_;
  int32_t last_frontmost_ = 0;
};

}  // namespace

Napi::Value ActivateAppFrameSurface(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  Napi::Object result = Napi::Object::New(env);
  SetKey(result, "ok", Napi::Boolean::New(env, false));
  SetKey(result, "reason", Napi::String::New(env, "invalid_target"));
  if (info.Length() < 1 || !info[0].IsObject() || info[0].IsArray()) {
    return ThrowTypeError(env, "activateAppFrameSurface(target) expects an object", result);
  }
  FrameSurfaceTarget target;
  if (!ReadTarget(info[0].As<Napi::Object>(), &target)) return result;

  SetKey(result, "logical_pid", Napi::Number::New(env, target.logical_pid));
  SetKey(result, "presentation_window_id", Napi::Number::New(env, target.presentation_window_id));
  SetKey(result, "actual_owner_pid", Napi::Number::New(env, target.actual_owner_pid));
  SetKey(result, "actual_window_id", Napi::Number::New(env, target.actual_window_id));
  SetKey(result, "surface_kind", Napi::String::New(env, target.surface_kind));
  int32_t front = LiveFrontmostPid();
  if (front > 0) SetKey(result, "foreground_pid_before", Napi::Number::New(env, front));

  SurfaceActivation(env, result, target).Run();
  return result;
}

}  // namespace addon
