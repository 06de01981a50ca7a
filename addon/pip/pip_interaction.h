// A panel's interaction monitor: an event tap on a thread of its own that
// sees every left-button and movement event, decides per press whether the
// panel owns it (to drag it, promote it, close it or double-click through to
// its target) and lets every other press pass to the window underneath. Drag
// movement is coalesced and applied on the main thread; window-server
// questions (which window is frontmost at a point) run on an ownership queue,
// never on the tap thread, whose callback must not block.
//
// Coordinates on the tap thread are global top-left points.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "pip/pip_geometry.h"
#include "platform/event_taps.h"
#include "platform/value.h"

namespace pip {

class KvPipController;
class PipCaptureQueue;

inline constexpr size_t kMaxVisibleScreens = 32;
inline constexpr double kCloseHotZone = 28;           // points from the top-right corner
inline constexpr int64_t kReservationMaxAgeNs = 250'000'000;
inline constexpr int64_t kSampleMaxAgeNs = 400'000'000;
inline constexpr int64_t kProbeSpacingNs = 100'000'000;
inline constexpr int64_t kProbeRerunNs = 250'000'000;
inline constexpr int64_t kHandshakeTimeoutMs = 150;
inline constexpr int64_t kReadinessDeadlineMs = 3500;
inline constexpr int64_t kPublishRetryMs = 16;
inline constexpr double kDoubleClickSlopSquared = 16;  // within 4 points

// Everything the tap thread, the ownership queue and the main thread share
// about one panel, guarded by `mu` (the counters are atomic).
struct InteractionState {
  // monitor
  int state = 0;  // 0 idle, 1 starting, 2 running
  platform::MouseTap* tap = nullptr;  // valid while the tap thread holds it
  bool publication_pending = false;
  // visibility
  bool visible = false;
  bool ever_ready = false;
  uint32_t panel_window_id = 0;
  platform::Rect panel_bounds;
  bool panel_bounds_valid = false;
  std::vector<platform::Rect> visible_screens;
  bool geometry_updating = false;
  // gesture
  bool dragging = false;
  uint64_t gesture_epoch = 0;
  uint32_t gesture_underlying_window = 0;
  bool gesture_trusted_local_synthetic = false;
  pid_t gesture_source_pid = 0;
  int64_t gesture_source_user_data = 0;
  int64_t gesture_reservation_token = 0;
  platform::Point gesture_grab_offset;
  platform::Size gesture_panel_size;
  platform::Point gesture_origin;  // where the tap has moved the panel to
  platform::Point last_point;
  platform::Point gesture_start_point;
  bool drag_screens_valid = false;
  std::vector<platform::Rect> drag_screens;
  // A tagged press of this panel's that arrived while it was hidden: the
  // press, its drags and its up are swallowed together.
  int64_t swallowed_gesture_token = 0;
  // ownership sample
  bool probe_pending = false;
  uint64_t probe_request_serial = 0;
  uint64_t probe_requested_generation = 0;
  platform::Point probe_requested_point;
  int64_t last_probe_time_ns = 0;
  bool sample_valid = false;
  platform::Point sample_point;
  uint32_t sample_window = 0;
  uint32_t sample_underlying_window = 0;
  uint32_t sample_overlay_window = 0;
  int64_t sample_time_ns = 0;
  // synthetic reservation
  uint64_t synthetic_request_serial = 0;
  bool reservation_valid = false;
  uint64_t reservation_generation = 0;
  uint64_t reservation_epoch = 0;
  uint64_t reservation_request_serial = 0;
  int64_t reservation_token = 0;
  platform::Point reservation_point;
  uint32_t reservation_underlying_window = 0;
  int64_t reservation_time_ns = 0;
  std::vector<int64_t> issued_tokens;  // the last few, newest last
  // release hand-off
  bool handoff_valid = false;
  uint64_t handoff_generation = 0;
  uint64_t handoff_epoch = 0;
  platform::Point handoff_point;
  platform::Rect handoff_bounds;
  uint32_t handoff_underlying_window = 0;
  int64_t handoff_time_ns = 0;
  // drain
  bool draining = false;
  int64_t drain_started_ns = 0;
  int64_t drain_last_event_ns = 0;
  int64_t drain_last_check_ns = 0;
  // drag queue
  double pending_dx = 0;
  double pending_dy = 0;
  bool dispatch_pending = false;
  int64_t pending_enqueued_at_ns = 0;
  // readiness
  uint64_t readiness_deadline_epoch = 0;
  bool readiness_deadline_pending = false;
};

// What a window-server question at a point answered.
struct OwnershipAnswer {
  bool ok = false;               // the window list could be read
  uint32_t frontmost = 0;        // first interactive window at the point
  uint32_t underlying = 0;       // first interactive window that is not the panel
  uint32_t overlay = 0;          // a ghost-cursor overlay window at the point
};

class PipInteraction : public std::enable_shared_from_this<PipInteraction> {
 public:
  explicit PipInteraction(std::weak_ptr<KvPipController> panel);
  ~PipInteraction();

