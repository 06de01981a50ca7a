// Admission counters bound how many workers of a family are in flight. A slot
// is taken with a compare-and-swap loop before the worker exists and given
// back (never below zero) when the worker, or the last lease holder, lets go.
#pragma once

#include <atomic>
#include <memory>

namespace addon {

inline constexpr int kCaptureAppWorkerLimit = 16;
inline constexpr int kVerifiedWindowCaptureWorkerLimit = 2;
inline constexpr int kInputWorkerLimit = 8;
// Awaits of a provided paste's read: each may wait tens of seconds.
inline constexpr int kProvidedPasteReadWorkerLimit = 4;

extern std::atomic<int> g_capture_app_worker_count;
extern std::atomic<int> g_verified_window_capture_worker_count;
extern std::atomic<int> g_input_worker_count;
extern std::atomic<int> g_provided_paste_read_worker_count;

// Takes a slot while the counter is below `limit`.
bool TryAdmit(std::atomic<int>& counter, int limit);
// Gives a slot back; a counter already at zero stays at zero.
void ReleaseAdmission(std::atomic<int>& counter);

// A slot shared by a worker and the platform completions it starts. The slot
// is given back exactly once: by Release() or by the last holder's drop.
class WorkerAdmissionLease {
 public:
  explicit WorkerAdmissionLease(std::atomic<int>* counter) : counter_(counter) {}
  ~WorkerAdmissionLease() { Release(); }
  WorkerAdmissionLease(const WorkerAdmissionLease&) = delete;
  WorkerAdmissionLease& operator=(const WorkerAdmissionLease&) = delete;

  // Gives the slot back now (for example when a waiter gives up on a
  // completion that may never come). Later calls do nothing.
  void Release();
  bool released() const { return released_.load(); }

 private:
  std::atomic<int>* counter_;
  std::atomic<bool> released_{false};
};

using SharedAdmissionLease = std::shared_ptr<WorkerAdmissionLease>;

// Holds one slot for a scope unless Dismiss()ed.
class AdmissionSlot {
 public:
  explicit AdmissionSlot(std::atomic<int>* counter) : counter_(counter) {}
  ~AdmissionSlot() {
    if (counter_) ReleaseAdmission(*counter_);
  }
  AdmissionSlot(const AdmissionSlot&) = delete;
  AdmissionSlot& operator=(const AdmissionSlot&) = delete;
  std::atomic<int>* Dismiss() {
    auto* c = counter_;
    counter_ = nullptr;
    return c;
  }

 private:
  std::atomic<int>* counter_;
};

}  // namespace addon
