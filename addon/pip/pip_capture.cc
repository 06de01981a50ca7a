// The three capture loops of a panel and their failure counting. The legacy
// loop (display-link ticks, window-list images of one window id, one capture
// in the whole process at a time) also serves the identity-checked fallback;
// the verified loop takes screenshots of a verified window every 200 ms.
// Capture runs on the panel's queue and hands frames to the main thread
// through the mailbox; every step carries the generation it was issued for.
#include <thread>

#include "apps/identity.h"
#include "main_queue.h"
#include "pip/pip_controller.h"
#include "pip/pip_interaction.h"
#include "pip/pip_geometry.h"
#include "pip/pip_log.h"
#include "platform/platform.h"
#include "worker_pool.h"

namespace pip {

std::atomic<bool> g_legacyCaptureActive{false};
std::atomic<uint64_t> g_legacyCaptureAttempts{0};
std::atomic<uint64_t> g_legacyCaptureCompletions{0};
std::atomic<int64_t> g_liveLegacyCaptureDelayMs{0};
std::atomic<int> g_verifiedOutstandingCaptures{0};
std::atomic<bool> g_verifiedGeometryProbeActive{false};

namespace {

constexpr int64_t kMs = 1000000;
constexpr int64_t kLeadLegacyIntervalNs = 200 * kMs;
constexpr int64_t kOtherLegacyIntervalNs = 1000 * kMs;
constexpr int64_t kLegacyStallNs = 2000 * kMs;
constexpr int64_t kStaleFrameNs = 2000 * kMs;
constexpr int64_t kNonLeadScreenshotSpacingNs = 1000 * kMs;
constexpr int64_t kSourceRectFlipSpacingNs = 2000 * kMs;
constexpr int kInFlightGiveUpTicks = 20;
constexpr int kRefreshAfterFailures = 10;
constexpr int kStopAfterIdentityFailures = 3;
constexpr int kMaxSourceRectFlips = 2;

bool ClaimSlot(std::atomic<int>& counter, int limit) {
  int v = counter.load();
  while (v < limit)
    if (counter.compare_exchange_weak(v, v + 1)) return true;
  return false;
}

void ReleaseSlot(std::atomic<int>& counter) {
  int v = counter.load();
  while (v > 0 && !counter.compare_exchange_weak(v, v - 1)) {
  }
}

double Number(const platform::Dict& d, const char* key) {
  auto it = d.find(key);
  if (it == d.end() || !it->second.number()) return 0;
  return it->second.number()->value;
}

}  // namespace

bool CopyLiveWindowSizeForIdentity(uint32_t window_id, int32_t pid, platform::Size* out) {
  auto list = platform::Get().windows().CopyWindowList(platform::WindowListOption::kAll);
  if (!list || window_id == 0) return false;
  for (const auto& v : *list) {
    const platform::Dict* d = v.dict();
    if (!d || static_cast<uint32_t>(Number(*d, platform::kWindowNumber)) != window_id) continue;
    if (pid > 0 && static_cast<int32_t>(Number(*d, platform::kWindowOwnerPID)) != pid) return false;
    auto b = d->find(platform::kWindowBounds);
    if (b == d->end() || !b->second.dict()) return false;
    platform::Size s{Number(*b->second.dict(), "Width"), Number(*b->second.dict(), "Height")};
    if (!(s.width > 0) || !(s.height > 0)) return false;
    if (out) *out = s;
    return true;
  }
  return false;
}

int64_t KvPipController::nowNs() const {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             platform::Get().clock().Now().time_since_epoch())
      .count();
}

void KvPipController::stopAndRemoveOnMain(uint64_t g, std::string log_line) {
  std::weak_ptr<KvPipController> weak = weak_from_this();
  addon::PostToMain([weak, g, log_line = std::move(log_line)] {
    auto self = weak.lock();
    if (!self || !self->acceptsGeneration(g)) return;
    PipLog("%s", log_line.c_str());
    self->stop();
    PipStackRemove(self.get());
  });
}

// ---- failure counting ----

void KvPipController::noteFrameSuccess() {
  consecutive_capture_failures_ = 0;
  last_valid_frame_time_ns_ = nowNs();
}

