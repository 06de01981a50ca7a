// Content statistics of PNG bytes.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "image/encode.h"
#include "image/png_decode.h"
#include "image/png_stats.h"
#include "image_test_util.h"

namespace addon {
namespace {

using testing::PngLayout;
using testing::PngOptions;
using testing::WritePng;

using Pixels = std::vector<uint8_t>;

Pixels Solid(uint32_t w, uint32_t h, std::array<uint8_t, 4> rgba) {
  Pixels p(static_cast<size_t>(w) * h * 4);
  for (size_t i = 0; i < p.size(); i += 4) std::copy(rgba.begin(), rgba.end(), p.begin() + i);
  return p;
}

std::optional<PngContentStats> Inspect(const std::vector<uint8_t>& bytes) {
  return InspectPngBytes(bytes.data(), bytes.size());
}

std::vector<uint8_t> Chunk(const char* type, const std::vector<uint8_t>& body) {
  std::vector<uint8_t> out(12 + body.size());
  auto put32 = [&](size_t at, uint32_t v) {
    for (int k = 0; k < 4; ++k) out[at + k] = static_cast<uint8_t>(v >> (24 - 8 * k));
  };
  put32(0, static_cast<uint32_t>(body.size()));
  std::copy(type, type + 4, out.begin() + 4);
  std::copy(body.begin(), body.end(), out.begin() + 8);
  put32(8 + body.size(), static_cast<uint32_t>(crc32(0, out.data() + 4, static_cast<uInt>(4 + body.size()))));
  return out;
}

// A PNG whose header claims w x h (RGBA8) but whose data holds a single row.
std::vector<uint8_t> ClaimedSizePng(uint32_t w, uint32_t h) {
  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  std::vector<uint8_t> ihdr = {static_cast<uint8_t>(w >> 24), static_cast<uint8_t>(w >> 16),
                               static_cast<uint8_t>(w >> 8),  static_cast<uint8_t>(w),
                               static_cast<uint8_t>(h >> 24), static_cast<uint8_t>(h >> 16),
                               static_cast<uint8_t>(h >> 8),  static_cast<uint8_t>(h),
                               8, 6, 0, 0, 0};
  std::vector<uint8_t> raw(1 + static_cast<size_t>(std::min<uint32_t>(w, 1u << 20)) * 4, 0x7f);
  uLongf n = compressBound(static_cast<uLong>(raw.size()));
  std::vector<uint8_t> z(n);
  compress(z.data(), &n, raw.data(), static_cast<uLong>(raw.size()));
  z.resize(n);
  for (const auto& c : {Chunk("IHDR", ihdr), Chunk("IDAT", z), Chunk("IEND", {})})
    png.insert(png.end(), c.begin(), c.end());
  return png;
}

void ExpectSameStats(const PngContentStats& a, const PngContentStats& b) {
  EXPECT_EQ(a.width, b.width);
  EXPECT_EQ(a.height, b.height);
  EXPECT_EQ(a.sample_width, b.sample_width);
  EXPECT_EQ(a.sample_height, b.sample_height);
  EXPECT_EQ(a.visible_pixel_count, b.visible_pixel_count);
  EXPECT_EQ(a.distinct_color_bucket_count, b.distinct_color_bucket_count);
  EXPECT_EQ(a.dominant_color_pixel_count, b.dominant_color_pixel_count);
  EXPECT_EQ(a.max_channel_range, b.max_channel_range);
  EXPECT_EQ(a.min_visible_channel, b.min_visible_channel);
  EXPECT_EQ(a.max_visible_channel, b.max_visible_channel);
}

TEST(PngStats, FullyTransparentImageHasNoVisiblePixels) {
  auto s = Inspect(WritePng(40, 30, Solid(40, 30, {200, 100, 50, 15})));
  ASSERT_TRUE(s.has_value());
  EXPECT_EQ(s->width, 40u);
  EXPECT_EQ(s->height, 30u);
  EXPECT_EQ(s->sample_width, 40u);
  EXPECT_EQ(s->sample_height, 30u);
  EXPECT_EQ(s->sampled_pixel_count, 1200u);
  EXPECT_EQ(s->visible_pixel_count, 0u);
  EXPECT_EQ(s->distinct_color_bucket_count, 0u);
  EXPECT_EQ(s->dominant_color_pixel_count, 0u);
  EXPECT_EQ(s->max_channel_range, 0u);
  EXPECT_EQ(s->min_visible_channel, 0u);
  EXPECT_EQ(s->max_visible_channel, 0u);
}

TEST(PngStats, CountsBucketsAndRangesOfVisiblePixels) {
  const Pixels mixed = {
      255, 0,  0,  255, 255, 0, 0, 0,   0,   255, 0,  255, 0,   0, 255, 128,
      10,  20, 30, 15,  0,   0, 0, 0,   100, 200, 50, 255, 255, 0, 0,   255,
  };
  auto s = Inspect(WritePng(4, 2, mixed));
  ASSERT_TRUE(s.has_value());
  EXPECT_EQ(s->sampled_pixel_count, 8u);
  EXPECT_EQ(s->visible_pixel_count, 5u);  // alpha 0, 15 and the alpha-0 red are not visible
  EXPECT_EQ(s->distinct_color_bucket_count, 4u);
  EXPECT_EQ(s->dominant_color_pixel_count, 2u);  // two opaque reds
  EXPECT_EQ(s->max_channel_range, 255u);
  EXPECT_EQ(s->min_visible_channel, 0u);
  EXPECT_EQ(s->max_visible_channel, 255u);

  const Pixels narrow = {100, 110, 120, 255, 104, 110, 125, 255, 100, 140, 120, 255};
  s = Inspect(WritePng(3, 1, narrow));
  ASSERT_TRUE(s.has_value());
  EXPECT_EQ(s->distinct_color_bucket_count, 3u);
  EXPECT_EQ(s->dominant_color_pixel_count, 1u);
  EXPECT_EQ(s->max_channel_range, 30u);
  EXPECT_EQ(s->min_visible_channel, 100u);
  EXPECT_EQ(s->max_visible_channel, 140u);

  // Translucent colour goes through the premultiplied sample and back:
  // (200, 100, 50) at alpha 128 is stored as (100, 50, 25) and read as
  // ((c * 255 + 64) / 128) = (199, 100, 50).
  s = Inspect(WritePng(1, 1, {200, 100, 50, 128}));
  ASSERT_TRUE(s.has_value());
  EXPECT_EQ(s->min_visible_channel, 50u);
  EXPECT_EQ(s->max_visible_channel, 199u);
  EXPECT_EQ(s->max_channel_range, 0u);
}

TEST(PngStats, SampleIsAtMost64KeepingAspect) {
  struct Case {
    uint32_t w, h, sw, sh;
  } cases[] = {{640, 320, 64, 32}, {100, 1000, 6, 64}, {3, 1000, 1, 64}, {64, 64, 64, 64},
               {65, 10, 64, 10},   {131072, 1, 64, 1}};
  for (const Case& c : cases) {
    auto s = Inspect(WritePng(c.w, c.h, Solid(c.w, c.h, {9, 9, 9, 255})));
    ASSERT_TRUE(s.has_value()) << c.w << "x" << c.h;
    EXPECT_EQ(s->sample_width, c.sw) << c.w << "x" << c.h;
    EXPECT_EQ(s->sample_height, c.sh) << c.w << "x" << c.h;
    EXPECT_EQ(s->sampled_pixel_count, c.sw * c.sh);
    EXPECT_EQ(s->visible_pixel_count, c.sw * c.sh);
    EXPECT_EQ(s->distinct_color_bucket_count, 1u);
  }
}

TEST(PngStats, LargeImageIsFoldedIntoTheSampleByArea) {
  // 2048 x 1536: top half opaque red, bottom half transparent. The 64 x 48
  // sample's cells each cover 32 x 32 pixels, so exactly half are visible.
  Pixels px = Solid(2048, 1536, {0, 0, 0, 0});
  std::fill_n(px.begin(), px.size() / 2, 0);
  for (size_t i = 0; i < px.size() / 2; i += 4) {
    px[i] = 255;
    px[i + 3] = 255;
  }
  auto s = Inspect(WritePng(2048, 1536, px));
  ASSERT_TRUE(s.has_value());
  EXPECT_EQ(s->sample_width, 64u);
  EXPECT_EQ(s->sample_height, 48u);
  EXPECT_EQ(s->visible_pixel_count, 64u * 24);
  EXPECT_EQ(s->dominant_color_pixel_count, 64u * 24);
  EXPECT_EQ(s->max_visible_channel, 255u);
}

TEST(PngStats, EveryPixelLayoutAndInterlacingGiveTheSameStats) {
  std::mt19937 rng(21);
  const std::array<uint8_t, 4> palette[] = {
      {0, 0, 0, 0}, {255, 255, 255, 255}, {30, 60, 90, 255}, {200, 10, 10, 128},
      {5, 250, 5, 40}, {77, 77, 77, 15}, {120, 130, 140, 255}, {250, 240, 10, 200}};
  for (auto [w, h] : {std::pair<uint32_t, uint32_t>{1, 1}, {3, 5}, {70, 45}, {130, 9}}) {
    Pixels px(static_cast<size_t>(w) * h * 4);
    for (size_t i = 0; i < px.size(); i += 4) {
      const auto& c = palette[rng() % 8];
      std::copy(c.begin(), c.end(), px.begin() + i);
    }
    Pixels grey = px, opaque = px;
    for (size_t i = 0; i < px.size(); i += 4) {
      grey[i + 1] = grey[i + 2] = grey[i];
      opaque[i + 3] = 255;
    }
    auto base = Inspect(WritePng(w, h, px));
    ASSERT_TRUE(base.has_value());
    for (bool interlaced : {false, true}) {
      SCOPED_TRACE(::testing::Message() << w << "x" << h << " interlaced " << interlaced);
      for (PngLayout layout : {PngLayout::kRgba8, PngLayout::kRgba16, PngLayout::kPalette}) {
        auto s = Inspect(WritePng(w, h, px, PngOptions{layout, interlaced, {}}));
        ASSERT_TRUE(s.has_value());
        ExpectSameStats(*s, *base);
      }
      auto g = Inspect(WritePng(w, h, grey, PngOptions{PngLayout::kGrayAlpha8, interlaced, {}}));
      auto g_ref = Inspect(WritePng(w, h, grey));
      ASSERT_TRUE(g.has_value() && g_ref.has_value());
      ExpectSameStats(*g, *g_ref);
      auto o = Inspect(WritePng(w, h, opaque, PngOptions{PngLayout::kRgb8, interlaced, {}}));
      auto o_ref = Inspect(WritePng(w, h, opaque));
      ASSERT_TRUE(o.has_value() && o_ref.has_value());
      ExpectSameStats(*o, *o_ref);
    }
  }
}

TEST(ImageDecode, InterlacedAndPlainFilesDecodeToTheSamePixels) {
  std::mt19937 rng(4);
  for (auto [w, h] : {std::pair<uint32_t, uint32_t>{1, 1}, {2, 3}, {9, 17}, {33, 8}}) {
    Pixels px(static_cast<size_t>(w) * h * 4);
    for (auto& b : px) b = static_cast<uint8_t>(rng());
    for (bool interlaced : {false, true}) {
      const auto bytes = WritePng(w, h, px, PngOptions{PngLayout::kRgba8, interlaced, {}});
      auto decoded = DecodePng(bytes.data(), bytes.size(), 1u << 20);
      ASSERT_TRUE(decoded.has_value());
      EXPECT_EQ(decoded->width, w);
      EXPECT_EQ(decoded->height, h);
      EXPECT_EQ(decoded->rgba, px) << w << "x" << h << " interlaced " << interlaced;
    }
  }
}

TEST(PngStats, RejectsWhatIsNotOnePng) {
  const std::vector<uint8_t> valid = WritePng(8, 8, Solid(8, 8, {1, 2, 3, 255}));
  ASSERT_TRUE(Inspect(valid).has_value());
  EXPECT_FALSE(Inspect(std::vector<uint8_t>(valid.begin(), valid.begin() + 32)).has_value());
  EXPECT_FALSE(InspectPngBytes(nullptr, 0).has_value());

  auto jpeg = EncodeImageData(testing::MakeBitmap(16, 16, 0x204060ff), "jpeg", 0.8);
  ASSERT_TRUE(jpeg.ok);
  EXPECT_FALSE(Inspect(*testing::Base64Decode(jpeg.data.str())).has_value());

  // An animation of two frames is more than one image; one frame is fine.
  const std::vector<uint8_t> two_frames = {0, 0, 0, 2, 0, 0, 0, 0};
  const std::vector<uint8_t> one_frame = {0, 0, 0, 1, 0, 0, 0, 0};
  EXPECT_FALSE(Inspect(WritePng(8, 8, Solid(8, 8, {1, 2, 3, 255}),
                                PngOptions{PngLayout::kRgba8, false, {{"acTL", two_frames}}}))
                   .has_value());
  EXPECT_TRUE(Inspect(WritePng(8, 8, Solid(8, 8, {1, 2, 3, 255}),
                               PngOptions{PngLayout::kRgba8, false, {{"acTL", one_frame}}}))
                  .has_value());

  // At most 64 MiB of input: trailing bytes after the end chunk are ignored,
  // so padding shows the limit itself.
  std::vector<uint8_t> padded = valid;
  padded.resize(kPngStatsMaxBytes, 0);
  EXPECT_TRUE(Inspect(padded).has_value());
  padded.push_back(0);
  EXPECT_FALSE(Inspect(padded).has_value());
}

TEST(PngStats, RejectsOutOfRangeDimensionsWithoutDecodingThem) {
  EXPECT_FALSE(Inspect(ClaimedSizePng(131073, 1)).has_value());
  EXPECT_FALSE(Inspect(ClaimedSizePng(1, 131073)).has_value());
  EXPECT_FALSE(Inspect(ClaimedSizePng(131072, 513)).has_value());  // over 64 Mi pixels
  EXPECT_FALSE(Inspect(ClaimedSizePng(0, 10)).has_value());
  // Within the limits but with one row of data: refused once the data runs
  // out, quickly and without a buffer for the claimed 2^26 pixels.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(Inspect(ClaimedSizePng(131072, 512)).has_value());
  EXPECT_FALSE(Inspect(ClaimedSizePng(8192, 8192)).has_value());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST(PngStats, ExifQuarterTurnSwapsTheSampleSides) {
  const std::vector<uint8_t> exif = {'M', 'M', 0, 42, 0, 0, 0, 8, 0, 1,    0x01, 0x12, 0, 3,
                                     0,   0,   0, 1,  0, 6, 0, 0, 0, 0, 0, 0};
  auto s = Inspect(WritePng(128, 64, Solid(128, 64, {1, 2, 3, 255}),
                            PngOptions{PngLayout::kRgba8, false, {{"eXIf", exif}}}));
  ASSERT_TRUE(s.has_value());
  EXPECT_EQ(s->width, 128u);
  EXPECT_EQ(s->height, 64u);
  EXPECT_EQ(s->sample_width, 32u);
  EXPECT_EQ(s->sample_height, 64u);
}

TEST(PngStats, SurvivesTruncatedAndCorruptedBytes) {
  std::mt19937 rng(99);
  Pixels px(24 * 20 * 4);
  for (auto& b : px) b = static_cast<uint8_t>(rng());
  for (bool interlaced : {false, true}) {
    const std::vector<uint8_t> valid = WritePng(24, 20, px, PngOptions{PngLayout::kRgba8, interlaced, {}});
    ASSERT_TRUE(Inspect(valid).has_value());
    for (size_t n = 0; n < valid.size(); ++n)
      ASSERT_FALSE(Inspect(std::vector<uint8_t>(valid.begin(), valid.begin() + n)).has_value()) << n;
    for (int i = 0; i < 400; ++i) {
      std::vector<uint8_t> bad = valid;
      const int flips = 1 + static_cast<int>(rng() % 4);
      for (int f = 0; f < flips; ++f) bad[8 + rng() % (bad.size() - 8)] ^= static_cast<uint8_t>(1u << (rng() % 8));
      if (auto s = Inspect(bad)) {
        EXPECT_LE(s->sample_width, 64u);
        EXPECT_LE(s->sample_height, 64u);
        EXPECT_LE(s->visible_pixel_count, s->sampled_pixel_count);
      }
    }
  }
  for (int i = 0; i < 300; ++i) {
    std::vector<uint8_t> junk(8 + rng() % 400);
    for (auto& b : junk) b = static_cast<uint8_t>(rng());
    const uint8_t sig[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    std::copy(sig, sig + 8, junk.begin());
    EXPECT_FALSE(Inspect(junk).has_value());
  }
}

}  // namespace
}  // namespace addon
