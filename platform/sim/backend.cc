// The simulated backend object, its host-loop hooks and its log.
#include "sim/event_taps.h"
#include "sim/pasteboard.h"
#include "sim/services.h"
#include "sim/sim_clock.h"
#include "sim/surfaces.h"
#include "sim/timed_accessibility.h"

namespace sim {

namespace {

class Backend : public platform::Platform {
 public:
  const char* Name() const override { return "sim"; }
  platform::Accessibility& ax() override { return ax_; }
  platform::WindowServer& windows() override { return windows_; }
  platform::Events& events() override { return events_; }
  platform::Workspace& workspace() override { return workspace_; }
  platform::Security& security() override { return security_; }
  platform::KeyboardLayout& keyboard() override { return keyboard_; }
  platform::PrivateApi& private_api() override { return private_api_; }
  platform::AppLoop& app_loop() override { return app_loop_; }
  platform::Clock& clock() override { return Clock(); }
  platform::Log& log() override { return log_; }
  platform::ScreenCapture& screen_capture() override { return SimScreenCapture(); }
  platform::Surfaces& surfaces() override { return SimSurfaceService(); }
  platform::Pasteboard& pasteboard() override { return SimPasteboardService(); }
  platform::EventTaps& event_taps() override { return SimEventTapService(); }
  // The simulated desktop models every facility.
  platform::Capability Capable(platform::Facility) override {
    return platform::Capability::Available();
  }
  platform::Facts DesktopFacts() override {
    auto [major, minor] = workspace_.OsVersion().value_or(std::make_pair(0, 0));
    return {{"desktop", "simulated"},
            {"os_version", std::to_string(major) + "." + std::to_string(minor)}};
  }

 private:
  TimedAccessibility ax_;  // SimAccessibility with a time tally
  SimWindowServer windows_;
  SimEvents events_;
  SimWorkspace workspace_;
  SimSecurity security_;
  SimKeyboard keyboard_;
  SimPrivateApi private_api_;
  SimAppLoop app_loop_;
  SimLog log_;
};

}  // namespace

platform::Platform& SimPlatform() {
  static Backend* backend = new Backend();
  return *backend;
}

void SimAppLoop::EnsureApplication() {
  World& w = W();
  std::lock_guard<std::mutex> l(w.mu);
  w.ensure_application_calls++;
}

bool SimAppLoop::DispatchNextEvent() {
  World& w = W();
  std::lock_guard<std::mutex> l(w.mu);
  if (w.app_events <= 0) return false;
  w.app_events--;
  w.dispatched_events++;
  return true;
}

void SimAppLoop::RunOnce() {
  // Screen-configuration and activation notifications reach observers here,
  // on the host thread.
  World& w = W();
  bool screens_changed;
  {
    std::lock_guard<std::mutex> l(w.mu);
    w.run_loop_turns++;
    screens_changed = w.screens_changed;
    w.screens_changed = false;
  }
  if (screens_changed) DeliverScreensChanged();
  while (true) {
    pid_t pid;
    std::vector<std::function<void(pid_t)>> observers;
    {
      std::lock_guard<std::mutex> l(w.mu);
      if (w.activation_queue.empty()) return;
      pid = w.activation_queue.front();
      w.activation_queue.pop_front();
      for (auto& [token, cb] : w.observers) observers.push_back(cb);
    }
    for (auto& cb : observers) cb(pid);
  }
}

void SimLog::Write(const std::string& line) {
  World& w = W();
  std::lock_guard<std::mutex> l(w.mu);
  sim::Log(w, line);
}

}  // namespace sim
