// Whether a group's target window is on top at its target point: a
// synchronous check when the target changes, and periodic probes whose
// window-list search runs on a background thread and whose results are
// applied on the main queue (dropped when the group's target changed since).
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "apps/window_event_mask.h"
#include "ax/window_list.h"
#include "ghost/overlay.h"
#include "main_queue.h"
#include "platform/platform.h"
#include "pump.h"

namespace ghost {

namespace {

constexpr uint64_t kVisibilityIntervalMs = 100;

struct Owner {
  bool found = false;
  int32_t pid = 0;
  uint32_t windowId = 0;
};

struct ProbeEntry {
  std::string key;
  uint64_t generation = 0;
  double x = 0, y = 0;
  GhostTarget target;
  Owner owner;
};

// One background thread for probes, started on first use and never joined
// (it holds no handle of the host loop, so it cannot keep the host alive).
class ProbeThread {
 public:
  static ProbeThread& Get() {
    static ProbeThread* t = new ProbeThread();
    return *t;
  }
  void Post(std::function<void()> fn) {
    std::lock_guard<std::mutex> l(mu_);
    if (!started_) {
      started_ = true;
      std::thread([this] { Run(); }).detach();
    }
    jobs_.push_back(std::move(fn));
    cv_.notify_one();
  }

 private:
  void Run() {
    for (;;) {
      std::function<void()> fn;
      {
        std::unique_lock<std::mutex> l(mu_);
        cv_.wait(l, [&] { return !jobs_.empty(); });
        fn = std::move(jobs_.front());
        jobs_.pop_front();
      }
      fn();
    }
  }
  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> jobs_;
  bool started_ = false;
};

Owner OwnerAtPointInSnapshot(const platform::Array& list, double x, double y,
                             const std::vector<uint32_t>& excluded) {
  for (const platform::Value& entry : list) {
    const platform::Dict* d = entry.dict();
    if (!d) continue;
    int64_t number = 0, pid = 0;
    if (!addon::CopyDictionaryInt64(*d, platform::kWindowNumber, &number) || number <= 0 ||
        number > UINT32_MAX)
      continue;
    if (!addon::CopyDictionaryInt64(*d, platform::kWindowOwnerPID, &pid) || pid <= 0 ||
        pid > INT32_MAX)
      continue;
    uint32_t n = static_cast<uint32_t>(number);
    if (std::find(excluded.begin(), excluded.end(), n) != excluded.end()) continue;
    platform::Rect b;
    if (!addon::CopyDictionaryBounds(*d, platform::kWindowBounds, &b)) continue;
    if (!(b.width > 0) || !(b.height > 0)) continue;
    if (!(x >= b.x && x < b.x + b.width && y >= b.y && y < b.y + b.height)) continue;
    bool accepts = true;
    // A window that refuses left mouse-down (an overlay, a shadow) does not
    // cover; a failed query counts as covering.
    if (OzaCopyWindowAcceptsLeftMouseDown(n, &accepts) && !accepts) continue;
    return Owner{true, static_cast<int32_t>(pid), n};
  }
  return Owner{};
}

bool Matches(const GhostTarget& t, const Owner& o) {
  if (t.kind == 1) return true;
  if (t.kind == 2) return o.pid == t.pid;
  if (t.kind == 3) return o.pid == t.pid && o.windowId == t.windowId;
  return false;
}

std::vector<uint32_t> OverlayNumbers() {
  std::vector<uint32_t> out;
  for (const auto& w : S().windows) out.push_back(w.number);
  return out;
}

Owner OwnerNow(double x, double y, const std::vector<uint32_t>& excluded) {
  auto list = platform::Get().windows().CopyWindowList(
      platform::WindowListOption::kOnScreenOnlyExcludingDesktop);
  if (!list) return Owner{};
  return OwnerAtPointInSnapshot(*list, x, y, excluded);
}

ghost_motion::Vec2 ProbePoint(const GhostGroup& g) {
  return g.targetPlaced ? g.targetPoint : g.motion.position;
}

bool AnyTrackedTarget() {
  for (const auto& g : S().groups)
    if (g->tracking && g->target.kind != 0) return true;
  return false;
}

void ApplyProbeResults(const std::vector<ProbeEntry>& results) {
  for (const ProbeEntry& e : results) {
    GhostGroup* g = FindGroup(e.key);
    if (!g || !g->tracking || g->targetGeneration != e.generation) continue;
    if (g->target.kind == 1 && e.owner.found) {
      g->target = GhostTarget{2, e.owner.pid, e.owner.windowId};
    }
    if (e.owner.found && Matches(e.target, e.owner)) {
      ConfirmVisible(*g);
      if (g->pendingRipple) {
        g->pendingRipple = false;
        ghost_motion::Vec2 p = ProbePoint(*g);
        GhostClickRippleInternal(*g, p.x, p.y);
      }
    } else if (e.owner.found) {
      HideByOcclusion(*g);
    } else if (++g->occlusionUncertainMisses >= 3 || !g->shown) {
      HideByOcclusion(*g);
    }
  }
  StopPumpTimerIfIdle();
}

void VisibilityTimerFired(uv_timer_t*) {
  if (!AnyTrackedTarget()) {
    // Nothing to watch: a timer that keeps firing would only burn time.
    StopVisibilityTimer();
    return;
  }
  ScheduleVisibilityProbe();
}

}  // namespace

void ConfirmVisible(GhostGroup& g) {
  g.visibilityConfirmed = true;
  StartPumpTimer();
  g.occlusionAlpha = 1.0;
  g.occlusionUncertainMisses = 0;
  ApplyGroupAlpha(g);
}

void HideByOcclusion(GhostGroup& g) {
  g.visibilityConfirmed = false;
  g.pendingRipple = false;
  g.occlusionAlpha = 0;
  g.occlusionUncertainMisses = 0;
  ApplyGroupAlpha(g);
  g.shown = false;
}

bool TrySyncFirstCheck(GhostGroup& g, const GhostTarget& target) {
  if (target.kind < 2) return true;
  ghost_motion::Vec2 p = ProbePoint(g);
  Owner o = OwnerNow(p.x, p.y, OverlayNumbers());
  if (!o.found) return true;
  return Matches(target, o);
}

void ScheduleVisibilityProbe() {
  std::vector<ProbeEntry> entries;
  for (const auto& g : S().groups) {
    if (!g->tracking || g->target.kind == 0) continue;
    ProbeEntry e;
    e.key = g->key;
    e.generation = g->targetGeneration;
    ghost_motion::Vec2 p = ProbePoint(*g);
    e.x = p.x;
    e.y = p.y;
    e.target = g->target;
    entries.push_back(std::move(e));
  }
  if (entries.empty()) return;
  if (g_visibility_probe_active.exchange(true)) {
    g_visibility_probe_dirty.store(true);
    return;
  }
  std::vector<uint32_t> excluded = OverlayNumbers();
  ProbeThread::Get().Post([entries = std::move(entries), excluded = std::move(excluded)]() mutable {
    auto list = platform::Get().windows().CopyWindowList(
        platform::WindowListOption::kOnScreenOnlyExcludingDesktop);
    for (auto& e : entries)
      e.owner = list ? OwnerAtPointInSnapshot(*list, e.x, e.y, excluded) : Owner{};
    addon::PostToMain([entries = std::move(entries)] {
      ApplyProbeResults(entries);
      g_visibility_probe_active.store(false);
      if (g_visibility_probe_dirty.exchange(false)) ScheduleVisibilityProbe();
    });
  });
}

void StartVisibilityTimer() {
  OverlayState& s = S();
  if (s.visibilityTimerRunning) return;
  addon::EnsureAppKitPump();
  uv_timer_start(addon::VisibilityTimer(), VisibilityTimerFired, 0, kVisibilityIntervalMs);
  s.visibilityTimerRunning = true;
}

void StopVisibilityTimer() {
  OverlayState& s = S();
  if (!s.visibilityTimerRunning) return;
  uv_timer_stop(addon::VisibilityTimer());
  s.visibilityTimerRunning = false;
}

}  // namespace ghost
