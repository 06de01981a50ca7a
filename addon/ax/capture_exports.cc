// captureApp, captureAppAsync and captureAppDiagnostic. None of them throws:
// bad arguments and failed captures answer null (or a promise resolved with
// null).
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "admission.h"
#include "ax/capture_convert.h"
#include "ax/capture_snapshot.h"
#include "ax/diagnostics.h"
#include "ax/tokens.h"
#include "conventions.h"
#include "exports.h"
#include "log.h"
#include "worker.h"

namespace addon {

namespace {

platform::TimePoint CaptureDeadlineFromNow() {
  return platform::Get().clock().Now() + kCaptureDeadline;
}

bool Expired(platform::TimePoint deadline) { return platform::Get().clock().Now() >= deadline; }

// KORVO_OZA_CAPTURE_TIMING=1 (benchmarks): captureApp logs how long collecting
// and converting took, in real nanoseconds.
bool CaptureTimingEnabled() {
  static const bool enabled = [] {
    const char* v = std::getenv("KORVO_OZA_CAPTURE_TIMING");
    return v && std::strcmp(v, "1") == 0;
  }();
  return enabled;
}

int64_t RealNanosSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() -
                                                              start)
      .count();
}

// Converts on the host thread. A failed conversion drops the capture (its
// epoch is discarded) and answers null without leaving an exception behind.
Napi::Value ConvertOrNull(Napi::Env env, const AxCaptureSnapshotData& snap, int32_t pid) {
  Napi::Value result = CaptureSnapshotToNapi(env, snap);
  if (result.IsEmpty() || env.IsExceptionPending()) {
    if (env.IsExceptionPending()) env.GetAndClearPendingException();
    DiscardCaptureEpoch(pid, snap.capture_epoch);
    return Napi::Value();
  }
  return result;
}

class CaptureAppWorker : public KvAsyncWorker {
 public:
  CaptureAppWorker(Napi::Env env, std::atomic<int>* counter, int32_t pid,
                   std::optional<std::string> expected_bundle_id,
                   std::optional<uint32_t> window_id, platform::TimePoint deadline)
      : KvAsyncWorker(env, "captureAppAsync", WorkerFamily::kCapture),
        slot_(counter),
        pid_(pid),
        expected_bundle_id_(std::move(expected_bundle_id)),
        window_id_(window_id),
        deadline_(deadline),
        diagnostic_(BeginCaptureDiagnostic(pid, window_id.value_or(0), deadline)) {}

  ~CaptureAppWorker() override { EndCaptureDiagnostic(diagnostic_); }

 protected:
  void Execute() override {
    ScopedActiveCaptureDiagnostic active(diagnostic_.get());
    SetCapturePhase(AxCapturePhase::kWorkerStarted);
    snapshot_ = CollectCaptureAppSnapshot(pid_, expected_bundle_id_, deadline_, window_id_);
  }

  void OnOK() override {
    Napi::Env env = Env();
    if (!snapshot_) {
      Deferred().Resolve(env.Null());
      return;
    }
    if (Expired(deadline_)) {
      // Late: the host has stopped waiting for this capture.
      DiscardCaptureEpoch(pid_, snapshot_->capture_epoch);
      Deferred().Resolve(env.Null());
      return;
    }
    Napi::Value result = ConvertOrNull(env, *snapshot_, pid_);
    Deferred().Resolve(result.IsEmpty() ? env.Null() : result);
  }

  void OnError(const std::string&) override {
    if (snapshot_) DiscardCaptureEpoch(pid_, snapshot_->capture_epoch);
    Deferred().Resolve(Env().Null());
  }

 private:
  AdmissionSlot slot_;
  int32_t pid_;
  std::optional<std::string> expected_bundle_id_;
  std::optional<uint32_t> window_id_;
  platform::TimePoint deadline_;
  AxCaptureDiagnosticPtr diagnostic_;
  std::unique_ptr<AxCaptureSnapshotData> snapshot_;
};

}  // namespace

