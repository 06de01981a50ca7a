// Pure geometry and pixel rules of the mirroring panels: the requested box,
// aspect-fit sizing, the panel's first position, the capture output size, and
// the two frame tests (visible pixels, content fill).
#pragma once

#include <cstdint>
#include <vector>

#include "platform/value.h"

namespace pip {

// Whether `p` lies in `r` (left and top edges inclusive).
inline bool PipRectContains(const platform::Rect& r, platform::Point p) {
  return p.x >= r.x && p.y >= r.y && p.x < r.x + r.width && p.y < r.y + r.height;
}

inline constexpr double kDefaultBoxWidth = 360;
inline constexpr double kDefaultBoxHeight = 240;
inline constexpr double kUnknownSourceWidth = 16;
inline constexpr double kUnknownSourceHeight = 10;
inline constexpr int kMaxOutputWidth = 1920;
inline constexpr int kMaxOutputHeight = 1080;

// The box a panel must fit: each dimension that is not positive takes the
// default 360 x 240.
platform::Size RequestedBox(double width, double height);
// `source` (16 x 10 when unknown) scaled by one factor to fit `box`,
// rounded, at least 1 x 1.
platform::Size AspectFit(platform::Size source, platform::Size box);
// The first frame of a panel of `size` on a screen's visible frame (both in
// the window system's bottom-left space): 20 points from the right edge, a
// third of the visible height below the top, then kept inside.
platform::Rect InitialPanelFrame(platform::Size size, platform::Rect visible);
// `frame` moved (not resized, unless larger) so that it lies inside `visible`.
platform::Rect KeepInside(platform::Rect frame, platform::Rect visible);
// Output pixels of a screenshot of `content` points at `scale` (at least 1):
// one factor for both dimensions so that neither exceeds 1920 x 1080 and the
// mirror is never stretched; each at least 1.
void OutputSize(platform::Size content, double scale, int* width, int* height);

// Whether any pixel of `image`, drawn into at most 32 x 32, has alpha >= 16.
bool ImageHasVisiblePixels(const platform::Image& image);
// The share of the width and height (0..1) covered by the bounding box of
// pixels with alpha above 39, in a sample of at most 96 x 96. False for an
// empty image.
bool ContentFill(const platform::Image& image, double* fill_x, double* fill_y);

// `bounds` moved (and grown to at least 48 x 48) to lie within the screen
// that overlaps it most (the first when none does); unchanged for an empty
// rectangle or no screens. At most 32 screens are considered.
platform::Rect ClampPipBoundsToVisibleScreens(platform::Rect bounds,
                                              const std::vector<platform::Rect>& screens);
// Whether a double click (click count 2) ending at `end` activates the
// target: it started within 4 points.
bool PipDoubleClickActivates(int64_t click_count, platform::Point start, platform::Point end);
}  // namespace pip
