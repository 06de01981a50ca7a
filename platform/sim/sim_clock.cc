#include "sim/sim_clock.h"

#include <algorithm>

namespace sim {

using platform::Duration;
using platform::TimePoint;

namespace {
// Longest real-time slice a sleeper waits before re-reading the clock, so a
// jump of the clock or a change of scale is noticed promptly.
constexpr auto kSlice = std::chrono::milliseconds(20);

// Stepped time moves only when a test steps it; a waiter looks again this
// soon so the test's next step need not wait long.
constexpr auto kSteppedSlice = std::chrono::milliseconds(2);

// Real time to wait for `sim` of clock time at `scale`, at most one slice
// (so far deadlines and tiny scales never overflow the conversion).
std::chrono::nanoseconds RealWait(Duration sim, double scale, bool stepped) {
  const double real_ns = static_cast<double>(sim.count()) / scale;
  const double slice_ns =
      static_cast<double>(std::chrono::nanoseconds(stepped ? kSteppedSlice : kSlice).count());
  return std::chrono::nanoseconds(static_cast<int64_t>(std::min(real_ns, slice_ns)) + 1);
}
}  // namespace

SimClock::SimClock() {
  real_base_ = std::chrono::steady_clock::now();
  sim_base_ = TimePoint(std::chrono::duration_cast<Duration>(real_base_.time_since_epoch()));
}

TimePoint SimClock::NowLocked() {
  if (stepped_) return sim_base_;
  auto real_elapsed = std::chrono::steady_clock::now() - real_base_;
  auto scaled = std::chrono::duration_cast<Duration>(
      std::chrono::duration<double, std::nano>(
          static_cast<double>(std::chrono::duration_cast<Duration>(real_elapsed).count()) *
          scale_));
  return sim_base_ + scaled;
}

TimePoint SimClock::Now() {
  std::lock_guard<std::mutex> l(mu_);
  return NowLocked();
}

void SimClock::SetScale(double k) {
  if (!(k > 0)) k = 1;
  Rebase(k, Stepped());
}

void SimClock::Rebase(double scale, bool stepped) {
  {
    std::lock_guard<std::mutex> l(mu_);
    sim_base_ = NowLocked();
    real_base_ = std::chrono::steady_clock::now();
    scale_ = scale;
    stepped_ = stepped;
  }
  changed_.notify_all();
  Timers::Get().Poke();
}

double SimClock::Scale() {
  std::lock_guard<std::mutex> l(mu_);
  return scale_;
}

void SimClock::ResetScale() {
  SetStepped(false);
  SetScale(1.0);
}

void SimClock::SetStepped(bool on) { Rebase(Scale(), on); }

bool SimClock::Stepped() {
  std::lock_guard<std::mutex> l(mu_);
  return stepped_;
}

bool SimClock::CallAt(TimePoint when, std::function<void()> fn) {
  if (!Stepped()) return false;
  Timers::Get().At(when, std::move(fn));
  return true;
}

// A thread waiting on the clock, for its scope: counted in Waiters(), and
// stale from an Advance until it looks at the clock again.
class ClockWait {
 public:
  explicit ClockWait(SimClock& c) : c_(c) {
    std::lock_guard<std::mutex> l(c_.mu_);
    ++c_.waiters_;
    seen_ = c_.epoch_;
  }
  ~ClockWait() {
    std::lock_guard<std::mutex> l(c_.mu_);
    ObserveLocked();
    --c_.waiters_;
  }
  ClockWait(const ClockWait&) = delete;
  ClockWait& operator=(const ClockWait&) = delete;
  void ObserveLocked() {
    if (seen_ == c_.epoch_) return;
    seen_ = c_.epoch_;
    if (c_.stale_ > 0) --c_.stale_;
  }
  void Observe() {
    std::lock_guard<std::mutex> l(c_.mu_);
    ObserveLocked();
  }

 private:
  SimClock& c_;
  uint64_t seen_ = 0;
};

int SimClock::StaleWaiters() {
  std::lock_guard<std::mutex> l(mu_);
  return stale_;
}

void SimClock::Advance(Duration d) {
  if (d.count() <= 0) return;
  {
    std::lock_guard<std::mutex> l(mu_);
    sim_base_ += d;
    wall_offset_ += std::chrono::duration<double>(d).count();
    ++epoch_;
    stale_ = waiters_.load();
  }
  changed_.notify_all();
  Timers::Get().Poke();
}

void SimClock::SleepUntil(TimePoint deadline) {
  ClockWait counted(*this);
  std::unique_lock<std::mutex> l(mu_);
  while (true) {
    counted.ObserveLocked();
    TimePoint now = NowLocked();
    if (now >= deadline) return;
    changed_.wait_for(l, RealWait(deadline - now, scale_, stepped_));
  }
}

void SimClock::SleepFor(Duration d) {
  if (d.count() <= 0) return;
  SleepUntil(Now() + d);
}

bool SimClock::WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                         TimePoint deadline, const std::function<bool()>& pred) {
  ClockWait counted(*this);
  while (!pred()) {
    TimePoint now = Now();
    counted.Observe();
    if (now >= deadline) return pred();
    cv.wait_for(lock, RealWait(deadline - now, Scale(), Stepped()));
  }
  return true;
}

double SimClock::WallSeconds() {
  double offset;
  {
    std::lock_guard<std::mutex> l(mu_);
    offset = wall_offset_;
  }
  auto now = std::chrono::system_clock::now().time_since_epoch();
  return std::chrono::duration<double>(now).count() + offset;
}

SimClock& Clock() {
  static SimClock* clock = new SimClock();
  return *clock;
}

Timers& Timers::Get() {
  static Timers* timers = new Timers();
  return *timers;
}

Timers::Timers() = default;

void Timers::At(TimePoint when, std::function<void()> fn) {
  {
    std::lock_guard<std::mutex> l(mu_);
    entries_.push_back(Entry{when, std::move(fn)});
    if (!started_) {
      started_ = true;
      std::thread([this] { Run(); }).detach();
    }
  }
  cv_.notify_all();
}

void Timers::Poke() { cv_.notify_all(); }

void Timers::Run() {
  std::unique_lock<std::mutex> l(mu_);
  while (true) {
    TimePoint now = Clock().Now();
    std::vector<std::function<void()>> due;
    for (auto it = entries_.begin(); it != entries_.end();) {
      if (it->when <= now) {
        due.push_back(std::move(it->fn));
        it = entries_.erase(it);
      } else {
        ++it;
      }
    }
    if (!due.empty()) {
      l.unlock();
      for (auto& fn : due) fn();
      l.lock();
      continue;
    }
    if (entries_.empty()) {
      cv_.wait(l);
    } else {
      TimePoint next = entries_.front().when;
      for (const auto& e : entries_) next = std::min(next, e.when);
      cv_.wait_for(l, RealWait(next - now, Clock().Scale(), Clock().Stepped()));
    }
  }
}

}  // namespace sim
