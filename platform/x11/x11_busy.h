// Time spent inside the backend's service calls (outermost call per thread
// only), so a benchmark can tell the core's share of a capture from the
// backend's.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace x11 {

std::atomic<int64_t>& BusyNsCounter();
inline int64_t BackendBusyNs() { return BusyNsCounter().load(std::memory_order_relaxed); }

class BusyTimer {
 public:
  BusyTimer() {
    if (++depth() == 1) start_ = std::chrono::steady_clock::now();
  }
  ~BusyTimer() {
    if (--depth() == 0)
      BusyNsCounter().fetch_add(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                    std::chrono::steady_clock::now() - start_).count(),
                                std::memory_order_relaxed);
  }
  BusyTimer(const BusyTimer&) = delete;
  BusyTimer& operator=(const BusyTimer&) = delete;

 private:
  static int& depth() {
    thread_local int d = 0;
    return d;
  }
  std::chrono::steady_clock::time_point start_;
};

}  // namespace x11
