#include "pip/pip_start.h"

#include <condition_variable>
#include <mutex>

#include "apps/identity.h"
#include "conventions.h"
#include "main_queue.h"
#include "pip/pip_controller.h"
#include "pip/pip_interaction.h"
#include "pip/pip_log.h"
#include "platform/platform.h"
#include "worker.h"

namespace pip {

namespace {

constexpr auto kVerifiedStartDeadline = std::chrono::milliseconds(3500);
std::atomic<bool> g_verified_pip_worker_active{false};

// A new panel of the start, shown only when its group is active (or none is).
// Its readiness deadline runs from here, not from its first frame.
void PushStarted(const std::shared_ptr<KvPipController>& panel, const char* reason) {
  PipStopAllPanels(reason);
  PipStackPushFront(panel);
  const GroupKey& active = Switches().active_group;
  GroupKey g = panel->groupKey();
  if (active && g && !GroupsEqualIgnoringCase(active, g)) panel->setGroupHidden(true);
  panel->interaction()->armReadinessDeadline();
}

class VerifiedPipStartWorker : public addon::KvAsyncWorker {
 public:
  VerifiedPipStartWorker(Napi::Env env, const VerifiedStartRequest& r, uint64_t generation)
      : KvAsyncWorker(env, "generic", addon::WorkerFamily::kGeneral),
        request_(r),
        generation_(generation),
        deadline_(platform::Get().clock().Now() + kVerifiedStartDeadline) {}
  ~VerifiedPipStartWorker() override { g_verified_pip_worker_active = false; }

 protected:
  void Execute() override {
    if (Stale()) return;
    const auto& r = request_;
    if (r.pid > 0 && r.actual_window_id != 0 && !r.bundle_id.empty()) Resolve();
    if (!window_ && r.actual_window_id == r.presentation_window_id && !Stale() &&
        addon::LivePidMatchesExpectedBundle(r.pid, r.bundle_id)) {
      platform::Size size;
      if (CopyLiveWindowSizeForIdentity(r.actual_window_id, r.pid, &size)) fallback_size_ = size;
    }
    if (Stale()) {
      window_.reset();
      fallback_size_.reset();
    }
  }

  void OnOK() override { Deferred().Resolve(Napi::Boolean::New(Env(), Complete())); }
  void OnError(const std::string&) override { Deferred().Resolve(Napi::Boolean::New(Env(), false)); }

 private:
  bool Stale() const {
    return g_pip_request_generation.load() != generation_ ||
           platform::Get().clock().Now() >= deadline_;
  }

  void Resolve() {
    struct Wait {
      std::mutex mu;
      std::condition_variable cv;
      bool done = false;
      std::optional<platform::ShareableContent> content;
      int64_t error = 0;
    };
    auto wait = std::make_shared<Wait>();
    std::weak_ptr<Wait> weak = wait;
    platform::ShareableContentOptions options;
    platform::Get().screen_capture().GetShareableContent(
        options, [weak](std::optional<platform::ShareableContent> c, int64_t error) {
          auto w = weak.lock();
          if (!w) return;
          std::lock_guard<std::mutex> l(w->mu);
          if (w->done) return;
          w->done = true;
          w->content = std::move(c);
          w->error = error;
          w->cv.notify_all();
        });
    std::unique_lock<std::mutex> l(wait->mu);
    platform::Get().clock().WaitUntil(l, wait->cv, deadline_, [&] { return wait->done; });
    wait->done = true;  // a late answer changes nothing
    const auto& r = request_;
    size_t count = wait->content ? wait->content->windows.size() : 0;
    PipLog("verified resolve callback wid=%u pid=%d error=%s windows=%lu", r.actual_window_id, r.pid,
           wait->error ? std::to_string(wait->error).c_str() : "none",
           static_cast<unsigned long>(count));
    if (wait->content) {
      for (const auto& w : wait->content->windows) {
        if (w.window_id != r.actual_window_id || !w.has_owning_application || w.owner_pid != r.pid ||
            !w.owner_bundle_id || !common::EqualsIgnoringAsciiCase(*w.owner_bundle_id, r.bundle_id))
          continue;
        window_ = w;
        break;
      }
    }
    PipLog("verified resolve result wid=%u matched=%d", r.actual_window_id, window_ ? 1 : 0);
  }

