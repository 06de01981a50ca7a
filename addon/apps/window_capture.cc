// captureWindowImage (quick, unverified), captureWindowImageVerifiedAsync
// (the window must still belong to the expected application) and the gated
// projection test entry.
#include <chrono>
#include <cmath>
#include <mutex>
#include <new>

#include "apps/frame_projection.h"
#include "apps/window_capture_sc.h"
#include "conventions.h"
#include "exports.h"
#include "image/image_napi.h"
#include "worker.h"

namespace addon {

namespace {

constexpr double kQuickFallbackTimeoutSeconds = 5.0;
constexpr auto kVerifiedCaptureBudget = std::chrono::seconds(4);
constexpr double kDefaultQuality = 0.6;

// The one-call window image entry, looked up once per process.
bool HasSingleWindowImageEntry() {
  static std::once_flag once;
  static bool present = false;
  std::call_once(once, [] { present = platform::Get().windows().HasSingleWindowImageEntry(); });
  return present;
}

std::string FormatArgument(const Napi::CallbackInfo& info, size_t i) {
  if (i < info.Length() && info[i].IsString()) return info[i].As<Napi::String>().Utf8Value();
  return "png";
}

double QualityArgument(const Napi::CallbackInfo& info, size_t i) {
  if (i < info.Length() && info[i].IsNumber()) return info[i].As<Napi::Number>().DoubleValue();
  return kDefaultQuality;
}

Napi::Array DoubleRect(Napi::Env env, const platform::Rect& r) {
  Napi::Array a = Napi::Array::New(env, 4);
  a.Set(0u, Napi::Number::New(env, r.x));
  a.Set(1u, Napi::Number::New(env, r.y));
  a.Set(2u, Napi::Number::New(env, r.width));
  a.Set(3u, Napi::Number::New(env, r.height));
  return a;
}

class VerifiedWindowCaptureWorker : public KvAsyncWorker {
 public:
  VerifiedWindowCaptureWorker(Napi::Env env, SharedAdmissionLease lease, uint32_t window_id,
                              int32_t pid, std::string bundle_id, std::string format,
                              double quality, platform::TimePoint deadline)
      : KvAsyncWorker(env, "generic", WorkerFamily::kVerifiedCapture),
        window_id_(window_id),
        pid_(pid),
        bundle_id_(std::move(bundle_id)),
        format_(std::move(format)),
        quality_(quality),
        deadline_(deadline),
        lease_(std::move(lease)) {}

 protected:
  void Execute() override {
    auto& clock = platform::Get().clock();
    const platform::TimePoint now = clock.Now();
    if (now >= deadline_) return;
    const double remaining = std::chrono::duration<double>(deadline_ - now).count();
    platform::Image image =
        CaptureWindowImageViaSC(window_id_, remaining, pid_, bundle_id_, lease_, &frame_);
    if (image && clock.Now() < deadline_) encoded_ = EncodeImageData(image, format_, quality_);
  }

  void OnOK() override {
    Napi::Env env = Env();
    if (platform::Get().clock().Now() >= deadline_ || !encoded_.ok || !frame_) {
      Deferred().Resolve(env.Null());
      return;
    }
    Napi::Value value = EncodedImageToNapi(env, std::move(encoded_));
    if (!value.IsObject()) {
      Deferred().Resolve(env.Null());
      return;
    }
    SetKey(value.As<Napi::Object>(), "bounds", DoubleRect(env, *frame_));
    Deferred().Resolve(value);
  }

