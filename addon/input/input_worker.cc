#include "input/input_worker.h"

#include <exception>
#include <mutex>
#include <new>

#include "admission.h"
#include "conventions.h"
#include "ghost/ghost_c_api.h"
#include "input/holds.h"
#include "platform/platform.h"
#include "worker.h"

namespace addon {

namespace {

std::string RequestSession() {
  const char* s = ghost_cursor_request_session();
  return s ? s : "";
}

class InputWorker : public KvAsyncWorker {
 public:
  InputWorker(Napi::Env env, bool verified, std::function<bool()> work,
              std::function<bool()> cancel_check, int ghost_kind, std::string ghost_session)
      : KvAsyncWorker(env, "generic", WorkerFamily::kInput),
        work_(std::move(work)),
        cancel_check_(std::move(cancel_check)),
        verified_(verified),
        ghost_kind_(ghost_kind),
        ghost_session_(std::move(ghost_session)),
        deadline_(platform::Get().clock().Now() + kInputStartDeadline) {}
  ~InputWorker() override { ReleaseAdmission(g_input_worker_count); }

 protected:
  void Execute() override {
    try {
      outcome_ = RunInputWork(deadline_, work_, cancel_check_);
    } catch (const std::exception& e) {
      SetError(e.what());
    } catch (...) {
      SetError("unknown");
    }
  }

  void OnOK() override { Settle(outcome_.ok, outcome_.error); }
  void OnError(const std::string&) override { Settle(false, "worker_error"); }

 private:
  void Settle(bool ok, const std::string& error) {
    if (ghost_kind_ != 0) ghost_cursor_end_action_session(ghost_session_.c_str());
    Napi::Env env = Env();
    if (!verified_) {
      Deferred().Resolve(Napi::Boolean::New(env, ok));
      return;
    }
    Napi::Object o = Napi::Object::New(env);
    SetKey(o, "ok", Napi::Boolean::New(env, ok));
    SetKey(o, "error", ok || error.empty() ? env.Null() : Napi::String::New(env, error));
    Deferred().Resolve(o);
  }

  std::function<bool()> work_;
  std::function<bool()> cancel_check_;
  bool verified_;
  int ghost_kind_;
  std::string ghost_session_;
  platform::TimePoint deadline_;
  InputOutcome outcome_;
};

}  // namespace

InputOutcome RunInputWork(platform::TimePoint deadline, const std::function<bool()>& work,
                          const std::function<bool()>& cancel_check) {
  if (platform::Get().clock().Now() >= deadline) return {false, "input_expired"};
  std::unique_lock<std::mutex> lock(InputSequenceMutex(), std::try_to_lock);
  if (!lock.owns_lock()) return {false, "input_busy"};
  if (InputShutdown()) return {false, "cancelled"};
  if (work && work()) return {true, ""};
  return {false, cancel_check && cancel_check() ? "cancelled" : "rejected"};
}

Napi::Value ResolvedInputOutcomePromise(Napi::Env env, const char* error) {
  Napi::Object o = Napi::Object::New(env);
  SetKey(o, "ok", Napi::Boolean::New(env, false));
  SetKey(o, "error", Napi::String::New(env, error));
  return ResolvedPromise(env, o);
}

Napi::Value InputRefusal(Napi::Env env, bool verified, const char* error) {
  return verified ? ResolvedInputOutcomePromise(env, error) : ResolvedBoolPromise(env, false);
}

Napi::Value QueueInputWorker(Napi::Env env, bool verified, std::function<bool()> work,
                             std::function<bool()> cancel_check, int ghost_kind) {
  if (!TryAdmit(g_input_worker_count, kInputWorkerLimit)) {
    return InputRefusal(env, verified, "input_busy");
  }
  const std::string session = RequestSession();
  const bool ghost_began = ghost_kind != 0 && ghost_cursor_enabled();
  if (ghost_began) ghost_cursor_begin_action_session(ghost_kind, session.c_str());
  // A worker that never runs must not leave the cursor showing an action.
  auto refuse = [&] {
    if (ghost_began) ghost_cursor_end_action_session(session.c_str());
    return InputRefusal(env, verified, "worker_error");
  };
  auto* worker = new (std::nothrow)
      InputWorker(env, verified, std::move(work), std::move(cancel_check), ghost_kind, session);
  if (!worker) {
    ReleaseAdmission(g_input_worker_count);
    return refuse();
  }
  Napi::Value promise = worker->Promise();
  if (!worker->Queue()) {
    delete worker;  // gives the slot back
    return refuse();
  }
  return promise;
}

}  // namespace addon
