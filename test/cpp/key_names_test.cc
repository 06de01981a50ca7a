// The key vocabulary: token normalisation, chords, modifier flags, keycodes.
#include <gtest/gtest.h>

#include "input/key_names.h"

namespace addon {
namespace {

using Tokens = std::vector<std::string>;

TEST(KeyNames, TokensAreTrimmedLowerCasedAndAliased) {
  EXPECT_EQ(ParseKeyChord("Cmd + Shift + T"), (Tokens{"command", "shift", "t"}));
  EXPECT_EQ(ParseKeyChord(" \xE2\x8C\x98 +return "), (Tokens{"command", "enter"}));
  EXPECT_EQ(ParseKeyChord("option+CONTROL+Escape"), (Tokens{"alt", "ctrl", "esc"}));
  EXPECT_EQ(LowerTrim("\t\v\f\r\n Tab \n"), "tab");
  // Only whole tokens are aliases, and only ASCII is lower-cased.
  EXPECT_EQ(LowerTrim("returns"), "returns");
  EXPECT_EQ(LowerTrim("\xC3\x84"), "\xC3\x84");
}

TEST(KeyNames, InvalidChordsParseToNothing) {
  EXPECT_TRUE(ParseKeyChord("").empty());
  EXPECT_TRUE(ParseKeyChord("none").empty());
  EXPECT_TRUE(ParseKeyChord("+").empty());
  EXPECT_TRUE(ParseKeyChord(" + none + ").empty());
  EXPECT_TRUE(ParseKeyChord(std::string(129, 'a')).empty());
  EXPECT_EQ(ParseKeyChord(std::string(128, 'a')).size(), 1u);
  EXPECT_EQ(ParseKeyChord("cmd+none+c"), (Tokens{"command", "c"}));
  // Key names are checked later, not here.
  EXPECT_EQ(ParseKeyChord("cmd+foo"), (Tokens{"command", "foo"}));
}

TEST(KeyNames, AtMostEightTokens) {
  EXPECT_EQ(ParseKeyChord("a+b+c+d+e+f+g+h").size(), 8u);
  EXPECT_TRUE(ParseKeyChord("a+b+c+d+e+f+g+h+i").empty());
  EXPECT_EQ(ParseKeyChord("a+b+c+d+e+f+g+h+none").size(), 8u);
  EXPECT_EQ(ParseKeyChord("a+b+c+d+e+f+g+h+").size(), 8u);
}

TEST(KeyNames, KeyTableHoldsNormalisedNamesOnly) {
  EXPECT_EQ(KeyTableSizeForTest(), 84u);
  uint16_t k = 0, d = 0;
  ASSERT_TRUE(KeycodeForKey("backspace", &k));
  ASSERT_TRUE(KeycodeForKey("delete", &d));
  EXPECT_EQ(k, 51);
  EXPECT_EQ(d, 51);
  for (const char* absent : {"return", "A", "escape", "cmd", "keypad1", "kp_enter", "+", "fn", ""}) {
    EXPECT_FALSE(KeycodeForKey(absent, &k)) << absent;
  }
  // Spot checks of rows whose keycodes are not in sequence.
  for (auto [name, code] : {std::pair<const char*, uint16_t>{"v", 9}, {"b", 11}, {"5", 23},
                            {"=", 24}, {"'", 39}, {"esc", 53}, {"f3", 99}, {"f16", 106},
                            {"f4", 118}, {"up", 126}}) {
    ASSERT_TRUE(KeycodeForKey(name, &k)) << name;
    EXPECT_EQ(k, code) << name;
  }
}

TEST(KeyNames, ModifierFlags) {
  uint64_t f = 0;
  ASSERT_TRUE(ModifierFlag("command", &f));
  EXPECT_EQ(f, 0x100000u);
  EXPECT_FALSE(ModifierFlag("cmd", &f));  // not normalised
  EXPECT_FALSE(ModifierFlag("fn", &f));
  EXPECT_EQ(ParseModifierFlags("ctrl+option"), 0xC0000u);
  EXPECT_EQ(ParseModifierFlags("Cmd+Shift+x"), 0x120000u);
  EXPECT_EQ(ParseModifierFlags(""), 0u);
  EXPECT_EQ(ParseModifierFlags("a+b+c+d+e+f+g+h+shift"), 0u);  // invalid chord
  // The background-window form is a case-sensitive substring search.
  EXPECT_EQ(ModifierFlags("Command"), 0u);
  EXPECT_EQ(ModifierFlags("command"), 0x100000u);
  EXPECT_EQ(ModifierFlags("altitude"), 0x80000u);
  EXPECT_EQ(ModifierFlags("cmd-opt-control-shift"), 0x1E0000u);
}

TEST(KeyNames, SplitChordKeepsOrder) {
  ChordParts p = SplitChord({"shift", "x", "command", "y"});
  EXPECT_EQ(p.modifiers, (Tokens{"shift", "command"}));
  EXPECT_EQ(p.keys, (Tokens{"x", "y"}));
  EXPECT_EQ(p.all_flags, 0x120000u);
}

}  // namespace
}  // namespace addon
