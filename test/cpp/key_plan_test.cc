// Key plans: the exact event sequences, flags and pauses of typing, chord
// presses, holds and chord halves.
#include <gtest/gtest.h>

#include "input/key_plan.h"
#include "key_test_util.h"
#include "sim_test_util.h"

namespace addon {
namespace {

using keytest::Describe;

LayoutKeymap UsKeymap() {
  simtest::Cmd("reset");
  return BuildLayoutKeymap(platform::Get().keyboard());
}

TEST(KeyPlanTyping, DigitsAndOperatorsArePressedOthersTravelAsText) {
  LayoutKeymap us = UsKeymap();
  EXPECT_EQ(Describe(PlanTypeTextToPid(u"2+2=4", us)),
            "d19 u19 p8 "
            "d56/20000 d24/20000 u24/20000 u56/0 p6 p8 "
            "d19 u19 p8 d24 u24 p8 d21 u21 p8");
  EXPECT_EQ(Describe(PlanTypeTextToPid(u"", us)), "");
  // Without layout data the US fallback decides.
  EXPECT_EQ(Describe(PlanTypeTextToPid(u"a%b", nullptr)),
            "d[a] u[a] p8 d56/20000 d23/20000 u23/20000 u56/0 p6 p8 d[b] u[b] p8");
}

TEST(KeyPlanTyping, UnicodeChunksOfTwentyUnits) {
  std::u16string letters(45, u'x');
  KeyPlan plan = PlanTypeTextToPid(letters, nullptr);
  EXPECT_EQ(PlanPauseMs(plan), 24);
  // One failed delivery ends all chunks of the text.
  for (const auto& i : plan.intents) EXPECT_TRUE(i.abort_group);
}

TEST(KeyPlanTyping, SurrogatePairsAreNeverSplit) {
  // U+1F600 at units 19 and 20: the first chunk ends before it.
  std::u16string text = std::u16string(19, u'a') + u"\U0001F600" + u"bc";
  auto chunks = ChunkUtf16(text, 20);
  ASSERT_EQ(chunks.size(), 2u);
  EXPECT_EQ(chunks[0], std::u16string(19, u'a'));
  EXPECT_EQ(chunks[1], u"\U0001F600bc");
  // A pair that fits exactly stays whole; a lone high surrogate at the end
  // travels as it is.
  EXPECT_EQ(ChunkUtf16(std::u16string(18, u'a') + u"\U0001F600", 20).size(), 1u);
  EXPECT_EQ(ChunkUtf16(std::u16string(20, u'a') + u"\xD83D", 20).size(), 2u);
  std::u16string lone = std::u16string(19, u'a') + u"\xD83D" + u"b";
  EXPECT_EQ(ChunkUtf16(lone, 20)[0].size(), 20u);
  // Every pair survives a long run of emoji.
  std::u16string emoji;
  for (int i = 0; i < 30; ++i) emoji += u"\U0001F44D";
  for (const auto& c : ChunkUtf16(emoji, 20)) {
    EXPECT_EQ(c.size() % 2, 0u);
    EXPECT_LE(c.size(), 20u);
  }
  // The global path chunks the same way.
  KeyPlan global = PlanTypeTextGlobal(text);
  ASSERT_GE(global.intents.size(), 4u);
  EXPECT_EQ(global.intents[0].unicode.size(), 19u);
  EXPECT_EQ(global.intents[3].unicode, u"\U0001F600bc");
}

TEST(KeyPlanTyping, CrLfIsOneReturnOnBothPaths) {
  EXPECT_EQ(Describe(PlanTypeTextToPid(u"a\r\nb\n\rc", nullptr)),
            "d[a] u[a] p8 d36 u36 p8 d[b] u[b] p8 d36 u36 p8 d36 u36 p8 d[c] u[c] p8");
  EXPECT_EQ(Describe(PlanTypeTextGlobal(u"a\r\nb")), "d[a]/0 u[a]/0 p8 d36/0 u36/0 p8 d[b]/0 u[b]/0 p8");
}

TEST(KeyPlanChords, PressSendsTheKeyWithTheModifiersFlags) {
  EXPECT_EQ(Describe(PlanPressChord("cmd+c")), "d8/100000 u8/100000 p20");
  EXPECT_EQ(Describe(PlanPressChord("shift")), "d56/20000 u56/0 p20");
  EXPECT_EQ(Describe(PlanPressChord("cmd+shift+alt")),
            "d55/100000 d56/120000 d58/1a0000 u58/120000 u56/100000 u55/0 p20");
  EXPECT_EQ(Describe(PlanPressChord("cmd+a+b")), "refused");
  EXPECT_EQ(Describe(PlanPressChord("none")), "refused");
  EXPECT_EQ(Describe(PlanPressChord("cmd+foo")), "d?/100000 u?/100000 p20");
  // The key-up follows only a key-down that went out.
  KeyPlan p = PlanPressChord("a");
  EXPECT_EQ(p.intents[1].after, 0);
}

TEST(KeyPlanChords, HoldChecksCancellationBeforeEveryPress) {
  EXPECT_EQ(Describe(PlanHoldChord("cmd+shift+x", 1.5)),
            "c d55/100000 c d56/120000 c d7/120000 w1500 u7/120000 u56/100000 u55/0 p20");
  EXPECT_EQ(Describe(PlanHoldChord("alt", 0)), "c d58/80000 w0 u58/0 p20");
  EXPECT_EQ(Describe(PlanHoldChord("x+y", 1)), "refused");
  // Each release runs only when its own press went out.
  KeyPlan hold = PlanHoldChord("cmd+x", 1);
  for (const auto& i : hold.intents) {
    if (i.kind == KeyIntent::Kind::kKeyUp) {
      ASSERT_GE(i.after, 0);
      EXPECT_EQ(hold.intents[i.after].kind, KeyIntent::Kind::kKeyDown);
      EXPECT_EQ(hold.intents[i.after].keycode, i.keycode);
    }
  }
}

TEST(KeyPlanChords, HalvesMirrorEachOther) {
  EXPECT_EQ(Describe(PlanChordHalf("cmd+shift+4", true)),
            "d55/100000 d56/120000 d21/120000 u56/100000 u55/0");
  EXPECT_EQ(Describe(PlanChordHalf("cmd+shift+4", false)), "u21/120000 u56/100000 u55/0");
  // The releases of the press half run only after a failed press.
  KeyPlan down = PlanChordHalf("cmd+shift+4", true);
  EXPECT_TRUE(down.intents[3].only_on_failure);
  EXPECT_FALSE(down.intents[2].only_on_failure);
  EXPECT_EQ(Describe(PlanChordHalf("a+b", true)), "refused");
}

}  // namespace
}  // namespace addon
