#include "pip/pip_capture_queue.h"

#include <thread>

#include "platform/platform.h"

namespace pip {

struct PipCaptureQueue::State {
  std::mutex mu;
  std::condition_variable cv;
  std::deque<std::function<void()>> tasks;
  std::function<void()> timer;
  platform::Duration interval{0};
  platform::TimePoint next_fire{};
  uint64_t timer_epoch = 0;
  bool shutdown = false;
};

PipCaptureQueue::PipCaptureQueue(std::string label)
    : label_(std::move(label)), state_(std::make_shared<State>()) {
  std::thread(Run, state_).detach();
}

PipCaptureQueue::~PipCaptureQueue() { Shutdown(); }

void PipCaptureQueue::Async(std::function<void()> task) {
  {
    std::lock_guard<std::mutex> l(state_->mu);
    if (state_->shutdown) return;
    state_->tasks.push_back(std::move(task));
  }
  state_->cv.notify_all();
}

void PipCaptureQueue::StartTimer(platform::Duration interval, std::function<void()> fn) {
  {
    std::lock_guard<std::mutex> l(state_->mu);
    if (state_->shutdown) return;
    state_->timer = std::move(fn);
    state_->interval = interval;
    state_->next_fire = platform::Get().clock().Now();
    state_->timer_epoch++;
  }
  state_->cv.notify_all();
}

void PipCaptureQueue::Shutdown() {
  {
    std::lock_guard<std::mutex> l(state_->mu);
    state_->shutdown = true;
    state_->tasks.clear();
    state_->timer = nullptr;
  }
  state_->cv.notify_all();
}

void PipCaptureQueue::Run(std::shared_ptr<State> s) {
  platform::Clock& clock = platform::Get().clock();
  std::unique_lock<std::mutex> l(s->mu);
  for (;;) {
    if (s->shutdown) return;
    if (!s->tasks.empty()) {
      auto task = std::move(s->tasks.front());
      s->tasks.pop_front();
      l.unlock();
      task();
      task = nullptr;  // captured state is released off the lock
      l.lock();
      continue;
    }
    if (s->timer && clock.Now() >= s->next_fire) {
      auto fn = s->timer;
      s->next_fire = clock.Now() + s->interval;
      l.unlock();
      fn();
      fn = nullptr;
      l.lock();
      continue;
    }
    // Wake at the next fire or on new work; a far deadline when no timer.
    platform::TimePoint deadline =
        s->timer ? s->next_fire : clock.Now() + std::chrono::seconds(3600);
    uint64_t epoch = s->timer_epoch;
    clock.WaitUntil(l, s->cv, deadline, [&] {
      return s->shutdown || !s->tasks.empty() || s->timer_epoch != epoch;
    });
  }
}

}  // namespace pip
