#include "pip/pip_geometry.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace pip {

namespace {

// Box-filtered alpha of `image` at no more than max_side x max_side.
std::vector<uint8_t> AlphaSample(const platform::Bitmap& img, int max_side, int* sw, int* sh) {
  *sw = std::min(img.width, max_side);
  *sh = std::min(img.height, max_side);
  std::vector<uint8_t> out(static_cast<size_t>(*sw) * *sh, 0);
  for (int y = 0; y < *sh; ++y) {
    int y0 = static_cast<int>(static_cast<int64_t>(y) * img.height / *sh);
    int y1 = std::max(y0 + 1, static_cast<int>(static_cast<int64_t>(y + 1) * img.height / *sh));
    for (int x = 0; x < *sw; ++x) {
      int x0 = static_cast<int>(static_cast<int64_t>(x) * img.width / *sw);
      int x1 = std::max(x0 + 1, static_cast<int>(static_cast<int64_t>(x + 1) * img.width / *sw));
      uint64_t sum = 0;
      for (int yy = y0; yy < y1; ++yy) {
        const uint8_t* row = img.rgba.data() + (static_cast<size_t>(yy) * img.width + x0) * 4;
        for (int xx = x0; xx < x1; ++xx, row += 4) sum += row[3];
      }
      out[static_cast<size_t>(y) * *sw + x] =
          static_cast<uint8_t>(sum / (static_cast<uint64_t>(y1 - y0) * (x1 - x0)));
    }
  }
  return out;
}

bool Usable(const platform::Image& image) {
  return image && image->width > 0 && image->height > 0 &&
         image->rgba.size() >= static_cast<size_t>(image->width) * image->height * 4;
}

}  // namespace

platform::Size RequestedBox(double width, double height) {
  return platform::Size{width > 0 ? width : kDefaultBoxWidth,
                        height > 0 ? height : kDefaultBoxHeight};
}

platform::Size AspectFit(platform::Size source, platform::Size box) {
  double sw = source.width > 0 ? source.width : kUnknownSourceWidth;
  double sh = source.height > 0 ? source.height : kUnknownSourceHeight;
  double k = std::min(box.width / sw, box.height / sh);
  if (!std::isfinite(k) || !(k > 0)) k = 1;
  return platform::Size{std::max(1.0, std::round(sw * k)), std::max(1.0, std::round(sh * k))};
}

platform::Rect KeepInside(platform::Rect f, platform::Rect v) {
  if (!(v.width > 0) || !(v.height > 0)) return f;
  f.x = std::max(v.x, std::min(f.x, v.x + v.width - f.width));
  f.y = std::max(v.y, std::min(f.y, v.y + v.height - f.height));
  return f;
}

platform::Rect InitialPanelFrame(platform::Size size, platform::Rect v) {
  platform::Rect f{v.x + v.width - size.width - 20, v.y + v.height - size.height - v.height / 3,
                   size.width, size.height};
  return KeepInside(f, v);
}

void OutputSize(platform::Size content, double scale, int* width, int* height) {
  if (!(scale >= 1) || !std::isfinite(scale)) scale = 1;
  double w = std::max(1.0, std::round(content.width * scale));
  double h = std::max(1.0, std::round(content.height * scale));
  double k = std::min({1.0, kMaxOutputWidth / w, kMaxOutputHeight / h});
  *width = static_cast<int>(std::clamp(std::round(w * k), 1.0, double{kMaxOutputWidth}));
  *height = static_cast<int>(std::clamp(std::round(h * k), 1.0, double{kMaxOutputHeight}));
}

bool ImageHasVisiblePixels(const platform::Image& image) {
  if (!Usable(image)) return false;
  int sw, sh;
  std::vector<uint8_t> a = AlphaSample(*image, 32, &sw, &sh);
  return std::any_of(a.begin(), a.end(), [](uint8_t v) { return v >= 16; });
}

bool ContentFill(const platform::Image& image, double* fill_x, double* fill_y) {
  if (!Usable(image)) return false;
  int sw, sh;
  std::vector<uint8_t> a = AlphaSample(*image, 96, &sw, &sh);
  int x0 = sw, y0 = sh, x1 = -1, y1 = -1;
  for (int y = 0; y < sh; ++y)
    for (int x = 0; x < sw; ++x)
      if (a[static_cast<size_t>(y) * sw + x] > 39) {
        x0 = std::min(x0, x);
        x1 = std::max(x1, x);
        y0 = std::min(y0, y);
        y1 = std::max(y1, y);
      }
  *fill_x = x1 < 0 ? 0 : static_cast<double>(x1 - x0 + 1) / sw;
  *fill_y = y1 < 0 ? 0 : static_cast<double>(y1 - y0 + 1) / sh;
  return true;
}

}  // namespace pip

namespace pip {

platform::Rect ClampPipBoundsToVisibleScreens(platform::Rect bounds,
                                              const std::vector<platform::Rect>& screens) {
  if (screens.empty() || !(bounds.width > 0) || !(bounds.height > 0)) return bounds;
  size_t n = std::min<size_t>(screens.size(), 32);
  size_t best = 0;
  double best_area = 0;
  for (size_t i = 0; i < n; ++i) {
    const platform::Rect& s = screens[i];
    double w = std::min(bounds.x + bounds.width, s.x + s.width) - std::max(bounds.x, s.x);
    double h = std::min(bounds.y + bounds.height, s.y + s.height) - std::max(bounds.y, s.y);
    if (w > 0 && h > 0 && w * h > best_area) {
      best_area = w * h;
      best = i;
    }
  }
  const platform::Rect& s = screens[best];
  platform::Rect r = bounds;
  r.width = std::max(r.width, 48.0);
  r.height = std::max(r.height, 48.0);
  r.x = std::max(s.x, std::min(r.x, s.x + s.width - r.width));
  r.y = std::max(s.y, std::min(r.y, s.y + s.height - r.height));
  return r;
}

bool PipDoubleClickActivates(int64_t click_count, platform::Point start, platform::Point end) {
  double dx = end.x - start.x, dy = end.y - start.y;
  return click_count == 2 && dx * dx + dy * dy <= 16;
}

}  // namespace pip