Napi::Value CaptureApp(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  int32_t pid = 0;
  if (info.Length() < 1 || !ReadInt32Loose(info[0], &pid)) return env.Null();
  std::optional<uint32_t> window_id;
  if (info.Length() >= 2 && info[1].IsNumber()) {
    double d = info[1].As<Napi::Number>().DoubleValue();
    if (d > 0 && d <= 4294967295.0) {
      auto truncated = static_cast<uint32_t>(d);
      if (truncated != 0) window_id = truncated;
    }
  }
  auto start = std::chrono::steady_clock::now();
  auto snapshot = CollectCaptureAppSnapshot(pid, std::nullopt, CaptureDeadlineFromNow(), window_id);
  if (!snapshot) return env.Null();
  int64_t collect_ns = RealNanosSince(start);
  start = std::chrono::steady_clock::now();
  Napi::Value result = ConvertOrNull(env, *snapshot, pid);
  if (result.IsEmpty()) return env.Null();
  if (CaptureTimingEnabled()) {
    char line[160];
    std::snprintf(line, sizeof(line),
                  "[Vantor][capture-timing] collect_ns=%" PRId64 " convert_ns=%" PRId64,
                  collect_ns, RealNanosSince(start));
    LogLine(line);
  }
  MarkCaptureEpochDelivered(pid, snapshot->capture_epoch);
  return result;
}

Napi::Value CaptureAppAsync(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  int32_t pid = 0;
  if (info.Length() < 1 || !ReadStrictPid(info[0], &pid)) return ResolvedNullPromise(env);
  std::optional<std::string> expected;
  if (info.Length() >= 2 && !IsNullish(info[1])) {
    std::string s;
    if (!ReadUtf8String(info[1], 1, 255, &s)) return ResolvedNullPromise(env);
    expected = std::move(s);
  }
  std::optional<uint32_t> window_id;
  if (info.Length() >= 3 && !IsNullish(info[2])) {
    uint32_t wid = 0;
    if (!ReadStrictWindowId(info[2], &wid)) return ResolvedNullPromise(env);
    window_id = wid;
  }
  // The deadline runs from the call, not from when a worker thread picks it up.
  platform::TimePoint deadline = CaptureDeadlineFromNow();
  Napi::Value refusal = ResolvedNullPromise(env);
  Napi::Value promise = QueueAdmittedWorker<CaptureAppWorker>(
      env, &g_capture_app_worker_count, kCaptureAppWorkerLimit, refusal, pid, std::move(expected),
      window_id, deadline);
  if (env.IsExceptionPending()) {
    env.GetAndClearPendingException();
    return refusal;
  }
  return promise;
}

Napi::Value CaptureAppDiagnostic(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  int32_t pid = 0;
  if (info.Length() < 1 || !ReadStrictPid(info[0], &pid)) return env.Null();
  uint32_t window_id = 0;
  if (info.Length() >= 2 && !IsNullish(info[1]) && !ReadStrictWindowId(info[1], &window_id)) {
    return env.Null();
  }
  AxCaptureDiagnosticPtr record = FindCaptureDiagnostic(pid, window_id);
  if (!record) return env.Null();

  platform::TimePoint now = platform::Get().clock().Now();
  auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - record->started);
  double elapsed_ms = elapsed.count() > 0 ? static_cast<double>(elapsed.count()) : 0;

  Napi::Object obj = Napi::Object::New(env);
  SetKey(obj, "pid", Napi::Number::New(env, record->pid));
  SetKey(obj, "window_id",
         record->window_id ? Napi::Number::New(env, record->window_id) : env.Null());
  SetKey(obj, "phase",
         Napi::String::New(env, AxCapturePhaseName(record->phase.load(std::memory_order_relaxed))));
  SetKey(obj, "last_ax_operation",
         Napi::String::New(
             env, AxCaptureOperationName(record->operation.load(std::memory_order_relaxed))));
  SetKey(obj, "nodes_visited",
         Napi::Number::New(env, record->nodes_visited.load(std::memory_order_relaxed)));
  SetKey(obj, "elapsed_ms", Napi::Number::New(env, elapsed_ms));
  SetKey(obj, "deadline_exceeded", Napi::Boolean::New(env, now >= record->deadline));
  if (env.IsExceptionPending()) {
    env.GetAndClearPendingException();
    return env.Null();
  }
  return obj;
}

}  // namespace addon