  // ---- main thread ----
  void start();     // first presented frame (or shown again)
  void republish();  // bounds and screens again after a move or resize
  void hide();       // capture hidden until the next frame, or group hidden
  void stop();
  bool isReady();
  bool isVisible();
  int64_t prepareSyntheticPointerDown(platform::Point point);
  void beginGeometryUpdate(bool cancel_gesture);
  void finishGeometryUpdate(uint32_t window_id);
  void refreshGeometry(bool cancel_gesture);
  // Arms the readiness deadline when a started panel is pushed: a panel
  // whose first frame never comes is stopped 3.5 s after its start.
  void armReadinessDeadline();

  // ---- tap thread ----
  platform::TapVerdict handleEvent(const platform::TapEvent& e, uint64_t generation);
  // Whether a drain in progress should go on (every 250 ms while draining).
  void runDrainCheck(uint64_t generation);

  // ---- ownership queue ----
  void scheduleOwnershipProbe(platform::Point point, uint64_t generation);
  // Runs a probe at `point` now and answers whether the panel is the
  // frontmost window there (the live test call).
  bool sampleOwnershipNow(platform::Point point, bool requires_no_underlay);

  // ---- state for tests and diagnostics ----
  std::mutex& mutex() { return mu_; }
  InteractionState& stateUnlocked() { return s_; }
  uint64_t generation() const { return generation_.load(); }
  uint64_t visibilityEpoch() const { return visibility_epoch_.load(); }
  std::shared_ptr<KvPipController> panel() const { return panel_.lock(); }

  // Clears the gesture, drain, reservations and samples (under `mu`).
  void clearTransientUnlocked();

 private:
  void publishForGeneration(uint64_t g);
  bool commitForGeneration(uint64_t g, uint32_t window_id, platform::Rect bounds);
  void failForGeneration(uint64_t g);
  void scheduleReadinessDeadlineUnlocked();
  void tapThread(uint64_t g);
  void enqueueDelta(double dx, double dy, uint64_t epoch);
  void applyQueuedForGeneration(uint64_t g, uint64_t epoch);
  void activateTargetForDoubleClick();
  void runProbe();
  void queueProbeAfter(int64_t delay_ns);
  void recordSampleUnlocked(platform::Point point, const OwnershipAnswer& a, int64_t time_ns);
  OwnershipAnswer queryOwnership(platform::Point point);
  platform::TapVerdict handleDown(const platform::TapEvent& e, uint64_t g, int64_t now);
  platform::TapVerdict handleDragOrUp(const platform::TapEvent& e, uint64_t g, int64_t now);
  void disabledByPlatform(int64_t now);
  void postHideForGeneration(uint64_t g);

  std::weak_ptr<KvPipController> panel_;
  std::mutex mu_;
  InteractionState s_;
  std::atomic<uint64_t> generation_{0};
  std::atomic<uint64_t> visibility_epoch_{0};
  std::shared_ptr<PipCaptureQueue> ownership_queue_;

  friend struct PipInteractionFixtures;
};

// ---- shared helpers ----
// Nanoseconds on the platform clock.
int64_t PipNowNs();
// The screens' visible frames in global top-left points (at most 32).
std::vector<platform::Rect> CopyPipVisibleScreenSnapshot();
// Whether (pid, window, layer) belongs to the helper's own ghost overlay: the
// host's own overlay windows, or another process of the helper's bundle
// identity whose code satisfies its requirement (cached for 8 processes).
bool IsOzaHelperGhostOverlay(pid_t pid, uint32_t window_id, int64_t layer, bool on_screen);
// The on-screen windows at `point`, front to back, that could take a left
// press: not `excluded`, not the Dock or the window server, not the ghost
// overlay, accepting a left mouse-down. False when the list cannot be read.
struct InteractiveWindow {
  uint32_t number = 0;
  pid_t owner = 0;
};
bool CopyInteractiveWindowsAtPoint(platform::Point point, uint32_t excluded,
                                   std::vector<InteractiveWindow>* out,
                                   uint32_t* overlay_at_point);

// Activates the target application (all windows) and raises its window
// through the application's accessibility windows when `window_id` is known.
void PipActivateTargetWindow(int32_t pid, uint32_t window_id);

// Process-wide health of the window-server ownership queries.
extern std::atomic<bool> g_pipOwnershipQueryUnhealthy;
extern std::atomic<bool> g_pipOwnershipQueryActive;         // exact-point queries
extern std::atomic<bool> g_pipPassiveOwnershipQueryActive;  // probes
void PipNoteOwnershipQueryResult(bool ok);

// ---- the controller's interface (main thread) ----
void PipInteractionStart(KvPipController& panel);
void PipInteractionRepublish(KvPipController& panel);
void PipInteractionHide(KvPipController& panel);
void PipInteractionStop(KvPipController& panel);
bool PipInteractionReady(const KvPipController& panel);
bool PipInteractionVisible(const KvPipController& panel);
// Whether a drag of the panel is in progress (capture skips frames then).
bool PipInteractionDragging(const KvPipController& panel);

// Main thread. Asks each running panel, front to back, to reserve a synthetic
// left press at `point` (global top-left); the first non-zero answer wins (a
// token, or -1 for a refusal), 0 when every panel answers 0.
int64_t PipPrepareSyntheticPointerDown(platform::Point point);
// Main thread. The lead panel is running and its monitor is ready.
bool PipLeadInteractionReady();

}  // namespace pip
