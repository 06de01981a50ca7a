// Where a captured frame's window content lies: the whole-pixel rectangle of
// the frame image that holds the content, and where that rectangle lies on
// screen. Pure geometry, usable on any thread.
#pragma once

#include <cstdint>

#include "platform/value.h"

namespace addon {

struct FrameContentProjection {
  platform::Rect crop;    // pixels of the frame image
  platform::Rect screen;  // global points
  double content_scale = 0;
  double scale_factor = 0;
  uint32_t image_width = 0;
  uint32_t image_height = 0;
};

// A rectangle with four finite components and a positive width and height.
bool IsUsableRect(const platform::Rect& r);

// Projects the frame's content rectangle (points of the frame) onto the frame
// image (W x H pixels) and the screen rectangle. Fails unless the content has
// the size the screen rectangle predicts (within 2 points or 2 %), its pixel
// rectangle lies within the image give or take one pixel, and every result is
// finite and non-empty.
bool ComputeFrameContentProjection(const platform::Rect& content, const platform::Rect& screen,
                                   uint32_t image_width, uint32_t image_height,
                                   double content_scale, double scale_factor,
                                   FrameContentProjection* out);

}  // namespace addon
