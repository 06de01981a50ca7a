// What the overlay does when the agent acts: glides to targets, the activity
// lease and idle fading, hiding, begin/end of actions, and the 16 ms step the
// run-loop pump drives.
#include <algorithm>

#include "ghost/overlay.h"
#include "platform/platform.h"
#include "pump.h"

namespace ghost {

namespace {

const ghost_motion::MotionParams kMotionParams{};

void IdleTimerFired(uv_timer_t*) {
  S().idleTimerArmed = false;
  IdleScan();
}

double EarliestDeadline(bool* any) {
  double earliest = 0;
  *any = false;
  for (auto& g : S().groups) {
    if (!g->tracking) continue;
    if (!*any || g->idleDeadlineMs < earliest) earliest = g->idleDeadlineMs;
    *any = true;
  }
  return earliest;
}

void SeedIfNew(GhostGroup& g, double x, double y) {
  if (g.motion.hasPosition) return;
  std::vector<ghost_geometry::DisplayFrame> frames = WindowFrames();
  int idx = ghost_geometry::ScreenIndexForPoint(frames, x, y);
  double sx = 0, sy = 0;
  ghost_geometry::SeedPosition(x, y, idx >= 0 ? &frames[static_cast<size_t>(idx)] : nullptr, &sx,
                               &sy);
  g.motion.SnapTo(sx, sy, ghost_motion::kRestHeading);
}

void GlideTo(GhostGroup& g, double x, double y) {
  SeedIfNew(g, x, y);
  g.motion.MoveTo(x, y, ghost_motion::kRestHeading, kMotionParams);
  g.targetPoint = {x, y};
  g.targetPlaced = true;
  AttachGroupToScreen(g);
  UpdateGroupLayout(g);
}

void IdleOut(GhostGroup& g) {
  double old_alpha = GroupAlpha(g);
  g.targetGeneration++;
  g.tracking = false;
  g.visibilityConfirmed = false;
  g.pendingRipple = false;
  g.shown = false;
  g.idleAlpha = 0;
  g.cue = 0;
  if (old_alpha <= kShownAlpha) {
    ApplyGroupAlpha(g);
  } else {
    BeginGroupIdleFade(g, old_alpha);
  }
}

}  // namespace

GhostTarget MakeTarget(int32_t pid, uint32_t window_id, int exact) {
  GhostTarget t;
  if (pid < 1) {
    t.kind = 1;
    return t;
  }
  t.kind = (window_id != 0 && exact != 0) ? 3 : 2;
  t.pid = pid;
  t.windowId = window_id;
  return t;
}

void StartPumpTimer() { addon::StartAppKitPumpTimer(); }
void StopPumpTimerIfIdle() { addon::StopAppKitPumpTimerIfIdle(); }

bool OverlayHasPumpWork() {
  const OverlayState& s = S();
  if (s.controllerActive || s.pendingRipples > 0) return true;
  for (const auto& g : s.groups) {
    double a = GroupAlpha(*g);
    if (a > kShownAlpha) return true;
    if ((g->motion.gliding || g->motion.settling) && a > 0) return true;
    if (g->cue != 0) return true;
  }
  return false;
}

void RearmIdleTimer() {
  addon::EnsureAppKitPump();
  bool any;
  double earliest = EarliestDeadline(&any);
  uv_timer_t* t = addon::IdleScanTimer();
  if (!any) {
    uv_timer_stop(t);
    S().idleTimerArmed = false;
    return;
  }
  double delay = std::max(1.0, earliest - NowMs());
  uv_timer_start(t, IdleTimerFired, static_cast<uint64_t>(delay), 0);
  S().idleTimerArmed = true;
}

void IdleScan() {
  double now = NowMs();
  for (auto& gp : S().groups) {
    GhostGroup& g = *gp;
    if (!g.tracking || g.idleDeadlineMs > now) continue;
    if (g.cue == 1 && now - g.cueBeganMs < kMaxTextCueMs) {
      g.idleDeadlineMs += kIdleMs;
      continue;
    }
    IdleOut(g);
  }
  RearmIdleTimer();
  StopPumpTimerIfIdle();
}

void RenewActivityLease(GhostGroup& g) {
  if (!g.tracking) {
    g.occlusionAlpha = g.target.kind == 0 ? 1.0 : (TrySyncFirstCheck(g, g.target) ? 1.0 : 0.0);
  }
  g.tracking = true;
  g.idleAlpha = 1.0;
  if (g.rootLayer) platform::Get().surfaces().RemoveAnimation(g.rootLayer, "idleFade");
  ApplyGroupAlpha(g);
  g.idleDeadlineMs = NowMs() + kIdleMs;
  RearmIdleTimer();
  if (g.target.kind != 0) {
    StartPumpTimer();
    StartVisibilityTimer();
    ScheduleVisibilityProbe();
  }
}

void BeginTrackedFeedback(GhostGroup& g, double x, double y, GhostTarget target, bool ripple) {
  EnsureGhostInit();
  ClampToOverlayDisplays(&x, &y);
  bool same = g.tracking && g.target == target;
  GlideTo(g, x, y);
  g.tracking = true;
  bool visible = false;
  if (!same) {
    g.targetGeneration++;
    g.target = target;
    g.visibilityConfirmed = false;
    g.pendingRipple = false;
    g.occlusionUncertainMisses = 0;
    visible = TrySyncFirstCheck(g, target);
    if (!visible) {
      g.occlusionAlpha = 0;
      g.shown = false;
    } else {
      ConfirmVisible(g);
    }
  }
  if (same || visible) {
    if (ripple) g.pendingRipple = true;
    if (g.visibilityConfirmed) {
      StartPumpTimer();
      g.occlusionAlpha = 1.0;
      g.occlusionUncertainMisses = 0;
      ApplyGroupAlpha(g);
      if (g.pendingRipple) {
        g.pendingRipple = false;
        GhostClickRippleInternal(g, x, y);
      }
    }
  }
  RenewActivityLease(g);
}

void BeginDirectFeedback(GhostGroup& g, double x, double y, bool ripple) {
  EnsureGhostInit();
  ClampToOverlayDisplays(&x, &y);
  // A direct glide shows the cursor at a point, not on a window: drop any
  // tracked target so a probe of the old one cannot hide it.
  if (g.target.kind != 0) {
    g.target = GhostTarget{};
    g.targetGeneration++;
    g.visibilityConfirmed = false;
    g.pendingRipple = false;
  }
  GlideTo(g, x, y);
  g.tracking = true;
  StartPumpTimer();
  g.occlusionAlpha = 1.0;
  g.occlusionUncertainMisses = 0;
  ApplyGroupAlpha(g);
  RenewActivityLease(g);
  if (ripple) GhostClickRippleInternal(g, x, y);
}

void HideGroup(GhostGroup& g, bool orderOutIfAllHidden) {
  g.targetGeneration++;
  g.idleAlpha = 0;
  g.occlusionAlpha = 0;
  g.shown = false;
  g.target = GhostTarget{};
  g.tracking = false;
  g.visibilityConfirmed = false;
  g.pendingRipple = false;
  if (g.rootLayer) platform::Get().surfaces().RemoveAnimation(g.rootLayer, "idleFade");
  ApplyGroupAlpha(g);
  HideCursorLayer(g);
  if (orderOutIfAllHidden && !AnyGroupShown()) {
    StopVisibilityTimer();
    g_visibility_probe_dirty.store(false);
    OrderAllOut();
  }
  RearmIdleTimer();
  StopPumpTimerIfIdle();
}

void HideEverything() {
  for (auto& g : S().groups) HideGroup(*g, false);
  StopVisibilityTimer();
  g_visibility_probe_dirty.store(false);
  OrderAllOut();
  StopPumpTimerIfIdle();
}

void UpdateBadge(GhostGroup& g, const char* title) {
  std::string text = ghost_motion::SanitizeBadgeText(title);
  if (text == g.badgeText) return;
  g.badgeText = text;
  RebuildGroupBadge(g);
  UpdateGroupLayout(g);
}

void BeginAction(GhostGroup& g, int kind, const char* title) {
  EnsureGhostInit();
  g.actionCounter++;
  g.cue = kind == 1 ? 1 : 2;
  if (g.cue == 1) g.cueBeganMs = NowMs();
  StartPumpTimer();
  RenewActivityLease(g);
  if (title && *title) UpdateBadge(g, title);
  if (g.cue == 1) {
    if (g.shown) GhostClickRippleInternal(g, g.motion.position.x, g.motion.position.y);
  } else {
    PlayKeyPulse(g);
    g.cue = 0;
  }
}

void EndAction(GhostGroup& g) {
  g.actionCounter++;
  int old = g.cue;
  g.cue = 0;
  if (old == 1 && g.tracking) {
    g.idleDeadlineMs = NowMs() + kIdleMs;
    RearmIdleTimer();
  }
  StopPumpTimerIfIdle();
}

void OverlayStep(double) {
  OverlayState& s = S();
  for (auto& gp : s.groups) {
    GhostGroup& g = *gp;
    if (!g.motion.gliding && !g.motion.settling) continue;
    g.motion.Tick(ghost_motion::kGhostTickSeconds, kMotionParams);
    AttachGroupToScreen(g);
    UpdateGroupLayout(g);
  }
  // Deadlines are on the seam clock; a clock that jumps ahead idles groups
  // out on the next tick rather than when the real-time timer fires.
  bool any;
  double earliest = EarliestDeadline(&any);
  if (any && earliest <= NowMs()) IdleScan();
  StopPumpTimerIfIdle();
}

}  // namespace ghost

extern "C" {
bool ghost_overlay_pump_has_work(void) { return ghost::OverlayHasPumpWork(); }
void ghost_overlay_pump_step(double dt_seconds) { ghost::OverlayStep(dt_seconds); }
}
