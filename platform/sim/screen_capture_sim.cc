// The simulated desktop's screen capture: shareable content built from the
// window list, and one-frame streams whose frames are the window's rendering
// fitted into the configured output size. Content answers and frames arrive
// on threads of their own. Test hooks (op names are the service's methods,
// plus "StreamFrame" for each frame) make any step fail, stall or never
// answer:
//   GetShareableContent  error -> fails with the code; no_answer -> the
//                        completion is kept and never called; block -> parks
//                        the answering thread; quit -> the app ends first
//   CreateDesktopIndependentWindowFilter  error -> no filter;
//                        wrong_type -> an empty content rectangle
//   CreateStream, AddScreenOutput  error -> failure
//   StartCapture         error -> the start completes with the code;
//                        no_answer -> never starts, never completes
//   StreamFrame          error -> the stream stops with the code;
//                        wrong_type -> an idle (incomplete) frame;
//                        no_answer -> no frame this turn
#include <cairo.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "common/cairo_image.h"
#include "sim/hooks.h"
#include "sim/scene.h"
#include "sim/services.h"
#include "sim/sim_clock.h"
#include "sim/surfaces.h"

namespace sim {

namespace {

constexpr int64_t kErrorUserDeclined = -3801;
constexpr int64_t kErrorNoCaptureSource = -3815;
constexpr int64_t kErrorInvalidParameter = -3802;
constexpr auto kFrameInterval = std::chrono::milliseconds(16);
// A stream nobody stops ends on its own after this many frames.
constexpr int kMaxFrames = 4000;
constexpr int64_t kMaxOutputSide = 16384;

// Completions the "platform" holds on to and never calls.
std::mutex g_parked_mu;
std::vector<platform::ShareableContentCompletion>* g_parked =
    new std::vector<platform::ShareableContentCompletion>();

platform::Value RectDict(const platform::Rect& r) {
  platform::Dict d;
  d["X"] = platform::Value(r.x);
  d["Y"] = platform::Value(r.y);
  d["Width"] = platform::Value(r.width);
  d["Height"] = platform::Value(r.height);
  return platform::Value(std::move(d));
}

// Draws `src` (premultiplied RGBA) scaled by `scale` at the top left of a
// transparent out_w x out_h frame, as premultiplied BGRA (cairo's ARGB32 on a
// little-endian machine).
std::vector<uint8_t> FitIntoFrame(const platform::Bitmap& src, int out_w, int out_h,
                                  double scale) {
  std::vector<uint8_t> frame(static_cast<size_t>(out_w) * out_h * 4, 0);
  cairo_surface_t* from = common::CairoSurfaceOfRgba(src);
  if (!from) return frame;
  cairo_surface_t* to = cairo_image_surface_create_for_data(frame.data(), CAIRO_FORMAT_ARGB32,
                                                            out_w, out_h, out_w * 4);
  common::PaintScaled(to, from, scale, scale, 0, 0);
  cairo_surface_destroy(to);
  cairo_surface_destroy(from);
  return frame;
}

class SimStream : public platform::CaptureStream, public std::enable_shared_from_this<SimStream> {
 public:
  SimStream(const platform::ContentFilter& filter, const platform::StreamConfiguration& config,
            std::weak_ptr<platform::StreamOutput> delegate)
      : filter_(filter), config_(config), outputs_(std::move(delegate)) {}

  bool AddScreenOutput(std::shared_ptr<platform::StreamOutput> output,
                       const std::string&) override {
    CallSite site;
    site.op = "AddScreenOutput";
    site.window = filter_.window_id;
    if (Hooks::Get().Enter(site).kind != FaultKind::kNone) return false;
    return outputs_.Add(std::move(output));
  }

  void StartCapture(platform::StreamCompletion completion) override {
    if (!outputs_.BeginStart()) {
      if (completion) completion(kErrorInvalidParameter);
      return;
    }
    auto self = shared_from_this();
    std::thread([self, completion] { self->Run(completion); }).detach();
  }

  void StopCapture(platform::StreamCompletion completion) override {
    outputs_.Stop();
    if (completion) completion(0);
  }

 private:
  // The serial output queue: the start answer, then one frame per turn.
  void Run(const platform::StreamCompletion& completion) {
    CallSite site;
    site.op = "StartCapture";
    site.window = filter_.window_id;
    Fault f = Hooks::Get().Enter(site);
    if (f.kind == FaultKind::kNoAnswer) return;
    if (f.kind == FaultKind::kError || config_.width < 1 || config_.height < 1 ||
        config_.width > kMaxOutputSide || config_.height > kMaxOutputSide ||
        config_.pixel_format != platform::kPixelFormat32BGRA) {
      outputs_.Stop();
      if (completion) completion(f.kind == FaultKind::kError ? f.code : kErrorInvalidParameter);
      return;
    }
    if (completion) completion(0);
    for (int i = 0; i < kMaxFrames && !outputs_.Stopped(); ++i) {
      if (!DeliverFrame()) return;
      Clock().SleepUntil(Clock().Now() + kFrameInterval);
    }
  }

