#include "admission.h"

namespace addon {

std::atomic<int> g_capture_app_worker_count{0};
std::atomic<int> g_verified_window_capture_worker_count{0};
std::atomic<int> g_input_worker_count{0};
std::atomic<int> g_provided_paste_read_worker_count{0};

bool TryAdmit(std::atomic<int>& counter, int limit) {
  int current = counter.load();
  while (current < limit) {
    if (counter.compare_exchange_weak(current, current + 1)) return true;
  }
  return false;
}

void ReleaseAdmission(std::atomic<int>& counter) {
  int current = counter.load();
  while (current > 0) {
    if (counter.compare_exchange_weak(current, current - 1)) return;
  }
}

void WorkerAdmissionLease::Release() {
  bool expected = false;
  if (released_.compare_exchange_strong(expected, true) && counter_) ReleaseAdmission(*counter_);
}

}  // namespace addon
