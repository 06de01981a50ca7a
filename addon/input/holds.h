// Input sequencing and hold cancellation shared by every keyboard and mouse
// sequence: the input sequence mutex (one sequence posts at a time), the
// permanent shutdown flag and the cancelled hold-session keys.
#pragma once

#include <functional>
#include <mutex>
#include <string>

namespace addon {

inline constexpr double kMaxHoldSeconds = 30.0;

// Held for a whole event sequence; taken with try_lock, never waited for.
std::mutex& InputSequenceMutex();

// True when input was shut down, or the (non-empty) key was cancelled.
bool InputHoldCancelledForSession(const std::string& session_key);
bool InputShutdown();
// Waits `seconds` (clamped to 0..30) on the platform clock; false as soon as
// input is shut down or the key is cancelled.
bool WaitForInputHold(double seconds, const std::string& session_key);
// Adds the key to the cancelled set for the life of the process and wakes
// every hold; answers whether it was newly added. Empty keys are refused.
bool CancelInputHoldsForSession(const std::string& session_key);
// Sets the permanent shutdown flag and wakes every hold; answers whether it
// was not set before.
bool CancelPendingInputs();

}  // namespace addon

namespace addon {

// Runs a synchronous (host-thread) input sequence: false at once when another
// sequence holds the input sequence mutex or input was shut down.
bool TryRunSynchronousInputSequence(const std::function<bool()>& sequence);

}  // namespace addon
