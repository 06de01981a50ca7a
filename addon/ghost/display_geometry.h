// Which display a global point belongs to, and where a cursor that has never
// been shown first appears. Pure arithmetic over a list of display frames in
// global top-left points; mirroring displays take part in no rule.
#pragma once

#include <cstdint>
#include <span>

namespace ghost_geometry {

// One active display.
struct DisplayFrame {
  double x = 0.0;  // bounds in global points
  double y = 0.0;
  double width = 0.0;
  double height = 0.0;
  double scale = 1.0;   // backing pixels per point
  bool mirror = false;  // mirrors another display: ignored everywhere
  uint32_t displayId = 0;
};

// The index of the first non-mirror frame holding (x, y) half-open; failing
// that, the non-mirror frame nearest to it (the earlier one on a tie), so a
// point on a right or bottom edge or off every display still gets one. -1
// when the list is empty or holds only mirrors.
int ScreenIndexForPoint(std::span<const DisplayFrame> frames, double x, double y);

// Where a new cursor is placed before its first glide to the target (x, y):
// 140 points up and left of the target, kept 2 points inside `frame` (the
// display holding the target, or null); if that lands within 8 points of the
// target on both axes, 140 points down and right instead. Without a usable
// frame (null, or 4 points or less across) only the 2-point floor applies.
// Null outputs are ignored.
void SeedPosition(double x, double y, const DisplayFrame* frame, double* outX, double* outY);

// Moves (x, y) into the smallest rectangle holding every non-mirror frame
// (edges included), so a point far off every display is drawn at the edge
// of the desktop. Without such a frame the point is left as it is.
void ClampToDisplays(std::span<const DisplayFrame> frames, double* x, double* y);

}  // namespace ghost_geometry
