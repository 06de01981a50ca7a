// Backend selection and the host's real clock.
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/platform.h"
#include "sim/services.h"
#ifdef KORVO_HAVE_X11
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

Platform& Select() {
  const char* env = std::getenv("KORVO_OZA_PLATFORM");
  std::string name = env ? env : "";
  if (name == "x11") {
#ifdef KORVO_HAVE_X11
    std::string why;
    if (Platform* x = x11::X11Platform(&why)) return *x;
    sim::SimPlatform().log().Write("[platform] x11: " + why + "; using the simulated desktop");
#else
    sim::SimPlatform().log().Write(
        "[platform] x11 backend not built; using the simulated desktop");
#endif
    return sim::SimPlatform();
  }
  Platform& backend = sim::SimPlatform();
  if (!name.empty() && name != "sim") {
    backend.log().Write("[platform] unknown KORVO_OZA_PLATFORM \"" + name +
                        "\"; using the simulated desktop");
  }
  return backend;
}

}  // namespace

Clock& SystemClock() {
  static SteadyClock* clock = new SteadyClock();
  return *clock;
}

Platform& Get() {
  static Platform& backend = Select();
  return backend;
}

}  // namespace platform
