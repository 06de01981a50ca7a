// Clamping a dragged panel to the screens, and the double-click rule.
#include <gtest/gtest.h>

#include "pip/pip_geometry.h"

using pip::ClampPipBoundsToVisibleScreens;
using pip::PipDoubleClickActivates;
using platform::Rect;

namespace {
void ExpectRect(const Rect& r, double x, double y, double w, double h) {
  EXPECT_DOUBLE_EQ(r.x, x);
  EXPECT_DOUBLE_EQ(r.y, y);
  EXPECT_DOUBLE_EQ(r.width, w);
  EXPECT_DOUBLE_EQ(r.height, h);
}
}  // namespace

TEST(PipClamp, PicksTheScreenWithTheLargestOverlapAndKeepsThePanelInside) {
  std::vector<Rect> screens = {{0, 0, 1440, 900}, {1440, 0, 1280, 800}};
  // 200 of 300 points on the second screen, hanging below its bottom (and
  // only 100 x 200 on the first).
  ExpectRect(ClampPipBoundsToVisibleScreens({1340, 650, 300, 200}, screens), 1440, 600, 300, 200);
  // Mostly on the first: pushed back left of its right edge.
  ExpectRect(ClampPipBoundsToVisibleScreens({1240, 100, 300, 200}, screens), 1140, 100, 300, 200);
  // Overlapping neither: the first screen.
  ExpectRect(ClampPipBoundsToVisibleScreens({-900, -900, 300, 200}, screens), 0, 0, 300, 200);
}

TEST(PipClamp, LeavesEmptyInputAloneAndGrowsTinyPanels) {
  std::vector<Rect> screens = {{0, 0, 1440, 900}};
  ExpectRect(ClampPipBoundsToVisibleScreens({5, 5, 0, 10}, screens), 5, 5, 0, 10);
  ExpectRect(ClampPipBoundsToVisibleScreens({5, 5, 10, 10}, {}), 5, 5, 10, 10);
  ExpectRect(ClampPipBoundsToVisibleScreens({1430, 890, 10, 10}, screens), 1392, 852, 48, 48);
}

TEST(PipClamp, ConsidersAtMost32Screens) {
  std::vector<Rect> screens(32, Rect{0, 0, 100, 100});
  screens.push_back(Rect{5000, 5000, 1000, 1000});  // the 33rd is ignored
  ExpectRect(ClampPipBoundsToVisibleScreens({5100, 5100, 50, 50}, screens), 50, 50, 50, 50);
}

TEST(PipDoubleClick, ActivatesOnlyOnTheSecondClickWithinFourPoints) {
  EXPECT_TRUE(PipDoubleClickActivates(2, {10, 10}, {10, 14}));
  EXPECT_TRUE(PipDoubleClickActivates(2, {10, 10}, {12.8, 12.8}));  // 15.68 <= 16
  EXPECT_FALSE(PipDoubleClickActivates(2, {10, 10}, {13, 13}));     // 18 > 16
  EXPECT_FALSE(PipDoubleClickActivates(1, {10, 10}, {10, 10}));
  EXPECT_FALSE(PipDoubleClickActivates(3, {10, 10}, {10, 10}));
}
