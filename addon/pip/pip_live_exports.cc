// The mirroring panels' interaction query and the live diagnostic and fixture
// calls (registered only while KORVO_OZA_LIVE_NATIVE is exactly "1").
#include <cmath>

#include "conventions.h"
#include "exports.h"
#include "main_queue.h"
#include "pip/pip_c_api.h"
#include "pip/pip_controller.h"
#include "pip/pip_fixtures.h"
#include "pip/pip_stack.h"
#include "platform/platform.h"

namespace addon {

namespace {

constexpr double kMaxLegacyCaptureDelayMs = 10000;

Napi::Value Bool(const Napi::CallbackInfo& info, bool v) { return Napi::Boolean::New(info.Env(), v); }

bool FiniteNumbers(const Napi::CallbackInfo& info, size_t n, double* out) {
  if (info.Length() < n) return false;
  for (size_t i = 0; i < n; ++i) {
    if (!info[i].IsNumber()) return false;
    out[i] = info[i].As<Napi::Number>().DoubleValue();
    if (!std::isfinite(out[i])) return false;
  }
  return true;
}

pip::KvPipController* Lead() {
  return dynamic_cast<pip::KvPipController*>(pip::PipStackLead().get());
}

platform::Rect Center(const platform::Rect& r) {
  return platform::Rect{r.x + r.width / 2, r.y + r.height / 2, 0, 0};
}

Napi::Value Fixture(const Napi::CallbackInfo& info, bool (*fn)()) {
  return Bool(info, PipRunOnMainSync([fn] { return fn(); }));
}

}  // namespace

Napi::Value PipIsInteractionReady(const Napi::CallbackInfo& info) {
  return Bool(info, pip_is_interaction_ready());
}

Napi::Value PipGetWindowBounds(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  uint32_t number = 0;
  platform::Rect frame;
  bool found = PipRunOnMainSync([&] {
    auto* c = Lead();
    if (!c || !c->running()) return false;
    number = c->panelWindowNumber();
    frame = c->globalFrame();
    return number != 0;
  });
  if (!found) return env.Null();
  Napi::Object o = Napi::Object::New(env);
  SetKey(o, "window_id", Napi::Number::New(env, number));
  SetKey(o, "x", Napi::Number::New(env, frame.x));
  SetKey(o, "y", Napi::Number::New(env, frame.y));
  SetKey(o, "width", Napi::Number::New(env, frame.width));
  SetKey(o, "height", Napi::Number::New(env, frame.height));
  return o;
}

Napi::Value PipSetLiveLegacyCaptureDelay(const Napi::CallbackInfo& info) {
  double ms;
  if (info.Length() < 1 || !ReadWholeNumber(info[0], 0, kMaxLegacyCaptureDelayMs, &ms))
    return Bool(info, false);
  pip::g_liveLegacyCaptureDelayMs = static_cast<int64_t>(ms);
  return Bool(info, true);
}

Napi::Value PipGetLiveLegacyCaptureDiagnostics(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  Napi::Object o = Napi::Object::New(env);
  SetKey(o, "active", Napi::Boolean::New(env, pip::g_legacyCaptureActive.load()));
  SetKey(o, "attempts", Napi::Number::New(env, static_cast<double>(pip::g_legacyCaptureAttempts.load())));
  SetKey(o, "completions",
         Napi::Number::New(env, static_cast<double>(pip::g_legacyCaptureCompletions.load())));
  return o;
}

Napi::Value PipGetStackTargets(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  struct Row {
    uint32_t panel_window_id, window_id, presentation_window_id;
    int32_t pid;
    std::string bundle_id;
    pip::GroupKey group;
    bool running, group_hidden, completed, badge_shown;
  };
  std::vector<Row> rows;
  PipRunOnMainSync([&] {
    for (auto& p : pip::PipStackCopy()) {
      auto* c = dynamic_cast<pip::KvPipController*>(p.get());
      rows.push_back(Row{c ? c->panelWindowNumber() : 0, p->windowId(), p->presentationWindowId(),
                         p->expectedPid(), p->expectedBundleId(), p->groupKey(), p->running(),
                         p->groupHidden(), p->taskCompleted(), p->badgeShown()});
    }
    return true;
  });
  Napi::Array out = Napi::Array::New(env, rows.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    const Row& r = rows[i];
    Napi::Object o = Napi::Object::New(env);
    SetKey(o, "panel_window_id", Napi::Number::New(env, r.panel_window_id));
    SetKey(o, "window_id", Napi::Number::New(env, r.window_id));
    SetKey(o, "presentation_window_id", Napi::Number::New(env, r.presentation_window_id));
    SetKey(o, "pid", Napi::Number::New(env, r.pid));
    SetKey(o, "bundle_id", Napi::String::New(env, r.bundle_id));
    SetKey(o, "group", r.group ? Napi::Value(Napi::String::New(env, *r.group)) : env.Null());
    SetKey(o, "running", Napi::Boolean::New(env, r.running));
    SetKey(o, "group_hidden", Napi::Boolean::New(env, r.group_hidden));
    SetKey(o, "completed", Napi::Boolean::New(env, r.completed));
    SetKey(o, "badge_shown", Napi::Boolean::New(env, r.badge_shown));
    SetKey(o, "lead", Napi::Boolean::New(env, i == 0));
    out.Set(static_cast<uint32_t>(i), o);
  }
  return out;
}

Napi::Value PipStartInteractionTestPanel(const Napi::CallbackInfo& info) {
  EnsureMainQueue(info.Env());
  double w = 0, h = 0;
  if (info.Length() > 0 && !ReadWholeNumber(info[0], 0, 1920, &w)) return Bool(info, false);
  if (info.Length() > 1 && !ReadWholeNumber(info[1], 0, 1080, &h)) return Bool(info, false);
  return Bool(info, PipRunOnMainSync([w, h] {
                pip::PipStopAllPanels("interaction test panel");
                auto c = pip::KvPipController::Create();
                // In the stack before its first frame, as a started panel is
                // when its capture presents one.
                pip::PipStackPushFront(c);
                if (!c->startInteractionTestPanel(w, h)) {
                  pip::PipStackRemove(c.get());
                  return false;
                }
                return true;
              }));
}

Napi::Value PipMoveInteractionTestPanelToPoint(const Napi::CallbackInfo& info) {
  double xy[2];
  if (!FiniteNumbers(info, 2, xy))
    return ThrowTypeError(info.Env(), "pipMoveInteractionTestPanelToPoint requires x,y");
  return Bool(info, PipRunOnMainSync([&] {
                for (auto& p : pip::PipStackCopy()) {
                  auto* c = dynamic_cast<pip::KvPipController*>(p.get());
                  if (c && c->isInteractionTestPanel()) return c->moveToGlobalTopLeft(xy[0], xy[1]);
                }
                return false;
              }));
}

Napi::Value PipSampleInteractionOwnershipAtPoint(const Napi::CallbackInfo& info) {
  double xy[2];
  if (!FiniteNumbers(info, 2, xy))
    return ThrowTypeError(info.Env(), "pipSampleInteractionOwnershipAtPoint requires x,y");
  bool no_underlay = info.Length() > 2 && info[2].ToBoolean().Value();
  return Bool(info, PipRunOnMainSync([&] {
                auto* c = Lead();
                return c && c->running() &&
                       c->interaction()->sampleOwnershipNow(platform::Point{xy[0], xy[1]}, no_underlay);
              }));
}

Napi::Value PipVerifyInitialHitSurface(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  bool hit_testable = false, frontmost = false;
  PipRunOnMainSync([&] {
    auto* c = Lead();
    if (!c || !c->running() || !c->panelWindow()) return false;
    auto& surf = platform::Get().surfaces();
    platform::PanelWindowSpec spec;
    hit_testable = surf.IsOrderedIn(c->panelWindow()) && surf.GetPanelSpec(c->panelWindow(), &spec) &&
                   !spec.ignores_mouse;
    platform::Rect mid = Center(c->globalFrame());
    frontmost = c->interaction()->sampleOwnershipNow(platform::Point{mid.x, mid.y}, false);
    return true;
  });
  Napi::Object o = Napi::Object::New(env);
  SetKey(o, "panel_hit_testable", Napi::Boolean::New(env, hit_testable));
  SetKey(o, "windowserver_frontmost", Napi::Boolean::New(env, frontmost));
  return o;
}

// (clickCount, startX, startY, endX, endY): whether that release activates
// the panel's target.
Napi::Value PipEvaluateDoubleClickActivation(const Napi::CallbackInfo& info) {
  double v[5];
  if (!FiniteNumbers(info, 5, v)) return Bool(info, false);
  // A click count is a whole number in int64's range before it is converted.
  if (v[0] != std::floor(v[0]) || !(std::fabs(v[0]) < 9.2e18)) return Bool(info, false);
  return Bool(info, pip::PipDoubleClickActivates(static_cast<int64_t>(v[0]), {v[1], v[2]},
                                                 {v[3], v[4]}));
}

Napi::Value PipSimulateUserInputDisableReleaseRace(const Napi::CallbackInfo& info) {
  return Fixture(info, &pip::PipInteractionFixtures::UserInputDisableReleaseRace);
}
Napi::Value PipSimulateSyntheticAdmissionTimeoutFencing(const Napi::CallbackInfo& info) {
  return Fixture(info, &pip::PipInteractionFixtures::SyntheticAdmissionTimeoutFencing);
}
Napi::Value PipSimulateSyntheticReservationInterleaving(const Napi::CallbackInfo& info) {
  return Fixture(info, &pip::PipInteractionFixtures::SyntheticReservationInterleaving);
}
Napi::Value PipSimulateForeignContinuationPassThrough(const Napi::CallbackInfo& info) {
  return Fixture(info, &pip::PipInteractionFixtures::ForeignContinuationPassThrough);
}
Napi::Value PipSimulateTimeoutDrainRecovery(const Napi::CallbackInfo& info) {
  return Fixture(info, &pip::PipInteractionFixtures::TimeoutDrainRecovery);
}
Napi::Value PipSimulatePersistentCaptureFailures(const Napi::CallbackInfo& info) {
  return Bool(info, PipRunOnMainSync([] {
                auto* c = Lead();
                return c && c->simulatePersistentCaptureFailures();
              }));
}

}  // namespace addon
