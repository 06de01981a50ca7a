// Screen capture service: the shareable content (windows a capture may show)
// and one-frame streams over a single window. Every answer may arrive on a
// platform thread, late or never; every step may fail. The core owns all the
// rules (which window, identity checks, frame acceptance, cropping); a backend
// only answers.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/value.h"

namespace platform {

// One window of the shareable content.
struct ShareableWindow {
  uint32_t window_id = 0;
  Rect frame;  // global points
  // The owning application; absent for windows without one.
  bool has_owning_application = false;
  pid_t owner_pid = 0;
  std::optional<std::string> owner_bundle_id;
};

struct ShareableContent {
  std::vector<ShareableWindow> windows;
};

struct ShareableContentOptions {
  bool exclude_desktop_windows = false;
  bool on_screen_windows_only = false;
};

// Answer of a content request: content on success, otherwise nullopt and a
// non-zero error code.
using ShareableContentCompletion =
    std::function<void(std::optional<ShareableContent> content, int64_t error_code)>;

// A filter naming one window independently of any display.
struct ContentFilter {
  uint32_t window_id = 0;
  Rect content_rect;  // points; may be empty when the window has no content
};

inline constexpr uint32_t kPixelFormat32BGRA = 0x42475241;  // 'BGRA'

struct StreamConfiguration {
  int64_t width = 0;   // output pixels
  int64_t height = 0;  // output pixels
  uint32_t pixel_format = kPixelFormat32BGRA;
  int32_t queue_depth = 3;
  bool ignore_shadows_single_window = false;
};

// A one-shot screenshot of a filter's content.
struct ScreenshotConfiguration {
  int64_t width = 0;   // output pixels
  int64_t height = 0;  // output pixels
  bool shows_cursor = false;
  bool ignore_shadows_single_window = true;
  bool scales_to_fit = true;
  bool preserves_aspect_ratio = false;  // false: the content fills width x height
  bool opaque = false;
  bool include_child_windows = false;
  bool has_source_rect = false;
  Rect source_rect;  // points of the content, when has_source_rect
};

// Answer of a screenshot: the image, or null and a non-zero error code.
using ScreenshotCompletion = std::function<void(Image image, int64_t error_code)>;

// The image buffer of a sample. Pixels may be read only between a successful
// LockReadOnly() and the matching Unlock().
class PixelBuffer {
 public:
  virtual ~PixelBuffer() = default;
  virtual uint32_t PixelFormat() const = 0;
  virtual bool LockReadOnly() = 0;
  virtual void Unlock() = 0;
  virtual size_t Width() const = 0;
  virtual size_t Height() const = 0;
  virtual size_t BytesPerRow() const = 0;
  // Null unless locked.
  virtual const uint8_t* BaseAddress() const = 0;
};

// Keys of a frame's attachment dictionary.
inline constexpr const char* kFrameInfoStatus = "SCStreamFrameInfoStatus";
inline constexpr const char* kFrameInfoContentScale = "SCStreamFrameInfoContentScale";
inline constexpr const char* kFrameInfoScaleFactor = "SCStreamFrameInfoScaleFactor";
inline constexpr const char* kFrameInfoContentRect = "SCStreamFrameInfoContentRect";  // X, Y, Width, Height
inline constexpr const char* kFrameInfoScreenRect = "SCStreamFrameInfoScreenRect";    // X, Y, Width, Height

// Frame status values.
inline constexpr int64_t kFrameStatusComplete = 0;
inline constexpr int64_t kFrameStatusIdle = 1;
inline constexpr int64_t kFrameStatusBlank = 2;

struct SampleBuffer {
  bool valid = false;
  // The sample's attachment dictionaries; the first one describes the frame.
  std::optional<Array> attachments;
  std::shared_ptr<PixelBuffer> image_buffer;  // null when the sample has none
};

enum class StreamOutputType { kScreen = 0, kAudio = 1, kMicrophone = 2 };

// The stream's output and delegate. Calls arrive on the output's serial queue
// (frames) or on any platform thread (the stop notification).
class StreamOutput {
 public:
  virtual ~StreamOutput() = default;
  virtual void DidOutputSampleBuffer(const SampleBuffer& sample, StreamOutputType type) = 0;
  virtual void DidStopWithError(int64_t error_code) = 0;
};

// Completion of a start or stop request: 0 on success, else an error code.
using StreamCompletion = std::function<void(int64_t error_code)>;

class CaptureStream {
 public:
  virtual ~CaptureStream() = default;
  // Adds `output` for screen samples, delivered one at a time on a new serial
  // queue named `queue_label`. The stream holds the output until it is
  // stopped. False when the output cannot be added.
  virtual bool AddScreenOutput(std::shared_ptr<StreamOutput> output,
                               const std::string& queue_label) = 0;
  virtual void StartCapture(StreamCompletion completion) = 0;
  virtual void StopCapture(StreamCompletion completion) = 0;
};

// What every backend's stream keeps the same way: the output, whether it
// started, whether it stopped, and the delegate told of a stop with an error.
// Frames go out from the stream's own thread; a stop may come from any
// thread, also from inside a frame handler.
class StreamOutputs {
 public:
  explicit StreamOutputs(std::weak_ptr<StreamOutput> delegate) : delegate_(std::move(delegate)) {}
  // False when the output is null or the stream already stopped.
  bool Add(std::shared_ptr<StreamOutput> output) {
    std::lock_guard<std::mutex> l(mu_);
    if (!output || stopped_) return false;
    output_ = std::move(output);
    return true;
  }
  // Marks the stream started; false when it already started or stopped.
  bool BeginStart() {
    std::lock_guard<std::mutex> l(mu_);
    if (started_ || stopped_) return false;
    started_ = true;
    return true;
  }
  // No more frames; the delegate is not told.
  void Stop() {
    std::lock_guard<std::mutex> l(mu_);
    stopped_ = true;
    output_.reset();
  }
  // Stops once and tells the delegate `code`.
  void StopWithError(int64_t code) {
    {
      std::lock_guard<std::mutex> l(mu_);
      if (stopped_) return;
      stopped_ = true;
      output_.reset();
    }
    if (auto d = delegate_.lock()) d->DidStopWithError(code);
  }
  bool Stopped() {
    std::lock_guard<std::mutex> l(mu_);
    return stopped_;
  }
  // Hands a sample to the output unless the stream stopped; false when stopped.
  bool Deliver(const SampleBuffer& sample) {
    std::shared_ptr<StreamOutput> output;
    {
      std::lock_guard<std::mutex> l(mu_);
      if (stopped_) return false;
      output = output_;
    }
    if (output) output->DidOutputSampleBuffer(sample, StreamOutputType::kScreen);
    return true;
  }

