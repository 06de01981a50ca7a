// The main queue: tasks that must run on the host thread (the platform's main
// thread). Worker threads post to it and may wait for the result. It is
// drained from the host loop by an unreferenced async handle whenever work is
// pending, and by the run-loop pump on every turn, so posted work runs even
// when no overlay or panel ever started the pump timer.
#pragma once

#include <node_api.h>
#include <uv.h>

#include <cstdint>
#include <functional>

namespace addon {

// Records the calling thread as the host (main) thread and the host loop.
void RecordMainThread(napi_env env);
void RecordMainThreadLoop(uv_loop_t* loop);
// The host loop recorded above (the default loop before any record).
uv_loop_t* HostLoop();
bool IsMainThread();

// Host thread: creates the unreferenced async handle that drains the queue
// (idempotent; nothing happens before the first call).
void EnsureMainQueue(napi_env env);
void EnsureMainQueueOnHostLoop();

// Runs fn on the main thread and waits for it; inline when already there.
void RunOnMainThreadSync(const std::function<void()>& fn);
// The same for a block answering a boolean.
bool PipRunOnMainSync(const std::function<bool()>& fn);
// Posts fn to the main thread without waiting.
void PostToMain(std::function<void()> fn);
// Runs fn on the main thread after delay_ms (an unreferenced timer).
void PostToMainAfter(uint64_t delay_ms, std::function<void()> fn);

// Host thread: runs every task posted so far. Answers how many ran.
size_t DrainMainQueue();

}  // namespace addon