void KvPipController::noteDisplayLinkFrameFailureForGeneration(uint64_t g, bool immediate) {
  if (task_completed_ || group_hidden_) return;
  int n = ++consecutive_capture_failures_;
  int64_t last = last_valid_frame_time_ns_.load();
  bool recent = last == 0 || nowNs() - last < kStaleFrameNs;
  if (immediate || n - 1 >= 9 || !recent) requestHideForGeneration(g);
  if (n == kPipStopAfterCaptureFailures)
    stopAndRemoveOnMain(g, PipFormat("persistent PiP capture failures; stopping wid=%u failures=%d",
                                     window_id_, n));
}

void KvPipController::noteDisplayLinkIdentityFailureForGeneration(uint64_t g) {
  int n = ++consecutive_identity_failures_;
  requestHideForGeneration(g);
  if (n != kStopAfterIdentityFailures) return;
  uint64_t epoch = identity_failure_epoch_.load();
  std::weak_ptr<KvPipController> weak = weak_from_this();
  std::string line = PipFormat("verified fallback identity invalid; stopping wid=%u pid=%d failures=%d",
                               window_id_, expected_pid_, n);
  addon::PostToMain([weak, g, epoch, line] {
    auto self = weak.lock();
    if (!self || !self->acceptsGeneration(g) || self->identity_failure_epoch_.load() != epoch) return;
    PipLog("%s", line.c_str());
    self->stop();
    PipStackRemove(self.get());
  });
}

// ---- legacy loop ----

void KvPipController::displayLinkTick() {
  if (verified_ && !identity_window_id_capture_) return;
  uint64_t g = generation_.load();
  if (acceptsGeneration(g) && shouldCaptureLegacyFrame()) scheduleWindowIdCaptureForGeneration(g);
}

bool KvPipController::shouldCaptureLegacyFrame() {
  if (PipInteractionDragging(*this) || group_hidden_ || task_completed_) return false;
  int64_t interval = PipStackIsLead(this) ? kLeadLegacyIntervalNs : kOtherLegacyIntervalNs;
  int64_t now = nowNs();
  int64_t last = last_legacy_capture_time_ns_.load();
  if (last != 0 && now - last < interval) return false;
  return last_legacy_capture_time_ns_.compare_exchange_strong(last, now);
}

void KvPipController::scheduleWindowIdCaptureForGeneration(uint64_t g) {
  int64_t now = nowNs();
  if (legacy_capture_in_flight_) {
    if (now - legacy_capture_started_ns_.load() < kLegacyStallNs) return;
    if (!capture_backpressure_shown_.exchange(true)) {
      requestHideForGeneration(g);
      stopAndRemoveOnMain(g, PipFormat("legacy capture stalled; stopping wid=%u", window_id_));
    }
    return;
  }
  bool expected = false;
  if (!g_legacyCaptureActive.compare_exchange_strong(expected, true)) {
    legacy_capture_in_flight_ = false;
    requestHideForGeneration(g);
    stopAndRemoveOnMain(g, PipFormat("legacy capture budget exhausted; stopping wid=%u", window_id_));
    return;
  }
  legacy_capture_in_flight_ = true;
  legacy_capture_started_ns_ = now;
  PipLog("legacy capture admitted wid=%u", window_id_);
  g_legacyCaptureAttempts++;
  std::weak_ptr<KvPipController> weak = weak_from_this();
  auto queue = queue_;
  if (!queue) {
    legacy_capture_in_flight_ = false;
    g_legacyCaptureActive = false;
    return;
  }
  queue->Async([weak, g] {
    if (auto self = weak.lock()) {
      self->runLegacyCapture(g);
    } else {
      g_legacyCaptureActive = false;
    }
  });
}

