#include "worker.h"

#include "main_queue.h"

namespace addon {

KvAsyncWorker::KvAsyncWorker(Napi::Env env, const char* resource_name, WorkerFamily family)
    : env_(env), deferred_(Napi::Promise::Deferred::New(env)), resource_name_(resource_name),
      family_(family) {}

KvAsyncWorker::~KvAsyncWorker() = default;

void KvAsyncWorker::OnError(const std::string&) { deferred_.Resolve(env_.Null()); }

bool KvAsyncWorker::Queue() {
  // Workers may post to the main queue: make sure the host loop drains it.
  EnsureMainQueue(env_);
  napi_value name;
  if (napi_create_string_utf8(env_, resource_name_, NAPI_AUTO_LENGTH, &name) != napi_ok) {
    return false;
  }
  if (napi_create_threadsafe_function(env_, nullptr, nullptr, name, 0, 1, nullptr, nullptr, this,
                                      &KvAsyncWorker::CallJs, &tsfn_) != napi_ok) {
    tsfn_ = nullptr;
    if (env_.IsExceptionPending()) env_.GetAndClearPendingException();
    return false;
  }
  bool submitted = PoolFor(family_).Submit([this] {
    Execute();
    // Hand completion to the host thread. If the environment is closing the
    // worker can no longer touch JavaScript and is left to the process end.
    // Once the call is queued the host thread may delete the worker at any
    // moment, so the handle is read before and never through `this` after.
    napi_threadsafe_function tsfn = tsfn_;
    napi_call_threadsafe_function(tsfn, this, napi_tsfn_nonblocking);
    napi_release_threadsafe_function(tsfn, napi_tsfn_release);
  });
  if (!submitted) {
    napi_release_threadsafe_function(tsfn_, napi_tsfn_abort);
    tsfn_ = nullptr;
    return false;
  }
  return true;
}

void KvAsyncWorker::CallJs(napi_env env, napi_value, void*, void* data) {
  auto* worker = static_cast<KvAsyncWorker*>(data);
  if (env == nullptr || worker == nullptr) return;
  worker->Complete();
  delete worker;
}

void KvAsyncWorker::Complete() {
  Napi::HandleScope scope(env_);
  if (has_error_) {
    OnError(error_);
  } else {
    OnOK();
  }
  if (env_.IsExceptionPending()) {
    // A conversion failed half-way: never leave the promise pending.
    Napi::Error e = env_.GetAndClearPendingException();
    OnError(e.Message());
  }
}

}  // namespace addon
