// openApplicationInBackground(Async): launch an application without bringing
// it to the front. The platform answers on any thread, once, late or never;
// the asynchronous form carries that answer to the host thread through a
// thread-safe function, delivering at most once.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "common/text.h"
#include "conventions.h"
#include "exports.h"
#include "log.h"
#include "platform/platform.h"

namespace addon {

namespace {

constexpr size_t kMaxOpenArgumentBytes = 4096;

void LogCompletionError(int64_t code) {
  LogLine("[Vantor][background-app-open] completion_error=" + std::to_string(code));
}

// Each argument must be a string, null or absent; strings are copied, the
// rest become empty. False on any other type.
bool ReadOpenArgument(const Napi::CallbackInfo& info, size_t i, std::string* out) {
  if (i >= info.Length() || IsNullish(info[i])) return true;
  if (!info[i].IsString()) return false;
  *out = info[i].As<Napi::String>().Utf8Value();
  return true;
}

// The application's location: its bundle identifier first, then its name.
std::string LocateApplication(const std::string& bundle_id, const std::string& name) {
  auto& ws = platform::Get().workspace();
  if (!bundle_id.empty()) {
    std::string url = ws.UrlForApplicationWithBundleId(bundle_id);
    if (!url.empty()) return url;
  }
  if (!name.empty()) {
    std::string path = ws.FullPathForApplication(name);
    if (!path.empty()) return common::FileUrlOfPath(path);
  }
  return std::string();
}

platform::OpenConfiguration BackgroundConfiguration() {
  platform::OpenConfiguration config;
  config.activates = false;
  config.allows_running_application_substitution = true;
  return config;
}

// Shared steps of both forms: argument checks and the location. Answers
// false (with no exception pending) when the request cannot be made, and
// sets *type_error on a wrong argument type.
bool PrepareOpen(const Napi::CallbackInfo& info, bool* type_error, std::string* url) {
  std::string bundle_id, name;
  if (!ReadOpenArgument(info, 0, &bundle_id) || !ReadOpenArgument(info, 1, &name)) {
    *type_error = true;
    return false;
  }
  if (bundle_id.empty() && name.empty()) return false;
  if (bundle_id.size() > kMaxOpenArgumentBytes || name.size() > kMaxOpenArgumentBytes) return false;
  *url = LocateApplication(bundle_id, name);
  return !url->empty();
}

// ---- asynchronous delivery ----

struct OpenPromiseRecord {
  napi_env env = nullptr;
  napi_deferred deferred = nullptr;
};

struct BackgroundApplicationOpenResult {
  bool ok = false;
  int64_t error_code = 0;
  pid_t pid = 0;
  bool timed_out = false;  // the completion never came within the bound
};

// A completion that never arrives must not keep the host alive for ever: the
// promise keeps the host running this long at most, then resolves as not
// opened.
constexpr auto kOpenCompletionBound = std::chrono::seconds(60);

// Shared by the completion handler (any thread): at most one delivery.
struct OpenDelivery {
  std::atomic<bool> delivered{false};
  napi_threadsafe_function tsfn = nullptr;
  std::mutex mu;
  std::condition_variable cv;  // wakes the bound's watchdog on delivery
};

// Hands a result to the host thread once, from whichever side gets there
// first (the completion or the bound), and lets go of the thread-safe
// function so the host is free to exit.
void Deliver(const std::shared_ptr<OpenDelivery>& delivery, BackgroundApplicationOpenResult* result) {
  bool expected = false;
  if (!delivery->delivered.compare_exchange_strong(expected, true)) {
    delete result;
    return;
  }
  {
    std::lock_guard<std::mutex> l(delivery->mu);
  }
  delivery->cv.notify_all();
  if (napi_call_threadsafe_function(delivery->tsfn, result, napi_tsfn_nonblocking) != napi_ok) {
    delete result;
  }
  napi_release_threadsafe_function(delivery->tsfn, napi_tsfn_release);
}

// Waits on the platform clock for the completion; past the bound, answers
// "not opened" in its place.
void StartCompletionBound(std::shared_ptr<OpenDelivery> delivery) {
  std::thread([delivery] {
    auto& clock = platform::Get().clock();
    const platform::TimePoint deadline =
        clock.Now() + std::chrono::duration_cast<platform::Duration>(kOpenCompletionBound);
    {
      std::unique_lock<std::mutex> lock(delivery->mu);
      if (clock.WaitUntil(lock, delivery->cv, deadline, [&] { return delivery->delivered.load(); }))
        return;
    }
    auto* result = new (std::nothrow) BackgroundApplicationOpenResult();
    if (result) result->timed_out = true;
    Deliver(delivery, result);
  }).detach();
}

void ResolveOpen(napi_env env, OpenPromiseRecord* record, napi_value value) {
  if (!record->deferred) return;
  napi_resolve_deferred(env, record->deferred, value);
  record->deferred = nullptr;
}

// Host thread. `data` is the result record, or null when the completion
// could not allocate one (the promise then resolves with false).
void DeliverOpenResult(napi_env env, napi_value, void* context, void* data) {
  std::unique_ptr<BackgroundApplicationOpenResult> result(
      static_cast<BackgroundApplicationOpenResult*>(data));
  auto* record = static_cast<OpenPromiseRecord*>(context);
  if (env == nullptr || record == nullptr) return;  // environment going away
  Napi::HandleScope scope(env);
  Napi::Env e(env);
  if (!result) {
    ResolveOpen(env, record, Napi::Boolean::New(e, false));
    return;
  }
  if (result->timed_out) {
    LogLine("[Vantor][background-app-open] completion_timeout_ms=" +
            std::to_string(std::chrono::milliseconds(kOpenCompletionBound).count()));
  }
  if (!result->ok && result->error_code != 0) LogCompletionError(result->error_code);
  if (result->ok && result->pid >= 1) {
    ResolveOpen(env, record, Napi::Number::New(e, result->pid));
  } else {
    ResolveOpen(env, record, Napi::Boolean::New(e, result->ok));
  }
}

void FinalizeOpenRecord(napi_env, void* data, void*) {
  delete static_cast<OpenPromiseRecord*>(data);
}

void NoOp(const Napi::CallbackInfo&) {}

}  // namespace

Napi::Value OpenApplicationInBackground(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  bool type_error = false;
  std::string url;
  if (!PrepareOpen(info, &type_error, &url)) {
    if (type_error) {
      return ThrowTypeError(env,
                            "openApplicationInBackground(bundleId, name) expects strings or null");
    }
    return Napi::Boolean::New(env, false);
  }
  platform::Get().workspace().OpenApplication(url, BackgroundConfiguration(),
                                              [](int64_t error_code, pid_t) {
                                                if (error_code != 0) LogCompletionError(error_code);
                                              });
  return Napi::Boolean::New(env, true);
}

Napi::Value OpenApplicationInBackgroundAsync(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  bool type_error = false;
  std::string url;
  if (!PrepareOpen(info, &type_error, &url)) {
    if (type_error) {
      return ThrowTypeError(
          env, "openApplicationInBackgroundAsync(bundleId, name) expects strings or null");
    }
    return ResolvedBoolPromise(env, false);
  }

  auto* record = new (std::nothrow) OpenPromiseRecord();
  if (!record) return ResolvedBoolPromise(env, false);
  record->env = env;
  napi_value promise;
  if (napi_create_promise(env, &record->deferred, &promise) != napi_ok) {
    delete record;
    return ResolvedBoolPromise(env, false);
  }
  auto delivery = std::shared_ptr<OpenDelivery>(new (std::nothrow) OpenDelivery());
  Napi::Function noop = Napi::Function::New(env, NoOp);
  napi_value name = Napi::String::New(env, "korvo-oza-background-application-open");
  if (!delivery || noop.IsEmpty() ||
      napi_create_threadsafe_function(env, noop, nullptr, name, 0, 1, record, FinalizeOpenRecord,
                                      record, DeliverOpenResult, &delivery->tsfn) != napi_ok) {
    if (env.IsExceptionPending()) env.GetAndClearPendingException();
    ResolveOpen(env, record, Napi::Boolean::New(env, false));
    delete record;
    return Napi::Value(env, promise);
  }

  platform::Get().workspace().OpenApplication(
      url, BackgroundConfiguration(), [delivery](int64_t error_code, pid_t pid) {
        if (delivery->delivered.load()) return;
        auto* result = new (std::nothrow) BackgroundApplicationOpenResult();
        if (result) {
          result->ok = error_code == 0 && pid > 0;
          result->error_code = error_code;
          result->pid = pid > 0 ? pid : 0;
        }
        Deliver(delivery, result);
      });
  StartCompletionBound(delivery);
  return Napi::Value(env, promise);
}

}  // namespace addon
