// Backend selection and the host's real clock.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/platform.h"
#include "sim/services.h"
#ifdef KORVO_HAVE_X11
#include "x11/x11_display.h"
#include "x11/x11_services.h"
#endif

namespace platform {

namespace {

// The real monotonic clock, for backends that drive a real desktop.
class SteadyClock : public Clock {
 public:
  TimePoint Now() override {
    return TimePoint(std::chrono::duration_cast<Duration>(
        std::chrono::steady_clock::now().time_since_epoch()));
  }
  void SleepFor(Duration d) override {
    if (d.count() > 0) std::this_thread::sleep_for(d);
  }
  bool WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                 TimePoint deadline, const std::function<bool()>& pred) override {
    auto real_deadline = std::chrono::steady_clock::time_point(
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(deadline.time_since_epoch()));
    return cv.wait_until(lock, real_deadline, pred);
  }
  double WallSeconds() override {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  }
};

// The sentence that ends every selection error: how to get a desktop.
const char* kUseSim = "or set KORVO_OZA_PLATFORM=sim for the simulated desktop";

std::string EnvOrEmpty(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

// Why the X display named by DISPLAY cannot be driven; empty when it answers.
std::string X11Problem() {
#ifdef KORVO_HAVE_X11
  std::string why;
  if (x11::DisplayReachable(&why)) return "";
  return why;
#else
  return "this build has no x11 backend (its X11 and AT-SPI -dev packages were missing when it "
         "was built)";
#endif
}

// What to do about an X11 problem, as the end of the message.
std::string X11Advice(const std::string& display) {
#ifdef KORVO_HAVE_X11
  if (display.empty()) {
    if (!EnvOrEmpty("WAYLAND_DISPLAY").empty()) {
      return "This is a Wayland session (WAYLAND_DISPLAY=" + EnvOrEmpty("WAYLAND_DISPLAY") +
             ") without XWayland, and the add-on drives X11 displays only: start XWayland (or an "
             "X session) and set DISPLAY to it, " + kUseSim;
    }
    return std::string("Start an X session, ") + kUseSim;
  }
  return "Start the X server (or point DISPLAY at one that runs), " + std::string(kUseSim);
#else
  (void)display;
  return std::string("Run `bash scripts/setup.sh` (it installs the packages and rebuilds), ") +
         kUseSim;
#endif
}

}  // namespace

BackendChoice ChooseBackend() {
  const std::string name = EnvOrEmpty("KORVO_OZA_PLATFORM");
  const std::string display = EnvOrEmpty("DISPLAY");
  if (name == "sim") return {"sim", ""};
  if (name == "x11") {
    std::string problem = X11Problem();
    if (problem.empty()) return {"x11", ""};
    return {"", "automation-addon: KORVO_OZA_PLATFORM=x11 names the X display, but there is none "
                "to drive: " + problem + ". " + X11Advice(display)};
  }
  if (name == "wayland") {
    return {"", "automation-addon: KORVO_OZA_PLATFORM=wayland: the wayland backend is not built "
                "yet. Inside a Wayland session, set KORVO_OZA_PLATFORM=x11 to drive the "
                "XWayland clients, " + std::string(kUseSim)};
  }
  if (!name.empty()) {
    return {"", "automation-addon: KORVO_OZA_PLATFORM=\"" + name + "\" names no desktop backend. "
                "Known backends: sim (the simulated desktop), x11 (the X display named by "
                "DISPLAY). Set one of them, or unset the variable to drive the session's own "
                "desktop"};
  }
  // Unset: the real desktop of this session.
  if (display.empty()) {
    return {"", "automation-addon: no desktop to drive: DISPLAY is not set. " + X11Advice(display)};
  }
  std::string problem = X11Problem();
  if (problem.empty()) return {"x11", ""};
  return {"", "automation-addon: no desktop to drive: " + problem + ". " + X11Advice(display)};
}

namespace {

struct Selection {
  Platform* backend = nullptr;
  std::string error;
};

Selection Select() {
  BackendChoice choice = ChooseBackend();
  if (choice.name.empty()) return {nullptr, choice.error};
  if (choice.name == "sim") return {&sim::SimPlatform(), ""};
#ifdef KORVO_HAVE_X11
  std::string why;
  if (Platform* x = x11::X11Platform(&why)) return {x, ""};
  return {nullptr, "automation-addon: the x11 backend could not start: " + why + ". " +
                       X11Advice(EnvOrEmpty("DISPLAY"))};
#else
  return {nullptr, "automation-addon: no backend named " + choice.name};
#endif
}

const Selection& Selected() {
  static const Selection selection = Select();
  return selection;
}

}  // namespace

Clock& SystemClock() {
  static SteadyClock* clock = new SteadyClock();
  return *clock;
}

Platform* TryGet(std::string* error) {
  const Selection& s = Selected();
  if (!s.backend && error) *error = s.error;
  return s.backend;
}

Platform& Get() {
  const Selection& s = Selected();
  if (!s.backend) {
    fprintf(stderr, "%s\n", s.error.c_str());
    std::abort();
  }
  return *s.backend;
}

const char* FacilityName(Facility f) {
  switch (f) {
    case Facility::kAccessibility: return "accessibility";
    case Facility::kElementActions: return "element_actions";
    case Facility::kWindowList: return "window_list";
    case Facility::kDisplays: return "displays";
    case Facility::kApplications: return "applications";
    case Facility::kWindowImages: return "window_images";
    case Facility::kCaptureStreams: return "capture_streams";
    case Facility::kGlobalKeyboard: return "global_keyboard";
    case Facility::kGlobalMouse: return "global_mouse";
    case Facility::kKeyboardToProcess: return "keyboard_to_process";
    case Facility::kMouseToProcess: return "mouse_to_process";
    case Facility::kMouseToBackgroundWindow: return "mouse_to_background_window";
    case Facility::kPasteboard: return "pasteboard";
    case Facility::kOverlayWindows: return "overlay_windows";
    case Facility::kEventTaps: return "event_taps";
    case Facility::kEventSwallowing: return "event_swallowing";
    case Facility::kKeyboardLayout: return "keyboard_layout";
    case Facility::kPermissionsDatabase: return "permissions_database";
    case Facility::kCodeSigning: return "code_signing";
    case Facility::kWindowEventMasks: return "window_event_masks";
    case Facility::kCount: break;
  }
  return "unknown";
}

const char* SupportName(Support s) {
  switch (s) {
    case Support::kAvailable: return "available";
    case Support::kUnavailable: return "unavailable";
    case Support::kNotBuilt: return "not_built";
  }
  return "unknown";
}

}  // namespace platform
