#include "x11/x11_capture_stream.h"

#include <X11/extensions/Xdamage.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cmath>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "x11/x11_desktop_entries.h"
#include "x11/x11_display.h"
#include "x11/x11_frames.h"
#include "x11/x11_windows.h"

namespace x11 {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kFrameInterval = std::chrono::milliseconds(16);
constexpr auto kIdleInterval = std::chrono::milliseconds(250);
constexpr int64_t kMaxOutputSide = 16384;
constexpr int kMaxBuffers = 8;

bool ValidSize(int64_t w, int64_t h) {
  return w >= 1 && h >= 1 && w <= kMaxOutputSide && h <= kMaxOutputSide;
}

platform::Value RectDict(const platform::Rect& r) {
  platform::Dict d;
  d["X"] = platform::Value(r.x);
  d["Y"] = platform::Value(r.y);
  d["Width"] = platform::Value(r.width);
  d["Height"] = platform::Value(r.height);
  return platform::Value(std::move(d));
}

// One thread that answers content requests and screenshots in order, on its
// own X connection. It waits for work for the life of the process.
class CaptureThread {
 public:
  static CaptureThread& Get() {
    static CaptureThread* t = new CaptureThread();
    return *t;
  }
  void Post(std::function<void()> work) {
    {
      std::lock_guard<std::mutex> l(mu_);
      queue_.push_back(std::move(work));
    }
    cv_.notify_one();
  }

 private:
  CaptureThread() {
    std::thread([this] {
      for (;;) {
        std::function<void()> work;
        {
          std::unique_lock<std::mutex> l(mu_);
          cv_.wait(l, [this] { return !queue_.empty(); });
          work = std::move(queue_.front());
          queue_.pop_front();
        }
        work();
      }
    }).detach();
  }
  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> queue_;
};

class X11Stream : public platform::CaptureStream, public std::enable_shared_from_this<X11Stream> {
 public:
  X11Stream(const platform::ContentFilter& filter, const platform::StreamConfiguration& config,
            std::weak_ptr<platform::StreamOutput> delegate)
      : window_(filter.window_id), config_(config), outputs_(std::move(delegate)) {}

  bool AddScreenOutput(std::shared_ptr<platform::StreamOutput> output,
                       const std::string&) override {
    return outputs_.Add(std::move(output));
  }

