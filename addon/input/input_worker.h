// The input worker: runs one queued keyboard (or drag) sequence on the input
// family's threads and settles its promise with a boolean or, for verified
// requests, an outcome object {ok, error}. At most 8 are in flight; one
// sequence posts at a time (a worker that finds another running answers
// "input_busy" instead of waiting); a worker that did not start within 2
// seconds of being queued answers "input_expired".
#pragma once

#include <napi.h>

#include <functional>
#include <string>

#include "platform/clock.h"

namespace addon {

inline constexpr auto kInputStartDeadline = std::chrono::seconds(2);

struct InputOutcome {
  bool ok = false;
  std::string error;  // empty when ok
};

// What a worker does once it runs (worker thread): the start deadline, the
// sequence mutex, the shutdown flag, then the work; a false work result is
// "cancelled" when the cancel check says so, else "rejected".
InputOutcome RunInputWork(platform::TimePoint deadline, const std::function<bool()>& work,
                          const std::function<bool()>& cancel_check);

// The refusals of the input family: {ok: false, error} for verified requests,
// false for the others.
Napi::Value ResolvedInputOutcomePromise(Napi::Env env, const char* error);
Napi::Value InputRefusal(Napi::Env env, bool verified, const char* error);

// Admits, creates and queues an input worker (host thread); answers its
// promise or an already settled refusal ("input_busy", "worker_error").
// ghost_kind 0 leaves the ghost cursor alone; 1 (typing, holding) and 2
// (pressing) begin an action session now and end it when the worker settles.
Napi::Value QueueInputWorker(Napi::Env env, bool verified, std::function<bool()> work,
                             std::function<bool()> cancel_check, int ghost_kind);

}  // namespace addon
