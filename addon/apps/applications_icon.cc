// applicationIconPngAsync: an application's icon as 32 x 32 PNG Base64 text,
// drawn and encoded on a worker thread.
#include <new>

#include "conventions.h"
#include "exports.h"
#include "image/encode.h"
#include "image/image_napi.h"
#include "image/resample.h"
#include "platform/platform.h"
#include "worker.h"

namespace addon {

namespace {

constexpr int kIconSide = 32;
// Longest icon text handed to the host.
constexpr size_t kMaxIconBase64 = 32768;

// The icon drawn into a new 32 x 32 bitmap (the icon itself when it already
// has that size).
platform::Image DrawIcon(const platform::Image& icon) {
  if (!icon || icon->width <= 0 || icon->height <= 0) return nullptr;
  if (icon->width == kIconSide && icon->height == kIconSide) return icon;
  if (icon->rgba.size() < static_cast<size_t>(icon->width) * icon->height * 4) return nullptr;
  auto out = std::make_shared<platform::Bitmap>();
  out->width = kIconSide;
  out->height = kIconSide;
  out->rgba.assign(kIconSide * kIconSide * 4, 0);
  if (!ResampleRgba(icon->rgba.data(), icon->width, icon->height,
                           static_cast<size_t>(icon->width) * 4, out->rgba.data(), kIconSide,
                           kIconSide)) {
    return nullptr;
  }
  return out;
}

class ApplicationIconWorker : public KvAsyncWorker {
 public:
  ApplicationIconWorker(Napi::Env env, std::atomic<int>*, int32_t pid)
      : KvAsyncWorker(env, "ApplicationIconWorker", WorkerFamily::kGeneral), pid_(pid) {}

 protected:
  void Execute() override {
    auto& ws = platform::Get().workspace();
    auto app = ws.RunningApplicationWithPid(pid_);
    if (!app || !app->bundle_path || app->bundle_path->empty()) return;
    platform::Image icon = DrawIcon(ws.IconForFile(*app->bundle_path, kIconSide));
    if (!icon) return;
    EncodedImageData encoded = EncodeImageData(icon, "png", 0);
    if (encoded.ok && encoded.data.size() <= kMaxIconBase64) result_ = std::move(encoded.data);
  }

  void OnOK() override {
    Napi::Env env = Env();
    Napi::Value text = result_.empty() ? Napi::Value() : Base64ToNapi(env, std::move(result_));
    Deferred().Resolve(text.IsEmpty() ? env.Null() : text);
  }

 private:
  int32_t pid_;
  Base64Text result_;
};

}  // namespace

Napi::Value ApplicationIconPngAsync(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  int32_t pid = 0;
  if (info.Length() < 1 || !ReadInt32Loose(info[0], &pid)) {
    return ThrowTypeError(env, "applicationIconPngAsync(pid) expects a pid");
  }
  return QueueAdmittedWorker<ApplicationIconWorker>(env, nullptr, 0, env.Null(), pid);
}

}  // namespace addon