 private:
  uint32_t window_id_;
  int32_t pid_;
  std::string bundle_id_;
  std::string format_;
  double quality_;
  platform::TimePoint deadline_;
  SharedAdmissionLease lease_;  // dropped with the worker
  std::optional<platform::Rect> frame_;
  EncodedImageData encoded_;
};

// A JavaScript array of exactly four finite numbers.
bool ReadRectArgument(const Napi::Value& v, platform::Rect* out) {
  if (!v.IsArray()) return false;
  Napi::Array a = v.As<Napi::Array>();
  if (a.Length() != 4) return false;
  double c[4];
  for (uint32_t i = 0; i < 4; ++i) {
    Napi::Value e = a.Get(i);
    if (e.IsEmpty() || !e.IsNumber()) return false;
    c[i] = e.As<Napi::Number>().DoubleValue();
    if (!std::isfinite(c[i])) return false;
  }
  *out = platform::Rect{c[0], c[1], c[2], c[3]};
  return true;
}

}  // namespace

Napi::Value CaptureWindowImage(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (info.Length() < 1 || !info[0].IsNumber()) return env.Null();
  uint32_t window_id = info[0].As<Napi::Number>().Uint32Value();
  const std::string format = FormatArgument(info, 1);
  const double quality = QualityArgument(info, 2);

  platform::Image image;
  if (HasSingleWindowImageEntry()) image = platform::Get().windows().CreateSingleWindowImage(window_id);
  if (!image) {
    image = CaptureWindowImageViaSC(window_id, kQuickFallbackTimeoutSeconds, 0, std::string(),
                                    nullptr, nullptr);
  }
  if (!image) return env.Null();
  return EncodeImage(env, image, format, quality);
}

Napi::Value CaptureWindowImageVerified(const Napi::CallbackInfo& info) {
  return info.Env().Null();
}

Napi::Value CaptureWindowImageVerifiedAsync(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (info.Length() < 3 || !info[0].IsNumber() || !info[1].IsNumber() || !info[2].IsString()) {
    return ResolvedNullPromise(env);
  }
  uint32_t window_id = 0;
  int32_t pid = 0;
  std::string bundle_id;
  if (!ReadStrictWindowId(info[0], &window_id) || !ReadStrictPid(info[1], &pid) ||
      !ReadUtf8String(info[2], 1, 255, &bundle_id)) {
    return ResolvedNullPromise(env);
  }
  std::string format = FormatArgument(info, 3);
  const double quality = QualityArgument(info, 4);
  const platform::TimePoint deadline = platform::Get().clock().Now() + kVerifiedCaptureBudget;

  std::atomic<int>& counter = g_verified_window_capture_worker_count;
  if (!TryAdmit(counter, kVerifiedWindowCaptureWorkerLimit)) return ResolvedNullPromise(env);
  SharedAdmissionLease lease(new (std::nothrow) WorkerAdmissionLease(&counter));
  if (!lease) {
    ReleaseAdmission(counter);
    return ResolvedNullPromise(env);
  }
  auto* worker = new (std::nothrow) VerifiedWindowCaptureWorker(
      env, lease, window_id, pid, std::move(bundle_id), std::move(format), quality, deadline);
  lease.reset();  // the worker holds the slot now (or it is given back here)
  if (!worker) return ResolvedNullPromise(env);
  Napi::Value promise = worker->Promise();
  if (!worker->Queue()) {
    delete worker;
    return ResolvedNullPromise(env);
  }
  return promise;
}

Napi::Value ProjectFrameContentForTest(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (info.Length() != 6) return env.Null();
  platform::Rect content, screen;
  double w = 0, h = 0;
  if (!ReadRectArgument(info[0], &content) || !ReadRectArgument(info[1], &screen) ||
      !ReadWholeNumber(info[2], 1, 4294967295.0, &w) ||
      !ReadWholeNumber(info[3], 1, 4294967295.0, &h) || !info[4].IsNumber() ||
      !info[5].IsNumber()) {
    return env.Null();
  }
  FrameContentProjection p;
  if (!ComputeFrameContentProjection(content, screen, static_cast<uint32_t>(w),
                                     static_cast<uint32_t>(h),
                                     info[4].As<Napi::Number>().DoubleValue(),
                                     info[5].As<Napi::Number>().DoubleValue(), &p)) {
    return env.Null();
  }
  Napi::Object obj = Napi::Object::New(env);
  SetKey(obj, "crop", DoubleRect(env, p.crop));
  SetKey(obj, "pointer", DoubleRect(env, p.screen));
  return obj;
}

}  // namespace addon
