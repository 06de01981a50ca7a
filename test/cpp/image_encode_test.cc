// Encoding platform bitmaps as PNG or JPEG records.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "image/encode.h"
#include "image/png_decode.h"
#include "image/resample.h"
#include "image_test_util.h"

namespace addon {
namespace {

using testing::MakeBitmap;
using testing::PixelAt;

std::vector<uint8_t> Bytes(const EncodedImageData& record) {
  auto bytes = testing::Base64Decode(record.data.str());
  EXPECT_TRUE(bytes.has_value());
  return bytes.value_or(std::vector<uint8_t>{});
}

DecodedPng DecodeOutputPng(const EncodedImageData& record) {
  EXPECT_TRUE(record.ok);
  EXPECT_EQ(record.format, "png");
  const std::vector<uint8_t> bytes = Bytes(record);
  auto png = DecodePng(bytes.data(), bytes.size(), 1u << 24);
  EXPECT_TRUE(png.has_value());
  return png.value_or(DecodedPng{});
}

const uint8_t* DecodedAt(const DecodedPng& png, uint32_t x, uint32_t y) {
  return &png.rgba[(static_cast<size_t>(y) * png.width + x) * 4];
}

struct SizeCase {
  int w, h, want_w, want_h;
};

TEST(ImageEncode, ScalesTheLongerSideToAtMost1920) {
  const SizeCase cases[] = {
      {3840, 2160, 1920, 1080}, {1920, 10, 1920, 10}, {10000, 1, 1920, 1}, {1, 10000, 1, 1920},
      {2000, 3000, 1280, 1920}, {2148, 7, 1920, 6},   {1921, 1921, 1920, 1920}, {5, 3, 5, 3},
  };
  for (const SizeCase& c : cases) {
    const DecodedPng png =
        DecodeOutputPng(EncodeImageData(MakeBitmap(c.w, c.h, 0x336699ff), "png", 0));
    EXPECT_EQ(png.width, static_cast<uint32_t>(c.want_w)) << c.w << "x" << c.h;
    EXPECT_EQ(png.height, static_cast<uint32_t>(c.want_h)) << c.w << "x" << c.h;
  }
}

TEST(ImageEncode, DownscaledImageKeepsItsContent) {
  // Left half red, right half blue, one transparent row band at the bottom.
  auto bmp = MakeBitmap(3840, 2160, 0);
  for (int y = 0; y < 1800; ++y)
    for (int x = 0; x < 3840; ++x) {
      uint8_t* p = PixelAt(*bmp, x, y);
      p[x < 1920 ? 0 : 2] = 255;
      p[3] = 255;
    }
  const DecodedPng png = DecodeOutputPng(EncodeImageData(bmp, "png", 0));
  ASSERT_EQ(png.width, 1920u);
  ASSERT_EQ(png.height, 1080u);
  EXPECT_EQ(std::vector<uint8_t>(DecodedAt(png, 100, 100), DecodedAt(png, 100, 100) + 4),
            (std::vector<uint8_t>{255, 0, 0, 255}));
  EXPECT_EQ(std::vector<uint8_t>(DecodedAt(png, 1800, 500), DecodedAt(png, 1800, 500) + 4),
            (std::vector<uint8_t>{0, 0, 255, 255}));
  EXPECT_EQ(DecodedAt(png, 500, 1070)[3], 0);
}

TEST(ImageEncode, UnscaledPngRoundTripsExactlyAndUnpremultiplies) {
  auto bmp = MakeBitmap(1920, 10, 0x102030ff);
  const uint8_t half_red[4] = {128, 0, 0, 128};   // straight (255, 0, 0, 128)
  const uint8_t faint[4] = {10, 20, 30, 60};      // straight (43, 85, 128, 60)
  std::memcpy(PixelAt(*bmp, 5, 5), half_red, 4);
  std::memcpy(PixelAt(*bmp, 1919, 9), faint, 4);
  std::memset(PixelAt(*bmp, 0, 0), 0, 4);
  const DecodedPng png = DecodeOutputPng(EncodeImageData(bmp, "png", 0));
  ASSERT_EQ(png.width, 1920u);
  ASSERT_EQ(png.height, 10u);
  auto px = [&](uint32_t x, uint32_t y) {
    return std::vector<uint8_t>(DecodedAt(png, x, y), DecodedAt(png, x, y) + 4);
  };
  EXPECT_EQ(px(5, 5), (std::vector<uint8_t>{255, 0, 0, 128}));
  EXPECT_EQ(px(1919, 9), (std::vector<uint8_t>{43, 85, 128, 60}));
  EXPECT_EQ(px(0, 0), (std::vector<uint8_t>{0, 0, 0, 0}));
  EXPECT_EQ(px(100, 3), (std::vector<uint8_t>{0x10, 0x20, 0x30, 0xff}));
}

TEST(ImageEncode, OpaquePngRoundTripsExactly) {
  std::mt19937 rng(3);
  auto bmp = MakeBitmap(300, 200, 0);
  for (size_t i = 0; i < bmp->rgba.size(); ++i) bmp->rgba[i] = (i % 4 == 3) ? 255 : rng() & 0xff;
  const DecodedPng png = DecodeOutputPng(EncodeImageData(bmp, "", 0));
  EXPECT_EQ(png.rgba, bmp->rgba);
}

TEST(ImageEncode, FormatIsJpegOnlyForExactLowerCaseNames) {
  auto bmp = MakeBitmap(64, 48, 0x808080ff);
  for (const char* name : {"jpeg", "jpg"}) {
    const EncodedImageData r = EncodeImageData(bmp, name, 0.8);
    ASSERT_TRUE(r.ok) << name;
    EXPECT_EQ(r.format, "jpeg") << name;
    EXPECT_EQ(r.data.view().rfind("/9j/", 0), 0u) << name;  // FF D8 FF
  }
  for (const char* name : {"png", "", "JPEG", "Jpg", "jpeg ", "gif", "image/jpeg"}) {
    const EncodedImageData r = EncodeImageData(bmp, name, 0.8);
    ASSERT_TRUE(r.ok) << name;
    EXPECT_EQ(r.format, "png") << name;
    EXPECT_EQ(r.data.view().rfind("iVBORw0KGgo", 0), 0u) << name;  // the PNG signature
  }
}

TEST(ImageEncode, JpegIsScaledAndDropsAlphaOverBlack) {
  auto bmp = MakeBitmap(3840, 2160, 0x00000000);
  for (int y = 0; y < 2160; ++y)
    for (int x = 0; x < 1920; ++x) {
      uint8_t* p = PixelAt(*bmp, x, y);
      p[1] = 200;  // opaque green on the left, transparent on the right
      p[3] = 255;
    }
  const EncodedImageData r = EncodeImageData(bmp, "jpg", 0.9);
  ASSERT_TRUE(r.ok);
  auto jpeg = testing::DecodeJpeg(Bytes(r));
  ASSERT_TRUE(jpeg.has_value());
  EXPECT_EQ(jpeg->width, 1920);
  EXPECT_EQ(jpeg->height, 1080);
  const uint8_t* left = &jpeg->rgb[(540 * 1920 + 300) * 3];
  const uint8_t* right = &jpeg->rgb[(540 * 1920 + 1600) * 3];
  EXPECT_NEAR(left[1], 200, 4);
  EXPECT_LE(left[0], 4);
  EXPECT_LE(right[0] + right[1] + right[2], 6);
}

TEST(ImageEncode, JpegQualityFollowsTheUnitScale) {
  std::mt19937 rng(11);
  auto bmp = MakeBitmap(256, 256, 0);
  for (size_t i = 0; i < bmp->rgba.size(); ++i) bmp->rgba[i] = (i % 4 == 3) ? 255 : rng() & 0xff;
  const size_t low = EncodeImageData(bmp, "jpeg", 0.1).data.size();
  const size_t mid = EncodeImageData(bmp, "jpeg", 0.6).data.size();
  const size_t high = EncodeImageData(bmp, "jpeg", 1.0).data.size();
  EXPECT_LT(low, mid);
  EXPECT_LT(mid, high);
  // Out-of-range values clamp instead of failing.
  EXPECT_EQ(EncodeImageData(bmp, "jpeg", 7.0).data.size(), high);
  EXPECT_TRUE(EncodeImageData(bmp, "jpeg", -3.0).ok);
}

TEST(ImageEncode, MissingOrEmptyImagesAreNotOk) {
  auto expect_empty = [](const EncodedImageData& r) {
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.format.empty());
    EXPECT_TRUE(r.data.empty());
  };
  expect_empty(EncodeImageData(nullptr, "png", 0));
  expect_empty(EncodeImageData(MakeBitmap(0, 10, 0), "png", 0));
  expect_empty(EncodeImageData(MakeBitmap(10, 0, 0), "jpeg", 0.5));
  auto short_rows = MakeBitmap(10, 10, 0xffffffff);
  short_rows->rgba.resize(10 * 9 * 4 + 3);
  expect_empty(EncodeImageData(short_rows, "png", 0));
}

TEST(ImageEncode, RefusesEncodedDataOverTwelveMebibytes) {
  // 1920 x 1920 translucent noise: about 14.7 MB of nearly incompressible PNG.
  std::mt19937 rng(5);
  auto bmp = MakeBitmap(1920, 1920, 0);
  for (size_t i = 0; i < bmp->rgba.size(); i += 4) {
    const uint32_t v = rng();
    const uint8_t a = static_cast<uint8_t>(128 + (v & 127));
    bmp->rgba[i] = static_cast<uint8_t>((v >> 7) % (a + 1u));
    bmp->rgba[i + 1] = static_cast<uint8_t>((v >> 15) % (a + 1u));
    bmp->rgba[i + 2] = static_cast<uint8_t>((v >> 23) % (a + 1u));
    bmp->rgba[i + 3] = a;
  }
  const EncodedImageData r = EncodeImageData(bmp, "png", 0);
  EXPECT_FALSE(r.ok);
  EXPECT_TRUE(r.data.empty());
  // The same noise at a quarter of the area fits.
  bmp->height = 480;
  bmp->rgba.resize(1920 * 480 * 4);
  const EncodedImageData small = EncodeImageData(bmp, "png", 0);
  ASSERT_TRUE(small.ok);
  EXPECT_GT(small.data.size(), 4u * 1024 * 1024);  // really incompressible
}

TEST(ImageResample, KeepsFlatColourAndPremultipliedInvariant) {
  // Flat colour stays exactly flat at any factor (unit gain filter).
  std::vector<uint8_t> flat(97 * 61 * 4);
  for (size_t i = 0; i < flat.size(); i += 4) {
    flat[i] = 10;
    flat[i + 1] = 20;
    flat[i + 2] = 30;
    flat[i + 3] = 200;
  }
  for (auto [dw, dh] : {std::pair{40, 25}, {97, 3}, {1, 1}, {150, 90}}) {
    std::vector<uint8_t> out(static_cast<size_t>(dw) * dh * 4);
    ASSERT_TRUE(ResampleRgba(flat.data(), 97, 61, 97 * 4, out.data(), dw, dh));
    for (size_t i = 0; i < out.size(); i += 4)
      ASSERT_EQ((std::vector<uint8_t>(out.begin() + i, out.begin() + i + 4)),
                (std::vector<uint8_t>{10, 20, 30, 200}));
  }
  // Hard edges between opaque white and transparent ring; no colour may
  // exceed its alpha afterwards.
  std::vector<uint8_t> checker(64 * 64 * 4);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x)
      if (((x / 3) + (y / 3)) % 2 == 0) std::memset(&checker[(y * 64 + x) * 4], 255, 4);
  std::vector<uint8_t> out(23 * 41 * 4);
  ASSERT_TRUE(ResampleRgba(checker.data(), 64, 64, 64 * 4, out.data(), 23, 41));
  for (size_t i = 0; i < out.size(); i += 4)
    for (int k = 0; k < 3; ++k) ASSERT_LE(out[i + k], out[i + 3]);
  EXPECT_FALSE(ResampleRgba(checker.data(), 0, 64, 0, out.data(), 23, 41));
}

}  // namespace
}  // namespace addon
