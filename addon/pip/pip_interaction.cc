// The interaction monitor's lifecycle: starting a tap thread per generation,
// publishing and committing the panel's bounds once its window is up, the
// readiness deadline, failure, hiding and stopping, and the geometry fences
// that keep the tap from acting on a panel that is being moved for another
// reason.
#include "pip/pip_interaction.h"

#include <thread>

#include "main_queue.h"
#include "pip/pip_capture_queue.h"
#include "pip/pip_controller.h"
#include "pip/pip_log.h"
#include "pip/pip_stack.h"
#include "platform/platform.h"

namespace pip {

namespace {

constexpr auto kRunSlice = std::chrono::milliseconds(100);
constexpr int64_t kDrainCheckIntervalNs = 250'000'000;

uint64_t TapMaskForMonitor() {
  using T = platform::EventType;
  return platform::TapMask(T::kMouseMoved) | platform::TapMask(T::kLeftMouseDown) |
         platform::TapMask(T::kLeftMouseUp) | platform::TapMask(T::kLeftMouseDragged);
}

}  // namespace

int64_t PipNowNs() {
  return static_cast<int64_t>(platform::Get().clock().Now().time_since_epoch().count());
}

std::vector<platform::Rect> CopyPipVisibleScreenSnapshot() {
  std::vector<platform::Rect> out;
  auto screens = platform::Get().surfaces().Screens();
  if (screens.empty()) return out;
  // Screen frames have a bottom-left origin on the primary screen.
  double primary_h = screens[0].frame.height;
  for (const auto& sc : screens) {
    if (out.size() == kMaxVisibleScreens) break;
    const platform::Rect& f = sc.frame;
    out.push_back(platform::Rect{f.x, primary_h - f.y - f.height, f.width, f.height});
  }
  return out;
}

PipInteraction::PipInteraction(std::weak_ptr<KvPipController> panel) : panel_(std::move(panel)) {
  ownership_queue_ = std::make_shared<PipCaptureQueue>("com.korvo.oza.pip-input-ownership");
}

PipInteraction::~PipInteraction() { ownership_queue_->Shutdown(); }

void PipInteraction::clearTransientUnlocked() {
  s_.dragging = false;
  s_.swallowed_gesture_token = 0;
  s_.drag_screens_valid = false;
  s_.sample_valid = false;
  s_.reservation_valid = false;
  s_.handoff_valid = false;
  s_.pending_dx = s_.pending_dy = 0;
  s_.draining = false;
}

void PipInteraction::start() {
  if (!PipCheckMain("startInteractionMonitor", "PiP input monitor must start on the main thread"))
    return;
  auto panel = panel_.lock();
  if (!panel || !panel->running() || panel->groupHidden()) return;
  if (g_pipOwnershipQueryUnhealthy.load()) {
    // Ask once more: a window server that answers again clears the latch,
    // so one bad spell does not refuse every panel for the rest of the
    // process.
    std::vector<InteractiveWindow> ignored;
    platform::Point pointer;
    platform::Get().windows().CurrentPointerLocation(&pointer);
    PipNoteOwnershipQueryResult(CopyInteractiveWindowsAtPoint(pointer, 0, &ignored, nullptr));
  }
  if (g_pipOwnershipQueryUnhealthy.load()) {
    PipLog("PiP interaction monitor refused while ownership query is unhealthy");
    panel->stop();
    PipStackRemove(panel.get());
    return;
  }
  uint64_t g;
  {
    std::lock_guard<std::mutex> l(mu_);
    if (s_.state == 2) {
      // Already running: show the panel again (after a hidden period).
      if (s_.draining) return;
      g = generation_.load();
    } else if (s_.state == 1) {
      return;
    } else {
      s_.state = 1;
      g = ++generation_;
      clearTransientUnlocked();
      auto self = shared_from_this();
      std::thread([self, g] { self->tapThread(g); }).detach();
      // The deadline armed at the start keeps running; a panel shown again
      // after a hidden start gets one here.
      if (!s_.readiness_deadline_pending && !s_.ever_ready) scheduleReadinessDeadlineUnlocked();
      return;
    }
  }
  publishForGeneration(g);
}

void PipInteraction::tapThread(uint64_t g) {
  auto& taps = platform::Get().event_taps();
  std::weak_ptr<PipInteraction> weak = weak_from_this();
  std::unique_ptr<platform::MouseTap> tap =
      taps.CreateMouseTap(TapMaskForMonitor(), [weak, g](const platform::TapEvent& e) {
        auto self = weak.lock();
        return self ? self->handleEvent(e, g) : platform::TapVerdict::kPass;
      });
  auto fail = [this, g](const char* line) {
    PipLog("%s", line);
    auto self = shared_from_this();
    addon::PostToMain([self, g] { self->failForGeneration(g); });
  };
  if (!tap) return fail("PiP owning interaction event tap unavailable");
  if (!tap->Enable(true)) return fail("PiP owning interaction event tap could not be enabled");
  {
    std::lock_guard<std::mutex> l(mu_);
    if (generation_.load() != g || s_.state != 1) return;
    s_.state = 2;
    s_.tap = tap.get();
  }
  {
    auto self = shared_from_this();
    addon::PostToMain([self, g] { self->publishForGeneration(g); });
  }
  for (;;) {
    bool disabled;
    {
      std::lock_guard<std::mutex> l(mu_);
      if (generation_.load() != g || s_.state != 2) break;
      disabled = !s_.draining && !tap->IsEnabled();
    }
    if (disabled) {
      // The platform tells a tap why it was switched off through its
      // callback: deliver that notice before deciding the tap died.
      tap->RunFor(std::chrono::nanoseconds(0));
      std::lock_guard<std::mutex> l(mu_);
      if (generation_.load() != g || s_.state != 2 || !s_.draining) break;
      continue;
    }
    tap->RunFor(kRunSlice);
    bool check = false;
    {
      std::lock_guard<std::mutex> l(mu_);
      int64_t now = PipNowNs();
      if (s_.draining && now - s_.drain_last_check_ns >= kDrainCheckIntervalNs) {
        s_.drain_last_check_ns = now;
        check = true;
      }
    }
    if (check) runDrainCheck(g);
  }
  bool died;
  {
    std::lock_guard<std::mutex> l(mu_);
    if (s_.tap == tap.get()) s_.tap = nullptr;
    died = generation_.load() == g && s_.state == 2;
  }
  tap.reset();
  if (died) {
    PipLog("PiP owning interaction event tap stopped unexpectedly");
    auto self = shared_from_this();
    addon::PostToMain([self, g] { self->failForGeneration(g); });
  }
}

void PipInteraction::publishForGeneration(uint64_t g) {
  if (!PipCheckMain("publishInteractionMonitorForGeneration",
                    "PiP interaction publication must run on main"))
    return;
  auto panel = panel_.lock();
  if (!panel || !panel->running() || generation_.load() != g) return;
  {
    std::lock_guard<std::mutex> l(mu_);
    if (s_.state != 2 || s_.draining) return;
  }
  if (panel->groupHidden() || !panel->hasPresentedFrame()) return;
  uint32_t number = panel->panelWindowNumber();
  platform::Rect frame = panel->globalFrame();
  if (number == 0 || !(frame.width > 0) || !(frame.height > 0)) {
    std::lock_guard<std::mutex> l(mu_);
    if (s_.publication_pending) return;
    s_.publication_pending = true;
    std::weak_ptr<PipInteraction> weak = weak_from_this();
    addon::PostToMainAfter(kPublishRetryMs, [weak, g] {
      if (auto self = weak.lock()) {
        {
          std::lock_guard<std::mutex> l2(self->mu_);
          self->s_.publication_pending = false;
        }
        self->publishForGeneration(g);
      }
    });
    return;
  }
  if (!commitForGeneration(g, number, frame)) failForGeneration(g);
}

bool PipInteraction::commitForGeneration(uint64_t g, uint32_t window_id, platform::Rect bounds) {
  if (!PipCheckMain("commitInteractionMonitorForGeneration",
                    "PiP interaction commit must run on main"))
    return false;
  auto panel = panel_.lock();
  if (!panel || panel->panelWindowNumber() != window_id || generation_.load() != g) return false;
  std::vector<platform::Rect> screens = CopyPipVisibleScreenSnapshot();
  {
    std::lock_guard<std::mutex> l(mu_);
    s_.panel_bounds = bounds;
    s_.visible_screens = std::move(screens);
    s_.panel_bounds_valid = true;
    s_.panel_window_id = window_id;
    s_.pending_dx = s_.pending_dy = 0;
    s_.visible = true;
    s_.ever_ready = true;
  }
  PipStackSetPublishedBounds(panel.get(), bounds, true);
  auto& surf = platform::Get().surfaces();
  surf.SetIgnoresMouse(panel->panelWindow(), false);
  surf.OrderFront(panel->panelWindow());
  platform::Point pointer;
  if (platform::Get().windows().CurrentPointerLocation(&pointer)) scheduleOwnershipProbe(pointer, g);
  PipLog("PiP interaction ready and panel visible window=%u generation=%llu", window_id,
         static_cast<unsigned long long>(g));
  return true;
}

void PipInteraction::armReadinessDeadline() {
  std::lock_guard<std::mutex> l(mu_);
  if (!s_.ever_ready) scheduleReadinessDeadlineUnlocked();
}

void PipInteraction::scheduleReadinessDeadlineUnlocked() {
  // The deadline runs on the main queue. It belongs to the panel, not to
  // one monitor generation: a monitor that starts (or restarts) meanwhile
  // does not push it back.
  uint64_t epoch = ++s_.readiness_deadline_epoch;
  s_.readiness_deadline_pending = true;
  std::weak_ptr<PipInteraction> weak = weak_from_this();
  addon::PostToMainAfter(kReadinessDeadlineMs, [weak, epoch] {
    auto self = weak.lock();
    if (!self) return;
    if (!PipCheckMain("scheduleInteractionReadinessDeadline",
                      "PiP readiness deadline must start on main"))
      return;
    {
      std::lock_guard<std::mutex> l(self->mu_);
      if (self->s_.readiness_deadline_epoch != epoch) return;
      self->s_.readiness_deadline_pending = false;
      if (self->s_.ever_ready) return;
    }
    auto panel = self->panel_.lock();
    if (!panel || !panel->running() || !PipStackContains(panel.get()) || panel->groupHidden() ||
        !panel->acceptsGeneration(panel->generation()))
      return;
    PipLog("PiP interaction readiness deadline expired wid=%u", panel->windowId());
    panel->stop();
    PipStackRemove(panel.get());
  });
}

void PipInteraction::failForGeneration(uint64_t g) {
  if (!PipCheckMain("failInteractionMonitorForGeneration",
                    "PiP interaction failure must run on main"))
    return;
  if (generation_.load() != g) return;
  auto panel = panel_.lock();
  if (!panel || !panel->running()) return;
  PipLog("PiP stopped because owning interaction monitoring became unavailable");
  panel->stop();
  PipStackRemove(panel.get());
}

void PipInteraction::postHideForGeneration(uint64_t g) {
  std::weak_ptr<PipInteraction> weak = weak_from_this();
  addon::PostToMain([weak, g] {
    auto self = weak.lock();
    if (!self) return;
    auto panel = self->panel_.lock();
    if (!panel || self->generation_.load() != g) return;
    PipStackSetPublishedBounds(panel.get(), platform::Rect{}, false);
    if (panel->panelWindow()) platform::Get().surfaces().SetIgnoresMouse(panel->panelWindow(), true);
  });
}

void PipInteraction::republish() {
  if (!PipCheckMain("refreshInteractionGeometry", "PiP geometry publication must run on main"))
    return;
  auto panel = panel_.lock();
  if (!panel) return;
  bool visible;
  {
    std::lock_guard<std::mutex> l(mu_);
    visible = s_.visible && s_.state == 2;
  }
  visible = visible && !panel->groupHidden() && panel->hasPresentedFrame() &&
            platform::Get().surfaces().IsOrderedIn(panel->panelWindow());
  platform::Rect frame = panel->globalFrame();
  std::vector<platform::Rect> screens = CopyPipVisibleScreenSnapshot();
  {
    std::lock_guard<std::mutex> l(mu_);
    s_.panel_bounds = frame;
    s_.panel_bounds_valid = visible;
    s_.visible_screens = std::move(screens);
  }
  PipStackSetPublishedBounds(panel.get(), visible ? frame : platform::Rect{}, visible);
}

void PipInteraction::hide() {
  auto panel = panel_.lock();
  visibility_epoch_++;
  {
    std::lock_guard<std::mutex> l(mu_);
    s_.visible = false;
    s_.panel_bounds_valid = false;
    s_.reservation_valid = false;
    s_.pending_dx = s_.pending_dy = 0;
    // Group hiding retires the monitor; the next frame starts a new one.
    if (panel && panel->groupHidden() && s_.state != 0) {
      generation_++;
      s_.state = 0;
      clearTransientUnlocked();
      if (s_.tap) s_.tap->Wake();
    }
  }
  if (!panel) return;
  PipStackSetPublishedBounds(panel.get(), platform::Rect{}, false);
  if (panel->panelWindow()) platform::Get().surfaces().SetIgnoresMouse(panel->panelWindow(), true);
}

void PipInteraction::stop() {
  generation_++;
  visibility_epoch_++;
  auto panel = panel_.lock();
  {
    std::lock_guard<std::mutex> l(mu_);
    s_.state = 0;
    s_.visible = false;
    s_.panel_bounds_valid = false;
    clearTransientUnlocked();
    if (s_.tap) s_.tap->Wake();
  }
  ownership_queue_->Shutdown();
  if (panel) PipStackSetPublishedBounds(panel.get(), platform::Rect{}, false);
}

bool PipInteraction::isReady() {
  std::lock_guard<std::mutex> l(mu_);
  return s_.state == 2 && s_.visible && s_.panel_bounds_valid;
}

bool PipInteraction::isVisible() {
  std::lock_guard<std::mutex> l(mu_);
  return s_.visible;
}

void PipInteraction::beginGeometryUpdate(bool cancel_gesture) {
  if (!PipCheckMain("beginInteractionGeometryUpdate", "PiP geometry fencing must run on main"))
    return;
  std::lock_guard<std::mutex> l(mu_);
  s_.geometry_updating = true;
  if (cancel_gesture) {
    s_.dragging = false;
    s_.pending_dx = s_.pending_dy = 0;
  }
}

void PipInteraction::finishGeometryUpdate(uint32_t window_id) {
  if (!PipCheckMain("finishInteractionGeometryUpdate", "PiP geometry publication must run on main"))
    return;
  {
    std::lock_guard<std::mutex> l(mu_);
    s_.geometry_updating = false;
    if (window_id && s_.panel_window_id && window_id != s_.panel_window_id) return;
  }
  republish();
}

void PipInteraction::refreshGeometry(bool cancel_gesture) {
  if (!PipCheckMain("refreshInteractionGeometry", "PiP external geometry refresh must run on main"))
    return;
  beginGeometryUpdate(cancel_gesture);
  auto panel = panel_.lock();
  finishGeometryUpdate(panel ? panel->panelWindowNumber() : 0);
}

// ---- the controller's interface ----

void PipInteractionStart(KvPipController& panel) { panel.interaction()->start(); }
void PipInteractionRepublish(KvPipController& panel) { panel.interaction()->refreshGeometry(false); }
void PipInteractionHide(KvPipController& panel) { panel.interaction()->hide(); }
void PipInteractionStop(KvPipController& panel) { panel.interaction()->stop(); }
bool PipInteractionReady(const KvPipController& panel) {
  return panel.running() && panel.interaction()->isReady();
}
bool PipInteractionVisible(const KvPipController& panel) { return panel.interaction()->isVisible(); }
bool PipInteractionDragging(const KvPipController& panel) {
  auto i = panel.interaction();
  std::lock_guard<std::mutex> l(i->mutex());
  return i->stateUnlocked().dragging || i->stateUnlocked().dispatch_pending;
}

int64_t PipPrepareSyntheticPointerDown(platform::Point point) {
  for (auto& p : PipStackCopy()) {
    auto* c = dynamic_cast<KvPipController*>(p.get());
    if (!c || !c->running()) continue;
    int64_t answer = c->interaction()->prepareSyntheticPointerDown(point);
    if (answer != 0) return answer;
  }
  return 0;
}

bool PipLeadInteractionReady() {
  PanelRef lead = PipStackLead();
  auto* c = dynamic_cast<KvPipController*>(lead.get());
  return c && PipInteractionReady(*c);
}

}  // namespace pip