void KvPipController::runLegacyCapture(uint64_t g) {
  auto release = [&] {
    legacy_capture_in_flight_ = false;
    g_legacyCaptureActive = false;
  };
  if (identity_window_id_capture_ &&
      (!addon::LivePidMatchesExpectedBundle(expected_pid_, expected_bundle_id_) ||
       !CopyLiveWindowSizeForIdentity(window_id_, expected_pid_, nullptr))) {
    noteDisplayLinkIdentityFailureForGeneration(g);
    release();
    PipLog("legacy capture released wid=%u", window_id_);
    return;
  }
  if (int64_t delay = g_liveLegacyCaptureDelayMs.load(); delay > 0)
    platform::Get().clock().SleepFor(std::chrono::milliseconds(delay));
  auto& ws = platform::Get().windows();
  platform::Image image = ws.HasSingleWindowImageEntry() ? ws.CreateSingleWindowImage(window_id_)
                                                         : nullptr;
  PipLog("legacy capture returned wid=%u image=%d", window_id_, image ? 1 : 0);
  if (!image) {
    noteDisplayLinkFrameFailureForGeneration(g, false);
  } else if (identity_window_id_capture_ &&
             !addon::LivePidMatchesExpectedBundle(expected_pid_, expected_bundle_id_)) {
    noteDisplayLinkIdentityFailureForGeneration(g);
  } else {
    if (identity_window_id_capture_) {
      consecutive_identity_failures_ = 0;
      identity_failure_epoch_++;
    }
    if (!ImageHasVisiblePixels(image)) {
      noteDisplayLinkFrameFailureForGeneration(g, false);
    } else {
      noteFrameSuccess();
      enqueueImageForPresentation(image, g);
    }
  }
  release();
  g_legacyCaptureCompletions++;
}

// ---- verified loop ----

void KvPipController::verifiedTimerTick(uint64_t g) {
  if (!acceptsGeneration(g)) return;
  if (PipInteractionDragging(*this)) {
    PipSignpost("pip.capture.skipped.drag");
    return;
  }
  if (group_hidden_ || task_completed_) return;
  int64_t now = nowNs();
  if (!PipStackIsLead(this) && now - last_capture_admitted_at_ns_.load() < kNonLeadScreenshotSpacingNs)
    return;
  if (!addon::LivePidMatchesExpectedBundle(expected_pid_, expected_bundle_id_)) {
    capture_sequence_++;
    capture_in_flight_ = false;
    int n = ++consecutive_identity_failures_;
    requestHideForGeneration(g);
    if (n == kStopAfterIdentityFailures) {
      uint64_t epoch = identity_failure_epoch_.load();
      std::weak_ptr<KvPipController> weak = weak_from_this();
      std::string line = PipFormat("verified identity invalid; stopping wid=%u pid=%d failures=%d",
                                   window_id_, expected_pid_, n);
      addon::PostToMain([weak, g, epoch, line] {
        auto self = weak.lock();
        if (!self || !self->acceptsGeneration(g) || self->identity_failure_epoch_.load() != epoch ||
            addon::LivePidMatchesExpectedBundle(self->expected_pid_, self->expected_bundle_id_))
          return;
        PipLog("%s", line.c_str());
        self->stop();
        PipStackRemove(self.get());
      });
    }
    return;
  }
  consecutive_identity_failures_ = 0;
  identity_failure_epoch_++;
  if (++geometry_probe_ticks_ % 3 == 0) startGeometryProbe(g);

  if (capture_in_flight_) {
    int ticks = ++capture_in_flight_ticks_;
    if (now - last_valid_frame_time_ns_.load() >= kStaleFrameNs) requestHideForGeneration(g);
    if (ticks >= kInFlightGiveUpTicks) {
      capture_sequence_++;
      capture_in_flight_ = false;
      requestHideForGeneration(g);
      std::weak_ptr<KvPipController> weak = weak_from_this();
      addon::PostToMain([weak, g] {
        if (auto self = weak.lock(); self && self->acceptsGeneration(g))
          self->refreshVerifiedCaptureSource();
      });
    }
    return;
  }
  capture_in_flight_ = true;
  capture_in_flight_ticks_ = 0;
  last_capture_admitted_at_ns_ = now;
  if (!ClaimSlot(g_verifiedOutstandingCaptures, kMaxVerifiedOutstandingCaptures)) {
    capture_in_flight_ = false;
    if (!capture_backpressure_shown_.exchange(true)) requestHideForGeneration(g);
    std::weak_ptr<KvPipController> weak = weak_from_this();
    addon::PostToMain([weak, g] {
      auto self = weak.lock();
      int pending = g_verifiedOutstandingCaptures.load();
      if (!self || !self->acceptsGeneration(g) || pending < kMaxVerifiedOutstandingCaptures) return;
      PipLog("verified capture budget exhausted; stopping wid=%u pending=%d", self->window_id_,
             pending);
      self->stop();
      PipStackRemove(self.get());
    });
    return;
  }
  capture_backpressure_shown_ = false;
  uint64_t sequence = ++capture_sequence_;
  std::optional<platform::ContentFilter> filter;
  std::optional<platform::ScreenshotConfiguration> config;
  {
    std::lock_guard<std::mutex> l(source_mu_);
    filter = verified_filter_;
    config = verified_configuration_;
  }
  if (!filter || !config) {
    ReleaseSlot(g_verifiedOutstandingCaptures);
    capture_in_flight_ = false;
    return;
  }
  outstanding_captures_++;
  std::weak_ptr<KvPipController> weak = weak_from_this();
  platform::Get().screen_capture().CaptureScreenshot(
      *filter, *config, [weak, g, sequence](platform::Image image, int64_t error) {
        ReleaseSlot(g_verifiedOutstandingCaptures);
        if (auto self = weak.lock()) self->completeScreenshot(g, sequence, image, error);
      });
}

