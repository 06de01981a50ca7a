// Dedicated thread pools for worker families. Work of one family never waits
// behind another family's long jobs: a family whose admission limit is N has
// up to N threads of its own, so a 12-second capture or a 30-second key hold
// cannot delay queued input past its start deadline the way one small shared
// pool would.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>

namespace addon {

class WorkerPool {
 public:
  WorkerPool(const char* name, size_t max_threads);
  // Runs job on a pool thread, starting a new thread when none is idle and
  // fewer than max_threads exist; otherwise the job waits for a free thread.
  // Answers false when no thread could be started and none exists.
  bool Submit(std::function<void()> job);

  size_t max_threads() const { return max_threads_; }
  size_t thread_count();
  const char* name() const { return name_; }

 private:
  void ThreadMain();

  const char* name_;
  size_t max_threads_;
  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> jobs_;
  size_t threads_ = 0;
  size_t idle_ = 0;
};

enum class WorkerFamily { kCapture, kVerifiedCapture, kInput, kProvidedPaste, kGeneral };

// The process-wide pool of a family (never destroyed, so threads that are
// still running at process exit never touch a destroyed pool).
WorkerPool& PoolFor(WorkerFamily family);

}  // namespace addon
