#include "ax/warmup.h"

#include <chrono>
#include <cstdio>
#include <map>

#include "ax/capture_reads.h"
#include "ax/token_table.h"

namespace addon {

namespace {
// pid -> identity of the process instance last warmed; guarded by g_mutex.
std::map<pid_t, std::string> g_warmed_process_identity;

constexpr auto kStabilityPoll = std::chrono::milliseconds(60);
constexpr int kStableReadsNeeded = 3;
}  // namespace

std::string ProcessIdentityString(pid_t pid) {
  auto app = platform::Get().workspace().RunningApplicationWithPid(pid);
  if (!app) return "missing:" + std::to_string(pid);
  char launch[64];
  std::snprintf(launch, sizeof(launch), "%.6f", app->launch_time);
  return app->bundle_id.value_or("") + ":" + launch;
}

bool WarmAccessibilityTree(const platform::AXElement& app, pid_t pid,
                           platform::TimePoint deadline) {
  auto& ax = platform::Get().ax();
  if (app) {
    SetCaptureOperation(AxCaptureOperation::kSetManualAccessibility);
    ax.SetAttributeValue(app, "AXManualAccessibility", platform::Value(true));
    if (!DeadlinePassed(deadline)) {
      SetCaptureOperation(AxCaptureOperation::kSetEnhancedUserInterface);
      ax.SetAttributeValue(app, "AXEnhancedUserInterface", platform::Value(true));
    }
  }
  std::string identity = ProcessIdentityString(pid);
  std::lock_guard<std::mutex> lock(g_mutex);
  auto [it, inserted] = g_warmed_process_identity.try_emplace(pid, identity);
  if (inserted) return true;
  if (it->second == identity) return false;
  it->second = std::move(identity);
  return true;
}

bool WaitForChildrenStableUntil(const platform::AXElement& window,
                                platform::TimePoint deadline) {
  auto& clock = platform::Get().clock();
  int64_t last = -1;
  int run = 0;
  while (true) {
    SetCaptureOperation(AxCaptureOperation::kCopyChildren);
    int64_t count = 0;
    if (!window ||
        platform::Get().ax().GetAttributeValueCount(window, "AXChildren", &count) !=
            platform::kAXErrorSuccess) {
      count = 0;  // a failed read restarts the run
    }
    if (count > 0 && count == last) {
      ++run;
    } else {
      run = count > 0 ? 1 : 0;
    }
    last = count;
    if (run >= kStableReadsNeeded) return true;
    platform::TimePoint now = clock.Now();
    if (now >= deadline) return false;
    platform::Duration wait = kStabilityPoll;
    if (deadline - now < wait) wait = deadline - now;
    clock.SleepFor(wait);
  }
}

}  // namespace addon
