// The helpers the core and the backends share: UTF-16 and UTF-8, ASCII case,
// file URLs and cairo scaling.
#include <gtest/gtest.h>

#include "common/cairo_image.h"
#include "common/text.h"

namespace common {
namespace {

TEST(CommonText, SurrogatePairsAndUnpairedHalves) {
  const std::u16string smile = u"a\U0001F600b";
  EXPECT_EQ(CodePointsOfUtf16(smile), U"a\U0001F600b");
  EXPECT_EQ(Utf8OfUtf16(smile),
            "a\xF0\x9F\x98\x80"
            "b");
  // Unpaired halves, in either order, become U+FFFD.
  const std::u16string lone = {0xD83D, u'x', 0xDE00, 0xDE00, 0xD83D};
  EXPECT_EQ(CodePointsOfUtf16(lone), (std::u32string{0xFFFD, U'x', 0xFFFD, 0xFFFD, 0xFFFD}));
  std::u16string out;
  AppendUtf16(&out, 0x1F44D);
  AppendUtf16(&out, 0xD800);
  AppendUtf16(&out, 0x110000);
  EXPECT_EQ(out, (std::u16string{0xD83D, 0xDC4D, 0xFFFD, 0xFFFD}));
  EXPECT_TRUE(IsHighSurrogate(out[0]) && IsLowSurrogate(out[1]) && !IsSurrogate(out[2]));
}

TEST(CommonText, Utf8ToUtf16ReplacesEachMalformedSequence) {
  EXPECT_EQ(Utf16OfUtf8("h\xC3\xA9\xF0\x9F\x98\x80"), u"h\u00E9\U0001F600");
  // A stray continuation byte, an overlong '/', a truncated sequence.
  EXPECT_EQ(Utf16OfUtf8("\x80"
                        "a\xC0\xAF"
                        "b\xE2\x82"),
            u"\uFFFDa\uFFFD\uFFFDb\uFFFD\uFFFD");
  EXPECT_EQ(Utf16OfUtf8("\xED\xA0\x80"), u"\uFFFD");  // an encoded surrogate
  EXPECT_EQ(Utf8OfUtf16(Utf16OfUtf8("plain ascii")), "plain ascii");
}

TEST(CommonText, AsciiCaseAndFileUrls) {
  EXPECT_TRUE(EqualsIgnoringAsciiCase("com.Korvo.TextPad", "COM.korvo.textpad"));
  EXPECT_FALSE(EqualsIgnoringAsciiCase("abc", "abcd"));
  EXPECT_FALSE(EqualsIgnoringAsciiCase("\xC3\xA9", "\xC3\x89"));  // only ASCII folds
  EXPECT_EQ(LowerAscii("Auto ON"), "auto on");
  const std::string path = "/Applications/Text Pad (2).app/100%";
  EXPECT_EQ(FileUrlOfPath(path), "file:///Applications/Text%20Pad%20%282%29.app/100%25");
  EXPECT_EQ(PathOfFileUrl(FileUrlOfPath(path)), path);
  EXPECT_EQ(PathOfFileUrl("file:///a%2fb%zz%4"), "/a/b%zz%4");
  EXPECT_EQ(PathOfFileUrl("/plain/path"), "/plain/path");
}

TEST(CommonCairo, ScalingKeepsColoursAndCentresWhenTheAspectIsKept) {
  // 16 x 8: the left half opaque red, the right half opaque blue.
  platform::Bitmap src;
  src.width = 16;
  src.height = 8;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 16; ++x) {
      const bool red = x < 8;
      src.rgba.insert(src.rgba.end(), {uint8_t(red ? 255 : 0), 0, uint8_t(red ? 0 : 255), 255});
    }
  auto px = [](const platform::Image& img, int x, int y) {
    return &img->rgba[(y * img->width + x) * 4];
  };
  platform::Image same = ScaleRgba(src, 16, 8, false);
  ASSERT_TRUE(same);
  EXPECT_EQ(same->rgba, src.rgba);
  platform::Image wide = ScaleRgba(src, 64, 8, false);  // stretched 4 x 1
  ASSERT_TRUE(wide);
  EXPECT_EQ(wide->width, 64);
  EXPECT_EQ(px(wide, 12, 4)[0], 255);
  EXPECT_EQ(px(wide, 12, 4)[2], 0);
  EXPECT_EQ(px(wide, 52, 4)[2], 255);
  platform::Image boxed = ScaleRgba(src, 32, 32, true);  // 32 x 16 on rows 8 to 23
  ASSERT_TRUE(boxed);
  EXPECT_EQ(px(boxed, 16, 2)[3], 0) << "above the picture";
  EXPECT_EQ(px(boxed, 16, 29)[3], 0) << "below the picture";
  EXPECT_EQ(px(boxed, 6, 16)[3], 255);
  EXPECT_EQ(px(boxed, 6, 16)[0], 255);
  EXPECT_FALSE(ScaleRgba(src, 0, 4, false));
  platform::Bitmap empty;
  EXPECT_FALSE(ScaleRgba(empty, 4, 4, false));
}

}  // namespace
}  // namespace common