  bool Complete() {
    const auto& r = request_;
    bool main = addon::IsMainThread();
    bool unchanged = g_pip_request_generation.load() == generation_;
    bool before = platform::Get().clock().Now() < deadline_;
    PipLog("verified worker complete presentation=%u actual=%u target=%d main=%d before_deadline=%d "
           "generation=%d",
           r.presentation_window_id, r.actual_window_id, r.pid, main ? 1 : 0, before ? 1 : 0,
           unchanged ? 1 : 0);
    if (!main || !unchanged) return false;
    PipSwitches& sw = Switches();
    bool dismissed = PipIsTargetDismissed(r.pid, r.presentation_window_id, r.group);
    if (!sw.enabled || sw.dismissed || dismissed) {
      if (window_ || fallback_size_)
        PipLog("verified pip presentation dismissed; skipping presentation=%u actual=%u pid=%d",
               r.presentation_window_id, r.actual_window_id, r.pid);
      return false;
    }
    PanelRef existing =
        PipFindPanelForVerifiedPresentation(r.presentation_window_id, r.pid, r.bundle_id, r.group);
    if (window_) {
      if (existing) {
        auto* c = static_cast<KvPipController*>(existing.get());
        if (!c->refreshVerifiedCompositeWindow(*window_, r.actual_window_id)) {
          PipLog("verified composite refresh failed; preserving presentation=%u actual=%u",
                 r.presentation_window_id, r.actual_window_id);
        }
        if (PipGroupIsActive(r.group)) PipPromotePanel(existing);
        return existing->running();
      }
      auto panel = KvPipController::Create();
      panel->setPresentationWindowId(r.presentation_window_id);
      panel->setGroupKey(r.group);
      if (!panel->startWithVerifiedWindow(*window_, r.actual_window_id, r.pid, r.bundle_id, r.width,
                                          r.height))
        return false;
      PushStarted(panel, "verified start (singleton)");
      PipLog("verified pip stacked presentation=%u actual=%u pid=%d generation=%llu panels=%zu",
             r.presentation_window_id, r.actual_window_id, r.pid,
             static_cast<unsigned long long>(generation_), PipStackCount());
      return true;
    }
    if (!fallback_size_) return false;
    if (existing) {
      if (PipGroupIsActive(r.group)) PipPromotePanel(existing);
      return existing->running();
    }
    // The target is checked before a panel is made for it (above), so a
    // dismissed target never leaves a panel holding a pump lease.
    auto panel = KvPipController::Create();
    panel->setPresentationWindowId(r.presentation_window_id);
    panel->setGroupKey(r.group);
    if (!panel->startWithVerifiedWindowId(r.actual_window_id, r.pid, r.bundle_id, *fallback_size_,
                                          r.width, r.height))
      return false;
    PushStarted(panel, "verified fallback start (singleton)");
    return true;
  }

  VerifiedStartRequest request_;
  uint64_t generation_;
  platform::TimePoint deadline_;
  std::optional<platform::ShareableWindow> window_;
  std::optional<platform::Size> fallback_size_;
};

}  // namespace

Napi::Value PipStartVerifiedAsyncImpl(Napi::Env env, const VerifiedStartRequest& r) {
  PipSwitches& sw = Switches();
  if (!addon::IsMainThread() || !sw.enabled || sw.dismissed) return addon::ResolvedBoolPromise(env, false);
  if (g_verified_pip_worker_active.load()) return addon::ResolvedBoolPromise(env, false);
  if (PipFindPanelForVerifiedPresentation(r.presentation_window_id, r.pid, r.bundle_id, r.group))
    return addon::ResolvedBoolPromise(env, true);
  if (g_verified_pip_worker_active.exchange(true)) return addon::ResolvedBoolPromise(env, false);
  uint64_t generation = PipBumpRequestGeneration();
  auto* worker = new (std::nothrow) VerifiedPipStartWorker(env, r, generation);
  if (!worker) {
    g_verified_pip_worker_active = false;
    return addon::ResolvedBoolPromise(env, false);
  }
  Napi::Value promise = worker->Promise();
  if (!worker->Queue()) {
    delete worker;  // clears the one-worker flag
    return addon::ResolvedBoolPromise(env, false);
  }
  return promise;
}

bool PipLegacyStart(uint32_t window_id, double width, double height) {
  PipSwitches& sw = Switches();
  if (!sw.enabled || sw.dismissed || sw.starting || window_id == 0 ||
      PipIsTargetDismissed(0, window_id, std::nullopt))
    return false;
  PipBumpRequestGeneration();
  auto stack = PipStackCopy();
  if (stack.size() == 1 && stack[0]->running() && !stack[0]->verified() &&
      stack[0]->windowId() == window_id)
    return true;
  sw.starting = true;
  PipLog("pip_start wid=%u verified=0 replacing=%zu", window_id, stack.size());
  PipStopAllPanels("legacy start");
  auto panel = KvPipController::Create();
  bool ok = panel->startLegacyWithWindowId(window_id, width, height);
  if (ok) {
    PipStackPushFront(panel);
    panel->interaction()->armReadinessDeadline();
  }
  sw.starting = false;
  return ok;
}

}  // namespace pip
