#include "ghost/display_geometry.h"

#include <algorithm>
#include <cmath>

namespace ghost_geometry {
namespace {

constexpr double kSeedOffset = 140.0;
constexpr double kSeedInset = 2.0;
constexpr double kSeedMinExtent = 4.0;
constexpr double kSeedTooClose = 8.0;

// Distance from v to the span [lo, lo + extent], 0 inside it.
double AxisGap(double v, double lo, double extent) {
  return std::max({lo - v, 0.0, v - (lo + extent)});
}

double ClampInto(double v, double lo, double extent) {
  const double low = lo + kSeedInset, high = lo + extent - kSeedInset;
  return v < low ? low : std::min(v, high);
}

}  // namespace

int ScreenIndexForPoint(std::span<const DisplayFrame> frames, double x, double y) {
  for (size_t i = 0; i < frames.size(); ++i) {
    const DisplayFrame& f = frames[i];
    if (f.mirror) continue;
    if (x >= f.x && x < f.x + f.width && y >= f.y && y < f.y + f.height) {
      return static_cast<int>(i);
    }
  }
  int best = -1;
  double bestDistance = 0.0;
  for (size_t i = 0; i < frames.size(); ++i) {
    const DisplayFrame& f = frames[i];
    if (f.mirror) continue;
    const double dx = AxisGap(x, f.x, f.width), dy = AxisGap(y, f.y, f.height);
    const double d = dx * dx + dy * dy;
    if (best < 0 || d < bestDistance) {
      best = static_cast<int>(i);
      bestDistance = d;
    }
  }
  return best;
}

void SeedPosition(double x, double y, const DisplayFrame* frame, double* outX, double* outY) {
  double sx, sy;
  if (!frame || frame->width <= kSeedMinExtent || frame->height <= kSeedMinExtent) {
    sx = std::max(kSeedInset, x - kSeedOffset);
    sy = std::max(kSeedInset, y - kSeedOffset);
  } else {
    sx = ClampInto(x - kSeedOffset, frame->x, frame->width);
    sy = ClampInto(y - kSeedOffset, frame->y, frame->height);
    if (std::fabs(sx - x) < kSeedTooClose && std::fabs(sy - y) < kSeedTooClose) {
      sx = ClampInto(x + kSeedOffset, frame->x, frame->width);
      sy = ClampInto(y + kSeedOffset, frame->y, frame->height);
    }
  }
  if (outX) *outX = sx;
  if (outY) *outY = sy;
}

void ClampToDisplays(std::span<const DisplayFrame> frames, double* x, double* y) {
  bool any = false;
  double left = 0, top = 0, right = 0, bottom = 0;
  for (const DisplayFrame& f : frames) {
    if (f.mirror) continue;
    left = any ? std::min(left, f.x) : f.x;
    top = any ? std::min(top, f.y) : f.y;
    right = any ? std::max(right, f.x + f.width) : f.x + f.width;
    bottom = any ? std::max(bottom, f.y + f.height) : f.y + f.height;
    any = true;
  }
  if (!any) return;
  if (x) *x = std::clamp(*x, left, right);
  if (y) *y = std::clamp(*y, top, bottom);
}

}  // namespace ghost_geometry
