// KvPipController: one mirroring panel. It owns a floating, non-activating
// panel window (an image layer showing the newest frame, a close button and,
// once a task completes, a badge), a capture loop imaging one target window
// (legacy display-link loop, verified screenshot loop, or the identity-checked
// fallback of the legacy loop) and the mailbox that hands frames from the
// capture threads to the main thread. Starts, stops, presentation and window
// work run on the main thread; capture runs on the panel's serial queue.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "pip/pip_capture_queue.h"
#include "pip/pip_stack.h"
#include "platform/screen_capture.h"
#include "platform/surfaces.h"

namespace pip {

// Process-wide capture budgets and the legacy diagnostics.
inline constexpr int kMaxVerifiedOutstandingCaptures = 8;
// Failed or blank frames in a row that stop a panel.
inline constexpr int kPipStopAfterCaptureFailures = 30;
extern std::atomic<bool> g_legacyCaptureActive;
extern std::atomic<uint64_t> g_legacyCaptureAttempts;
extern std::atomic<uint64_t> g_legacyCaptureCompletions;
extern std::atomic<int64_t> g_liveLegacyCaptureDelayMs;
extern std::atomic<int> g_verifiedOutstandingCaptures;
extern std::atomic<bool> g_verifiedGeometryProbeActive;

// The size of a window-list entry owned by `pid` with a positive size.
bool CopyLiveWindowSizeForIdentity(uint32_t window_id, int32_t pid, platform::Size* out);

class PipInteraction;

class KvPipController : public PipPanel, public std::enable_shared_from_this<KvPipController> {
 public:
  static std::shared_ptr<KvPipController> Create();
  ~KvPipController() override;

  // ---- starts (main thread); false stops the panel ----
  bool startLegacyWithWindowId(uint32_t window_id, double width, double height);
  bool startWithVerifiedWindowId(uint32_t window_id, int32_t pid, const std::string& bundle_id,
                                 platform::Size source, double width, double height);
  bool startWithVerifiedWindow(const platform::ShareableWindow& window, uint32_t window_id,
                               int32_t pid, const std::string& bundle_id, double width,
                               double height);
  bool refreshVerifiedCaptureSource();
  bool refreshVerifiedCompositeWindow(const platform::ShareableWindow& window,
                                      uint32_t actual_window_id);
  void setPresentationWindowId(uint32_t id) { presentation_window_id_ = id; }
  void setGroupKey(GroupKey g);

  // ---- PipPanel ----
  bool running() const override { return running_.load(); }
  GroupKey groupKey() const override;
  uint32_t windowId() const override { return window_id_; }
  uint32_t presentationWindowId() const override { return presentation_window_id_; }
  uint32_t actualWindowId() const override { return actual_window_id_.load(); }
  int32_t expectedPid() const override { return expected_pid_; }
  std::string expectedBundleId() const override { return expected_bundle_id_; }
  bool verified() const override { return verified_; }
  bool hasPresentedFrame() const override { return has_presented_frame_.load(); }
  bool groupHidden() const override { return group_hidden_.load(); }
  bool taskCompleted() const override { return task_completed_.load(); }
  bool badgeShown() const override { return badge_ != 0; }
  void stop() override;
  void orderFrontRegardless() override;
  void setGroupHidden(bool hidden) override;
  void freezeCapture() override;
  void showTaskCompletionBadge() override;

  // ---- presentation ----
  void presentFrame(const platform::Image& image);
  void hideCaptureUntilNextFrame();
  void enqueueImageForPresentation(platform::Image image, uint64_t generation);
  void requestHideForGeneration(uint64_t generation);
  bool acceptsGeneration(uint64_t g) const;
  uint64_t generation() const { return generation_.load(); }

  // ---- geometry ----
  void syncVerifiedGeometryToSourceBounds(platform::Size bounds);
  platform::SurfaceId panelWindow() const { return panel_; }
  uint32_t panelWindowNumber() const;
  bool identityVerifiedWindowIdCapture() const { return identity_window_id_capture_; }
  // The panel frame in global top-left points (the interaction's bounds).
  platform::Rect globalFrame() const;

  // ---- live test calls (main thread) ----
  // A panel that shows a plain frame and captures nothing, for the
  // interaction fixtures.
  bool startInteractionTestPanel(double width, double height);
  bool isInteractionTestPanel() const { return test_panel_; }
  // Moves the panel's top-left corner to (x, y) global top-left points.
  bool moveToGlobalTopLeft(double x, double y);
  // Capture failures of a stale generation are ignored, a run of current
  // failures below the stop budget only hides the panel, and one success
  // resets the count; false when any of that did not hold.
  bool simulatePersistentCaptureFailures();

  // Moves the panel window by (dx, dy) global top-left points (a drag step).
  void moveFrameBy(double dx, double dy);
  // The panel's interaction monitor (created with the controller).
  std::shared_ptr<PipInteraction> interaction() const { return interaction_; }

