#include "apps/window_capture_sc.h"

#include <chrono>
#include <cmath>
#include <limits>

#include "apps/frame_projection.h"
#include "apps/identity.h"
#include "ax/window_list.h"

namespace addon {

namespace {

constexpr const char* kSampleQueueLabel = "com.korvo.oza.window-capture-sample";
constexpr double kMaxStreamSide = 1920;

using WeakState = std::weak_ptr<WindowCaptureWaitState>;
using WeakOutput = std::weak_ptr<KorvoOneShotStreamOutput>;
using WeakStream = std::weak_ptr<platform::CaptureStream>;

void Fail(const std::shared_ptr<WindowCaptureWaitState>& state) {
  CompleteWindowCapture(state, nullptr, std::nullopt);
}

void ClearHandlers(const WeakOutput& weak_output) {
  if (auto output = weak_output.lock()) output->ClearHandlers();
}

void StopQuietly(const std::shared_ptr<platform::CaptureStream>& stream) {
  if (stream) stream->StopCapture([](int64_t) {});
}

// The window the capture may show: the first with the id, or with identity
// checks the one whose owner is the expected, still running application.
std::optional<platform::ShareableWindow> FindCaptureWindow(
    const platform::ShareableContent& content, uint32_t window_id, bool verify,
    int32_t expected_pid, const std::string& expected_bundle_id) {
  for (const auto& w : content.windows) {
    if (w.window_id != window_id) continue;
    if (!verify) return w;
    if (w.has_owning_application && w.owner_pid == expected_pid && !expected_bundle_id.empty() &&
        w.owner_bundle_id && common::EqualsIgnoringAsciiCase(*w.owner_bundle_id, expected_bundle_id) &&
        LivePidMatchesExpectedBundle(expected_pid, expected_bundle_id)) {
      return w;
    }
  }
  return std::nullopt;
}

// Output size: the content in points, scaled down so its longer side is at
// most 1,920 pixels.
void SizeStream(const platform::Rect& content, platform::StreamConfiguration* config) {
  double w = std::ceil(content.width), h = std::ceil(content.height);
  if (!(w > 0)) w = 1;
  if (!(h > 0)) h = 1;
  const double factor = std::min(kMaxStreamSide / std::max(w, h), 1.0);
  config->width = std::max<int64_t>(1, static_cast<int64_t>(std::floor(w * factor)));
  config->height = std::max<int64_t>(1, static_cast<int64_t>(std::floor(h * factor)));
  config->pixel_format = platform::kPixelFormat32BGRA;
  config->queue_depth = 1;
}

// One delivered frame: complete the capture with it when it is a complete
// frame whose content can be located; otherwise wait for the next one.
void HandleFrame(const WeakState& weak_state, const WeakStream& weak_stream,
                 const WeakOutput& weak_output, const platform::SampleBuffer& sample) {
  auto state = weak_state.lock();
  if (!state) return;
  if (!sample.attachments || sample.attachments->empty()) return;
  const platform::Dict* info = sample.attachments->front().dict();
  if (!info) return;
  auto status = info->find(platform::kFrameInfoStatus);
  if (status == info->end() || !status->second.number() ||
      status->second.number()->value != platform::kFrameStatusComplete) {
    return;
  }
  double content_scale = 0, scale_factor = 0;
  platform::Rect content, screen;
  if (!FrameInfoPositiveNumber(*info, platform::kFrameInfoContentScale, &content_scale) ||
      !FrameInfoPositiveNumber(*info, platform::kFrameInfoScaleFactor, &scale_factor) ||
      !FrameInfoRect(*info, platform::kFrameInfoContentRect, &content) ||
      !FrameInfoRect(*info, platform::kFrameInfoScreenRect, &screen)) {
    return;
  }
  platform::Image frame = CopyBgraImageFromSampleBuffer(sample);
  if (!frame) return;
  FrameContentProjection projection;
  if (!ComputeFrameContentProjection(content, screen, static_cast<uint32_t>(frame->width),
                                     static_cast<uint32_t>(frame->height), content_scale,
                                     scale_factor, &projection)) {
    return;
  }
  platform::Image cropped = CropImage(frame, projection.crop);
  if (!cropped) return;
  ClearHandlers(weak_output);
  StopQuietly(weak_stream.lock());
  CompleteWindowCapture(state, std::move(cropped), projection.screen);
}

// The shareable content arrived (or failed): pick the window and start a
// one-frame stream on it.
void OnShareableContent(const std::shared_ptr<WindowCaptureWaitState>& state,
                        const std::optional<platform::ShareableContent>& content,
                        int64_t error_code, uint32_t window_id, bool verify, int32_t expected_pid,
                        const std::string& expected_bundle_id) {
  if (!content || error_code != 0) return Fail(state);
  auto window = FindCaptureWindow(*content, window_id, verify, expected_pid, expected_bundle_id);
  if (!window) return Fail(state);
  {
    std::unique_lock<std::mutex> lock(state->mutex);
    if (state->done) {
      // The waiter gave up: only let go of the slot.
      SharedAdmissionLease lease = std::move(state->lease);
      lock.unlock();
      return;
    }
  }

  auto& sc = platform::Get().screen_capture();
  platform::ContentFilter filter;
  if (!sc.CreateDesktopIndependentWindowFilter(*window, &filter)) return Fail(state);
  if (!IsUsableRect(filter.content_rect)) return Fail(state);
  platform::StreamConfiguration config;
  config.ignore_shadows_single_window = true;
  SizeStream(filter.content_rect, &config);

  auto output = std::make_shared<KorvoOneShotStreamOutput>();
  std::shared_ptr<platform::CaptureStream> stream = sc.CreateStream(filter, config, output);
  if (!stream) return Fail(state);
  WeakState weak_state = state;
  WeakOutput weak_output = output;
  WeakStream weak_stream = stream;
  output->set_frame_handler([weak_state, weak_stream, weak_output](const platform::SampleBuffer& s) {
    HandleFrame(weak_state, weak_stream, weak_output, s);
  });
  output->set_error_handler([weak_state, weak_output](int64_t) {
    ClearHandlers(weak_output);
    if (auto st = weak_state.lock()) Fail(st);
  });
  if (!stream->AddScreenOutput(output, kSampleQueueLabel)) {
    output->ClearHandlers();
    return Fail(state);
  }
  {
    std::unique_lock<std::mutex> lock(state->mutex);
    if (state->done) {
      lock.unlock();
      output->ClearHandlers();
      return;
    }
    state->stream = stream;
    state->output = output;
  }
  stream->StartCapture([weak_state, weak_output](int64_t error) {
    if (error == 0) return;
    ClearHandlers(weak_output);
    if (auto st = weak_state.lock()) Fail(st);
  });
}

}  // namespace

// ---- KorvoOneShotStreamOutput ----

void KorvoOneShotStreamOutput::DidOutputSampleBuffer(const platform::SampleBuffer& sample,
                                                     platform::StreamOutputType type) {
  if (type != platform::StreamOutputType::kScreen) return;
  FrameHandler h = frame_handler();
  if (h) h(sample);
}

void KorvoOneShotStreamOutput::DidStopWithError(int64_t error_code) {
  ErrorHandler h = error_handler();
  if (h) h(error_code);
}

void KorvoOneShotStreamOutput::set_frame_handler(FrameHandler h) {
  std::lock_guard<std::mutex> lock(mu_);
  frame_handler_ = std::move(h);
}

void KorvoOneShotStreamOutput::set_error_handler(ErrorHandler h) {
  std::lock_guard<std::mutex> lock(mu_);
  error_handler_ = std::move(h);
}

KorvoOneShotStreamOutput::FrameHandler KorvoOneShotStreamOutput::frame_handler() {
  std::lock_guard<std::mutex> lock(mu_);
  return frame_handler_;
}

KorvoOneShotStreamOutput::ErrorHandler KorvoOneShotStreamOutput::error_handler() {
  std::lock_guard<std::mutex> lock(mu_);
  return error_handler_;
}

void KorvoOneShotStreamOutput::ClearHandlers() {
  FrameHandler f;
  ErrorHandler e;
  {
    std::lock_guard<std::mutex> lock(mu_);
    f.swap(frame_handler_);
    e.swap(error_handler_);
  }
  // The handlers (and what they hold) go away outside the lock.
}

// ---- completion and waiting ----

void CompleteWindowCapture(const std::shared_ptr<WindowCaptureWaitState>& state,
                           platform::Image image, std::optional<platform::Rect> frame) {
  SharedAdmissionLease lease;
  {
    std::lock_guard<std::mutex> lock(state->mutex);
    if (!state->done) {
      state->done = true;
      state->image = std::move(image);
      state->frame = frame;
    }
    lease = std::move(state->lease);
  }
  // A late image (after a time-out) is released here with `image`.
  state->condition.notify_all();
}

platform::Image CaptureWindowImageViaSC(uint32_t window_id, double timeout_seconds,
                                        int32_t expected_pid,
                                        const std::string& expected_bundle_id,
                                        SharedAdmissionLease lease,
                                        std::optional<platform::Rect>* out_frame) {
  auto& p = platform::Get();
  // The shareable-content path needs capture streams, and on the platform
  // with versions, version 14.0 or later.
  if (!p.Capable(platform::Facility::kCaptureStreams).available()) return nullptr;
  auto version = p.workspace().OsVersion();
  if (version && *version < std::make_pair(14, 0)) return nullptr;
  const bool verify = expected_pid >= 1 || !expected_bundle_id.empty();

  auto state = std::make_shared<WindowCaptureWaitState>();
  state->lease = std::move(lease);

  platform::ShareableContentOptions options;
  options.exclude_desktop_windows = false;
  options.on_screen_windows_only = false;
  // The completion holds the state strongly: the capture goes on while the
  // platform works, even if it outlives the waiter.
  p.screen_capture().GetShareableContent(
      options, [state, window_id, verify, expected_pid, expected_bundle_id](
                   std::optional<platform::ShareableContent> content, int64_t error) {
        OnShareableContent(state, content, error, window_id, verify, expected_pid,
                           expected_bundle_id);
      });

  auto& clock = p.clock();
  double seconds = std::isfinite(timeout_seconds) && timeout_seconds > 0 ? timeout_seconds : 0;
  seconds = std::min(seconds, 3600.0);
  const platform::TimePoint deadline =
      clock.Now() + std::chrono::duration_cast<platform::Duration>(
                        std::chrono::duration<double>(seconds));
  std::unique_lock<std::mutex> lock(state->mutex);
  clock.WaitUntil(lock, state->condition, deadline, [&] { return state->done; });
  if (!state->done) {
    // Give up: nothing that arrives later may change the result, and the
    // admission slot is given back now rather than when the platform lets go
    // of its completion, which may be never.
    state->done = true;
    auto output = state->output;
    auto stream = state->stream;
    SharedAdmissionLease held = std::move(state->lease);
    lock.unlock();
    if (output) output->ClearHandlers();
    if (held) held->Release();
    StopQuietly(stream);
    return nullptr;
  }
  platform::Image image = std::move(state->image);
  if (image && out_frame && state->frame) *out_frame = state->frame;
  return image;
}

// ---- frame reading ----

bool FrameInfoPositiveNumber(const platform::Dict& info, const char* key, double* out) {
  auto it = info.find(key);
  if (it == info.end() || !it->second.number()) return false;
  double v = it->second.number()->value;
  if (!std::isfinite(v) || !(v > 0)) return false;
  *out = v;
  return true;
}

bool FrameInfoRect(const platform::Dict& info, const char* key, platform::Rect* out) {
  platform::Rect r;
  if (!CopyDictionaryBounds(info, key, &r) || !IsUsableRect(r)) return false;
  *out = r;
  return true;
}

platform::Image CopyBgraImageFromSampleBuffer(const platform::SampleBuffer& sample) {
  if (!sample.valid || !sample.image_buffer) return nullptr;
  platform::PixelBuffer& pb = *sample.image_buffer;
  if (pb.PixelFormat() != platform::kPixelFormat32BGRA) return nullptr;
  if (!pb.LockReadOnly()) return nullptr;
  const size_t w = pb.Width(), h = pb.Height(), bpr = pb.BytesPerRow();
  const uint8_t* base = pb.BaseAddress();
  const size_t max_side = static_cast<size_t>(std::numeric_limits<int>::max()) / 4;
  if (w == 0 || h == 0 || !base || w > max_side || h > max_side || w * 4 > bpr ||
      bpr > std::numeric_limits<size_t>::max() / h) {
    pb.Unlock();
    return nullptr;
  }
  auto bitmap = std::make_shared<platform::Bitmap>();
  bitmap->width = static_cast<int>(w);
  bitmap->height = static_cast<int>(h);
  bitmap->rgba.resize(w * h * 4);
  // Premultiplied BGRA (alpha first, little-endian) to premultiplied RGBA.
  for (size_t y = 0; y < h; ++y) {
    const uint8_t* src = base + y * bpr;
    uint8_t* dst = bitmap->rgba.data() + y * w * 4;
    for (size_t x = 0; x < w; ++x, src += 4, dst += 4) {
      dst[0] = src[2];
      dst[1] = src[1];
      dst[2] = src[0];
      dst[3] = src[3];
    }
  }
  pb.Unlock();
  return bitmap;
}

platform::Image CropImage(const platform::Image& image, const platform::Rect& crop) {
  if (!image || !IsUsableRect(crop) || crop.x < 0 || crop.y < 0) return nullptr;
  if (crop.x + crop.width > image->width || crop.y + crop.height > image->height) return nullptr;
  const int x0 = static_cast<int>(crop.x), y0 = static_cast<int>(crop.y);
  const int cw = static_cast<int>(crop.width), ch = static_cast<int>(crop.height);
  if (x0 != crop.x || y0 != crop.y || cw != crop.width || ch != crop.height) return nullptr;
  if (x0 == 0 && y0 == 0 && cw == image->width && ch == image->height) return image;
  auto out = std::make_shared<platform::Bitmap>();
  out->width = cw;
  out->height = ch;
  out->rgba.resize(static_cast<size_t>(cw) * ch * 4);
  const size_t src_stride = static_cast<size_t>(image->width) * 4;
  for (int y = 0; y < ch; ++y) {
    const uint8_t* src = image->rgba.data() + (y0 + y) * src_stride + static_cast<size_t>(x0) * 4;
    std::copy(src, src + static_cast<size_t>(cw) * 4, out->rgba.data() + static_cast<size_t>(y) * cw * 4);
  }
  return out;
}

}  // namespace addon
