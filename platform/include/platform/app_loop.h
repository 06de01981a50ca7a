// The application event loop of the host's main thread: pending application
// events and one non-blocking turn of the platform run loop.
#pragma once

namespace platform {

class AppLoop {
 public:
  virtual ~AppLoop() = default;
  // Shared application object set-up: activation policy accessory, launched.
  virtual void EnsureApplication() = 0;
  // Dequeues and dispatches one pending application event; false when none.
  virtual bool DispatchNextEvent() = 0;
  // Runs the platform run loop once with a zero time-out (timers, sources).
  virtual void RunOnce() = 0;
};

}  // namespace platform
