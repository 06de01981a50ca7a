// The window server over X: the window list in the keys the core reads,
// RandR monitors, the pointer and the one-call window image (the frame's
// composite pixmap read with MIT-SHM, so covered windows still give their own
// pixels).
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xcomposite.h>
#include <X11/extensions/Xrandr.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <mutex>

#include "x11/x11_busy.h"
#include "x11/x11_display.h"
#include "x11/x11_frames.h"
#include "x11/x11_services.h"
#include "x11/x11_windows.h"

namespace x11 {

namespace {

// Top-level windows keep their own pixels while covered once they are
// redirected. The redirection belongs to a connection of its own that lives
// as long as the process (a thread's connection ends with its thread), and
// covers every top-level window, present and future: a window redirected
// only when first captured would hand back what covered it until it repaints.
bool RedirectTopLevels() {
  static bool redirected = [] {
    Display* d = XOpenDisplay(nullptr);
    int major = 0, minor = 2;
    if (!d || !XCompositeQueryVersion(d, &major, &minor)) {
      if (d) XCloseDisplay(d);
      return false;
    }
    XCompositeRedirectSubwindows(d, DefaultRootWindow(d), CompositeRedirectAutomatic);
    XSync(d, False);
    return true;
  }();
  return redirected;
}

platform::Value Entry(const WindowInfo& w) {
  platform::Dict d;
  d[platform::kWindowNumber] = platform::Value(static_cast<int64_t>(w.client));
  if (w.pid > 0) d[platform::kWindowOwnerPID] = platform::Value(static_cast<int64_t>(w.pid));
  if (!w.owner_name.empty()) d[platform::kWindowOwnerName] = platform::Value(w.owner_name);
  if (w.title) d[platform::kWindowName] = platform::Value(*w.title);
  d[platform::kWindowLayer] = platform::Value(static_cast<int64_t>(w.layer));
  platform::Dict b;
  b["X"] = platform::Value(w.bounds.x);
  b["Y"] = platform::Value(w.bounds.y);
  b["Width"] = platform::Value(w.bounds.width);
  b["Height"] = platform::Value(w.bounds.height);
  d[platform::kWindowBounds] = platform::Value(std::move(b));
  d[platform::kWindowIsOnscreen] = platform::Value(w.on_screen);
  if (w.alpha) d[platform::kWindowAlpha] = platform::Value(*w.alpha);
  return platform::Value(std::move(d));
}

struct Monitor {
  uint32_t id;
  platform::Rect bounds;
  bool primary;
};

std::vector<Monitor> Monitors(Display* d) {
  std::vector<Monitor> out;
  int n = 0;
  ErrorTrap trap(d);
  XRRMonitorInfo* m = XRRGetMonitors(d, DefaultRootWindow(d), True, &n);
  for (int i = 0; m && i < n; ++i) {
    uint32_t id = m[i].noutput > 0 ? static_cast<uint32_t>(m[i].outputs[0])
                                   : static_cast<uint32_t>(i + 1);
    out.push_back({id,
                   {static_cast<double>(m[i].x), static_cast<double>(m[i].y),
                    static_cast<double>(m[i].width), static_cast<double>(m[i].height)},
                   m[i].primary != 0});
  }
  if (m) XRRFreeMonitors(m);
  if (out.empty()) {
    // No RandR: the screen is the one display.
    Screen* s = DefaultScreenOfDisplay(d);
    out.push_back({1, {0, 0, static_cast<double>(s->width), static_cast<double>(s->height)}, true});
  }
  return out;
}

// A shared-memory segment per thread, reused while it is large enough:
// attaching a fresh one per capture costs more than the copy itself.
struct ShmBuffer {
  Display* d = nullptr;
  XShmSegmentInfo info{};
  size_t size = 0;
  void Drop() {
    if (!d) return;
    XShmDetach(d, &info);
    XSync(d, False);
    shmdt(info.shmaddr);
    d = nullptr;
    size = 0;
  }
  // At thread end: unmap our side; the server lets go when the thread's
  // connection closes (the segment was already removed).
  ~ShmBuffer() {
    if (d) shmdt(info.shmaddr);
  }
  bool Ensure(Display* display, size_t bytes) {
    if (d == display && size >= bytes) return true;
    Drop();
    info.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (info.shmid < 0) return false;
    info.shmaddr = static_cast<char*>(shmat(info.shmid, nullptr, 0));
    // Removed at once: freed when both sides detach (or exit).
    shmctl(info.shmid, IPC_RMID, nullptr);
    if (info.shmaddr == reinterpret_cast<char*>(-1)) return false;
    info.readOnly = False;
    ErrorTrap trap(display);
    if (!XShmAttach(display, &info) || trap.Check()) {
      shmdt(info.shmaddr);
      return false;
    }
    d = display;
    size = bytes;
    return true;
  }
};
thread_local ShmBuffer t_shm;

// The pixels of `drawable` inside (x, y, w, h), through shared memory when
// the server offers it, else a plain GetImage. The image's data may belong to
// the thread's segment: release it with FreePixels.
XImage* ReadPixels(Display* d, Drawable drawable, Visual* visual, int depth, int x, int y,
                   unsigned w, unsigned h, bool* shared) {
  *shared = false;
  if (XShmQueryExtension(d)) {
    XImage* img = XShmCreateImage(d, visual, depth, ZPixmap, nullptr, &t_shm.info, w, h);
    if (img) {
      size_t bytes = static_cast<size_t>(img->bytes_per_line) * h;
      if (t_shm.Ensure(d, bytes)) {
        img->data = t_shm.info.shmaddr;
        img->obdata = reinterpret_cast<char*>(&t_shm.info);
        ErrorTrap trap(d);
        if (XShmGetImage(d, drawable, img, x, y, AllPlanes) && trap.Seen() == 0) {
          *shared = true;
          return img;
        }
      }
      img->data = nullptr;
      XDestroyImage(img);
    }
  }
  ErrorTrap trap(d);
  XImage* img = XGetImage(d, drawable, x, y, w, h, AllPlanes, ZPixmap);
  if (trap.Check() && img) {
    XDestroyImage(img);
    return nullptr;
  }
  return img;
}

void FreePixels(XImage* img, bool shared) {
  if (shared) img->data = nullptr;  // the segment stays for the next capture
  XDestroyImage(img);
}

// 32-bit ZPixmap (B, G, R, X/A in memory) to premultiplied RGBA. Depth-32
// pixels are already premultiplied; other depths are opaque.
platform::Image ToBitmap(XImage* img, const Visual* visual, bool has_alpha) {
  // Images of shared memory may carry no masks: the visual has them.
  if (img->bits_per_pixel != 32 || visual->red_mask != 0xFF0000 || visual->blue_mask != 0xFF)
    return nullptr;
  auto bm = std::make_shared<platform::Bitmap>();
  bm->width = img->width;
  bm->height = img->height;
  bm->rgba.resize(static_cast<size_t>(img->width) * img->height * 4);
  auto* out = reinterpret_cast<uint32_t*>(bm->rgba.data());
  // In memory B, G, R, X: as a little-endian word 0xXXRRGGBB, wanted 0xAABBGGRR.
  uint32_t opaque = has_alpha ? 0 : 0xFF000000u;
  for (int y = 0; y < img->height; ++y) {
    const auto* row = reinterpret_cast<const uint32_t*>(img->data + y * img->bytes_per_line);
    for (int x = 0; x < img->width; ++x) {
      uint32_t p = row[x];
      *out++ = (p & 0xFF00FF00u) | ((p >> 16) & 0xFFu) | ((p & 0xFFu) << 16) | opaque;
    }
  }
  return bm;
}

}  // namespace

void StartWindowImages() { RedirectTopLevels(); }

std::optional<platform::Array> X11WindowServer::CopyWindowList(platform::WindowListOption option) {
  BusyTimer busy;
  Display* d = Dpy();
  if (!d) return std::nullopt;
  platform::Array list;
  for (const auto& w : ListWindows(d)) {
    if (option == platform::WindowListOption::kOnScreenOnlyExcludingDesktop &&
        (!w.on_screen || w.desktop))
      continue;
    list.push_back(Entry(w));
  }
  return list;
}

bool X11WindowServer::GetActiveDisplays(uint32_t max_displays,
                                        std::vector<platform::DisplayInfo>* out) {
  BusyTimer busy;
  Display* d = Dpy();
  if (!d) return false;
  out->clear();
  for (const auto& m : Monitors(d)) {
    if (out->size() >= max_displays) break;
    // Scale 1: X coordinates are pixels.
    out->push_back({m.id, m.bounds, static_cast<int64_t>(m.bounds.width),
                    static_cast<int64_t>(m.bounds.height)});
  }
  return true;
}

uint32_t X11WindowServer::MainDisplayId() {
  Display* d = Dpy();
  if (!d) return 0;
  auto monitors = Monitors(d);
  for (const auto& m : monitors)
    if (m.primary) return m.id;
  return monitors.empty() ? 0 : monitors[0].id;
}

bool X11WindowServer::CurrentPointerLocation(platform::Point* out) {
  BusyTimer busy;
  Display* d = Dpy();
  if (!d) return false;
  Window root, child;
  int rx = 0, ry = 0, wx = 0, wy = 0;
  unsigned int mask = 0;
  if (!XQueryPointer(d, DefaultRootWindow(d), &root, &child, &rx, &ry, &wx, &wy, &mask))
    return false;
  if (out) *out = {static_cast<double>(rx), static_cast<double>(ry)};
  return true;
}

bool X11WindowServer::HasSingleWindowImageEntry() { return Dpy() != nullptr; }

platform::Image X11WindowServer::CreateSingleWindowImage(uint32_t window_id) {
  BusyTimer busy;
  Display* d = Dpy();
  if (!d || window_id == 0) return nullptr;
  auto place = PlaceWindow(d, window_id);
  if (!place || !place->viewable) return nullptr;  // unmapped or minimised: no pixels
  const XWindowAttributes& fa = place->frame_attrs;
  const int bw = fa.border_width;
  // The image covers the outer bounds the window list reports.
  XRectangle area;
  if (!PixmapArea(*place, &area)) return nullptr;
  const int x0 = area.x, y0 = area.y, x1 = area.x + area.width, y1 = area.y + area.height;

  // The composite pixmap when there is one (its failure shows in the read).
  Pixmap pixmap = RedirectTopLevels() ? XCompositeNameWindowPixmap(d, place->frame) : None;
  bool shared = false;
  XImage* img = pixmap ? ReadPixels(d, pixmap, fa.visual, fa.depth, x0, y0, x1 - x0, y1 - y0, &shared)
                       : nullptr;
  if (!img) {
    // A window is addressed from inside its border.
    img = ReadPixels(d, place->frame, fa.visual, fa.depth, std::max(0, x0 - bw),
                     std::max(0, y0 - bw), x1 - x0, y1 - y0, &shared);
  }
  platform::Image out;
  if (img) {
    out = ToBitmap(img, fa.visual, fa.depth == 32);
    FreePixels(img, shared);
  }
  if (pixmap) {
    ErrorTrap trap(d);  // a pixmap that was never named: BadPixmap, ignored
    XFreePixmap(d, pixmap);
    XFlush(d);
  }
  return out;
}

}  // namespace x11