  // One turn; false when the stream ended.
  bool DeliverFrame() {
    CallSite site;
    site.op = "StreamFrame";
    site.window = filter_.window_id;
    {
      World& w = W();
      std::lock_guard<std::mutex> l(w.mu);
      if (auto cw = FindWindow(w, filter_.window_id)) site.pid = cw->owner;
    }
    Fault f = Hooks::Get().Enter(site);
    if (f.kind == FaultKind::kError) {
      outputs_.StopWithError(f.code);
      return false;
    }
    if (f.kind == FaultKind::kNoAnswer) return true;

    platform::Image native;
    platform::Rect screen;
    double factor = 1;
    bool gone = false;
    {
      World& w = W();
      std::lock_guard<std::mutex> l(w.mu);
      if (f.kind == FaultKind::kQuit && f.quit_pid > 0) QuitApp(w, f.quit_pid);
      auto cw = FindWindow(w, filter_.window_id);
      // The window went away (or capture was revoked): the stream stops.
      gone = !cw || !WindowVisible(w, *cw) || !w.perms.screen_recording;
      if (!gone) {
        screen = cw->bounds;
        factor = ScaleAt(w, {screen.x + 1, screen.y + 1});
        if (f.kind != FaultKind::kWrongType) native = RenderWindow(w, *cw);
      }
    }
    if (gone) {
      outputs_.StopWithError(kErrorNoCaptureSource);
      return false;
    }

    const int out_w = static_cast<int>(config_.width), out_h = static_cast<int>(config_.height);
    platform::SampleBuffer sample;
    sample.valid = true;
    platform::Dict info;
    if (f.kind == FaultKind::kWrongType || !native || screen.width <= 0 || screen.height <= 0) {
      info[platform::kFrameInfoStatus] = platform::Value(int64_t{platform::kFrameStatusIdle});
    } else {
      // The window's content fitted into the output: k points of frame per
      // screen point; the frame holds k * factor pixels per point.
      const double k = std::min(out_w / (screen.width * factor), out_h / (screen.height * factor));
      const double pixels_per_native = k * factor * screen.width / native->width;
      info[platform::kFrameInfoStatus] = platform::Value(int64_t{platform::kFrameStatusComplete});
      info[platform::kFrameInfoContentScale] = platform::Value(k);
      info[platform::kFrameInfoScaleFactor] = platform::Value(factor);
      info[platform::kFrameInfoContentRect] =
          RectDict({0, 0, screen.width * k, screen.height * k});
      info[platform::kFrameInfoScreenRect] = RectDict(screen);
      auto pixels = std::make_shared<const std::vector<uint8_t>>(
          FitIntoFrame(*native, out_w, out_h, pixels_per_native));
      const uint8_t* base = pixels->data();
      sample.image_buffer =
          std::make_shared<platform::OwnedPixelBuffer>(out_w, out_h, base, std::move(pixels));
    }
    sample.attachments = platform::Array{platform::Value(std::move(info))};
    return outputs_.Deliver(sample);
  }

  platform::ContentFilter filter_;
  platform::StreamConfiguration config_;
  platform::StreamOutputs outputs_;
};

class SimScreenCaptureService : public platform::ScreenCapture {
 public:
  void GetShareableContent(const platform::ShareableContentOptions& options,
                           platform::ShareableContentCompletion completion) override {
    std::thread([options, completion] { Answer(options, completion); }).detach();
  }

  bool CreateDesktopIndependentWindowFilter(const platform::ShareableWindow& window,
                                            platform::ContentFilter* out) override {
    CallSite site;
    site.op = "CreateDesktopIndependentWindowFilter";
    site.window = window.window_id;
    site.pid = window.owner_pid;
    Fault f = Hooks::Get().Enter(site);
    if (f.kind == FaultKind::kError || f.kind == FaultKind::kNoAnswer || !out) return false;
    out->window_id = window.window_id;
    out->content_rect = platform::Rect{0, 0, window.frame.width, window.frame.height};
    if (f.kind == FaultKind::kWrongType) out->content_rect = platform::Rect{};
    return true;
  }

  std::shared_ptr<platform::CaptureStream> CreateStream(
      const platform::ContentFilter& filter, const platform::StreamConfiguration& config,
      std::weak_ptr<platform::StreamOutput> delegate) override {
    CallSite site;
    site.op = "CreateStream";
    site.window = filter.window_id;
    if (Hooks::Get().Enter(site).kind != FaultKind::kNone) return nullptr;
    return std::make_shared<SimStream>(filter, config, std::move(delegate));
  }

  void CaptureScreenshot(const platform::ContentFilter& filter,
                         const platform::ScreenshotConfiguration& config,
                         platform::ScreenshotCompletion completion) override {
    SimCaptureScreenshot(filter, config, std::move(completion));
  }

 private:
  static void Answer(const platform::ShareableContentOptions& options,
                     const platform::ShareableContentCompletion& completion) {
    CallSite site;
    site.op = "GetShareableContent";
    Fault f = Hooks::Get().Enter(site);
    if (f.kind == FaultKind::kNoAnswer) {
      std::lock_guard<std::mutex> l(g_parked_mu);
      g_parked->push_back(completion);
      return;
    }
    if (f.kind == FaultKind::kError) {
      if (completion) completion(std::nullopt, f.code);
      return;
    }
    platform::ShareableContent content;
    bool declined = false;
    {
      World& w = W();
      std::lock_guard<std::mutex> l(w.mu);
      if (f.kind == FaultKind::kQuit && f.quit_pid > 0) QuitApp(w, f.quit_pid);
      declined = !w.perms.screen_recording;
      for (const auto& cw : w.z) {
        if (declined) break;
        if (options.on_screen_windows_only && !cw->on_screen) continue;
        platform::ShareableWindow sw;
        sw.window_id = cw->number;
        sw.frame = cw->bounds;
        auto app = FindApp(w, cw->owner);
        if (app && !app->terminated) {
          sw.has_owning_application = true;
          sw.owner_pid = app->pid;
          sw.owner_bundle_id = app->bundle_id;
        }
        content.windows.push_back(std::move(sw));
      }
    }
    if (!completion) return;
    if (declined) {
      completion(std::nullopt, kErrorUserDeclined);
    } else {
      completion(std::move(content), 0);
    }
  }
};

}  // namespace

platform::ScreenCapture& SimScreenCapture() {
  static SimScreenCaptureService* service = new SimScreenCaptureService();
  return *service;
}

}  // namespace sim
