#include "sim/sim_clock.h"

#include <algorithm>

namespace sim {

using platform::Duration;
using platform::TimePoint;

namespace {
// Longest real-time slice a sleeper waits before re-reading the clock, so a
// jump of the clock or a change of scale is noticed promptly.
constexpr auto kSlice = std::chrono::milliseconds(20);
}  // namespace

SimClock::SimClock() {
  real_base_ = std::chrono::steady_clock::now();
  sim_base_ = TimePoint(std::chrono::duration_cast<Duration>(real_base_.time_since_epoch()));
}

TimePoint SimClock::NowLocked() {
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
  {
    std::lock_guard<std::mutex> l(mu_);
    sim_base_ = NowLocked();
    real_base_ = std::chrono::steady_clock::now();
    scale_ = k;
  }
  changed_.notify_all();
  Timers::Get().Poke();
}

double SimClock::Scale() {
  std::lock_guard<std::mutex> l(mu_);
  return scale_;
}

void SimClock::ResetScale() { SetScale(1.0); }

void SimClock::Advance(Duration d) {
  if (d.count() <= 0) return;
  {
    std::lock_guard<std::mutex> l(mu_);
    sim_base_ += d;
    wall_offset_ += std::chrono::duration<double>(d).count();
  }
  changed_.notify_all();
  Timers::Get().Poke();
}

void SimClock::SleepUntil(TimePoint deadline) {
  std::unique_lock<std::mutex> l(mu_);
  while (true) {
    TimePoint now = NowLocked();
    if (now >= deadline) return;
    double real_ns = static_cast<double>((deadline - now).count()) / scale_;
    auto wait = std::chrono::nanoseconds(static_cast<int64_t>(real_ns) + 1);
    changed_.wait_for(l, std::min<std::chrono::nanoseconds>(wait, kSlice));
  }
}

void SimClock::SleepFor(Duration d) {
  if (d.count() <= 0) return;
  SleepUntil(Now() + d);
}

bool SimClock::WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                         TimePoint deadline, const std::function<bool()>& pred) {
  while (!pred()) {
    TimePoint now = Now();
    if (now >= deadline) return pred();
    double real_ns = static_cast<double>((deadline - now).count()) / Scale();
    auto wait = std::chrono::nanoseconds(static_cast<int64_t>(real_ns) + 1);
    cv.wait_for(lock, std::min<std::chrono::nanoseconds>(wait, kSlice));
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
      double real_ns = static_cast<double>((next - now).count()) / Clock().Scale();
      auto wait = std::chrono::nanoseconds(static_cast<int64_t>(real_ns) + 1);
      cv_.wait_for(l, std::min<std::chrono::nanoseconds>(wait, kSlice));
    }
  }
}

}  // namespace sim
