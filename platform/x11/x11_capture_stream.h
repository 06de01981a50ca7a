// Screen capture over X: the shareable content from the window list, filters
// on one window, capture streams and screenshots of it (x11_frames.h draws
// the pictures).
//
// A stream runs on its own thread with its own X connection. It names the
// window frame's composite pixmap (again on every ConfigureNotify, since a
// resize gives the frame a new one), lets XDamage say when the window drew,
// and at most every 16 ms turns new content into a frame of the configured
// size: status complete with a BGRA buffer; when nothing was drawn it sends
// an idle frame without pixels (at most four a second). A window that is
// destroyed or unmapped stops the stream with the error -3815 (no capture
// source). Content requests and screenshots are answered on one capture
// thread of the backend, in order.
#pragma once

#include "platform/screen_capture.h"

namespace x11 {

inline constexpr int64_t kCaptureErrorNoDisplay = -3801;  // what a refused capture answers
inline constexpr int64_t kCaptureErrorInvalidParameter = -3802;
inline constexpr int64_t kCaptureErrorNoSource = -3815;

class X11ScreenCapture : public platform::ScreenCapture {
 public:
  void GetShareableContent(const platform::ShareableContentOptions& options,
                           platform::ShareableContentCompletion completion) override;
  bool CreateDesktopIndependentWindowFilter(const platform::ShareableWindow& window,
                                            platform::ContentFilter* out) override;
  std::shared_ptr<platform::CaptureStream> CreateStream(
      const platform::ContentFilter& filter, const platform::StreamConfiguration& config,
      std::weak_ptr<platform::StreamOutput> delegate) override;
  void CaptureScreenshot(const platform::ContentFilter& filter,
                         const platform::ScreenshotConfiguration& config,
                         platform::ScreenshotCompletion completion) override;
};

}  // namespace x11
