// Display choice for a global point and the first placement of a new cursor.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "ghost/display_geometry.h"
#include "ghost/selftest.h"

namespace ghost_geometry {
namespace {

// Primary, one to its left, one above it, and a mirror far to the right.
const std::vector<DisplayFrame> kDisplays = {
    {.x = 0, .y = 0, .width = 1920, .height = 1080, .displayId = 1},
    {.x = -1920, .y = 0, .width = 1920, .height = 1080, .displayId = 2},
    {.x = 0, .y = -1080, .width = 1920, .height = 1080, .displayId = 3},
    {.x = 3840, .y = 0, .width = 1920, .height = 1080, .mirror = true, .displayId = 4},
};

int Index(double x, double y) { return ScreenIndexForPoint(kDisplays, x, y); }

TEST(GhostGeometryScreen, ContainmentThenNearestIgnoringMirrors) {
  EXPECT_EQ(Index(100, 100), 0);
  EXPECT_EQ(Index(-1900, 500), 1);
  EXPECT_EQ(Index(100, -1000), 2);
  // Bounds are half-open: the shared edges belong to the right and lower display.
  EXPECT_EQ(Index(0, 0), 0);
  EXPECT_EQ(Index(-0.5, 0), 1);
  EXPECT_EQ(Index(0, -0.5), 2);
  // Off every display, including inside the mirror: the nearest wins.
  EXPECT_EQ(Index(1920, 100), 0);
  EXPECT_EQ(Index(5000, 100), 0);
  EXPECT_EQ(Index(4000, 100), 0);
  EXPECT_EQ(Index(-2500, 300), 1);
  EXPECT_EQ(Index(500, -5000), 2);
  // Equally near the left and the upper display: the earlier one.
  EXPECT_EQ(Index(-10, -10), 1);
}

TEST(GhostGeometryScreen, StackedDisplaysOfOneSizeAreToldApartByY) {
  const DisplayFrame stacked[] = {
      {.x = 0, .y = 0, .width = 1440, .height = 900},
      {.x = 0, .y = 900, .width = 1440, .height = 900},
  };
  EXPECT_EQ(ScreenIndexForPoint(stacked, 700, 899.5), 0);
  EXPECT_EQ(ScreenIndexForPoint(stacked, 700, 900), 1);
  EXPECT_EQ(ScreenIndexForPoint(stacked, 700, 5000), 1);
}

TEST(GhostGeometryScreen, NoUsableDisplayGivesMinusOne) {
  EXPECT_EQ(ScreenIndexForPoint({}, 0, 0), -1);
  const DisplayFrame mirrors[] = {
      {.x = 0, .y = 0, .width = 800, .height = 600, .mirror = true},
      {.x = 800, .y = 0, .width = 800, .height = 600, .mirror = true},
  };
  EXPECT_EQ(ScreenIndexForPoint(mirrors, 10, 10), -1);
}

TEST(GhostGeometryClamp, PointsOffTheDesktopGoToItsEdgeMirrorsIgnored) {
  auto clamp = [](double x, double y, std::span<const DisplayFrame> frames = kDisplays) {
    ClampToDisplays(frames, &x, &y);
    return std::pair<double, double>{x, y};
  };
  EXPECT_EQ(clamp(100, -500), (std::pair<double, double>{100, -500}));  // inside the box
  EXPECT_EQ(clamp(1e308, 1e308), (std::pair<double, double>{1920, 1080}));  // not the mirror's 5760
  EXPECT_EQ(clamp(-1e308, -1.7e308), (std::pair<double, double>{-1920, -1080}));
  EXPECT_EQ(clamp(1e308, 5, {}), (std::pair<double, double>{1e308, 5}));
}

using Point = std::pair<double, double>;
Point Seed(double x, double y, const DisplayFrame* frame) {
  Point p{-1, -1};
  SeedPosition(x, y, frame, &p.first, &p.second);
  return p;
}

TEST(GhostGeometrySeed, UpLeftOfTheTargetInsideItsDisplay) {
  EXPECT_EQ(Seed(500, 400, &kDisplays[0]), Point(360, 260));
  EXPECT_EQ(Seed(-1800, 500, &kDisplays[1]), Point(-1918, 360));
  // Clamped to (2, 2) it would sit on the target, so down-right instead;
  // close on one axis only keeps the up-left seed.
  EXPECT_EQ(Seed(3, 3, &kDisplays[0]), Point(143, 143));
  EXPECT_EQ(Seed(3, 500, &kDisplays[0]), Point(2, 360));
  // The down-right seed is clamped too, on a small display.
  const DisplayFrame small = {.x = 0, .y = 0, .width = 100, .height = 100};
  EXPECT_EQ(Seed(3, 3, &small), Point(98, 98));
}

TEST(GhostGeometrySeed, WithoutAUsableDisplayOnlyTheFloorApplies) {
  EXPECT_EQ(Seed(50, 500, nullptr), Point(2, 360));
  const DisplayFrame sliver = {.x = 0, .y = 0, .width = 4, .height = 1000};
  EXPECT_EQ(Seed(3000, 3000, &sliver), Point(2860, 2860));
  SeedPosition(1, 1, nullptr, nullptr, nullptr);  // null outputs are allowed
}

TEST(GhostGeometrySelftest, ReportsTheReferenceLayout) {
  const ghost_selftest::GeometrySelftest r = ghost_selftest::RunGeometrySelftest();
  EXPECT_EQ(r.leftScreen, 1);
  EXPECT_EQ(r.aboveScreen, 2);
  EXPECT_EQ(r.mirrorIgnored, 0);
  EXPECT_EQ(r.seedCornerX, 143);
  EXPECT_EQ(r.seedLeftX, -1918);
  EXPECT_EQ(r.seedNoneX, 2);
  EXPECT_EQ(r.seedNoneY, 360);
}

}  // namespace
}  // namespace ghost_geometry
