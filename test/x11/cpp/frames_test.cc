// The pure parts of the x11 capture frames: where a window lands in an
// output frame and the CPU box filter used when the server has no XRender.
#include <gtest/gtest.h>

#include <vector>

#include "x11/x11_frames.h"

namespace x11 {
namespace {

TEST(FitLayout, ScalesByOneFactorAndKeepsTheTopLeft) {
  double k = 0;
  FrameLayout l = FitLayout({100, 50, 642, 505}, 300, 300, &k);
  EXPECT_DOUBLE_EQ(k, 300.0 / 642);
  EXPECT_EQ(l.src.x, 0);
  EXPECT_EQ(l.src.width, 642);
  EXPECT_EQ(l.dst.x, 0);
  EXPECT_EQ(l.dst.y, 0);
  EXPECT_EQ(l.dst.width, 300);
  EXPECT_EQ(l.dst.height, 236);  // 505 * 300 / 642, rounded

  l = FitLayout({0, 0, 642, 505}, 642, 505, &k);
  EXPECT_DOUBLE_EQ(k, 1);
  EXPECT_EQ(l.dst.width, 642);
  EXPECT_EQ(l.dst.height, 505);
  // Upscaling fills the output's shorter side exactly.
  l = FitLayout({0, 0, 100, 50}, 400, 400, &k);
  EXPECT_DOUBLE_EQ(k, 4);
  EXPECT_EQ(l.dst.height, 200);
}

// A source of w x h BGRX pixels whose blue channel is the pixel's index.
std::vector<uint8_t> Source(int w, int h, uint8_t x_byte) {
  std::vector<uint8_t> px(static_cast<size_t>(w) * h * 4);
  for (int i = 0; i < w * h; ++i) {
    px[i * 4] = static_cast<uint8_t>(i * 10);
    px[i * 4 + 1] = 7;
    px[i * 4 + 2] = 9;
    px[i * 4 + 3] = x_byte;
  }
  return px;
}

TEST(ScaleBox, AveragesEachBoxAndMakesOpaqueUnlessAlphaCounts) {
  // 4x2 -> 2x1: each output pixel averages a 2x2 box.
  auto src = Source(4, 2, 0);
  std::vector<uint8_t> out(2 * 1 * 4, 0);
  ScaleBox(src.data(), 4, 2, 16, false, out.data(), 0, 0, 2, 1, 8);
  // Box 0: indices 0, 1, 4, 5 -> blue (0 + 10 + 40 + 50) / 4 = 25.
  EXPECT_EQ(out[0], 25);
  EXPECT_EQ(out[1], 7);
  EXPECT_EQ(out[2], 9);
  EXPECT_EQ(out[3], 255);  // depth-24 windows carry no alpha
  EXPECT_EQ(out[4], 45);   // indices 2, 3, 6, 7
  auto with_alpha = Source(4, 2, 100);
  ScaleBox(with_alpha.data(), 4, 2, 16, true, out.data(), 0, 0, 2, 1, 8);
  EXPECT_EQ(out[3], 100);
}

TEST(ScaleBox, WritesOnlyTheDestinationRectangle) {
  auto src = Source(2, 2, 0);
  std::vector<uint8_t> out(4 * 4 * 4, 1);
  // At the same size into (1, 2) of a 4x4 frame: a copy there, the rest untouched.
  ScaleBox(src.data(), 2, 2, 8, false, out.data(), 1, 2, 2, 2, 16);
  auto at = [&](int x, int y) { return out[(y * 4 + x) * 4]; };
  EXPECT_EQ(at(1, 2), 0);
  EXPECT_EQ(at(2, 2), 10);
  EXPECT_EQ(at(1, 3), 20);
  EXPECT_EQ(at(2, 3), 30);
  EXPECT_EQ(at(0, 0), 1);
  EXPECT_EQ(at(3, 3), 1);
  EXPECT_EQ(at(0, 2), 1);
  // Enlarging repeats pixels (each output pixel reads at least one source pixel).
  std::vector<uint8_t> big(4 * 4 * 4, 1);
  ScaleBox(src.data(), 2, 2, 8, false, big.data(), 0, 0, 4, 4, 16);
  EXPECT_EQ(big[0], 0);
  EXPECT_EQ(big[(0 * 4 + 3) * 4], 10);
  EXPECT_EQ(big[(3 * 4 + 3) * 4], 30);
}

}  // namespace
}  // namespace x11
