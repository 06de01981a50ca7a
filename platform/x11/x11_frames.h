// Pictures of one window for capture streams and screenshots, read from the
// window frame's composite pixmap (so a covered window still gives its own
// pixels). The pixmap is scaled on the server with XRender into a 32-bit
// picture of the output size and read back through MIT-SHM; without XRender
// the pixels are read as they are and scaled on the CPU. Frames are BGRA
// (B, G, R, A in memory), alpha 255 for the usual depth-24 windows.
//
// What a frame shows: the window's outer bounds as the window list reports
// them (client area plus the window manager's decorations), the same pixels
// as the one-call window image and as `xwd` of the frame cropped to those
// bounds; scaled output is filtered (bilinear on the server, box on the CPU).
#pragma once

#include <X11/Xlib.h>
#include <X11/extensions/XShm.h>

#include <cstdint>
#include <memory>
#include <optional>

#include "platform/value.h"
#include "x11/x11_windows.h"

namespace x11 {

// The part of a frame's composite pixmap that holds the window's outer
// bounds (pixmap coordinates); false when nothing of it is inside.
bool PixmapArea(const Placement& place, XRectangle* area);

// A buffer the server writes frames into: a shared-memory segment attached
// to one connection, or plain memory when the server has no MIT-SHM.
struct FrameBuffer {
  ~FrameBuffer();
  XShmSegmentInfo shm{};
  bool shared = false;
  uint8_t* data = nullptr;
  size_t size = 0;
};
std::shared_ptr<FrameBuffer> NewFrameBuffer(Display* d, size_t bytes);

// Where the window's pixels go in an output frame: `src` (window pixels,
// relative to its outer bounds) is scaled into `dst` (output pixels); the
// rest of the output is transparent.
struct FrameLayout {
  int out_w = 0, out_h = 0;
  platform::Rect src;
  platform::Rect dst;
};

// One window's pictures on the calling thread's connection. Not thread-safe:
// one owner thread.
class WindowFrames {
 public:
  WindowFrames(Display* d, Window client) : d_(d), client_(client) {}
  ~WindowFrames();
  WindowFrames(const WindowFrames&) = delete;
  WindowFrames& operator=(const WindowFrames&) = delete;

  // Finds the window again and names its pixmap anew (after a configure:
  // a resize gives the frame a new pixmap). False when the window is gone
  // or not mapped.
  bool Refresh();
  Window frame() const { return place_ ? place_->frame : 0; }
  const platform::Rect& bounds() const { return bounds_; }
  // Reads one frame laid out as `layout` into `out` (out_w * out_h * 4 bytes).
  bool Read(const FrameLayout& layout, FrameBuffer* out);

 private:
  void ReleasePixmap();
  bool ReadRender(const FrameLayout& layout, FrameBuffer* out);
  bool ReadCpu(const FrameLayout& layout, FrameBuffer* out);

  Display* d_;
  Window client_;
  std::optional<Placement> place_;
  platform::Rect bounds_;
  XRectangle area_{};
  Pixmap pixmap_ = 0;
  unsigned long source_ = 0;  // Picture of the pixmap
  // The output picture, kept while the output size stays the same.
  Pixmap out_pixmap_ = 0;
  unsigned long out_picture_ = 0;
  int out_w_ = 0, out_h_ = 0;
};

// The output layout of a stream frame: the window scaled by one factor to
// fit out_w x out_h, at the top left. `scale` receives the factor.
FrameLayout FitLayout(const platform::Rect& bounds, int out_w, int out_h, double* scale);

// Box-filters a 32-bit image (B, G, R, X/A) of the source rectangle into the
// destination rectangle of a BGRA output; alpha 255 unless `has_alpha`.
void ScaleBox(const uint8_t* src, int src_w, int src_h, size_t src_stride, bool has_alpha,
              uint8_t* dst, int dst_x, int dst_y, int dst_w, int dst_h, size_t dst_stride);

}  // namespace x11
