// The main queue and the run-loop pump on a real libuv loop standing in for
// the host's.
#include <gtest/gtest.h>
#include <uv.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "main_queue.h"
#include "pump.h"

namespace addon {
namespace {

uv_loop_t* Loop() {
  static bool once = [] {
    RecordMainThreadLoop(uv_default_loop());
    return true;
  }();
  (void)once;
  return uv_default_loop();
}

// A referenced handle standing in for the in-flight worker that keeps the
// host loop alive while it waits.
struct KeepAlive {
  uv_async_t handle;
  explicit KeepAlive(uv_loop_t* loop) { uv_async_init(loop, &handle, nullptr); }
  ~KeepAlive() {
    uv_close(reinterpret_cast<uv_handle_t*>(&handle), nullptr);
    uv_run(handle.loop, UV_RUN_NOWAIT);
  }
};

TEST(MainQueue, WorkerCallRunsOnTheHostThreadAndReturns) {
  uv_loop_t* loop = Loop();
  EnsureMainQueueOnHostLoop();
  KeepAlive alive(loop);
  std::thread::id ran_on;
  std::atomic<bool> returned{false};
  std::thread worker([&] {
    RunOnMainThreadSync([&] { ran_on = std::this_thread::get_id(); });
    returned = true;
  });
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!returned && std::chrono::steady_clock::now() < until) uv_run(loop, UV_RUN_NOWAIT);
  worker.join();
  EXPECT_TRUE(returned.load());
  EXPECT_EQ(ran_on, std::this_thread::get_id());
}

TEST(MainQueue, HostThreadCallRunsInline) {
  Loop();
  bool ran = false;
  RunOnMainThreadSync([&] { ran = true; });
  EXPECT_TRUE(ran);
  EXPECT_TRUE(PipRunOnMainSync([] { return true; }));
  EXPECT_FALSE(PipRunOnMainSync([] { return false; }));
}

TEST(MainQueue, DelayedWorkRunsWithoutKeepingTheLoopAlive) {
  uv_loop_t* loop = Loop();
  bool ran = false;
  PostToMainAfter(1, [&] { ran = true; });
  // Only unreferenced handles: the loop returns at once instead of waiting.
  auto start = std::chrono::steady_clock::now();
  uv_run(loop, UV_RUN_DEFAULT);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  KeepAlive alive(loop);
  while (!ran && std::chrono::steady_clock::now() < until) uv_run(loop, UV_RUN_ONCE);
  EXPECT_TRUE(ran);
}

TEST(Pump, LeasesKeepTheTimerRunningUntilTheLastIsReleased) {
  uv_loop_t* loop = Loop();
  ghost_appkit_pump_acquire();
  ghost_appkit_pump_acquire();
  EXPECT_TRUE(GetPumpState().timer_started);
  ghost_appkit_pump_release();
  EXPECT_TRUE(GetPumpState().timer_started);
  EXPECT_EQ(GetPumpState().leases, 1);
  ghost_appkit_pump_release();
  EXPECT_FALSE(GetPumpState().timer_started);
  ghost_appkit_pump_release();  // no lease left: stays at zero
  EXPECT_EQ(GetPumpState().leases, 0);
  EXPECT_TRUE(GetPumpState().prepare_started);
  EXPECT_TRUE(GetPumpState().overlay_timers_initialized);
  (void)loop;
}

TEST(Pump, StartedPumpNeverKeepsTheHostAlive) {
  uv_loop_t* loop = Loop();
  ghost_ensure_nsapp();
  ghost_appkit_pump_acquire();
  auto start = std::chrono::steady_clock::now();
  uv_run(loop, UV_RUN_DEFAULT);  // returns: every pump handle is unreferenced
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
  ghost_appkit_pump_release();
}

TEST(Pump, APassWithNothingPendingDispatchesNothing) {
  Loop();
  EXPECT_EQ(DrainMainQueue(), 0u);
  PumpNSRunLoop(nullptr);
  EXPECT_EQ(DrainMainQueue(), 0u);
  int ran = 0;
  PostToMain([&] { ++ran; });
  PumpNSRunLoop(nullptr);
  EXPECT_EQ(ran, 1);
}

}  // namespace
}  // namespace addon