void KvPipController::completeScreenshot(uint64_t g, uint64_t sequence,
                                         const platform::Image& image, int64_t error) {
  ReleaseSlot(outstanding_captures_);
  if (outstanding_captures_.load() < kMaxVerifiedOutstandingCaptures + 1)
    capture_backpressure_shown_ = false;
  if (sequence != capture_sequence_.load()) return;
  capture_in_flight_ = false;
  if (!acceptsGeneration(g)) return;
  if (error == 0 && ImageHasVisiblePixels(image)) {
    noteFrameSuccess();
    adaptSourceRectModeFromFrame(image, g);
    enqueueImageForPresentation(image, g);
    return;
  }
  noteDisplayLinkFrameFailureForGeneration(g, false);
  if (consecutive_capture_failures_.load() == kRefreshAfterFailures) {
    std::weak_ptr<KvPipController> weak = weak_from_this();
    addon::PostToMain([weak, g] {
      if (auto self = weak.lock(); self && self->acceptsGeneration(g))
        self->refreshVerifiedCaptureSource();
    });
  }
}

void KvPipController::startGeometryProbe(uint64_t g) {
  if (g_verifiedGeometryProbeActive.exchange(true)) return;
  std::weak_ptr<KvPipController> weak = weak_from_this();
  uint32_t wid = actual_window_id_.load();
  int32_t pid = expected_pid_;
  bool queued = addon::PoolFor(addon::WorkerFamily::kGeneral).Submit([weak, g, wid, pid] {
    platform::Size size;
    bool ok = CopyLiveWindowSizeForIdentity(wid, pid, &size);
    g_verifiedGeometryProbeActive = false;
    if (!ok) return;
    addon::PostToMain([weak, g, size] {
      if (auto self = weak.lock(); self && self->acceptsGeneration(g))
        self->syncVerifiedGeometryToSourceBounds(size);
    });
  });
  if (!queued) g_verifiedGeometryProbeActive = false;
}

void KvPipController::adaptSourceRectModeFromFrame(const platform::Image& image, uint64_t g) {
  double fx = 0, fy = 0;
  if (!ContentFill(image, &fx, &fy) || (fx >= 0.95 && fy >= 0.95)) return;
  int64_t now = nowNs();
  if (now < source_rect_flip_allowed_at_ns_.load() ||
      source_rect_blind_flips_.load() >= kMaxSourceRectFlips)
    return;
  source_rect_flip_allowed_at_ns_ = now + kSourceRectFlipSpacingNs;
  source_rect_blind_flips_++;
  bool global = !source_rect_use_global_.load();
  source_rect_use_global_ = global;
  PipLog("pip sourceRect mode flip -> %s (fill=%.2fx%.2f) wid=%u", global ? "global" : "none", fx,
         fy, window_id_);
  std::weak_ptr<KvPipController> weak = weak_from_this();
  addon::PostToMain([weak, g] {
    if (auto self = weak.lock(); self && self->acceptsGeneration(g))
      self->refreshVerifiedCaptureSource();
  });
}

}  // namespace pip
