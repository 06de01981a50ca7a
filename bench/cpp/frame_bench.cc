// Main-queue round trip from a worker thread (RunOnMainThreadSync) against
// the plain libuv async round trip it is built on.
#include <benchmark/benchmark.h>
#include <uv.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "admission.h"
#include "main_queue.h"

namespace {

struct Host {
  uv_loop_t loop;
  uv_async_t keepalive;  // referenced: keeps the host loop running
  uv_async_t ping;       // the plain round trip's async handle
  std::mutex mu;
  std::condition_variable cv;
  uint64_t pongs = 0;
  std::thread thread;
  bool ready = false;

  Host() {
    thread = std::thread([this] {
      uv_loop_init(&loop);
      uv_async_init(&loop, &keepalive, [](uv_async_t*) {});
      ping.data = this;
      uv_async_init(&loop, &ping, [](uv_async_t* h) {
        auto* host = static_cast<Host*>(h->data);
        std::lock_guard<std::mutex> lock(host->mu);
        ++host->pongs;
        host->cv.notify_all();
      });
      addon::RecordMainThreadLoop(&loop);
      addon::EnsureMainQueueOnHostLoop();
      {
        std::lock_guard<std::mutex> lock(mu);
        ready = true;
        cv.notify_all();
      }
      uv_run(&loop, UV_RUN_DEFAULT);
    });
    std::unique_lock<std::mutex> lock(mu);
    cv.wait(lock, [this] { return ready; });
  }
};

Host& TheHost() {
  static Host* host = new Host();  // runs for the life of the process
  return *host;
}

void BM_MainQueueRoundTrip(benchmark::State& state) {
  TheHost();
  for (auto _ : state) {
    addon::RunOnMainThreadSync([] {});
  }
}
BENCHMARK(BM_MainQueueRoundTrip)->UseRealTime();

void BM_UvAsyncRoundTrip(benchmark::State& state) {
  Host& host = TheHost();
  for (auto _ : state) {
    std::unique_lock<std::mutex> lock(host.mu);
    uint64_t want = host.pongs + 1;
    uv_async_send(&host.ping);
    host.cv.wait(lock, [&] { return host.pongs >= want; });
  }
}
BENCHMARK(BM_UvAsyncRoundTrip)->UseRealTime();

}  // namespace


namespace {

// Admission: one compare-and-swap admission plus its release against a plain
// atomic increment and decrement.
void BM_AdmissionTakeAndRelease(benchmark::State& state) {
  std::atomic<int> counter{0};
  for (auto _ : state) {
    benchmark::DoNotOptimize(addon::TryAdmit(counter, addon::kCaptureAppWorkerLimit));
    addon::ReleaseAdmission(counter);
  }
}
BENCHMARK(BM_AdmissionTakeAndRelease);

void BM_PlainAtomicIncrementDecrement(benchmark::State& state) {
  std::atomic<int> counter{0};
  for (auto _ : state) {
    benchmark::DoNotOptimize(counter.fetch_add(1));
    counter.fetch_sub(1);
  }
}
BENCHMARK(BM_PlainAtomicIncrementDecrement);

}  // namespace
