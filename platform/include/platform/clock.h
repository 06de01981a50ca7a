// Clock service: monotonic time and sleeps. Every deadline and poll of the
// core goes through it so a backend can run time faster for tests.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace platform {

using Duration = std::chrono::nanoseconds;
using TimePoint = std::chrono::time_point<std::chrono::steady_clock, Duration>;

class Clock {
 public:
  virtual ~Clock() = default;
  virtual TimePoint Now() = 0;
  virtual void SleepFor(Duration d) = 0;
  // Waits on cv until pred holds or the (clock) deadline passes; answers pred().
  virtual bool WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                         TimePoint deadline, const std::function<bool()>& pred) = 0;
  // Seconds since 1970 of the wall clock (launch dates and the like).
  virtual double WallSeconds() = 0;
  // Runs `fn` on a thread of the clock's own once the clock reaches `when`,
  // and answers true. A clock that moves with real time answers false: the
  // caller keeps its own timers. (The sim's clock answers true while tests
  // step it, so the core's delayed work fires on those steps.)
  virtual bool CallAt(TimePoint when, std::function<void()> fn) {
    (void)when;
    (void)fn;
    return false;
  }
};

// The host's real monotonic clock (steady_clock), for backends that drive a
// real desktop.
Clock& SystemClock();

}  // namespace platform
