// The ghost cursor overlay: one click-through window per display and one
// group of layers per agent session (arrow cursor with halo, badge, ripples,
// focus rectangles). Everything here runs on the host thread except the
// window-list search of the visibility probe.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ghost/display_geometry.h"
#include "ghost/motion_math.h"
#include "platform/surfaces.h"

namespace ghost {

// 0 none, 1 a bare screen point, 2 a process, 3 one window of a process.
struct GhostTarget {
  int32_t kind = 0;
  int32_t pid = 0;
  uint32_t windowId = 0;
  bool operator==(const GhostTarget& o) const {
    return kind == o.kind && pid == o.pid && windowId == o.windowId;
  }
};
GhostTarget MakeTarget(int32_t pid, uint32_t window_id, int exact);

struct GhostScreenWindow {
  platform::SurfaceId window = 0;
  platform::LayerId content = 0;
  ghost_geometry::DisplayFrame frame;  // global top-left points
  uint32_t number = 0;
};

struct GhostGroup {
  std::string key;
  bool ownSession = false;
  platform::LayerId rootLayer = 0, cursorLayer = 0, cursorHolderLayer = 0, badgeLayer = 0,
                    badgeTextLayer = 0;
  int screenIndex = -1;
  ghost_motion::CursorMotion motion;
  ghost_motion::Vec2 targetPoint;
  bool targetPlaced = false;
  std::vector<platform::LayerId> fxLayers;  // one per overlay window, 0 until used
  double idleAlpha = 0;
  double occlusionAlpha = 1.0;
  bool shown = false;
  GhostTarget target;
  bool tracking = false;
  bool visibilityConfirmed = false;
  bool pendingRipple = false;
  uint64_t targetGeneration = 0;
  int occlusionUncertainMisses = 0;
  double idleDeadlineMs = 0;
  int cue = 0;  // 0 none, 1 text, 2 key
  uint64_t actionCounter = 0;
  std::string badgeText;
  double cueBeganMs = 0;  // when the pending text cue began (its bound)
};

constexpr double kShownAlpha = 0.004;
constexpr double kIdleMs = 20000;
// A text cue whose action never ended stops holding the cursor after this.
constexpr double kMaxTextCueMs = 120000;

// ---- state (host thread) ----
struct OverlayState {
  std::vector<GhostScreenWindow> windows;
  std::vector<std::unique_ptr<GhostGroup>> groups;
  std::vector<std::string> tombstones;
  std::string requestSession;
  bool multiSession = false;
  // Read from any thread (input workers ask whether the overlay is on).
  std::atomic<bool> explicitEnabled{false};
  // ghostSetCapture's switch; unset until the first call, when the
  // environment variable decides.
  std::optional<bool> explicitCapture;
  int pendingRipples = 0;
  bool controllerActive = false;
  uint64_t displayGeneration = 0;
  bool initialised = false;
  uint64_t screensObserver = 0;
  bool visibilityTimerRunning = false;
  bool idleTimerArmed = false;
};
OverlayState& S();
extern std::atomic<bool> g_visibility_probe_active;
extern std::atomic<bool> g_visibility_probe_dirty;

// Milliseconds of the seam clock: the overlay's deadlines (tests drive it).
double NowMs();

// ---- enablement, groups (overlay_groups.cc) ----
bool GhostCursorOverlayEnabled();
void EnsureGhostInit();
std::string ResolveKey();
bool IsSessionEnded(const std::string& key);
GhostGroup* FindGroup(const std::string& key);
GhostGroup* GroupForRequest();
GhostGroup* GroupForExplicitSession(const char* key);
// The group a begin/end/badge call with a session names: that session's when
// multi-cursor mode is on and the session is neither empty nor "default",
// else the request group. A removed session gets none.
GhostGroup* GroupForAction(const std::string& session);
void RemoveSession(const std::string& key);
double GroupAlpha(const GhostGroup& g);
bool AnyGroupShown();

// ---- windows (overlay_windows.cc) ----
void RebuildScreenWindows();
// Whether `number` is one of the overlay's windows (any thread).
bool GhostOverlayOwnsWindowNumber(uint32_t number);
std::vector<ghost_geometry::DisplayFrame> CurrentDisplayFrames();
std::vector<ghost_geometry::DisplayFrame> WindowFrames();
int WindowIndexForPoint(double x, double y);  // 0 when nothing matches
// A target point moved onto the overlay's displays (and within the motion's
// bound), before any motion arithmetic sees it.
void ClampToOverlayDisplays(double* x, double* y);
bool WindowCapturable();
void SetAllSharingTypes();
void OrderAllFront();
void OrderAllOut();
// Global top-left point to the content space of window i (y up).
platform::Point ToWindowContent(int i, double x, double y);
double PrimaryHeight();

// ---- layers (overlay_layers.cc) ----
void BuildGroupLayers(GhostGroup& g);
void DestroyGroupLayers(GhostGroup& g);
void AttachGroupToScreen(GhostGroup& g);
void UpdateGroupLayout(GhostGroup& g);
void RebuildGroupBadge(GhostGroup& g);
void ApplyGroupAlpha(GhostGroup& g);
void BeginGroupIdleFade(GhostGroup& g, double fromAlpha);
void HideCursorLayer(GhostGroup& g);
platform::LayerId GroupFxLayer(GhostGroup& g, int index);
void GhostClickRippleInternal(GhostGroup& g, double x, double y);
void PlayKeyPulse(GhostGroup& g);
void ShowFocusRect(GhostGroup* g, double x, double y, double w, double h);
bool HasKeyPulse(const GhostGroup& g);
platform::Rgba GroupStrokeColor(const GhostGroup& g, double alpha);
// Badge text shortened to fit 188 points at 12 points (the rule of the badge).
std::string FitBadgeText(const std::string& text);

// ---- feedback, leases, idle, actions (overlay_feedback.cc) ----
void BeginTrackedFeedback(GhostGroup& g, double x, double y, GhostTarget target, bool ripple);
void BeginDirectFeedback(GhostGroup& g, double x, double y, bool ripple);
void RenewActivityLease(GhostGroup& g);
void HideGroup(GhostGroup& g, bool orderOutIfAllHidden);
void HideEverything();
void BeginAction(GhostGroup& g, int kind, const char* title);
void EndAction(GhostGroup& g);
void UpdateBadge(GhostGroup& g, const char* title);
void IdleScan();
void RearmIdleTimer();
void StartPumpTimer();
void StopPumpTimerIfIdle();
bool OverlayHasPumpWork();
void OverlayStep(double dt);

// ---- visibility (overlay_visibility.cc) ----
bool TrySyncFirstCheck(GhostGroup& g, const GhostTarget& target);
void ScheduleVisibilityProbe();
void StartVisibilityTimer();
void StopVisibilityTimer();
void HideByOcclusion(GhostGroup& g);
void ConfirmVisible(GhostGroup& g);

}  // namespace ghost
