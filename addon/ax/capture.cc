// One capture of an application: take the pid's capture lock, check trust
// and identity, draw the epoch, choose the window, warm and settle the tree,
// read the window's metadata and surfaces, walk the tree and the menu bar
// within the deadline and budgets, and commit the epoch.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>

#include "apps/identity.h"
#include "ax/capture_reads.h"
#include "bounds.h"
#include "ax/capture_snapshot.h"
#include "ax/capture_text.h"
#include "ax/diagnostics.h"
#include "ax/token_table.h"
#include "ax/warmup.h"
#include "ax/window_list.h"

namespace addon {

namespace {

using platform::AXElement;
using Op = AxCaptureOperation;
using Phase = AxCapturePhase;

constexpr double kMinCandidateWidth = 96;
constexpr double kMinCandidateHeight = 64;
constexpr double kMinFrameHeight = 64;
// A window whose children never settle on a positive count (an empty window,
// one whose AXChildren keeps failing) would otherwise hold the first capture
// until its deadline and come back empty or late; the wait gets this long at
// most and the walk keeps the rest of the deadline.
constexpr auto kFirstWarmStabilityLimit = std::chrono::seconds(3);
// The walk stops this long before the capture's deadline so that a capture
// cut short by a slow application still completes (final identity check,
// epoch commit, hand-over to the host) in time to be delivered: a result
// arriving after the deadline is thrown away. It covers one call waiting out
// the 0.3 s messaging time-out with room to spare.
constexpr auto kCompletionReserve = std::chrono::seconds(1);

// One capture per pid at a time. Waits measure time on the platform clock so
// a capture waiting for the lock gives up at its own deadline.
class PidCaptureLock {
 public:
  bool LockUntil(platform::TimePoint deadline) {
    std::unique_lock<std::mutex> lock(mu_);
    if (!platform::Get().clock().WaitUntil(lock, cv_, deadline, [this] { return !held_; })) {
      return false;
    }
    held_ = true;
    return true;
  }
  void Unlock() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      held_ = false;
    }
    cv_.notify_all();
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  bool held_ = false;
};

// g_pid_capture_mutexes: entries made on first use under g_mutex, never removed.
std::map<pid_t, std::shared_ptr<PidCaptureLock>> g_pid_capture_mutexes;

std::shared_ptr<PidCaptureLock> PidLock(pid_t pid) {
  std::lock_guard<std::mutex> lock(g_mutex);
  auto& slot = g_pid_capture_mutexes[pid];
  if (!slot) slot = std::make_shared<PidCaptureLock>();
  return slot;
}

class ScopedPidUnlock {
 public:
  explicit ScopedPidUnlock(std::shared_ptr<PidCaptureLock> lock) : lock_(std::move(lock)) {}
  ~ScopedPidUnlock() { lock_->Unlock(); }

 private:
  std::shared_ptr<PidCaptureLock> lock_;
};

bool FrameValid(bool read, const platform::Rect& r) {
  return read && r.width > 0 && r.height > 0;
}

const CGWindowCandidate* FindCandidate(const std::vector<CGWindowCandidate>& list, uint32_t id) {
  for (const auto& c : list) {
    if (c.window_id == id) return &c;
  }
  return nullptr;
}

// Fills the CG-only capture: everything comes from the window-server entry.
void FillCgOnly(AxCaptureSnapshotData* snap, const AXElement& app, pid_t pid,
                uint32_t requested_window_id, const CGWindowCandidate& candidate,
                CaptureBudget* budget, platform::TimePoint deadline, uint64_t epoch) {
  std::string title = candidate.title;
  LimitSnapshotText(&title, kSnapshotStringCap, &budget->text);
  snap->window_title = std::move(title);
  snap->window_bounds = ToIntBounds(candidate.bounds);
  snap->window_id = candidate.window_id;
  snap->presentation_window_id = candidate.window_id;
  CaptureBudget menu_budget{kCaptureNodeBudget, budget->text};
  CollectMenuBarElements(app, pid, &menu_budget, deadline, epoch, AXElement(), &snap->elements);
  budget->text = menu_budget.text;
  snap->empty_capture_reason = "cg-only-no-ax-window";
  LogEmptyCaptureDiagnostics(app, pid, requested_window_id, &candidate, snap->empty_capture_reason,
                             candidate.window_id, platform::kAXErrorNoValue, -1,
                             &snap->empty_capture_diagnostics);
}

}  // namespace

