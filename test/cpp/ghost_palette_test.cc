// Session colours (palette slots, stroke darkening) and the cleaning and
// shortening of badge text.
#include <gtest/gtest.h>

#include <string>

#include "ghost/motion_math.h"
#include "ghost/selftest.h"

namespace ghost_motion {
namespace {

::testing::AssertionResult IsRgb(Rgba8 c, int r, int g, int b) {
  if (c.r == r && c.g == g && c.b == b && c.a == 255) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "got (" << +c.r << ", " << +c.g << ", " << +c.b << ", "
                                       << +c.a << "), want (" << r << ", " << g << ", " << b
                                       << ", 255)";
}

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

TEST(GhostPalette, FillsWrapAndNegativeIndicesTakeTheFirst) {
  EXPECT_TRUE(IsRgb(SessionFillAt(0), 255, 228, 133));
  EXPECT_TRUE(IsRgb(SessionFillAt(4), 146, 209, 255));
  EXPECT_TRUE(IsRgb(SessionFillAt(10), 188, 172, 221));
  EXPECT_TRUE(IsRgb(SessionFillAt(11), 255, 228, 133));
  EXPECT_TRUE(IsRgb(SessionFillAt(13), 205, 222, 130));
  EXPECT_TRUE(IsRgb(SessionFillAt(-5), 255, 228, 133));
}

TEST(GhostPalette, SessionKeysMapBySuffixOrHash) {
  for (const char* key : {static_cast<const char*>(nullptr), "", "default"}) {
    EXPECT_TRUE(IsRgb(SessionFillForId(key), 31, 140, 255)) << (key ? key : "null");
  }
  EXPECT_TRUE(IsRgb(SessionFillForId("agent-1"), 255, 228, 133));
  EXPECT_TRUE(IsRgb(SessionFillForId("agent-3"), 205, 222, 130));
  EXPECT_TRUE(IsRgb(SessionFillForId("a"), 255, 228, 133));
  EXPECT_TRUE(IsRgb(SessionFillForId("z"), 255, 211, 228));
  EXPECT_FALSE(IsRgb(SessionFillForId("Default"), 31, 140, 255));  // only the exact key is special
  EXPECT_TRUE(IsRgb(SessionFillForId("sess_0d8f2b1e-4c6a-4d3f-9a1c-2e5b7a9f0c11"), 146, 209, 255));

  // Counters after the last of '-', '.' and '_'; single letters of either case.
  EXPECT_EQ(StableSessionIndex("agent-3", 11), 2);
  EXPECT_EQ(StableSessionIndex("agent-12", 11), 0);
  EXPECT_EQ(StableSessionIndex("run.7", 11), 6);
  EXPECT_EQ(StableSessionIndex("a-9_4", 11), 3);
  EXPECT_EQ(StableSessionIndex("a", 11), 0);
  EXPECT_EQ(StableSessionIndex("team-B", 11), 1);
  EXPECT_EQ(StableSessionIndex("agent-5", 3), 1);

  // Anything else goes by the 32-bit FNV-1a of the whole key: "foobar" hashes
  // to 0xBF9CF968, 9 mod 11.
  EXPECT_EQ(StableSessionIndex("foobar", 11), static_cast<int>(0xBF9CF968u % 11));
  // A zero counter, a trailing separator and a counter with a tail are no
  // counters: the hash of the whole key decides (FNV-1a values 0xE4546933,
  // 0x6CC86928, 0x55213DD1, 0xCA1DCFEA), so the prefix matters.
  EXPECT_EQ(StableSessionIndex("agent-0", 11), 7);
  EXPECT_EQ(StableSessionIndex("other-0", 11), 0);
  EXPECT_EQ(StableSessionIndex("agent-", 11), 3);
  EXPECT_EQ(StableSessionIndex("agent-12x", 11), 3);

  EXPECT_EQ(StableSessionIndex("agent-3", 0), 0);
  EXPECT_EQ(StableSessionIndex("agent-3", -4), 0);
  EXPECT_EQ(StableSessionIndex(nullptr, 11), 0);
  EXPECT_EQ(StableSessionIndex("", 11), 0);
}

TEST(GhostPalette, StrokesKeepHueAtDarkerLightness) {
  EXPECT_TRUE(IsRgb(SessionStrokeForFill({255, 228, 133, 255}), 213, 166, 0));
  EXPECT_TRUE(IsRgb(SessionStrokeForFill({31, 140, 255, 255}), 0, 77, 157));
  EXPECT_TRUE(IsRgb(SessionStrokeForFill({247, 41, 103, 255}), 153, 6, 50));
  // Green-dominant, and a fill light enough that the darkened lightness stays
  // at 0.5 or above.
  EXPECT_TRUE(IsRgb(SessionStrokeForFill({205, 222, 130, 255}), 132, 153, 40));
  EXPECT_TRUE(IsRgb(SessionStrokeForFill({255, 211, 228, 255}), 255, 1, 99));
  // Greys only darken; the fill's alpha does not carry over.
  EXPECT_TRUE(IsRgb(SessionStrokeForFill({255, 255, 255, 255}), 140, 140, 140));
  EXPECT_TRUE(IsRgb(SessionStrokeForFill({128, 128, 128, 0}), 70, 70, 70));
  EXPECT_TRUE(IsRgb(SessionStrokeForFill({0, 0, 0, 255}), 0, 0, 0));
}

TEST(GhostBadgeText, ControlBytesAndSpacesAreCleaned) {
  EXPECT_EQ(SanitizeBadgeText("ab\x1C"), "ab");
  EXPECT_EQ(SanitizeBadgeText("a  \t b"), "a b");
  EXPECT_EQ(SanitizeBadgeText("a\tb\nc\x7F"), "abc");  // removed, not turned into spaces
  EXPECT_EQ(SanitizeBadgeText(" abc "), "abc");
  EXPECT_EQ(SanitizeBadgeText("  \t\r\n  \x01 "), "");
  EXPECT_EQ(SanitizeBadgeText(nullptr), "");
  EXPECT_EQ(SanitizeBadgeText("打开系统设置"), "打开系统设置");
  EXPECT_EQ(SanitizeBadgeText("caf\xC3\xA9 \xF0\x9F\x99\x82"), "caf\xC3\xA9 \xF0\x9F\x99\x82");
}

TEST(GhostBadgeText, LongTextsAreCutToTwentySevenCodePointsAndAnEllipsis) {
  const std::string kEllipsis = "\xE2\x80\xA6";
  EXPECT_EQ(SanitizeBadgeText("12345678901234567890123456789012345"),
            "123456789012345678901234567" + kEllipsis);
  const std::string exactly28 = Repeat("x", 28);
  EXPECT_EQ(SanitizeBadgeText(exactly28.c_str()), exactly28);
  EXPECT_EQ(SanitizeBadgeText(Repeat("x", 29).c_str()), Repeat("x", 27) + kEllipsis);
  // Code points, not bytes, are counted and cut whole.
  const std::string cjk28 = Repeat("字", 28);
  EXPECT_EQ(SanitizeBadgeText(cjk28.c_str()), cjk28);
  EXPECT_EQ(SanitizeBadgeText(Repeat("字", 40).c_str()), Repeat("字", 27) + kEllipsis);
  EXPECT_EQ(SanitizeBadgeText((Repeat("a", 26) + Repeat("\xF0\x9F\x99\x82", 5)).c_str()),
            Repeat("a", 26) + "\xF0\x9F\x99\x82" + kEllipsis);
  // Length is judged after cleaning.
  EXPECT_EQ(SanitizeBadgeText(("   " + Repeat("x", 14) + "\t\t\t" + Repeat("y", 14) + "   ").c_str()),
            Repeat("x", 14) + Repeat("y", 14));
}

TEST(GhostPaletteSelftest, ReportsTheReferenceColoursAndTexts) {
  const ghost_selftest::PaletteSelftest r = ghost_selftest::RunPaletteSelftest();
  EXPECT_TRUE(IsRgb(r.palette[10], 188, 172, 221));
  EXPECT_STREQ(r.samples[1].key, "(empty)");
  EXPECT_TRUE(IsRgb(r.samples[1].color, 31, 140, 255));
  EXPECT_TRUE(IsRgb(r.samples[6].color, 146, 209, 255));
  EXPECT_STREQ(r.strokes[2].key, "raspberry");
  EXPECT_TRUE(IsRgb(r.strokes[2].color, 153, 6, 50));
  EXPECT_EQ(r.indices[1].index, 0);
  EXPECT_STREQ(r.sanitize[4].key, "long-cut");
  EXPECT_EQ(r.sanitize[4].text, "123456789012345678901234567\xE2\x80\xA6");
}

}  // namespace
}  // namespace ghost_motion
