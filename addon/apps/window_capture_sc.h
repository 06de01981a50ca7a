// Window image capture through shareable content and a one-frame stream: find
// the window (checking who owns it when asked to), stream it alone, take the
// first complete frame, crop it to the window's content and report where that
// content lies on screen. The waiting thread and the platform's completions
// meet in one wait state; whatever arrives after the capture is done changes
// nothing but its own resources.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "admission.h"
#include "platform/platform.h"

namespace addon {

// The stream's output and delegate: forwards screen frames and the stop
// notification to handlers that can be cleared at any time (after which
// nothing is forwarded).
class KorvoOneShotStreamOutput : public platform::StreamOutput {
 public:
  using FrameHandler = std::function<void(const platform::SampleBuffer&)>;
  using ErrorHandler = std::function<void(int64_t error_code)>;

  void DidOutputSampleBuffer(const platform::SampleBuffer& sample,
                             platform::StreamOutputType type) override;
  void DidStopWithError(int64_t error_code) override;

  void set_frame_handler(FrameHandler h);
  void set_error_handler(ErrorHandler h);
  FrameHandler frame_handler();
  ErrorHandler error_handler();
  void ClearHandlers();

 private:
  std::mutex mu_;
  FrameHandler frame_handler_;
  ErrorHandler error_handler_;
};

struct WindowCaptureWaitState {
  std::mutex mutex;
  std::condition_variable condition;
  bool done = false;
  platform::Image image;
  std::optional<platform::Rect> frame;  // nullopt: the null rectangle
  std::shared_ptr<platform::CaptureStream> stream;
  std::shared_ptr<KorvoOneShotStreamOutput> output;
  SharedAdmissionLease lease;
};

// The single completion step: the first call decides the result (failure is
// a null image and no frame); every call gives up the state's lease.
void CompleteWindowCapture(const std::shared_ptr<WindowCaptureWaitState>& state,
                           platform::Image image, std::optional<platform::Rect> frame);

// Captures one window. Identity is checked when expected_pid >= 1 or
// expected_bundle_id is non-empty. Waits at most timeout_seconds (platform
// clock); on success out_frame (when given) receives where the content lies.
// `lease` is held until the capture completes or the wait gives up.
platform::Image CaptureWindowImageViaSC(uint32_t window_id, double timeout_seconds,
                                        int32_t expected_pid,
                                        const std::string& expected_bundle_id,
                                        SharedAdmissionLease lease,
                                        std::optional<platform::Rect>* out_frame);

// Frame reading helpers.
platform::Image CopyBgraImageFromSampleBuffer(const platform::SampleBuffer& sample);
bool FrameInfoPositiveNumber(const platform::Dict& info, const char* key, double* out);
bool FrameInfoRect(const platform::Dict& info, const char* key, platform::Rect* out);
// The part `crop` (whole pixels inside the image) of `image`; null otherwise.
platform::Image CropImage(const platform::Image& image, const platform::Rect& crop);

}  // namespace addon
