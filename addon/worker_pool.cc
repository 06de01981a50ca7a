#include "worker_pool.h"

#include <chrono>
#include <system_error>
#include <thread>

#include "admission.h"

namespace addon {

namespace {
// Idle threads linger briefly so bursts reuse them, then exit.
constexpr auto kIdleExit = std::chrono::seconds(5);
}  // namespace

WorkerPool::WorkerPool(const char* name, size_t max_threads)
    : name_(name), max_threads_(max_threads == 0 ? 1 : max_threads) {}

size_t WorkerPool::thread_count() {
  std::lock_guard<std::mutex> lock(mu_);
  return threads_;
}

bool WorkerPool::Submit(std::function<void()> job) {
  std::unique_lock<std::mutex> lock(mu_);
  jobs_.push_back(std::move(job));
  if (idle_ >= jobs_.size()) {
    cv_.notify_one();
    return true;
  }
  if (threads_ < max_threads_) {
    ++threads_;
    try {
      std::thread(&WorkerPool::ThreadMain, this).detach();
    } catch (const std::system_error&) {
      --threads_;
      if (threads_ == 0) {
        jobs_.pop_back();
        return false;
      }
    }
  }
  cv_.notify_one();
  return true;
}

void WorkerPool::ThreadMain() {
  std::unique_lock<std::mutex> lock(mu_);
  for (;;) {
    ++idle_;
    bool got = cv_.wait_for(lock, kIdleExit, [this] { return !jobs_.empty(); });
    --idle_;
    if (!got) {
      --threads_;
      return;
    }
    auto job = std::move(jobs_.front());
    jobs_.pop_front();
    lock.unlock();
    job();
    lock.lock();
  }
}

WorkerPool& PoolFor(WorkerFamily family) {
  // Each family's thread cap equals its admission limit; families without a
  // limit share a generous general pool.
  static WorkerPool* capture = new WorkerPool("capture", kCaptureAppWorkerLimit);
  static WorkerPool* verified = new WorkerPool("verified-capture", kVerifiedWindowCaptureWorkerLimit);
  static WorkerPool* input = new WorkerPool("input", kInputWorkerLimit);
  static WorkerPool* paste = new WorkerPool("provided-paste", kProvidedPasteReadWorkerLimit);
  static WorkerPool* general = new WorkerPool("general", 32);
  switch (family) {
    case WorkerFamily::kCapture: return *capture;
    case WorkerFamily::kVerifiedCapture: return *verified;
    case WorkerFamily::kInput: return *input;
    case WorkerFamily::kProvidedPaste: return *paste;
    case WorkerFamily::kGeneral: break;
  }
  return *general;
}

}  // namespace addon
