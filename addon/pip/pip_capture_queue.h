// A panel's serial capture queue: one thread running posted tasks in order
// and, optionally, a repeating timer measured on the platform clock. The
// thread is detached and ends soon after Shutdown(); it never keeps the host
// alive.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/clock.h"

namespace pip {

class PipCaptureQueue {
 public:
  explicit PipCaptureQueue(std::string label);
  ~PipCaptureQueue();
  const std::string& label() const { return label_; }
  void Async(std::function<void()> task);
  // Fires `fn` at once and then every `interval` until cancelled; replaces
  // any earlier timer.
  void StartTimer(platform::Duration interval, std::function<void()> fn);
  // Drops pending work and the timer; the thread ends after the task it may
  // be running.
  void Shutdown();

 private:
  struct State;
  static void Run(std::shared_ptr<State> s);
  std::string label_;
  std::shared_ptr<State> state_;
};

}  // namespace pip
