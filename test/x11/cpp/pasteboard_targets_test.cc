// How pasteboard types become X selection targets and back, and the
// Latin-1 conversions behind STRING.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "x11/x11_pasteboard.h"

namespace x11 {
namespace {

std::vector<uint8_t> B(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

TEST(PasteboardTargets, PlainTextIsServedUnderEveryTextTargetStringOnlyForLatin1) {
  EXPECT_EQ(TargetsForType(platform::kPasteboardPlainText, true),
            (std::vector<std::string>{"UTF8_STRING", "text/plain;charset=utf-8", "STRING"}));
  EXPECT_EQ(TargetsForType(platform::kPasteboardPlainText, false),
            (std::vector<std::string>{"UTF8_STRING", "text/plain;charset=utf-8"}));
  EXPECT_EQ(TargetsForType(platform::kPasteboardHtml, true), (std::vector<std::string>{"text/html"}));
  EXPECT_EQ(TargetsForType("image/png", true), (std::vector<std::string>{"image/png"}));
}

TEST(PasteboardTargets, TargetsMapBackToTypesAndProtocolTargetsToNone) {
  for (const char* t : {"UTF8_STRING", "STRING", "text/plain;charset=utf-8"})
    EXPECT_EQ(TypeForTarget(t), platform::kPasteboardPlainText) << t;
  EXPECT_EQ(TypeForTarget("text/html"), "text/html");
  EXPECT_EQ(TypeForTarget("text/markdown"), "text/markdown");
  for (const char* t : {"TARGETS", "TIMESTAMP", "MULTIPLE", "SAVE_TARGETS", "TEXT", ""})
    EXPECT_EQ(TypeForTarget(t), "") << t;
  // Another charset of plain text is not the UTF-8 type.
  EXPECT_EQ(TypeForTarget("text/plain"), "text/plain");
}

TEST(PasteboardTargets, Latin1RoundTripsAndRefusesWhatItCannotHold) {
  const auto utf8 = B("caf\xC3\xA9 \xC3\xBF \xC2\xA0!");  // café ÿ NBSP !
  auto latin1 = Utf8ToLatin1(utf8);
  ASSERT_TRUE(latin1.has_value());
  EXPECT_EQ(*latin1, B("caf\xE9 \xFF \xA0!"));
  EXPECT_EQ(Latin1ToUtf8(*latin1), utf8);
  EXPECT_FALSE(Utf8ToLatin1(B("\xD0\xB6")).has_value());          // ж
  EXPECT_FALSE(Utf8ToLatin1(B("\xE4\xB8\xAD")).has_value());      // 中
  EXPECT_FALSE(Utf8ToLatin1(B("\xF0\x9F\x98\x80")).has_value());  // emoji
  EXPECT_FALSE(Utf8ToLatin1(B("\xC3")).has_value());              // cut short
  EXPECT_FALSE(Utf8ToLatin1(B("\xC3(")).has_value());             // not a continuation
  EXPECT_EQ(Utf8ToLatin1(B("")), B(""));
}

}  // namespace
}  // namespace x11
