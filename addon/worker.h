// Asynchronous workers: Execute runs on the family's own pool thread and
// touches no JavaScript value; OnOK / OnError run on the host thread and
// settle the worker's promise. No family rejects: OnError resolves with the
// family's refusal value. While a worker is in flight it keeps the host alive
// (so its promise always settles); nothing is kept alive once it completes.
#pragma once

#include <napi.h>

#include <atomic>
#include <new>
#include <string>
#include <utility>

#include "admission.h"
#include "conventions.h"
#include "worker_pool.h"

namespace addon {

class KvAsyncWorker {
 public:
  KvAsyncWorker(Napi::Env env, const char* resource_name, WorkerFamily family);
  virtual ~KvAsyncWorker();
  KvAsyncWorker(const KvAsyncWorker&) = delete;
  KvAsyncWorker& operator=(const KvAsyncWorker&) = delete;

  Napi::Env Env() const { return env_; }
  Napi::Promise Promise() const { return deferred_.Promise(); }
  Napi::Promise::Deferred& Deferred() { return deferred_; }
  const char* resource_name() const { return resource_name_; }

  // Queues the worker. On false nothing was queued and the caller still owns
  // (and deletes) the worker. On true the machinery owns it and deletes it on
  // the host thread after OnOK / OnError.
  bool Queue();

 protected:
  virtual void Execute() = 0;
  virtual void OnOK() = 0;
  // Default: resolve with null.
  virtual void OnError(const std::string& error);
  // Called from Execute to route completion to OnError.
  void SetError(std::string error) { error_ = std::move(error); has_error_ = true; }

 private:
  static void CallJs(napi_env env, napi_value js_cb, void* context, void* data);
  void Complete();

  Napi::Env env_;
  Napi::Promise::Deferred deferred_;
  const char* resource_name_;
  WorkerFamily family_;
  napi_threadsafe_function tsfn_ = nullptr;
  std::string error_;
  bool has_error_ = false;
};

// The common steps of an asynchronous export: take an admission slot (when
// `counter` is given), allocate the worker without throwing, queue it, and
// answer its promise; any refusal answers `refusal` and gives the slot back.
// The worker's destructor must give the slot back (AdmissionSlot member).
template <class W, class... Args>
Napi::Value QueueAdmittedWorker(Napi::Env env, std::atomic<int>* counter, int limit,
                                Napi::Value refusal, Args&&... args) {
  if (counter && !TryAdmit(*counter, limit)) return refusal;
  W* worker = new (std::nothrow) W(env, counter, std::forward<Args>(args)...);
  if (!worker) {
    if (counter) ReleaseAdmission(*counter);
    return refusal;
  }
  Napi::Value promise = worker->Promise();
  if (!worker->Queue()) {
    delete worker;  // gives the slot back
    return refusal;
  }
  return promise;
}

}  // namespace addon
