// Text cutting and value coercion of snapshots.
#include <gtest/gtest.h>

#include <string>

#include "ax/capture_text.h"

namespace addon {
namespace {

bool ValidUtf8Prefix(const std::string& s) {
  // The last character must be complete.
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (len == 0 || i + len > s.size()) return false;
    for (size_t k = 1; k < len; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    }
    i += len;
  }
  return true;
}

TEST(LimitSnapshotText, NeverSplitsACharacterAtAnyCut) {
  // Mixed 1- to 4-byte characters; every cap from 0 to the full length.
  const std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z\xE6\x97\xA5\xF0\x9F\x8C\x8D";
  for (size_t cap = 0; cap <= text.size() + 2; ++cap) {
    std::string s = text;
    LimitSnapshotText(&s, cap);
    EXPECT_LE(s.size(), cap) << cap;
    EXPECT_TRUE(ValidUtf8Prefix(s)) << cap;
    EXPECT_EQ(text.compare(0, s.size(), s), 0) << cap;
    if (cap >= text.size()) {
      EXPECT_EQ(s, text);
    }
  }
}

TEST(LimitSnapshotText, LongTitleOfMultiByteCharactersStaysUnderTheCap) {
  // 20,000 bytes of 3-byte characters, misaligned by one ASCII byte.
  std::string title = "x";
  while (title.size() < 20000) title += "\xE2\x82\xAC";
  LimitSnapshotText(&title, kSnapshotStringCap);
  EXPECT_LE(title.size(), kSnapshotStringCap);
  EXPECT_GE(title.size(), kSnapshotStringCap - 3);
  EXPECT_TRUE(ValidUtf8Prefix(title));
}

TEST(LimitSnapshotText, ChargesTheBudgetAndCutsToWhatIsLeft) {
  size_t budget = 10;
  std::string a = "hello";
  LimitSnapshotText(&a, 100, &budget);
  EXPECT_EQ(a, "hello");
  EXPECT_EQ(budget, 5u);
  std::string b = "\xC3\xA9\xC3\xA9\xC3\xA9";  // 6 bytes, budget 5 -> two characters
  LimitSnapshotText(&b, 100, &budget);
  EXPECT_EQ(b, "\xC3\xA9\xC3\xA9");
  EXPECT_EQ(budget, 1u);
  std::string c = "\xC3\xA9";  // does not fit in one byte at all
  LimitSnapshotText(&c, 100, &budget);
  EXPECT_EQ(c, "");
  EXPECT_EQ(budget, 1u);
  std::string d = "xyz";
  LimitSnapshotText(&d, 100, &budget);
  EXPECT_EQ(d, "x");
  EXPECT_EQ(budget, 0u);
}

TEST(CoerceAxValueToString, NumbersBooleansAndStrings) {
  std::string out;
  ASSERT_TRUE(CoerceAxValueToString(platform::Value(3.0), &out));
  EXPECT_EQ(out, "3");
  ASSERT_TRUE(CoerceAxValueToString(platform::Value(2.5), &out));
  EXPECT_EQ(out, "2.5");
  ASSERT_TRUE(CoerceAxValueToString(platform::Value(int64_t{-42}), &out));
  EXPECT_EQ(out, "-42");
  ASSERT_TRUE(CoerceAxValueToString(platform::Value(1e300), &out));
  EXPECT_EQ(out, "1e+300");  // integral but beyond 64 bits
  ASSERT_TRUE(CoerceAxValueToString(platform::Value(true), &out));
  EXPECT_EQ(out, "true");
  ASSERT_TRUE(CoerceAxValueToString(platform::Value(false), &out));
  EXPECT_EQ(out, "false");
  ASSERT_TRUE(CoerceAxValueToString(platform::Value("text"), &out));
  EXPECT_EQ(out, "text");
  out = "unchanged";
  EXPECT_FALSE(CoerceAxValueToString(platform::Value(platform::Point{1, 2}), &out));
  EXPECT_FALSE(CoerceAxValueToString(platform::Value(), &out));
  EXPECT_EQ(out, "unchanged");
}

}  // namespace
}  // namespace addon
