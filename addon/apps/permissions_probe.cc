#include "apps/permissions_probe.h"

#include <string>
#include <vector>

#include "platform/platform.h"

namespace addon {

namespace {

constexpr size_t kMaxProbeCandidates = 2;
constexpr float kProbeTimeoutSeconds = 0.75f;
constexpr float kRestoredTimeoutSeconds = 0.3f;
constexpr const char* kFinderBundleId = "com.apple.finder";

struct CandidateList {
  std::vector<pid_t> pids;
  pid_t self = 0;

  bool full() const { return pids.size() >= kMaxProbeCandidates; }
  void Offer(const platform::RunningApp& app) {
    if (full() || app.terminated || app.pid < 1 || app.pid == self) return;
    for (pid_t p : pids) {
      if (p == app.pid) return;
    }
    pids.push_back(app.pid);
  }
};

// At most two processes to ask, in order: the frontmost application, the
// file browser, then regular applications in the platform's order.
std::vector<pid_t> GatherProbeCandidates() {
  auto& ws = platform::Get().workspace();
  CandidateList list;
  list.self = ws.SelfPid();

  pid_t front = ws.FrontmostApplicationPid();
  if (front > 0) {
    if (auto app = ws.RunningApplicationWithPid(front)) list.Offer(*app);
  }
  std::vector<platform::RunningApp> running = ws.RunningApplications();
  for (const auto& app : running) {
    if (app.bundle_id && *app.bundle_id == kFinderBundleId) {
      list.Offer(app);
      break;
    }
  }
  for (const auto& app : running) {
    if (list.full()) break;
    if (app.activation_policy == platform::ActivationPolicy::kRegular) list.Offer(app);
  }
  return list.pids;
}

}  // namespace

AccessibilityProbeResult RunAccessibilityProbe() {
  auto& ax = platform::Get().ax();
  AccessibilityProbeResult result;  // (false, -25200) until a candidate answers
  for (pid_t pid : GatherProbeCandidates()) {
    platform::AXElement app = ax.CreateApplication(pid);
    if (!app) continue;
    ax.SetMessagingTimeout(app, kProbeTimeoutSeconds);
    platform::Value role;
    platform::AXError err = ax.CopyAttributeValue(app, "AXRole", &role);
    ax.SetMessagingTimeout(app, kRestoredTimeoutSeconds);
    app.Reset();

    if (err == platform::kAXErrorSuccess && role.string() && *role.string() == "AXApplication") {
      return {true, 0};
    }
    if (err == platform::kAXErrorAPIDisabled) return {false, platform::kAXErrorAPIDisabled};
    result = {false, err != platform::kAXErrorSuccess ? static_cast<int32_t>(err)
                                                      : platform::kAXErrorNoValue};
  }
  return result;
}

const char* ScreenCaptureStatusString() {
  std::optional<bool> granted = platform::Get().security().PreflightScreenCaptureAccess();
  if (!granted) return "unknown";
  return *granted ? "granted" : "denied";
}

}  // namespace addon
