// Window-server questions behind the interaction monitor: which windows at a
// point could take a left press, whether a window is the helper's own ghost
// overlay, the throttled ownership probes on the ownership queue, the exact
// point reservation for a synthetic press, and raising the target after a
// double click.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <map>

#include "apps/identity.h"
#include "apps/window_event_mask.h"
#include "ax/surfaces.h"
#include "ax/window_list.h"
#include "ghost/overlay.h"
#include "main_queue.h"
#include "pip/pip_capture_queue.h"
#include "pip/pip_controller.h"
#include "pip/pip_interaction.h"
#include "pip/pip_log.h"
#include "platform/platform.h"

namespace pip {

std::atomic<bool> g_pipOwnershipQueryUnhealthy{false};
std::atomic<bool> g_pipOwnershipQueryActive{false};
std::atomic<bool> g_pipPassiveOwnershipQueryActive{false};

namespace {

constexpr int kUnhealthyAfterFailures = 3;
constexpr size_t kGhostSignatureCacheSize = 8;
constexpr int64_t kGhostSignatureTtlNs = 30'000'000'000;
constexpr const char* kHelperBundleId = "com.korvo.oza";
constexpr const char* kHelperDevBundleId = "com.korvo.oza.dev";
constexpr const char* kHelperRequirement =
    "identifier \"com.korvo.oza\" and anchor apple generic";
constexpr const char* kHelperDevRequirement =
    "identifier \"com.korvo.oza.dev\" and certificate leaf[subject.CN] = \"Korvo Oza Development\"";

std::atomic<int> g_consecutive_query_failures{0};
std::atomic<int64_t> g_next_token{0};

struct GhostSignature {
  bool overlay = false;
  int64_t expires_ns = 0;
};
std::mutex g_pipGhostSignatureMutex;
std::map<pid_t, GhostSignature>* g_pipGhostSignatureCache = new std::map<pid_t, GhostSignature>();

bool HelperIdentity(pid_t pid) {
  auto& p = platform::Get();
  auto app = p.workspace().RunningApplicationWithPid(pid);
  if (!app || !app->bundle_id) return false;
  const std::string& id = *app->bundle_id;
  const char* requirement = nullptr;
  if (common::EqualsIgnoringAsciiCase(id, kHelperBundleId)) requirement = kHelperRequirement;
  if (common::EqualsIgnoringAsciiCase(id, kHelperDevBundleId)) requirement = kHelperDevRequirement;
  return requirement &&
         p.security().CheckRequirementForPid(pid, requirement) == platform::RequirementResult::kSatisfied;
}

}  // namespace

void PipNoteOwnershipQueryResult(bool ok) {
  if (ok) {
    g_consecutive_query_failures = 0;
    // A query that answers again proves the window server healthy.
    g_pipOwnershipQueryUnhealthy = false;
    return;
  }
  if (++g_consecutive_query_failures >= kUnhealthyAfterFailures) g_pipOwnershipQueryUnhealthy = true;
}

bool IsOzaHelperGhostOverlay(pid_t pid, uint32_t window_id, int64_t layer, bool on_screen) {
  (void)layer;
  (void)on_screen;
  // The host's own overlay windows are recognised by number.
  if (ghost::GhostOverlayOwnsWindowNumber(window_id)) return true;
  if (pid <= 0 || pid == getpid()) return false;
  int64_t now = PipNowNs();
  {
    std::lock_guard<std::mutex> l(g_pipGhostSignatureMutex);
    auto it = g_pipGhostSignatureCache->find(pid);
    if (it != g_pipGhostSignatureCache->end() && it->second.expires_ns > now) return it->second.overlay;
  }
  bool overlay = HelperIdentity(pid);
  std::lock_guard<std::mutex> l(g_pipGhostSignatureMutex);
  auto& cache = *g_pipGhostSignatureCache;
  if (cache.size() >= kGhostSignatureCacheSize && !cache.count(pid)) {
    auto oldest = std::min_element(cache.begin(), cache.end(), [](const auto& a, const auto& b) {
      return a.second.expires_ns < b.second.expires_ns;
    });
    cache.erase(oldest);
  }
  cache[pid] = GhostSignature{overlay, now + kGhostSignatureTtlNs};
  return overlay;
}

bool CopyInteractiveWindowsAtPoint(platform::Point point, uint32_t excluded,
                                   std::vector<InteractiveWindow>* out, uint32_t* overlay_at_point) {
  out->clear();
  if (overlay_at_point) *overlay_at_point = 0;
  auto list = platform::Get().windows().CopyWindowList(
      platform::WindowListOption::kOnScreenOnlyExcludingDesktop);
  if (!list) return false;
  for (const auto& v : *list) {
    const platform::Dict* d = v.dict();
    if (!d) continue;
    int64_t number = 0, owner = 0, layer = 0;
    platform::Rect bounds;
    if (!addon::CopyDictionaryInt64(*d, platform::kWindowNumber, &number) || number <= 0 ||
        !addon::CopyDictionaryBounds(*d, platform::kWindowBounds, &bounds) || !PipRectContains(bounds, point))
      continue;
    auto id = static_cast<uint32_t>(number);
    if (id == excluded) continue;
    addon::CopyDictionaryInt64(*d, platform::kWindowOwnerPID, &owner);
    addon::CopyDictionaryInt64(*d, platform::kWindowLayer, &layer);
    std::string owner_name;
    addon::CopyDictionaryString(*d, platform::kWindowOwnerName, &owner_name);
    if (owner_name == "Dock" || owner_name == "Window Server") continue;
    if (IsOzaHelperGhostOverlay(static_cast<pid_t>(owner), id, layer, true)) {
      if (overlay_at_point && !*overlay_at_point) *overlay_at_point = id;
      continue;
    }
    bool accepts = false;
    if (!OzaCopyWindowAcceptsLeftMouseDown(id, &accepts) || !accepts) continue;
    out->push_back(InteractiveWindow{id, static_cast<pid_t>(owner)});
  }
  return true;
}

OwnershipAnswer PipInteraction::queryOwnership(platform::Point point) {
  OwnershipAnswer a;
  uint32_t panel_id;
  {
    std::lock_guard<std::mutex> l(mu_);
    panel_id = s_.panel_window_id;
  }
  std::vector<InteractiveWindow> windows;
  a.ok = CopyInteractiveWindowsAtPoint(point, 0, &windows, &a.overlay);
  PipNoteOwnershipQueryResult(a.ok);
  if (!a.ok) return a;
  if (!windows.empty()) a.frontmost = windows[0].number;
  for (const auto& w : windows)
    if (w.number != panel_id) {
      a.underlying = w.number;
      break;
    }
  return a;
}

void PipInteraction::recordSampleUnlocked(platform::Point point, const OwnershipAnswer& a,
                                          int64_t time_ns) {
  s_.sample_valid = true;
  s_.sample_point = point;
  s_.sample_window = a.frontmost;
  s_.sample_underlying_window = a.underlying;
  s_.sample_overlay_window = a.overlay;
  s_.sample_time_ns = time_ns;
}

void PipInteraction::scheduleOwnershipProbe(platform::Point point, uint64_t g) {
  int64_t delay_ns = 0;
  {
    std::lock_guard<std::mutex> l(mu_);
    s_.probe_requested_point = point;
    s_.probe_requested_generation = g;
    s_.probe_request_serial++;
    if (s_.probe_pending) return;
    s_.probe_pending = true;
    int64_t since = PipNowNs() - s_.last_probe_time_ns;
    if (s_.last_probe_time_ns != 0 && since < kProbeSpacingNs) delay_ns = kProbeSpacingNs - since;
  }
  queueProbeAfter(delay_ns);
}

// The ownership queue never sleeps (an exact-point question may be waiting
// behind a probe): a later probe is a main-queue timer that then posts it.
void PipInteraction::queueProbeAfter(int64_t delay_ns) {
  std::weak_ptr<PipInteraction> weak = weak_from_this();
  std::weak_ptr<PipCaptureQueue> queue = ownership_queue_;
  auto post = [weak, queue] {
    auto q = queue.lock();
    if (!q) return;
    q->Async([weak] {
      if (auto self = weak.lock()) self->runProbe();
    });
  };
  if (delay_ns <= 0) return post();
  addon::PostToMainAfter(static_cast<uint64_t>((delay_ns + 999'999) / 1'000'000), post);
}

void PipInteraction::runProbe() {
  platform::Point point;
  uint64_t g, serial;
  {
    std::lock_guard<std::mutex> l(mu_);
    point = s_.probe_requested_point;
    g = s_.probe_requested_generation;
    serial = s_.probe_request_serial;
  }
  if (generation_.load() != g) {
    std::lock_guard<std::mutex> l(mu_);
    s_.probe_pending = false;
    return;
  }
  if (g_pipPassiveOwnershipQueryActive.exchange(true)) return queueProbeAfter(kProbeRerunNs);
  PipSignpost("pip.ownership.probe");
  int64_t began = PipNowNs();
  OwnershipAnswer a = queryOwnership(point);
  g_pipPassiveOwnershipQueryActive = false;
  int64_t done = PipNowNs();
  PipLog("ownership probe took %.1fms point=(%.0f,%.0f)", (done - began) / 1e6, point.x, point.y);
  bool again;
  {
    std::lock_guard<std::mutex> l(mu_);
    s_.last_probe_time_ns = done;
    // A sample taken meanwhile (an exact question) is newer than this one.
    if (a.ok && generation_.load() == g && s_.sample_time_ns <= began)
      recordSampleUnlocked(point, a, done);
    again = s_.probe_request_serial != serial && generation_.load() == g;
    if (!again) s_.probe_pending = false;
  }
  if (again) queueProbeAfter(kProbeRerunNs);
}

bool PipInteraction::sampleOwnershipNow(platform::Point point, bool requires_no_underlay) {
  OwnershipAnswer a = queryOwnership(point);
  uint32_t panel_id;
  {
    std::lock_guard<std::mutex> l(mu_);
    panel_id = s_.panel_window_id;
    if (a.ok) recordSampleUnlocked(point, a, PipNowNs());
  }
  return a.ok && panel_id != 0 && a.frontmost == panel_id && (!requires_no_underlay || !a.underlying);
}

int64_t PipInteraction::prepareSyntheticPointerDown(platform::Point point) {
  if (!std::isfinite(point.x) || !std::isfinite(point.y)) return -1;
  if (!isReady()) return -1;
  uint64_t g = generation_.load();
  uint64_t epoch = visibility_epoch_.load();
  uint32_t panel_id;
  uint64_t request;
  {
    std::lock_guard<std::mutex> l(mu_);
    if (s_.dragging) return -1;
    // A point outside the panel cannot be the panel's: no question to ask.
    if (!s_.panel_bounds_valid || !PipRectContains(s_.panel_bounds, point)) return 0;
    panel_id = s_.panel_window_id;
    request = ++s_.synthetic_request_serial;
  }
  if (g_pipOwnershipQueryActive.exchange(true)) {
    PipLog("PiP exact-point ownership query admission refused");
    return -1;
  }
  // Ask on the ownership queue and wait at most 150 ms for its answer.
  struct Handshake {
    std::mutex mu;
    std::condition_variable cv;
    bool done = false;
    OwnershipAnswer answer;
  };
  auto hs = std::make_shared<Handshake>();
  std::weak_ptr<PipInteraction> weak = weak_from_this();
  ownership_queue_->Async([weak, hs, point] {
    OwnershipAnswer a;
    if (auto self = weak.lock()) a = self->queryOwnership(point);
    g_pipOwnershipQueryActive = false;
    std::lock_guard<std::mutex> l(hs->mu);
    hs->answer = a;
    hs->done = true;
    hs->cv.notify_all();
  });
  OwnershipAnswer a;
  {
    std::unique_lock<std::mutex> l(hs->mu);
    if (!hs->cv.wait_for(l, std::chrono::milliseconds(kHandshakeTimeoutMs), [&] { return hs->done; })) {
      PipLog("PiP exact-point ownership handshake timed out x=%.0f y=%.0f", point.x, point.y);
      return -1;
    }
    a = hs->answer;
  }
  if (!a.ok || a.frontmost != panel_id) return 0;
  std::lock_guard<std::mutex> l(mu_);
  if (generation_.load() != g || visibility_epoch_.load() != epoch) return -1;
  int64_t token = ++g_next_token;
  s_.reservation_valid = true;
  s_.reservation_generation = g;
  s_.reservation_epoch = epoch;
  s_.reservation_request_serial = request;
  s_.reservation_token = token;
  s_.reservation_point = point;
  s_.reservation_underlying_window = a.underlying;
  s_.reservation_time_ns = PipNowNs();
  s_.issued_tokens.push_back(token);
  if (s_.issued_tokens.size() > 8) s_.issued_tokens.erase(s_.issued_tokens.begin());
  PipLog("PiP synthetic admission sample token-request=%llu panel=%u frontmost=%u underlay=%u "
         "current=%d x=%.0f y=%.0f",
         static_cast<unsigned long long>(request), panel_id, a.frontmost, a.underlying, 1, point.x,
         point.y);
  return token;
}

void PipActivateTargetWindow(int32_t pid, uint32_t window_id) {
  auto& p = platform::Get();
  p.workspace().Activate(pid, 1);  // all windows
  if (!window_id) return;
  platform::AXElement app = p.ax().CreateApplication(pid);
  if (!app) return;
  platform::AXElement window =
      addon::CopyWindowById(app, window_id, p.clock().Now() + std::chrono::milliseconds(500));
  if (window) p.ax().PerformAction(window, "AXRaise");
}

}  // namespace pip
