#include "input/holds.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <set>

#include "platform/platform.h"

namespace addon {

namespace {

std::mutex g_input_sequence_mutex;
std::mutex g_hold_mutex;
std::condition_variable g_hold_cv;
bool g_input_shutdown = false;               // guarded by g_hold_mutex; never cleared
std::set<std::string> g_cancelled_sessions;  // guarded by g_hold_mutex; never shrinks

bool CancelledLocked(const std::string& key) {
  if (g_input_shutdown) return true;
  return !key.empty() && g_cancelled_sessions.count(key) != 0;
}

}  // namespace

std::mutex& InputSequenceMutex() { return g_input_sequence_mutex; }

bool InputHoldCancelledForSession(const std::string& session_key) {
  std::lock_guard<std::mutex> lock(g_hold_mutex);
  return CancelledLocked(session_key);
}

bool InputShutdown() {
  std::lock_guard<std::mutex> lock(g_hold_mutex);
  return g_input_shutdown;
}

bool WaitForInputHold(double seconds, const std::string& session_key) {
  platform::Clock& clock = platform::Get().clock();
  std::unique_lock<std::mutex> lock(g_hold_mutex);
  if (CancelledLocked(session_key)) return false;
  if (!(seconds > 0)) seconds = 0;  // NaN too
  seconds = std::min(seconds, kMaxHoldSeconds);
  const platform::TimePoint deadline =
      clock.Now() + std::chrono::duration_cast<platform::Duration>(
                        std::chrono::duration<double>(seconds));
  clock.WaitUntil(lock, g_hold_cv, deadline, [&] { return CancelledLocked(session_key); });
  return !CancelledLocked(session_key);
}

bool CancelInputHoldsForSession(const std::string& session_key) {
  if (session_key.empty()) return false;
  bool added;
  {
    std::lock_guard<std::mutex> lock(g_hold_mutex);
    added = g_cancelled_sessions.insert(session_key).second;
  }
  g_hold_cv.notify_all();
  return added;
}

bool CancelPendingInputs() {
  bool was_set;
  {
    std::lock_guard<std::mutex> lock(g_hold_mutex);
    was_set = g_input_shutdown;
    g_input_shutdown = true;
  }
  g_hold_cv.notify_all();
  return !was_set;
}

}  // namespace addon

namespace addon {

bool TryRunSynchronousInputSequence(const std::function<bool()>& sequence) {
  std::unique_lock<std::mutex> lock(g_input_sequence_mutex, std::try_to_lock);
  if (!lock.owns_lock() || InputShutdown()) return false;
  return sequence();
}

}  // namespace addon
