#include "main_queue.h"

#include <uv.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/platform.h"

namespace addon {

namespace {

std::thread::id g_main_thread_id;
std::atomic<bool> g_main_thread_known{false};
uv_loop_t* g_loop = nullptr;

// Never destroyed: detached threads (the visibility probe, worker pools) may
// still post while the process runs its static destructors at exit.
struct PendingQueue {
  std::mutex mutex;
  std::deque<std::function<void()>> jobs;
};
PendingQueue& Pending() {
  static PendingQueue* q = new PendingQueue();
  return *q;
}
uv_async_t* g_queue_async = nullptr;  // host thread only; lives for the process
std::atomic<bool> g_queue_ready{false};

void OnQueueAsync(uv_async_t*) { DrainMainQueue(); }

void Wake() {
  if (g_queue_ready.load()) uv_async_send(g_queue_async);
}

struct DelayedTask {
  uv_timer_t timer;
  std::function<void()> fn;
};

void StartDelayed(uint64_t delay_ms, std::function<void()> fn) {
  auto* task = new DelayedTask{};
  task->fn = std::move(fn);
  uv_timer_init(g_loop, &task->timer);
  uv_unref(reinterpret_cast<uv_handle_t*>(&task->timer));
  task->timer.data = task;
  uv_timer_start(
      &task->timer,
      [](uv_timer_t* t) {
        auto* task = static_cast<DelayedTask*>(t->data);
        auto fn = std::move(task->fn);
        uv_close(reinterpret_cast<uv_handle_t*>(t),
                 [](uv_handle_t* h) { delete static_cast<DelayedTask*>(h->data); });
        if (fn) fn();
      },
      delay_ms, 0);
}

}  // namespace

void RecordMainThreadLoop(uv_loop_t* loop) {
  if (!g_main_thread_known.load()) {
    g_main_thread_id = std::this_thread::get_id();
    g_main_thread_known.store(true);
  }
  if (!g_loop) g_loop = loop;
}

void RecordMainThread(napi_env env) {
  uv_loop_t* loop = nullptr;
  napi_get_uv_event_loop(env, &loop);
  RecordMainThreadLoop(loop);
}

uv_loop_t* HostLoop() { return g_loop ? g_loop : uv_default_loop(); }

bool IsMainThread() {
  return g_main_thread_known.load() && std::this_thread::get_id() == g_main_thread_id;
}

void EnsureMainQueue(napi_env env) {
  if (g_queue_ready.load()) return;
  RecordMainThread(env);
  EnsureMainQueueOnHostLoop();
}

void EnsureMainQueueOnHostLoop() {
  if (g_queue_ready.load()) return;
  if (!g_loop || !IsMainThread()) return;
  g_queue_async = new uv_async_t{};
  if (uv_async_init(g_loop, g_queue_async, OnQueueAsync) != 0) {
    delete g_queue_async;
    g_queue_async = nullptr;
    return;
  }
  uv_unref(reinterpret_cast<uv_handle_t*>(g_queue_async));
  g_queue_ready.store(true);
  // Work posted before the handle existed.
  Wake();
}

size_t DrainMainQueue() {
  size_t ran = 0;
  for (;;) {
    std::function<void()> fn;
    {
      PendingQueue& q = Pending();
      std::lock_guard<std::mutex> lock(q.mutex);
      if (q.jobs.empty()) break;
      fn = std::move(q.jobs.front());
      q.jobs.pop_front();
    }
    fn();
    ++ran;
  }
  return ran;
}

void PostToMain(std::function<void()> fn) {
  {
    PendingQueue& q = Pending();
    std::lock_guard<std::mutex> lock(q.mutex);
    q.jobs.push_back(std::move(fn));
  }
  Wake();
}

void RunOnMainThreadSync(const std::function<void()>& fn) {
  if (IsMainThread() || !g_main_thread_known.load()) {
    fn();
    return;
  }
  struct Wait {
    std::mutex mu;
    std::condition_variable cv;
    bool done = false;
  };
  auto wait = std::make_shared<Wait>();
  PostToMain([wait, &fn] {
    fn();
    std::lock_guard<std::mutex> lock(wait->mu);
    wait->done = true;
    wait->cv.notify_all();
  });
  std::unique_lock<std::mutex> lock(wait->mu);
  wait->cv.wait(lock, [&] { return wait->done; });
}

bool PipRunOnMainSync(const std::function<bool()>& fn) {
  bool result = false;
  RunOnMainThreadSync([&] { result = fn(); });
  return result;
}

void PostToMainAfter(uint64_t delay_ms, std::function<void()> fn) {
  // A clock that tests step fires the delay on its steps; otherwise a host
  // loop timer measures it in real time.
  platform::Clock& clock = platform::Get().clock();
  const auto due =
      clock.Now() + std::chrono::milliseconds(std::min<uint64_t>(delay_ms, 1ull << 40));
  if (clock.CallAt(due, [fn]() mutable { PostToMain(std::move(fn)); })) return;
  if (IsMainThread() && g_loop) {
    StartDelayed(delay_ms, std::move(fn));
    return;
  }
  PostToMain([delay_ms, fn = std::move(fn)]() mutable { StartDelayed(delay_ms, std::move(fn)); });
}

}  // namespace addon
