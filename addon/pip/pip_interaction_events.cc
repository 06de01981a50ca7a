// The interaction monitor's tap callback: which presses the panel owns, the
// close hot zone, dragging with coalesced steps, the release hand-off,
// double-click activation, and draining a gesture after the platform
// switched the tap off. The callback never blocks: it reads what the main
// thread and the ownership queue published, and posts its work.
#include <unistd.h>

#include <algorithm>
#include <cmath>

#include "ax/window_list.h"
#include "main_queue.h"
#include "pip/pip_controller.h"
#include "pip/pip_interaction.h"
#include "pip/pip_log.h"
#include "pip/pip_stack.h"
#include "platform/platform.h"

namespace pip {

namespace {

using platform::TapEvent;
using platform::TapVerdict;
using T = platform::EventType;

constexpr int64_t kDrainMaxNs = 30'000'000'000;
constexpr int64_t kDrainSourceGoneNs = 5'000'000'000;
constexpr int64_t kDrainLocalQuietNs = 750'000'000;
constexpr size_t kIssuedTokensKept = 8;

bool InCloseHotZone(const platform::Rect& r, platform::Point p) {
  return PipRectContains(r, p) && p.x >= r.x + r.width - kCloseHotZone && p.y < r.y + kCloseHotZone;
}

bool SourceExists(pid_t pid) {
  if (pid == getpid()) return true;
  if (pid <= 0) return false;
  for (const auto& app : platform::Get().workspace().RunningApplications())
    if (app.pid == pid && !app.terminated) return true;
  return false;
}

}  // namespace

TapVerdict PipInteraction::handleEvent(const TapEvent& e, uint64_t g) {
  int64_t now = PipNowNs();
  if (generation_.load() != g) return TapVerdict::kPass;
  if (e.kind != TapEvent::Kind::kEvent) {
    disabledByPlatform(now);
    return TapVerdict::kPass;
  }
  switch (e.type) {
    case T::kLeftMouseDown:
      return handleDown(e, g, now);
    case T::kLeftMouseDragged:
    case T::kLeftMouseUp:
      return handleDragOrUp(e, g, now);
    case T::kMouseMoved: {
      bool watch;
      {
        std::lock_guard<std::mutex> l(mu_);
        watch = s_.state == 2 && s_.visible;
      }
      if (watch) scheduleOwnershipProbe(e.location, g);
      return TapVerdict::kPass;
    }
    default:
      return TapVerdict::kPass;
  }
}

void PipInteraction::disabledByPlatform(int64_t now) {
  uint64_t g = generation_.load();
  visibility_epoch_++;
  bool drain;
  {
    std::lock_guard<std::mutex> l(mu_);
    s_.visible = false;
    s_.panel_bounds_valid = false;
    s_.sample_valid = false;
    s_.reservation_valid = false;
    s_.handoff_valid = false;
    s_.pending_dx = s_.pending_dy = 0;
    drain = s_.dragging;
    if (drain) {
      s_.draining = true;
      s_.drain_started_ns = now;
      s_.drain_last_event_ns = now;
      s_.drain_last_check_ns = now;
    } else {
      // Nothing to finish: the tap retires now and the next frame starts a
      // new one.
      s_.state = 0;
      clearTransientUnlocked();
    }
  }
  PipLog("PiP interaction tap disabled by the platform; %s",
         drain ? "draining the open gesture" : "retiring it");
  postHideForGeneration(g);
}

void PipInteraction::runDrainCheck(uint64_t g) {
  if (generation_.load() != g) return;
  pid_t source;
  bool local_synthetic;
  int64_t started, last_event;
  {
    std::lock_guard<std::mutex> l(mu_);
    if (!s_.draining) return;
    source = s_.gesture_source_pid;
    local_synthetic = s_.gesture_trusted_local_synthetic;
    started = s_.drain_started_ns;
    last_event = s_.drain_last_event_ns;
  }
  int64_t now = PipNowNs();
  int64_t elapsed = now - started;
  bool exists = SourceExists(source);
  bool held = platform::Get().event_taps().LeftButtonDown();
  bool go_on = elapsed < kDrainMaxNs && (exists || elapsed < kDrainSourceGoneNs) &&
               (held || exists) &&
               (!local_synthetic || held || now - last_event < kDrainLocalQuietNs);
  if (go_on) return;
  {
    std::lock_guard<std::mutex> l(mu_);
    if (!s_.draining || generation_.load() != g) return;
    clearTransientUnlocked();
    s_.state = 0;
  }
  PipLog("PiP retiring interaction tap reached source-aware drain deadline");
}

TapVerdict PipInteraction::handleDown(const TapEvent& e, uint64_t g, int64_t now) {
  const platform::Point p = e.location;
  const bool own = e.source_pid == getpid();
  const bool tagged = own && e.source_user_data > 0;
  auto panel = panel_.lock();
  if (!panel) return TapVerdict::kPass;
  std::unique_lock<std::mutex> l(mu_);
  if (s_.draining) {
    s_.drain_last_event_ns = now;
    return TapVerdict::kPass;
  }
  // A user's press in the close hot zone of the panel that is in front
  // there closes it; the press does not reach the window below.
  if (!own && s_.visible && s_.panel_bounds_valid && InCloseHotZone(s_.panel_bounds, p)) {
    l.unlock();
    if (PipLeadsStackAtPoint(panel.get(), p)) {
      PipLog("PiP close hot-zone hit at %.0f,%.0f — dismissing (async)", p.x, p.y);
      std::weak_ptr<KvPipController> weak = panel;
      addon::PostToMain([weak] {
        if (auto c = weak.lock()) PipDismissPanel(c);
      });
      return TapVerdict::kSwallow;
    }
    l.lock();
  }
  if (!s_.visible || s_.panel_window_id == 0) {
    // A press this panel reserved while it was still visible: keep it from
    // the window below together with its drags and up.
    if (tagged && std::find(s_.issued_tokens.begin(), s_.issued_tokens.end(),
                            e.source_user_data) != s_.issued_tokens.end()) {
      s_.swallowed_gesture_token = e.source_user_data;
      return TapVerdict::kSwallow;
    }
    return TapVerdict::kPass;
  }
  const uint64_t epoch = visibility_epoch_.load();
  const bool in_bounds = s_.panel_bounds_valid && PipRectContains(s_.panel_bounds, p);
  bool direct = false, cached = false, handoff = false;
  if (tagged) {
    direct = s_.reservation_valid && s_.reservation_token == e.source_user_data &&
             now - s_.reservation_time_ns < kReservationMaxAgeNs && s_.reservation_point.x == p.x &&
             s_.reservation_point.y == p.y && s_.reservation_generation == g &&
             s_.reservation_epoch == epoch;
  } else {
    int64_t age = now - s_.sample_time_ns;
    cached = s_.sample_valid && age <= kSampleMaxAgeNs && s_.sample_window == s_.panel_window_id &&
             PipRectContains(s_.panel_bounds, s_.sample_point);
    handoff = s_.handoff_valid && s_.handoff_generation == g && s_.handoff_epoch == epoch &&
              PipRectContains(s_.handoff_bounds, p) && s_.handoff_bounds.x == s_.panel_bounds.x &&
              s_.handoff_bounds.y == s_.panel_bounds.y;
  }
  l.unlock();
  const bool leads = in_bounds && PipLeadsStackAtPoint(panel.get(), p);
  l.lock();
  const bool confirmed = direct || cached || handoff;
  if (!(in_bounds && leads && confirmed) || s_.geometry_updating || epoch != visibility_epoch_.load()) {
    double dist = std::hypot(s_.sample_point.x - p.x, s_.sample_point.y - p.y);
    PipLog("down REJECTED point=(%.0f,%.0f) topmost=%lld panel=%u sampleValid=%d sampleAgeNs=%lld "
           "sampleDist=%.0f sampledPanel=%d sampleWin=%u sampleUnder=%u handoffValid=%d direct=%d "
           "cached=%d geomUpd=%d",
           p.x, p.y, static_cast<long long>(leads ? 1 : 0), s_.panel_window_id, s_.sample_valid ? 1 : 0,
           static_cast<long long>(now - s_.sample_time_ns), dist,
           s_.sample_window == s_.panel_window_id ? 1 : 0, s_.sample_window,
           s_.sample_underlying_window, s_.handoff_valid ? 1 : 0, direct ? 1 : 0, cached ? 1 : 0,
           s_.geometry_updating ? 1 : 0);
    return TapVerdict::kPass;
  }
  // The panel owns the press: a gesture begins and the panel comes to the
  // front. The press itself goes on to the panel's window.
  s_.dragging = true;
  s_.gesture_epoch = epoch;
  s_.gesture_underlying_window = direct ? s_.reservation_underlying_window
                                        : handoff ? s_.handoff_underlying_window
                                                  : s_.sample_underlying_window;
  s_.gesture_trusted_local_synthetic = tagged;
  s_.gesture_source_pid = e.source_pid;
  s_.gesture_source_user_data = e.source_user_data;
  s_.gesture_reservation_token = direct ? s_.reservation_token : 0;
  s_.gesture_grab_offset = platform::Point{p.x - s_.panel_bounds.x, p.y - s_.panel_bounds.y};
  s_.gesture_panel_size = platform::Size{s_.panel_bounds.width, s_.panel_bounds.height};
  s_.gesture_origin = platform::Point{s_.panel_bounds.x, s_.panel_bounds.y};
  s_.gesture_start_point = p;
  s_.last_point = p;
  if (!s_.drag_screens_valid) {
    s_.drag_screens = s_.visible_screens;
    s_.drag_screens_valid = true;
  }
  if (direct) s_.reservation_valid = false;  // one press per reservation
  s_.handoff_valid = false;
  l.unlock();
  PipSchedulePromotePanel(panel, epoch);
  return TapVerdict::kPass;
}

TapVerdict PipInteraction::handleDragOrUp(const TapEvent& e, uint64_t g, int64_t now) {
  const platform::Point p = e.location;
  const bool up = e.type == T::kLeftMouseUp;
  std::unique_lock<std::mutex> l(mu_);
  if (s_.draining) s_.drain_last_event_ns = now;
  if (s_.swallowed_gesture_token != 0 && e.source_pid == getpid() &&
      e.source_user_data == s_.swallowed_gesture_token) {
    if (up) s_.swallowed_gesture_token = 0;
    return TapVerdict::kSwallow;
  }
  if (!s_.dragging || e.source_pid != s_.gesture_source_pid ||
      e.source_user_data != s_.gesture_source_user_data)
    return TapVerdict::kPass;
  if (s_.draining) {
    // The gesture ends while retiring: finish it quietly.
    if (up) {
      clearTransientUnlocked();
      s_.state = 0;
    }
    return TapVerdict::kSwallow;
  }
  platform::Rect moved{p.x - s_.gesture_grab_offset.x, p.y - s_.gesture_grab_offset.y,
                       s_.gesture_panel_size.width, s_.gesture_panel_size.height};
  moved = ClampPipBoundsToVisibleScreens(moved, s_.drag_screens);
  double dx = moved.x - s_.gesture_origin.x, dy = moved.y - s_.gesture_origin.y;
  s_.gesture_origin = platform::Point{moved.x, moved.y};
  s_.last_point = p;
  const uint64_t epoch = s_.gesture_epoch;
  if (!up) {
    l.unlock();
    if (dx != 0 || dy != 0) enqueueDelta(dx, dy, epoch);
    return TapVerdict::kSwallow;
  }
  const platform::Point start = s_.gesture_start_point;
  const uint32_t underlying = s_.gesture_underlying_window;
  s_.dragging = false;
  s_.drag_screens_valid = false;
  s_.gesture_reservation_token = 0;
  if (s_.panel_bounds_valid) {
    s_.handoff_valid = true;
    s_.handoff_generation = g;
    s_.handoff_epoch = epoch;
    s_.handoff_point = p;
    s_.handoff_bounds = platform::Rect{moved.x, moved.y, moved.width, moved.height};
    s_.handoff_underlying_window = underlying;
    s_.handoff_time_ns = now;
  }
  l.unlock();
  if (dx != 0 || dy != 0) enqueueDelta(dx, dy, epoch);
  PipLog("post-drag reseed cursor=(%.0f,%.0f) boundsValid=%d bounds=(%.0f,%.0f,%.0f,%.0f) visible=%d",
         p.x, p.y, 1, moved.x, moved.y, moved.width, moved.height, 1);
  scheduleOwnershipProbe(p, g);
  if (PipDoubleClickActivates(e.click_state, start, p)) {
    std::weak_ptr<PipInteraction> weak = weak_from_this();
    addon::PostToMain([weak] {
      if (auto self = weak.lock()) self->activateTargetForDoubleClick();
    });
  }
  return TapVerdict::kSwallow;
}

void PipInteraction::enqueueDelta(double dx, double dy, uint64_t epoch) {
  uint64_t g = generation_.load();
  {
    std::lock_guard<std::mutex> l(mu_);
    s_.pending_dx += dx;
    s_.pending_dy += dy;
    if (s_.dispatch_pending) return;
    s_.dispatch_pending = true;
    s_.pending_enqueued_at_ns = PipNowNs();
  }
  std::weak_ptr<PipInteraction> weak = weak_from_this();
  addon::PostToMain([weak, g, epoch] {
    if (auto self = weak.lock()) self->applyQueuedForGeneration(g, epoch);
  });
}

void PipInteraction::applyQueuedForGeneration(uint64_t g, uint64_t epoch) {
  if (!PipCheckMain("applyQueuedInteractionForGeneration",
                    "PiP drag presentation must run on the main thread"))
    return;
  double dx, dy;
  int64_t enqueued;
  {
    std::lock_guard<std::mutex> l(mu_);
    dx = s_.pending_dx;
    dy = s_.pending_dy;
    enqueued = s_.pending_enqueued_at_ns;
    s_.pending_dx = s_.pending_dy = 0;
    s_.dispatch_pending = false;
  }
  auto panel = panel_.lock();
  if (!panel || generation_.load() != g || visibility_epoch_.load() != epoch) return;
  if (dx == 0 && dy == 0) return;
  PipSignpost("pip.drag.apply");
  int64_t began = PipNowNs();
  panel->moveFrameBy(dx, dy);
  republish();
  int64_t done = PipNowNs();
  PipLog("drag apply wait=%.1fms apply=%.1fms delta=(%.0f,%.0f)", (began - enqueued) / 1e6,
         (done - began) / 1e6, dx, dy);
}

void PipInteraction::activateTargetForDoubleClick() {
  auto panel = panel_.lock();
  if (!panel || !panel->running()) return;
  int32_t pid = panel->expectedPid();
  uint32_t window_id = panel->actualWindowId() ? panel->actualWindowId() : panel->windowId();
  if (pid <= 0 && window_id) {
    // A legacy panel knows only its window: its owner is the target.
    auto list = platform::Get().windows().CopyWindowList(platform::WindowListOption::kAll);
    if (list)
      for (const auto& v : *list) {
        const platform::Dict* d = v.dict();
        int64_t number = 0, owner = 0;
        if (!d || !addon::CopyDictionaryInt64(*d, platform::kWindowNumber, &number) ||
            number != window_id || !addon::CopyDictionaryInt64(*d, platform::kWindowOwnerPID, &owner))
          continue;
        pid = static_cast<int32_t>(owner);
        break;
      }
  }
  if (pid <= 0) return;
  PipLog("PiP double-click activating target pid=%d wid=%u", pid, window_id);
  PipActivateTargetWindow(pid, window_id);
}

}  // namespace pip
