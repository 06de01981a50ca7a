// The ghost cursor's self-test results: fixed scenarios run through the
// motion model, the palette and the display geometry with the default
// parameters, never touching the overlay. The JavaScript self-test exports
// turn these structs into objects key by key (field names are the keys).
#pragma once

#include <array>
#include <string>
#include <vector>

#include "ghost/display_geometry.h"
#include "ghost/motion_math.h"

namespace ghost_selftest {

struct NamedColor {
  const char* key;  // the object key it is reported under
  ghost_motion::Rgba8 color;
};
struct NamedIndex {
  const char* key;
  int index;
};
struct NamedText {
  const char* key;
  std::string text;
};

struct PaletteSelftest {
  std::array<ghost_motion::Rgba8, ghost_motion::kSessionFillCount> palette;
  // Fills of "default", the empty key (reported as "(empty)"), "agent-1",
  // "agent-3", "a", "z" and "sess_0d8f2b1e-4c6a-4d3f-9a1c-2e5b7a9f0c11".
  std::array<NamedColor, 7> samples;
  // "pineapple" (stroke of fill 0), "blue" (of the default fill), "raspberry"
  // (of fill 8).
  std::array<NamedColor, 3> strokes;
  // Indices among 11 of "agent-3", "agent-12" and "a".
  std::array<NamedIndex, 3> indices;
  // Sanitised badge texts: "control", "collapse", "trim", "cjk-keep",
  // "long-cut".
  std::array<NamedText, 5> sanitize;
};

struct MotionSample {
  double t;  // seconds since the glide began (tick count x dt)
  double x;
  double y;
  double heading;
};

// One glide from (0, 0) along +x, ticked at a fixed dt until it arrives and
// then until the spring settles.
struct GlideReport {
  double natural;   // unscaled duration: curve length x GlideSecondsPerPoint
  double scale;     // the glide's speedScale
  double elapsed;   // seconds until arrival: ticks up to and including the arrival tick x dt
  double settle;    // seconds from arrival until settled: ticks after the arrival tick up
                    // to and including the one that ends the settle, x dt
  double settledX;  // x once settled
  bool arrived;     // arrival within the tick bound
  bool settled;     // settle ended within the tick bound
};

struct MotionSelftest {
  // (0, 0) -> (400, 0) at 1/60 s, at most 600 ticks until arrival. Samples
  // are taken after every 6th tick (6, 12, ...), up to the arrival tick.
  std::vector<MotionSample> samples;
  bool arrived;
  double finalX;
  double finalY;
  int arrivalTick;  // 1-based; 0 when it never arrived
  // (0, 0) -> (300, 200) at 1/60 s until settled, at most 2000 ticks.
  double settledX;
  double settledY;
  bool settled;
  int settleArrivalTick;  // 1-based tick of arrival
  int settleTicks;        // ticks after arrival until settled
  // (0, 0) -> (500, 0) ticked once for 0.2 s, then re-targeted to (500, 300):
  // x after the tick and x right after the re-target.
  double preemptMidX;
  double preemptRestartX;
  // 200- and 4000-point glides at fineDt.
  double fineDt;
  GlideReport glideShort;
  GlideReport glideLong;
  double maxGlide;  // the default maxGlideSeconds
};

struct GeometrySelftest {
  // Displays (0, 0, 1920, 1080), (-1920, 0, 1920, 1080), (0, -1080, 1920, 1080)
  // and a mirror at (3840, 0, 1920, 1080).
  int primary;        // (100, 100)
  int leftScreen;     // (-1900, 500)
  int aboveScreen;    // (100, -1000)
  int seam;           // (1920, 100): right edge of the primary
  int nearest;        // (5000, 100): off every display
  int mirrorIgnored;  // (4000, 100): inside the mirror only
  double seedX, seedY;              // target (500, 400)
  double seedCornerX, seedCornerY;  // target (3, 3)
  double seedLeftX, seedLeftY;      // target (-1800, 500)
  double seedNoneX, seedNoneY;      // target (50, 500) with no display
};

PaletteSelftest RunPaletteSelftest();
MotionSelftest RunMotionSelftest();
GeometrySelftest RunGeometrySelftest();

}  // namespace ghost_selftest