  // Counters, for the capture loops.
  int consecutiveCaptureFailures() const { return consecutive_capture_failures_.load(); }

 private:
  KvPipController() = default;
  bool createPanelForVerifiedMode(bool verified);
  void beginCapture();
  bool startDisplayLinkCapture();  // legacy and fallback loops
  void sizePanel(platform::Size source, double width, double height);
  void schedulePresentation();
  void runPresentation();
  void rebuildConfiguration();
  bool sourceMatchesIdentity(const platform::ShareableWindow& w) const;

  // legacy loop (pip_capture.cc)
  void displayLinkTick();
  bool shouldCaptureLegacyFrame();
  void scheduleWindowIdCaptureForGeneration(uint64_t g);
  void runLegacyCapture(uint64_t g);
  // verified loop (pip_capture.cc)
  void verifiedTimerTick(uint64_t g);
  void completeScreenshot(uint64_t g, uint64_t sequence, const platform::Image& image,
                          int64_t error);
  void startGeometryProbe(uint64_t g);
  void adaptSourceRectModeFromFrame(const platform::Image& image, uint64_t g);
  void noteFrameSuccess();
  void noteDisplayLinkFrameFailureForGeneration(uint64_t g, bool immediate);
  void noteDisplayLinkIdentityFailureForGeneration(uint64_t g);
  void stopAndRemoveOnMain(uint64_t g, std::string log_line);
  int64_t nowNs() const;

  // Identity and targets: written by a start before capture begins.
  uint32_t window_id_ = 0;
  uint32_t presentation_window_id_ = 0;
  std::atomic<uint32_t> actual_window_id_{0};
  int32_t expected_pid_ = 0;
  std::string expected_bundle_id_;
  bool verified_ = false;
  bool identity_window_id_capture_ = false;
  mutable std::mutex group_mu_;
  GroupKey group_key_;
  platform::Size requested_{kDefaultBoxWidthValue, kDefaultBoxHeightValue};
  static constexpr double kDefaultBoxWidthValue = 360, kDefaultBoxHeightValue = 240;

  // Panel window (main thread).
  platform::SurfaceId panel_ = 0;
  platform::LayerId image_layer_ = 0;
  platform::LayerId close_button_ = 0;
  platform::LayerId badge_ = 0;
  platform::Size size_;
  uint64_t display_link_ = 0;
  uint64_t screens_observer_ = 0;
  bool pump_lease_ = false;
  std::shared_ptr<PipCaptureQueue> queue_;

  // Verified source, read by the capture queue under source_mu_.
  mutable std::mutex source_mu_;
  std::optional<platform::ShareableWindow> verified_window_;
  std::optional<platform::ContentFilter> verified_filter_;
  std::optional<platform::ScreenshotConfiguration> verified_configuration_;

  std::atomic<bool> running_{false};
  std::atomic<uint64_t> generation_{0};
  std::atomic<bool> accepting_frames_{false};
  std::atomic<bool> capture_in_flight_{false};
  std::atomic<int> capture_in_flight_ticks_{0};
  std::atomic<int> outstanding_captures_{0};
  std::atomic<bool> capture_backpressure_shown_{false};
  std::atomic<int> consecutive_capture_failures_{0};
  std::atomic<bool> has_presented_frame_{false};
  std::atomic<int> consecutive_identity_failures_{0};
  std::atomic<uint64_t> identity_failure_epoch_{0};
  std::atomic<uint64_t> capture_sequence_{0};
  std::atomic<int64_t> last_legacy_capture_time_ns_{0};
  std::atomic<bool> legacy_capture_in_flight_{false};
  std::atomic<int64_t> legacy_capture_started_ns_{0};
  std::atomic<int64_t> last_valid_frame_time_ns_{0};
  std::atomic<int64_t> last_capture_admitted_at_ns_{0};
  std::atomic<uint64_t> visibility_epoch_{0};
  std::atomic<int> geometry_probe_ticks_{0};
  std::mutex pending_frame_mutex_;
  platform::Image pending_frame_image_;
  uint64_t pending_frame_epoch_ = 0;
  bool pending_presentation_is_hide_ = false;
  uint64_t pending_generation_ = 0;
  std::atomic<bool> frame_presentation_scheduled_{false};
  std::atomic<bool> source_rect_use_global_{false};
  std::atomic<int64_t> source_rect_flip_allowed_at_ns_{0};
  std::atomic<int> source_rect_blind_flips_{0};
  std::atomic<bool> group_hidden_{false};
  std::atomic<bool> task_completed_{false};
  bool stopped_ = false;
  std::shared_ptr<PipInteraction> interaction_;
  bool test_panel_ = false;
};

}  // namespace pip