 private:
  const std::weak_ptr<StreamOutput> delegate_;
  std::mutex mu_;
  std::shared_ptr<StreamOutput> output_;
  bool started_ = false;
  bool stopped_ = false;
};

// A BGRA pixel buffer over memory that `owner` keeps alive; the base address
// is readable only while locked.
class OwnedPixelBuffer final : public PixelBuffer {
 public:
  OwnedPixelBuffer(size_t width, size_t height, const uint8_t* data, std::shared_ptr<const void> owner)
      : w_(width), h_(height), data_(data), owner_(std::move(owner)) {}
  uint32_t PixelFormat() const override { return kPixelFormat32BGRA; }
  bool LockReadOnly() override {
    std::lock_guard<std::mutex> l(mu_);
    ++locks_;
    return true;
  }
  void Unlock() override {
    std::lock_guard<std::mutex> l(mu_);
    if (locks_ > 0) --locks_;
  }
  size_t Width() const override { return w_; }
  size_t Height() const override { return h_; }
  size_t BytesPerRow() const override { return w_ * 4; }
  const uint8_t* BaseAddress() const override {
    std::lock_guard<std::mutex> l(mu_);
    return locks_ > 0 ? data_ : nullptr;
  }

 private:
  size_t w_, h_;
  const uint8_t* data_;
  std::shared_ptr<const void> owner_;
  mutable std::mutex mu_;
  int locks_ = 0;
};

class ScreenCapture {
 public:
  virtual ~ScreenCapture() = default;
  // Asks for the shareable content; the completion runs later on a platform
  // thread (or never).
  virtual void GetShareableContent(const ShareableContentOptions& options,
                                   ShareableContentCompletion completion) = 0;
  // A filter for one window of the content; false when none can be made.
  virtual bool CreateDesktopIndependentWindowFilter(const ShareableWindow& window,
                                                    ContentFilter* out) = 0;
  // A stream over `filter`. The delegate is held weakly and told when the
  // stream stops with an error. Null when no stream can be created.
  virtual std::shared_ptr<CaptureStream> CreateStream(const ContentFilter& filter,
                                                      const StreamConfiguration& config,
                                                      std::weak_ptr<StreamOutput> delegate) = 0;
  // Takes one screenshot of `filter`; the completion runs later on a
  // platform thread (or never). A backend without screenshots answers an
  // error at once, on the calling thread.
  virtual void CaptureScreenshot(const ContentFilter&, const ScreenshotConfiguration&,
                                 ScreenshotCompletion completion) {
    if (completion) completion(nullptr, -1);
  }
};

// The service of a backend without screen capture: every content request
// fails at once and no stream can be made.
class UnavailableScreenCapture final : public ScreenCapture {
 public:
  void GetShareableContent(const ShareableContentOptions&,
                           ShareableContentCompletion completion) override {
    if (completion) completion(std::nullopt, -1);
  }
  bool CreateDesktopIndependentWindowFilter(const ShareableWindow&, ContentFilter*) override {
    return false;
  }
  std::shared_ptr<CaptureStream> CreateStream(const ContentFilter&, const StreamConfiguration&,
                                              std::weak_ptr<StreamOutput>) override {
    return nullptr;
  }
  static UnavailableScreenCapture& Instance() {
    static UnavailableScreenCapture instance;
    return instance;
  }
};

}  // namespace platform
