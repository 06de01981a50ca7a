#include "apps/frame_projection.h"

#include <algorithm>
#include <cmath>

namespace addon {

namespace {

bool PositiveFinite(double v) { return std::isfinite(v) && v > 0; }

// Relative tolerance of the content size, and its floor in points.
constexpr double kSizeTolerance = 0.02;
constexpr double kMinSizeTolerance = 2.0;

}  // namespace

bool IsUsableRect(const platform::Rect& r) {
  return std::isfinite(r.x) && std::isfinite(r.y) && std::isfinite(r.width) &&
         std::isfinite(r.height) && r.width > 0 && r.height > 0;
}

bool ComputeFrameContentProjection(const platform::Rect& c, const platform::Rect& s,
                                   uint32_t w, uint32_t h, double k, double f,
                                   FrameContentProjection* out) {
  if (!out || !IsUsableRect(c) || !IsUsableRect(s) || w == 0 || h == 0) return false;
  if (!PositiveFinite(k) || !PositiveFinite(f)) return false;

  // The content must have the size the screen rectangle predicts.
  const double ew = s.width * k, eh = s.height * k;
  if (!std::isfinite(ew) || !std::isfinite(eh)) return false;
  const double tw = std::max(kSizeTolerance * ew, kMinSizeTolerance);
  const double th = std::max(kSizeTolerance * eh, kMinSizeTolerance);
  if (!(std::fabs(c.width - ew) <= tw) || !(std::fabs(c.height - eh) <= th)) return false;

  // The content in pixels, allowed to overhang the image by one pixel.
  const platform::Rect p{c.x * f, c.y * f, c.width * f, c.height * f};
  if (!IsUsableRect(p)) return false;
  const double iw = w, ih = h;
  if (p.x < -1 || p.y < -1 || p.x + p.width > iw + 1 || p.y + p.height > ih + 1) return false;

  // Whole pixels covering it, clipped to the image.
  const double x0 = std::max(0.0, std::floor(p.x)), y0 = std::max(0.0, std::floor(p.y));
  const double x1 = std::min(iw, std::ceil(p.x + p.width));
  const double y1 = std::min(ih, std::ceil(p.y + p.height));
  if (!(x1 > x0) || !(y1 > y0)) return false;
  const platform::Rect crop{x0, y0, x1 - x0, y1 - y0};

  const double rx = s.width / c.width, ry = s.height / c.height;
  const platform::Rect screen{(crop.x / f - c.x) * rx + s.x, (crop.y / f - c.y) * ry + s.y,
                              crop.width / f * rx, crop.height / f * ry};
  if (!IsUsableRect(screen)) return false;

  out->crop = crop;
  out->screen = screen;
  out->content_scale = k;
  out->scale_factor = f;
  out->image_width = w;
  out->image_height = h;
  return true;
}

}  // namespace addon
