// Worker families run on their own threads: long work of one family cannot
// delay a deadline-bound job of another.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "worker_pool.h"

namespace addon {
namespace {

using Clock = std::chrono::steady_clock;

struct Gate {
  std::mutex mu;
  std::condition_variable cv;
  bool open = false;
  int entered = 0;
  int left = 0;
  void Enter() {
    std::unique_lock<std::mutex> lock(mu);
    ++entered;
    cv.notify_all();
    cv.wait(lock, [&] { return open; });
    ++left;
    cv.notify_all();
  }
  // Opens the gate and waits until every job that entered has left it, so
  // the gate can go out of scope safely.
  bool OpenAndDrain(std::chrono::milliseconds bound) {
    std::unique_lock<std::mutex> lock(mu);
    open = true;
    cv.notify_all();
    return cv.wait_for(lock, bound, [&] { return left >= entered; });
  }
  bool WaitEntered(int n, std::chrono::milliseconds bound) {
    std::unique_lock<std::mutex> lock(mu);
    return cv.wait_for(lock, bound, [&] { return entered >= n; });
  }
  void Open() {
    std::lock_guard<std::mutex> lock(mu);
    open = true;
    cv.notify_all();
  }
};

TEST(WorkerPool, InputStartsInTimeWhileEveryCaptureThreadIsBlocked) {
  Gate gate;
  WorkerPool& capture = PoolFor(WorkerFamily::kCapture);
  for (size_t i = 0; i < capture.max_threads(); ++i) ASSERT_TRUE(capture.Submit([&] { gate.Enter(); }));
  ASSERT_TRUE(gate.WaitEntered(static_cast<int>(capture.max_threads()), std::chrono::seconds(10)));

  // A queued input must start well inside its 2-second start deadline.
  std::mutex mu;
  std::condition_variable cv;
  bool started = false;
  auto queued = Clock::now();
  ASSERT_TRUE(PoolFor(WorkerFamily::kInput).Submit([&] {
    std::lock_guard<std::mutex> lock(mu);
    started = true;
    cv.notify_all();
  }));
  {
    std::unique_lock<std::mutex> lock(mu);
    ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(2), [&] { return started; }));
  }
  EXPECT_LT(Clock::now() - queued, std::chrono::milliseconds(500));
  EXPECT_TRUE(gate.OpenAndDrain(std::chrono::seconds(10)));
}

TEST(WorkerPool, AFamilyNeverRunsMoreThanItsCapAtOnce) {
  // Leaked on purpose: idle pool threads outlive the test for a while.
  WorkerPool& pool = *new WorkerPool("test", 2);
  Gate gate;
  std::atomic<int> running{0}, peak{0}, done{0};
  for (int i = 0; i < 5; ++i) {
    ASSERT_TRUE(pool.Submit([&] {
      int now = running.fetch_add(1) + 1;
      int p = peak.load();
      while (now > p && !peak.compare_exchange_weak(p, now)) {
      }
      gate.Enter();
      running.fetch_sub(1);
      done.fetch_add(1);
    }));
  }
  ASSERT_TRUE(gate.WaitEntered(2, std::chrono::seconds(10)));
  EXPECT_EQ(pool.thread_count(), 2u);
  gate.Open();
  auto until = Clock::now() + std::chrono::seconds(10);
  while (done.load() < 5 && Clock::now() < until) std::this_thread::yield();
  EXPECT_EQ(done.load(), 5);
  EXPECT_EQ(peak.load(), 2);
}

}  // namespace
}  // namespace addon
