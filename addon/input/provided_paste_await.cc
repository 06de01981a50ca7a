// pasteboardAwaitProvidedRead: waits on a worker for the first read of a
// provided paste after its dispatch, lets the reads settle, then checks that
// nobody replaced the pasteboard meanwhile. Every outcome, refusals included,
// has the same shape {ok, reads, readsBeforeDispatch, holdMs, error}.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <exception>

#include "admission.h"
#include "conventions.h"
#include "exports.h"
#include "input/provided_paste.h"
#include "platform/platform.h"
#include "worker.h"

namespace addon {

namespace {

using Ms = std::chrono::milliseconds;

struct AwaitLimits {
  int64_t timeout_ms = 2000;  // for the first read after dispatch
  int64_t grace_ms = 400;     // quiet time after the latest read
  int64_t hold_ms = 1200;     // minimum settle after the first read
};

// However long a reader keeps reading, settling ends this long after the
// first read, so an await always settles.
constexpr int64_t kMaxSettleMs = 30000;

struct AwaitOutcome {
  bool ok = false;
  uint32_t reads = 0;
  uint32_t reads_before_dispatch = 0;
  int64_t hold_ms = 0;
  std::string error;  // empty when ok
};

// An optional number truncated toward zero; absent, not a number or out of
// range takes the default.
int64_t OptionalMs(const Napi::CallbackInfo& info, size_t i, int64_t lo, int64_t hi, int64_t def) {
  if (i >= info.Length() || !info[i].IsNumber()) return def;
  const double d = std::trunc(info[i].As<Napi::Number>().DoubleValue());
  if (!(d >= static_cast<double>(lo) && d <= static_cast<double>(hi))) return def;
  return static_cast<int64_t>(d);
}

platform::TimePoint Later(platform::TimePoint a, platform::TimePoint b) { return std::max(a, b); }

AwaitOutcome AwaitRead(uint64_t token, const AwaitLimits& limits) {
  AwaitOutcome out;
  ProvidedPasteSessionPtr session = FindProvidedPaste(token);
  if (!session) {
    out.error = "unknown_paste_token";
    return out;
  }
  platform::Clock& clock = platform::Get().clock();
  const platform::TimePoint start = clock.Now();
  {
    std::unique_lock<std::mutex> lock(session->mu);
    const uint32_t base = session->dispatched ? session->reads_at_dispatch : 0;
    out.reads_before_dispatch = base;
    clock.WaitUntil(lock, session->cv, start + Ms(limits.timeout_ms),
                    [&] { return session->reads > base || session->finished; });
    if (session->reads <= base) {
      out.error = session->finished ? "pasteboard_changed_during_paste" : "pasteboard_read_timed_out";
      return out;
    }
    // Settle: keep waiting while reads keep coming, at least `hold` after the
    // first one and `grace` after the latest one.
    const platform::TimePoint first = clock.Now();
    const platform::TimePoint hold_deadline = first + Ms(limits.hold_ms);
    const platform::TimePoint cap = first + Ms(kMaxSettleMs);
    platform::TimePoint deadline = Later(hold_deadline, first + Ms(limits.grace_ms));
    uint32_t last = session->reads;
    while (clock.WaitUntil(lock, session->cv, std::min(deadline, cap),
                           [&] { return session->reads > last; })) {
      last = session->reads;
      deadline = Later(hold_deadline, clock.Now() + Ms(limits.grace_ms));
      if (clock.Now() >= cap) break;
    }
    out.reads = session->reads;
    out.hold_ms = std::chrono::duration_cast<Ms>(clock.Now() - start).count();
  }
  if (MainThreadChangeCount() == session->change_count) {
    out.ok = true;
  } else {
    out.error = "pasteboard_changed_during_paste";
  }
  return out;
}

Napi::Value OutcomeObject(Napi::Env env, const AwaitOutcome& o) {
  Napi::Object obj = Napi::Object::New(env);
  SetKey(obj, "ok", Napi::Boolean::New(env, o.ok));
  SetKey(obj, "reads", Napi::Number::New(env, o.reads));
  SetKey(obj, "readsBeforeDispatch", Napi::Number::New(env, o.reads_before_dispatch));
  SetKey(obj, "holdMs", Napi::Number::New(env, static_cast<double>(o.hold_ms)));
  SetKey(obj, "error", o.ok ? env.Null() : Napi::String::New(env, o.error));
  return obj;
}

AwaitOutcome WorkerError() {
  AwaitOutcome o;
  o.error = "worker_error";
  return o;
}

class ProvidedPasteReadWorker : public KvAsyncWorker {
 public:
  ProvidedPasteReadWorker(Napi::Env env, std::atomic<int>* counter, uint64_t token,
                          AwaitLimits limits)
      : KvAsyncWorker(env, "generic", WorkerFamily::kProvidedPaste),
        slot_(counter),
        token_(token),
        limits_(limits) {}

 protected:
  void Execute() override {
    try {
      outcome_ = AwaitRead(token_, limits_);
    } catch (const std::exception& e) {
      SetError(e.what());
    } catch (...) {
      SetError("unknown");
    }
  }
  void OnOK() override { Deferred().Resolve(OutcomeObject(Env(), outcome_)); }
  void OnError(const std::string&) override {
    Deferred().Resolve(OutcomeObject(Env(), WorkerError()));
  }

 private:
  AdmissionSlot slot_;
  uint64_t token_;
  AwaitLimits limits_;
  AwaitOutcome outcome_;
};

}  // namespace

Napi::Value PasteboardAwaitProvidedRead(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  uint64_t token = 0;
  if (info.Length() < 1 || !ReadPasteToken(info[0], &token)) {
    return ThrowTypeError(env, "pasteboardAwaitProvidedRead(token, timeoutMs, graceMs) expects a token");
  }
  AwaitLimits limits;
  limits.timeout_ms = OptionalMs(info, 1, 1, 30000, 2000);
  limits.grace_ms = OptionalMs(info, 2, 0, 2000, 400);
  limits.hold_ms = OptionalMs(info, 3, 0, 5000, 1200);
  // Admission refusal, allocation and queueing failures all answer the same
  // full outcome, already settled.
  Napi::Value refusal = ResolvedPromise(env, OutcomeObject(env, WorkerError()));
  return QueueAdmittedWorker<ProvidedPasteReadWorker>(env, &g_provided_paste_read_worker_count,
                                                      kProvidedPasteReadWorkerLimit, refusal, token,
                                                      limits);
}

}  // namespace addon