AxAppSnapshotData CollectAppSnapshot(pid_t pid) {
  AxAppSnapshotData app;
  app.pid = pid;
  if (auto running = platform::Get().workspace().RunningApplicationWithPid(pid)) {
    if (running->bundle_id) {
      std::string id = *running->bundle_id;
      LimitSnapshotText(&id, kBundleIdCap);
      app.bundle_id = std::move(id);
    }
    if (running->name) {
      std::string name = *running->name;
      LimitSnapshotText(&name, kSnapshotStringCap);
      app.name = std::move(name);
    }
  }
  app.active = LiveFrontmostPid() == pid;
  return app;
}

std::unique_ptr<AxCaptureSnapshotData> CollectCaptureAppSnapshot(
    pid_t pid, const std::optional<std::string>& expected_bundle_id,
    platform::TimePoint capture_deadline, std::optional<uint32_t> requested_window_id) {
  if (pid < 1 || DeadlinePassed(capture_deadline)) return nullptr;
  const platform::TimePoint deadline = capture_deadline - kCompletionReserve;

  SetCapturePhase(Phase::kCaptureLock);
  SetCaptureOperation(Op::kCaptureMutexWait);
  auto pid_lock = PidLock(pid);
  if (!pid_lock->LockUntil(deadline)) return nullptr;
  ScopedPidUnlock unlock(pid_lock);
  if (DeadlinePassed(deadline)) return nullptr;

  SetCapturePhase(Phase::kAccessibilityCheck);
  SetCaptureOperation(Op::kTrustProbe);
  if (!FreshAXIsTrusted()) return nullptr;

  if (expected_bundle_id) {
    SetCapturePhase(Phase::kIdentityCheck);
    SetCaptureOperation(Op::kProcessIdentity);
    if (!LivePidMatchesExpectedBundle(pid, *expected_bundle_id)) return nullptr;
  }

  CaptureEpochGuard guard(pid, NextCaptureEpoch(pid));
  auto& ax = platform::Get().ax();

  SetCapturePhase(Phase::kApplicationCreate);
  SetCaptureOperation(Op::kCreateApplication);
  AXElement app = ax.CreateApplication(pid);
  if (!app) return nullptr;
  ax.SetMessagingTimeout(app, kCaptureMessagingTimeoutSeconds);

  SetCapturePhase(Phase::kCgWindowScan);
  SetCaptureOperation(Op::kCgWindowScan);
  std::vector<CGWindowCandidate> cg_windows = CopyCGWindowsForPid(pid);
  std::optional<CGWindowCandidate> best_candidate;
  {
    CGWindowCandidate best;
    if (FindBestCGWindowForPid(pid, &best)) best_candidate = best;
  }
  const CGWindowCandidate* requested_candidate =
      requested_window_id ? FindCandidate(cg_windows, *requested_window_id) : nullptr;

  SetCapturePhase(Phase::kAccessibilityWarm);
  bool first_warm = WarmAccessibilityTree(app, pid, deadline);

  SetCapturePhase(Phase::kWindowResolve);
  auto snap = std::make_unique<AxCaptureSnapshotData>();
  CaptureBudget budget{kCaptureNodeBudget, kSnapshotTextBudget};
  AXElement window;
  // The window-server entry the capture leans on when accessibility falls short.
  const CGWindowCandidate* candidate = best_candidate ? &*best_candidate : nullptr;
  if (!requested_window_id) {
    window = CopyBestWindow(app, deadline);
  } else {
    window = CopyRequestedSurfaceById(app, *requested_window_id, pid, deadline);
    if (!window && requested_candidate) {
      candidate = requested_candidate;  // CG-only capture of the requested window
    } else if (!window) {
      window = CopyBestWindow(app, deadline);
      snap->window_id_fallback = true;
    } else if (requested_candidate) {
      candidate = requested_candidate;
    }
  }
  if (!window && !candidate) return nullptr;

  if (window && first_warm) {
    SetCapturePhase(Phase::kWindowStabilize);
    platform::TimePoint limit = platform::Get().clock().Now() + kFirstWarmStabilityLimit;
    WaitForChildrenStableUntil(window, std::min(deadline, limit));
  }

  uint64_t epoch = guard.epoch();
  uint32_t requested = requested_window_id.value_or(0);
  if (!window) {
    FillCgOnly(snap.get(), app, pid, requested, *candidate, &budget, deadline, epoch);
  } else {
    SetCapturePhase(Phase::kWindowMetadata);
    // The window's own number decides which window-server entry describes it:
    // when known, only the entry with that number may lend its title and
    // bounds, so the result never pairs one window's tree with another's id.
    uint32_t own_number = DiagWindowNumber(window);
    const CGWindowCandidate* same_window = candidate;
    if (own_number != 0 && (!candidate || candidate->window_id != own_number)) {
      same_window = FindCandidate(cg_windows, own_number);
    }

    std::string title;
    if (DiagCopyString(window, "AXTitle", Op::kCopyTitle, &title)) {
      LimitSnapshotText(&title, kSnapshotStringCap, &budget.text);
      snap->window_title = std::move(title);
    } else if (same_window && !same_window->title.empty()) {
      title = same_window->title;
      LimitSnapshotText(&title, kSnapshotStringCap, &budget.text);
      snap->window_title = std::move(title);
    }

    platform::Value pos, size;
    bool frame_read =
        DiagCopyAttribute(window, "AXPosition", Op::kCopyPosition, &pos) ==
            platform::kAXErrorSuccess &&
        pos.point() &&
        DiagCopyAttribute(window, "AXSize", Op::kCopySize, &size) == platform::kAXErrorSuccess &&
        size.size();
    platform::Rect frame;
    if (frame_read) {
      frame = {pos.point()->x, pos.point()->y, size.size()->width, size.size()->height};
    }
    bool frame_valid = FrameValid(frame_read, frame);

    bool use_candidate_bounds = false;
    if (!requested_window_id && same_window && same_window->on_screen &&
        same_window->bounds.width >= kMinCandidateWidth &&
        same_window->bounds.height >= kMinCandidateHeight) {
      use_candidate_bounds = !frame_valid || frame.height < kMinFrameHeight;
      snap->window_bounds = ToIntBounds(use_candidate_bounds ? same_window->bounds : frame);
    } else if (frame_valid) {
      snap->window_bounds = ToIntBounds(frame);
    } else if (same_window) {
      snap->window_bounds = ToIntBounds(same_window->bounds);
    }

    if (use_candidate_bounds) {
      snap->window_id = same_window->window_id;
    } else if (own_number != 0) {
      snap->window_id = own_number;
    } else if (same_window) {
      snap->window_id = same_window->window_id;
    }

    AXElement default_button;
    if (snap->window_id) {
      auto presentation = CopyPipPresentationWindowId(window, pid, deadline);
      snap->presentation_window_id = presentation.value_or(*snap->window_id);
      snap->surfaces = CollectRelatedSurfaceSnapshots(
          window, pid, *snap->presentation_window_id, deadline, &default_button);
    }

    DiagCopyBool(window, "AXMain", Op::kCopyMain, &snap->main);
    std::optional<uint32_t> focused_id;
    if (own_number != 0) focused_id = CopyFocusedWindowId(app);
    if (own_number != 0 && focused_id) {
      snap->focused = *focused_id == own_number;
    } else {
      DiagCopyBool(window, "AXFocused", Op::kCopyFocused, &snap->focused);
    }

    if (!default_button) {
      DiagCopyElement(window, "AXDefaultButton", Op::kNone, &default_button);
    }
    if (!default_button) DiagCopyElement(app, "AXDefaultButton", Op::kNone, &default_button);

    SetCapturePhase(Phase::kTreeTraversal);
    std::vector<AXElement> children;
    platform::AXError children_error = platform::kAXErrorSuccess;
    bool children_read =
        DiagCopyElementArray(window, "AXChildren", Op::kCopyChildren, &children, &children_error);
    int64_t children_count = children_read ? static_cast<int64_t>(children.size()) : -1;
    snap->elements.reserve(children.size());
    // A child past the deadline yields nothing, which ends the list.
    for (const AXElement& child : children) {
      if (budget.nodes <= 0) break;
      if (!CollectElementSnapshotInto(child, pid, &budget, 1, deadline, epoch, default_button,
                                      &snap->elements)) {
        break;
      }
    }

    CollectMenuBarElements(app, pid, &budget, deadline, epoch, default_button, &snap->elements);
    if (snap->elements.empty()) {
      snap->empty_capture_reason = "ax-window-empty-tree";
      LogEmptyCaptureDiagnostics(app, pid, requested, candidate, snap->empty_capture_reason,
                                 snap->window_id.value_or(0), children_error, children_count,
                                 &snap->empty_capture_diagnostics);
    }
  }

  if (expected_bundle_id) {
    SetCapturePhase(Phase::kFinalIdentityCheck);
    SetCaptureOperation(Op::kProcessIdentity);
    if (!LivePidMatchesExpectedBundle(pid, *expected_bundle_id)) return nullptr;
  }

  SetCapturePhase(Phase::kAppSnapshot);
  SetCaptureOperation(Op::kAppSnapshot);
  snap->app = CollectAppSnapshot(pid);
  snap->capture_epoch = epoch;
  guard.Commit();
  SetCapturePhase(Phase::kNativeComplete);
  return snap;
}

}  // namespace addon
