// The simulated desktop's clock. Real time by default; tests can make it run
// k times faster (SleepFor(d) then sleeps d / k of real time), jump it
// forward, or step it: stepped time stands still and moves only by Advance,
// and the core's delayed work (CallAt) fires on those steps. Element delays,
// messaging time-outs and launch completions all measure their time on it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/clock.h"

namespace sim {

class SimClock : public platform::Clock {
 public:
  SimClock();
  platform::TimePoint Now() override;
  void SleepFor(platform::Duration d) override;
  bool WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                 platform::TimePoint deadline, const std::function<bool()>& pred) override;
  double WallSeconds() override;
  // True while stepped (Timers run `fn`); false otherwise.
  bool CallAt(platform::TimePoint when, std::function<void()> fn) override;

  void SetScale(double k);
  double Scale();
  void Advance(platform::Duration d);
  // Back to real time (scale 1, not stepped) without moving time backwards.
  void ResetScale();
  void SetStepped(bool on);
  bool Stepped();
  // Threads now waiting for the clock to reach a time (SleepFor, SleepUntil,
  // WaitUntil): a test steps the clock once the work it times waits.
  int Waiters() const { return waiters_.load(); }
  // Waiting threads that have not looked at the clock since the last
  // Advance: a test lets them see a step before taking the next.
  int StaleWaiters();

  // Sleeps until the clock reaches `deadline`; wakes early when the clock is
  // advanced.
  void SleepUntil(platform::TimePoint deadline);

 private:
  platform::TimePoint NowLocked();
  // Continues the clock from now with a new scale and mode.
  void Rebase(double scale, bool stepped);
  std::mutex mu_;
  std::condition_variable changed_;
  std::chrono::steady_clock::time_point real_base_;
  platform::TimePoint sim_base_;
  double scale_ = 1.0;
  bool stepped_ = false;
  double wall_offset_ = 0;  // seconds added to the wall clock by Advance
  std::atomic<int> waiters_{0};
  uint64_t epoch_ = 0;  // Advance calls, under mu_
  int stale_ = 0;       // under mu_
  friend class ClockWait;
};

SimClock& Clock();

// One background thread running callbacks at clock deadlines (late launch
// completions). The thread is never joined: it must not keep the host alive
// and may be sleeping when the process exits.
class Timers {
 public:
  static Timers& Get();
  void At(platform::TimePoint when, std::function<void()> fn);
  // Wakes the thread so it re-reads the clock (after Advance or SetScale).
  void Poke();

 private:
  Timers();
  void Run();
  struct Entry {
    platform::TimePoint when;
    std::function<void()> fn;
  };
  std::mutex mu_;
  std::condition_variable cv_;
  std::vector<Entry> entries_;
  bool started_ = false;
};

}  // namespace sim