  void StartCapture(platform::StreamCompletion completion) override {
    if (!outputs_.BeginStart()) {
      if (completion) completion(kCaptureErrorInvalidParameter);
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
  // A buffer nobody holds any more, or a new one while the pool is small.
  std::shared_ptr<FrameBuffer> FreeBuffer(Display* d, size_t bytes) {
    for (auto& b : pool_)
      if (b.use_count() == 1) return b;
    const int limit = std::clamp(config_.queue_depth + 1, 2, kMaxBuffers);
    if (static_cast<int>(pool_.size()) >= limit) return nullptr;  // the consumer holds them all
    auto b = NewFrameBuffer(d, bytes);
    if (b) pool_.push_back(b);
    return b;
  }

  void Run(const platform::StreamCompletion& completion) {
    Display* d = Dpy();
    if (!ValidSize(config_.width, config_.height) ||
        config_.pixel_format != platform::kPixelFormat32BGRA) {
      Fail(completion, kCaptureErrorInvalidParameter);
      return;
    }
    int damage_event = 0, damage_error = 0;
    if (!d || !XDamageQueryExtension(d, &damage_event, &damage_error)) {
      Fail(completion, kCaptureErrorNoDisplay);
      return;
    }
    WindowFrames frames(d, window_);
    Damage damage = 0;
    {
      ErrorTrap trap(d);
      if (frames.Refresh()) {
        XSelectInput(d, window_, StructureNotifyMask);
        if (frames.frame() != window_) XSelectInput(d, frames.frame(), StructureNotifyMask);
        damage = XDamageCreate(d, frames.frame(), XDamageReportNonEmpty);
      }
      if (trap.Check()) damage = 0;
    }
    if (!damage) {
      Fail(completion, kCaptureErrorNoSource);
      return;
    }
    if (completion) completion(0);
    Loop(d, &frames, damage, damage_event + XDamageNotify);
    ErrorTrap trap(d);  // the window may be gone
    XDamageDestroy(d, damage);
    XSelectInput(d, window_, NoEventMask);
    if (frames.frame() && frames.frame() != window_) XSelectInput(d, frames.frame(), NoEventMask);
    trap.Check();
  }

  void Fail(const platform::StreamCompletion& completion, int64_t code) {
    outputs_.Stop();
    if (completion) completion(code);
  }

  void Loop(Display* d, WindowFrames* frames, Damage damage, int damage_notify) {
    bool damaged = true;  // the first frame shows what is there
    auto next = Clock::now();
    auto last_sent = Clock::now();
    const size_t bytes = static_cast<size_t>(config_.width) * config_.height * 4;
    while (!outputs_.Stopped()) {
      // Once per turn: what arrived since (damage, configure, destroy). The
      // thread sleeps between turns instead of waking for each event: a
      // frame costs one wake-up and the read's round trip.
      XEventsQueued(d, QueuedAfterReading);
      if (Dpy() != d) {
        outputs_.StopWithError(kCaptureErrorNoSource);  // the server went away
        return;
      }
      while (XQLength(d) > 0) {
        XEvent e;
        XNextEvent(d, &e);
        if (e.type == damage_notify) {
          damaged = true;
        } else if ((e.type == DestroyNotify && e.xdestroywindow.window == window_) ||
                   (e.type == UnmapNotify && e.xunmap.window == window_)) {
          outputs_.StopWithError(kCaptureErrorNoSource);
          return;
        } else if (e.type == ConfigureNotify || e.type == ReparentNotify || e.type == MapNotify) {
          // A new size is a new pixmap; a move changes where the content lies.
          if (!frames->Refresh()) {
            outputs_.StopWithError(kCaptureErrorNoSource);
            return;
          }
          damaged = true;
        }
      }
      const auto now = Clock::now();
      if (now >= next) {
        next = std::max(next + kFrameInterval, now);
        if (damaged) {
          if (auto buffer = FreeBuffer(d, bytes)) {
            XDamageSubtract(d, damage, None, None);
            damaged = false;
            if (!SendFrame(frames, std::move(buffer))) {
              // Gone between the event and the read: the next event says so.
              XSync(d, False);
              if (!frames->Refresh()) {
                outputs_.StopWithError(kCaptureErrorNoSource);
                return;
              }
              damaged = true;
            }
            last_sent = Clock::now();
          }
        } else if (now - last_sent >= kIdleInterval) {
          SendIdle(*frames);
          last_sent = now;
        }
      }
      if (XQLength(d) > 0) continue;
      XFlush(d);
      std::this_thread::sleep_until(next);
    }
  }

  bool SendFrame(WindowFrames* frames, std::shared_ptr<FrameBuffer> buffer) {
    double k = 1;
    const FrameLayout layout = FitLayout(frames->bounds(), static_cast<int>(config_.width),
                                         static_cast<int>(config_.height), &k);
    if (!frames->Read(layout, buffer.get())) return false;
    platform::Dict info;
    info[platform::kFrameInfoStatus] = platform::Value(int64_t{platform::kFrameStatusComplete});
    info[platform::kFrameInfoContentScale] = platform::Value(k);
    info[platform::kFrameInfoScaleFactor] = platform::Value(1.0);
    info[platform::kFrameInfoContentRect] =
        RectDict({0, 0, frames->bounds().width * k, frames->bounds().height * k});
    info[platform::kFrameInfoScreenRect] = RectDict(frames->bounds());
    platform::SampleBuffer sample;
    sample.valid = true;
    sample.attachments = platform::Array{platform::Value(std::move(info))};
    const uint8_t* pixels = buffer->data;
    sample.image_buffer = std::make_shared<platform::OwnedPixelBuffer>(
        config_.width, config_.height, pixels, std::move(buffer));
    outputs_.Deliver(sample);
    return true;
  }

  void SendIdle(const WindowFrames& frames) {
    platform::Dict info;
    info[platform::kFrameInfoStatus] = platform::Value(int64_t{platform::kFrameStatusIdle});
    info[platform::kFrameInfoScreenRect] = RectDict(frames.bounds());
    platform::SampleBuffer sample;
    sample.valid = true;
    sample.attachments = platform::Array{platform::Value(std::move(info))};
    outputs_.Deliver(sample);
  }

  const uint32_t window_;
  const platform::StreamConfiguration config_;
  platform::StreamOutputs outputs_;
  std::vector<std::shared_ptr<FrameBuffer>> pool_;  // stream thread only
};

// The screenshot's layout: the source rectangle (all of the window unless
// one is given) stretched over the output, or fitted and centred when the
// aspect ratio is kept, or at its own size when it is not scaled.
FrameLayout ScreenshotLayout(const platform::Rect& bounds,
                             const platform::ScreenshotConfiguration& c) {
  FrameLayout l;
  l.out_w = static_cast<int>(c.width);
  l.out_h = static_cast<int>(c.height);
  platform::Rect src{0, 0, bounds.width, bounds.height};
  if (c.has_source_rect) {
    const double x0 = std::max(0.0, c.source_rect.x), y0 = std::max(0.0, c.source_rect.y);
    const double x1 = std::min(bounds.width, c.source_rect.x + c.source_rect.width);
    const double y1 = std::min(bounds.height, c.source_rect.y + c.source_rect.height);
    if (x1 > x0 && y1 > y0) src = {x0, y0, x1 - x0, y1 - y0};
  }
  l.src = src;
  if (!c.scales_to_fit) {
    l.dst = {0, 0, std::min<double>(l.out_w, src.width), std::min<double>(l.out_h, src.height)};
    l.src.width = l.dst.width;
    l.src.height = l.dst.height;
  } else if (c.preserves_aspect_ratio) {
    const double k = std::min(l.out_w / src.width, l.out_h / src.height);
    const double w = std::round(src.width * k), h = std::round(src.height * k);
    l.dst = {std::floor((l.out_w - w) / 2), std::floor((l.out_h - h) / 2), w, h};
  } else {
    l.dst = {0, 0, static_cast<double>(l.out_w), static_cast<double>(l.out_h)};
  }
  return l;
}

platform::Image BitmapOf(const FrameBuffer& b, int w, int h) {
  auto bm = std::make_shared<platform::Bitmap>();
  bm->width = w;
  bm->height = h;
  bm->rgba.resize(static_cast<size_t>(w) * h * 4);
  const uint8_t* s = b.data;
  uint8_t* o = bm->rgba.data();
  for (size_t i = 0, n = static_cast<size_t>(w) * h; i < n; ++i, s += 4, o += 4) {
    o[0] = s[2];
    o[1] = s[1];
    o[2] = s[0];
    o[3] = s[3];
  }
  return bm;
}

void TakeScreenshot(const platform::ContentFilter& filter,
                    const platform::ScreenshotConfiguration& config,
                    const platform::ScreenshotCompletion& completion) {
  if (!completion) return;
  if (!ValidSize(config.width, config.height)) return completion(nullptr, kCaptureErrorInvalidParameter);
  Display* d = Dpy();
  if (!d) return completion(nullptr, kCaptureErrorNoDisplay);
  WindowFrames frames(d, filter.window_id);
  if (!frames.Refresh()) return completion(nullptr, kCaptureErrorNoSource);
  const FrameLayout layout = ScreenshotLayout(frames.bounds(), config);
  auto buffer = NewFrameBuffer(d, static_cast<size_t>(layout.out_w) * layout.out_h * 4);
  if (!buffer || !frames.Read(layout, buffer.get())) return completion(nullptr, kCaptureErrorNoSource);
  completion(BitmapOf(*buffer, layout.out_w, layout.out_h), 0);
}

void AnswerContent(const platform::ShareableContentOptions& options,
                   const platform::ShareableContentCompletion& completion) {
  if (!completion) return;
  Display* d = Dpy();
  if (!d) return completion(std::nullopt, kCaptureErrorNoDisplay);
  platform::ShareableContent content;
  std::map<pid_t, std::optional<std::string>> bundle_ids;
  for (const auto& w : ListWindows(d)) {
    if (options.exclude_desktop_windows && w.desktop) continue;
    if (options.on_screen_windows_only && !w.on_screen) continue;
    platform::ShareableWindow sw;
    sw.window_id = static_cast<uint32_t>(w.client);
    sw.frame = w.bounds;
    if (w.pid > 0 && !ProcessName(w.pid).empty()) {
      sw.has_owning_application = true;
      sw.owner_pid = w.pid;
      auto it = bundle_ids.find(w.pid);
      if (it == bundle_ids.end()) {
        auto e = EntryForProcess(w.pid, w.gtk_app_id, w.wm_class, w.wm_instance);
        it = bundle_ids.emplace(w.pid, e ? std::optional<std::string>(e->id) : std::nullopt).first;
      }
      sw.owner_bundle_id = it->second;
    }
    content.windows.push_back(std::move(sw));
  }
  completion(std::move(content), 0);
}

}  // namespace

void X11ScreenCapture::GetShareableContent(const platform::ShareableContentOptions& options,
                                           platform::ShareableContentCompletion completion) {
  CaptureThread::Get().Post([options, completion] { AnswerContent(options, completion); });
}

bool X11ScreenCapture::CreateDesktopIndependentWindowFilter(const platform::ShareableWindow& window,
                                                            platform::ContentFilter* out) {
  Display* d = Dpy();
  if (!d || !out || window.window_id == 0) return false;
  auto place = PlaceWindow(d, window.window_id);
  if (!place) return false;
  out->window_id = window.window_id;
  // The content is the window's outer bounds, from its own top left.
  out->content_rect = {0, 0, place->bounds.width, place->bounds.height};
  return true;
}

std::shared_ptr<platform::CaptureStream> X11ScreenCapture::CreateStream(
    const platform::ContentFilter& filter, const platform::StreamConfiguration& config,
    std::weak_ptr<platform::StreamOutput> delegate) {
  if (filter.window_id == 0) return nullptr;
  return std::make_shared<X11Stream>(filter, config, std::move(delegate));
}

void X11ScreenCapture::CaptureScreenshot(const platform::ContentFilter& filter,
                                         const platform::ScreenshotConfiguration& config,
                                         platform::ScreenshotCompletion completion) {
  CaptureThread::Get().Post(
      [filter, config, completion] { TakeScreenshot(filter, config, completion); });
}

}  // namespace x11
