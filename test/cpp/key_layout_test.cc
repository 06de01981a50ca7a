// Character-to-keycode lookup: the fallback table, layout tables built from
// the simulated desktop's US and German layouts, and the shared cache.
#include <gtest/gtest.h>

#include "input/keymap.h"
#include "sim_test_util.h"

namespace addon {
namespace {

using simtest::Args;
using simtest::Cmd;

struct Key {
  bool found;
  uint16_t keycode;
  bool shift;
  bool operator==(const Key& o) const {
    return found == o.found && (!found || (keycode == o.keycode && shift == o.shift));
  }
};
std::ostream& operator<<(std::ostream& os, const Key& k) {
  return os << (k.found ? "" : "none ") << k.keycode << (k.shift ? "+shift" : "");
}

Key Lookup(char16_t c, const LayoutKeymap& keymap) {
  Key k{false, 0, true};
  k.found = KeycodeForChar(c, &k.keycode, &k.shift, keymap);
  return k;
}

TEST(KeyLayout, FallbackTableWithoutLayoutData) {
  LayoutKeymap none;
  EXPECT_EQ(Lookup(u'Q', none), (Key{true, 12, true}));
  EXPECT_EQ(Lookup(u'?', none), (Key{true, 44, true}));
  EXPECT_EQ(Lookup(u'\u00E9', none), (Key{false, 0, false}));
  EXPECT_EQ(Lookup(u'\n', none), (Key{true, 36, false}));
  EXPECT_EQ(Lookup(u'\r', none), (Key{true, 36, false}));
  EXPECT_EQ(Lookup(u'+', none), (Key{true, 24, true}));
  EXPECT_EQ(Lookup(u'~', none), (Key{true, 50, true}));
  EXPECT_EQ(Lookup(u'`', none), (Key{true, 50, false}));
  EXPECT_EQ(Lookup(u'7', none), (Key{true, 26, false}));
  // needsShift is reset even when nothing is found.
  uint16_t code = 0;
  bool shift = true;
  EXPECT_FALSE(KeycodeForChar(u'\x7f', &code, &shift, none));
  EXPECT_FALSE(shift);
}

TEST(KeyLayout, TablesFollowTheLayout) {
  Cmd("reset");
  LayoutKeymap us = BuildLayoutKeymap(platform::Get().keyboard());
  // The lowest keycode wins, the unshifted result before the shifted one:
  // "+" is Shift+= (24) rather than the keypad's 69.
  EXPECT_EQ(Lookup(u'+', us), (Key{true, 24, true}));
  EXPECT_EQ(Lookup(u'*', us), (Key{true, 28, true}));
  EXPECT_EQ(Lookup(u'=', us), (Key{true, 24, false}));
  EXPECT_EQ(Lookup(u'\r', us), (Key{true, 36, false}));
  EXPECT_EQ(Lookup(u'z', us), (Key{true, 6, false}));

  Cmd("setKeyboardLayout", Args({sim::Json("de")}));
  LayoutKeymap de = BuildLayoutKeymap(platform::Get().keyboard());
  EXPECT_EQ(Lookup(u'+', de), (Key{true, 30, false}));
  EXPECT_EQ(Lookup(u'=', de), (Key{true, 29, true}));
  EXPECT_EQ(Lookup(u'/', de), (Key{true, 26, true}));
  EXPECT_EQ(Lookup(u'-', de), (Key{true, 44, false}));
  EXPECT_EQ(Lookup(u'z', de), (Key{true, 16, false}));
  EXPECT_EQ(Lookup(u'Z', de), (Key{true, 16, true}));
  EXPECT_EQ(Lookup(u'\u00FC', de), (Key{true, 33, false}));
  // A capital the layout table lacks falls back to its lower-case key.
  EXPECT_EQ(Lookup(u'@', de), (Key{true, 19, true}));  // the US fallback
}

TEST(KeyLayout, NoLayoutDataGivesAnEmptyTable) {
  Cmd("reset");
  sim::Json opts;
  std::string err;
  ASSERT_TRUE(sim::Json::Parse(R"({"keyboardLayout": false})", &opts, &err));
  Cmd("setOptions", Args({opts}));
  LayoutKeymap t = BuildLayoutKeymap(platform::Get().keyboard());
  ASSERT_TRUE(t);
  EXPECT_TRUE(t->empty());
}

TEST(KeyLayout, CacheIsSharedUntilTheLayoutChanges) {
  Cmd("reset");
  LayoutKeymap first = KeyboardLayoutKeymap();
  LayoutKeymap second = KeyboardLayoutKeymap();
  EXPECT_EQ(first.get(), second.get()) << "one table per layout";

  Cmd("setKeyboardLayout", Args({sim::Json("de")}));
  LayoutKeymap german = KeyboardLayoutKeymap();
  EXPECT_NE(german.get(), first.get());
  EXPECT_EQ(Lookup(u'+', german), (Key{true, 30, false}));
  // A worker that took the US table keeps reading it, unchanged.
  EXPECT_EQ(Lookup(u'+', first), (Key{true, 24, true}));
  EXPECT_EQ(KeyboardLayoutKeymap().get(), german.get());

  Cmd("setKeyboardLayout", Args({sim::Json("us")}));
  LayoutKeymap back = KeyboardLayoutKeymap();
  EXPECT_NE(back.get(), german.get());
  EXPECT_EQ(Lookup(u'+', back), (Key{true, 24, true}));
}

}  // namespace
}  // namespace addon
