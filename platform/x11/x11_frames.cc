#include "x11/x11_frames.h"

#include <X11/extensions/Xcomposite.h>
#include <X11/extensions/Xrender.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "x11/x11_display.h"
#include "x11/x11_services.h"

namespace x11 {

namespace {

bool HaveRender(Display* d) {
  thread_local Display* checked = nullptr;
  thread_local bool present = false;
  if (checked != d) {
    int ev = 0, er = 0;
    present = XRenderQueryExtension(d, &ev, &er);
    checked = d;
  }
  return present;
}

bool HaveShm(Display* d) {
  thread_local Display* checked = nullptr;
  thread_local bool present = false;
  if (checked != d) {
    present = XShmQueryExtension(d);
    checked = d;
  }
  return present;
}

XFixed Fixed(double v) { return XDoubleToFixed(v); }

struct IntRect {
  int x, y, w, h;
};

IntRect Round(const platform::Rect& r) {
  const int x = static_cast<int>(std::lround(r.x)), y = static_cast<int>(std::lround(r.y));
  return {x, y, static_cast<int>(std::lround(r.x + r.width)) - x,
          static_cast<int>(std::lround(r.y + r.height)) - y};
}

// Reads a whole drawable of w x h (depth 32 or 24 at 32 bits per pixel) into
// `out`, through its shared segment when it has one.
bool ReadDrawable(Display* d, Drawable drawable, int depth, int x, int y, int w, int h,
                  FrameBuffer* out) {
  const size_t stride = static_cast<size_t>(w) * 4;
  if (out->size < stride * h) return false;
  if (out->shared) {
    XImage* img = XShmCreateImage(d, DefaultVisual(d, DefaultScreen(d)), depth, ZPixmap,
                                  reinterpret_cast<char*>(out->data), &out->shm, w, h);
    if (!img) return false;
    bool ok = img->bits_per_pixel == 32 && static_cast<size_t>(img->bytes_per_line) == stride;
    if (ok) {
      ErrorTrap trap(d);
      ok = XShmGetImage(d, drawable, img, x, y, AllPlanes) && trap.Seen() == 0;
    }
    img->data = nullptr;
    XDestroyImage(img);
    return ok;
  }
  ErrorTrap trap(d);
  XImage* img = XGetImage(d, drawable, x, y, w, h, AllPlanes, ZPixmap);
  if (!img || trap.Check() || img->bits_per_pixel != 32) {
    if (img) XDestroyImage(img);
    return false;
  }
  for (int row = 0; row < h; ++row)
    std::memcpy(out->data + row * stride, img->data + row * img->bytes_per_line, stride);
  XDestroyImage(img);
  return true;
}

}  // namespace

bool PixmapArea(const Placement& place, XRectangle* area) {
  const XWindowAttributes& fa = place.frame_attrs;
  const int bw = fa.border_width;
  // The pixmap starts at the outside of the frame's border, where its
  // attributes place it.
  const platform::Rect& b = place.bounds;
  const int ox = static_cast<int>(b.x) - fa.x, oy = static_cast<int>(b.y) - fa.y;
  const int pw = fa.width + 2 * bw, ph = fa.height + 2 * bw;
  const int x0 = std::max(0, ox), y0 = std::max(0, oy);
  const int x1 = std::min(pw, ox + static_cast<int>(b.width));
  const int y1 = std::min(ph, oy + static_cast<int>(b.height));
  if (x1 <= x0 || y1 <= y0) return false;
  *area = {static_cast<short>(x0), static_cast<short>(y0), static_cast<unsigned short>(x1 - x0),
           static_cast<unsigned short>(y1 - y0)};
  return true;
}

FrameBuffer::~FrameBuffer() {
  // The server lets go of an attached segment when its connection closes;
  // the segment was removed at creation, so it ends with the last detach.
  if (shared && data) shmdt(data);
  if (!shared) std::free(data);
}

std::shared_ptr<FrameBuffer> NewFrameBuffer(Display* d, size_t bytes) {
  auto b = std::make_shared<FrameBuffer>();
  b->size = bytes;
  if (HaveShm(d)) {
    b->shm.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (b->shm.shmid >= 0) {
      void* addr = shmat(b->shm.shmid, nullptr, 0);
      shmctl(b->shm.shmid, IPC_RMID, nullptr);
      if (addr != reinterpret_cast<void*>(-1)) {
        b->shm.shmaddr = static_cast<char*>(addr);
        b->shm.readOnly = False;
        ErrorTrap trap(d);
        if (XShmAttach(d, &b->shm) && !trap.Check()) {
          b->shared = true;
          b->data = static_cast<uint8_t*>(addr);
          return b;
        }
        shmdt(addr);
      }
    }
  }
  b->data = static_cast<uint8_t*>(std::calloc(bytes, 1));
  if (!b->data) return nullptr;
  return b;
}

FrameLayout FitLayout(const platform::Rect& bounds, int out_w, int out_h, double* scale) {
  FrameLayout l;
  l.out_w = out_w;
  l.out_h = out_h;
  l.src = {0, 0, bounds.width, bounds.height};
  double k = 1;
  if (bounds.width > 0 && bounds.height > 0)
    k = std::min(out_w / bounds.width, out_h / bounds.height);
  l.dst = {0, 0, std::min<double>(out_w, std::round(bounds.width * k)),
           std::min<double>(out_h, std::round(bounds.height * k))};
  if (scale) *scale = k;
  return l;
}

void ScaleBox(const uint8_t* src, int src_w, int src_h, size_t src_stride, bool has_alpha,
              uint8_t* dst, int dst_x, int dst_y, int dst_w, int dst_h, size_t dst_stride) {
  if (src_w <= 0 || src_h <= 0 || dst_w <= 0 || dst_h <= 0) return;
  const double fx = static_cast<double>(src_w) / dst_w, fy = static_cast<double>(src_h) / dst_h;
  for (int j = 0; j < dst_h; ++j) {
    int y0 = static_cast<int>(j * fy);
    int y1 = std::max(y0 + 1, static_cast<int>((j + 1) * fy));
    y0 = std::min(y0, src_h - 1);
    y1 = std::min(y1, src_h);
    uint8_t* out = dst + (dst_y + j) * dst_stride + static_cast<size_t>(dst_x) * 4;
    for (int i = 0; i < dst_w; ++i, out += 4) {
      int x0 = static_cast<int>(i * fx);
      int x1 = std::max(x0 + 1, static_cast<int>((i + 1) * fx));
      x0 = std::min(x0, src_w - 1);
      x1 = std::min(x1, src_w);
      uint32_t sum[4] = {0, 0, 0, 0};
      for (int y = y0; y < y1; ++y) {
        const uint8_t* p = src + y * src_stride + static_cast<size_t>(x0) * 4;
        for (int x = x0; x < x1; ++x, p += 4)
          for (int c = 0; c < 4; ++c) sum[c] += p[c];
      }
      const uint32_t n = static_cast<uint32_t>((y1 - y0) * (x1 - x0));
      for (int c = 0; c < 3; ++c) out[c] = static_cast<uint8_t>((sum[c] + n / 2) / n);
      out[3] = has_alpha ? static_cast<uint8_t>((sum[3] + n / 2) / n) : 255;
    }
  }
}

WindowFrames::~WindowFrames() {
  ReleasePixmap();
  if (out_picture_) XRenderFreePicture(d_, out_picture_);
  if (out_pixmap_) XFreePixmap(d_, out_pixmap_);
  XFlush(d_);
}

void WindowFrames::ReleasePixmap() {
  ErrorTrap trap(d_);  // the window may be gone with its pixmap
  if (source_) XRenderFreePicture(d_, source_);
  if (pixmap_) XFreePixmap(d_, pixmap_);
  source_ = 0;
  pixmap_ = 0;
  trap.Check();
}

bool WindowFrames::Refresh() {
  ReleasePixmap();
  place_ = PlaceWindow(d_, client_);
  if (!place_ || !place_->viewable || !PixmapArea(*place_, &area_)) return false;
  const platform::Rect& b = place_->bounds;
  const int ox = static_cast<int>(b.x) - place_->frame_attrs.x;
  const int oy = static_cast<int>(b.y) - place_->frame_attrs.y;
  bounds_ = {b.x + (area_.x - ox), b.y + (area_.y - oy), static_cast<double>(area_.width),
             static_cast<double>(area_.height)};
  StartWindowImages();  // every top-level window keeps its own pixmap
  ErrorTrap trap(d_);
  pixmap_ = XCompositeNameWindowPixmap(d_, place_->frame);
  if (trap.Check()) {
    pixmap_ = 0;
    return false;
  }
  if (HaveRender(d_)) {
    XRenderPictFormat* fmt = XRenderFindVisualFormat(d_, place_->frame_attrs.visual);
    XRenderPictureAttributes pa{};
    pa.repeat = RepeatPad;
    if (fmt) source_ = XRenderCreatePicture(d_, pixmap_, fmt, CPRepeat, &pa);
    if (trap.Check()) source_ = 0;
  }
  return true;
}

bool WindowFrames::Read(const FrameLayout& layout, FrameBuffer* out) {
  if (!pixmap_ || layout.out_w <= 0 || layout.out_h <= 0) return false;
  if (out->size < static_cast<size_t>(layout.out_w) * layout.out_h * 4) return false;
  return source_ ? ReadRender(layout, out) : ReadCpu(layout, out);
}

bool WindowFrames::ReadRender(const FrameLayout& layout, FrameBuffer* out) {
  if (!out_pixmap_ || out_w_ != layout.out_w || out_h_ != layout.out_h) {
    if (out_picture_) XRenderFreePicture(d_, out_picture_);
    if (out_pixmap_) XFreePixmap(d_, out_pixmap_);
    out_picture_ = 0;
    out_pixmap_ = XCreatePixmap(d_, DefaultRootWindow(d_), layout.out_w, layout.out_h, 32);
    XRenderPictFormat* argb = XRenderFindStandardFormat(d_, PictStandardARGB32);
    if (!out_pixmap_ || !argb) return false;
    out_picture_ = XRenderCreatePicture(d_, out_pixmap_, argb, 0, nullptr);
    out_w_ = layout.out_w;
    out_h_ = layout.out_h;
  }
  const IntRect dst = Round(layout.dst);
  if (dst.w <= 0 || dst.h <= 0) return false;
  if (dst.x > 0 || dst.y > 0 || dst.w < layout.out_w || dst.h < layout.out_h) {
    const XRenderColor clear{0, 0, 0, 0};
    XRenderFillRectangle(d_, PictOpSrc, out_picture_, &clear, 0, 0, layout.out_w, layout.out_h);
  }
  // Output pixel (i, j) of the destination samples the pixmap at
  // (i, j) * f + the source origin: one transform on the source picture.
  const double fx = layout.src.width / dst.w, fy = layout.src.height / dst.h;
  const double tx = area_.x + layout.src.x, ty = area_.y + layout.src.y;
  XTransform t = {{{Fixed(fx), 0, Fixed(tx)}, {0, Fixed(fy), Fixed(ty)}, {0, 0, Fixed(1)}}};
  XRenderSetPictureTransform(d_, source_, &t);
  // At scale 1 on whole pixels: an exact copy.
  const bool exact = fx == 1 && fy == 1 && tx == std::floor(tx) && ty == std::floor(ty);
  XRenderSetPictureFilter(d_, source_, exact ? FilterNearest : FilterBilinear, nullptr, 0);
  ErrorTrap trap(d_);
  XRenderComposite(d_, PictOpSrc, source_, None, out_picture_, 0, 0, 0, 0, dst.x, dst.y, dst.w,
                   dst.h);
  const bool ok = ReadDrawable(d_, out_pixmap_, 32, 0, 0, layout.out_w, layout.out_h, out);
  return ok && trap.Seen() == 0;
}

bool WindowFrames::ReadCpu(const FrameLayout& layout, FrameBuffer* out) {
  const IntRect src = Round(layout.src), dst = Round(layout.dst);
  if (src.w <= 0 || src.h <= 0 || dst.w <= 0 || dst.h <= 0) return false;
  ErrorTrap trap(d_);
  XImage* img = XGetImage(d_, pixmap_, area_.x + src.x, area_.y + src.y, src.w, src.h, AllPlanes,
                          ZPixmap);
  if (!img || trap.Check() || img->bits_per_pixel != 32) {
    if (img) XDestroyImage(img);
    return false;
  }
  const size_t stride = static_cast<size_t>(layout.out_w) * 4;
  std::memset(out->data, 0, stride * layout.out_h);
  ScaleBox(reinterpret_cast<const uint8_t*>(img->data), src.w, src.h, img->bytes_per_line,
           place_->frame_attrs.depth == 32, out->data, dst.x, dst.y,
           std::min(dst.w, layout.out_w - dst.x), std::min(dst.h, layout.out_h - dst.y), stride);
  XDestroyImage(img);
  return true;
}

}  // namespace x11
