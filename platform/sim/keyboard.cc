// The keyboard layouts of the simulated desktop (US ANSI and German) and the
// keyboard layout service over the one current in the world.
#include "sim/keyboard_layouts.h"
#include "sim/services.h"

namespace sim {

namespace {

struct KeyChars {
  uint16_t keycode;
  char16_t plain;
  char16_t shifted;
};

// Keys every layout shares: controls and the keypad.
constexpr KeyChars kCommonKeys[] = {
    {36, u'\r', u'\r'}, {48, u'\t', u'\t'}, {49, u' ', u' '}, {51, u'\x08', u'\x08'},
    {53, u'\x1b', u'\x1b'}, {65, u'.', u'.'}, {67, u'*', u'*'}, {69, u'+', u'+'},
    {75, u'/', u'/'}, {76, u'\x03', u'\x03'}, {78, u'-', u'-'}, {81, u'=', u'='},
    {82, u'0', u'0'}, {83, u'1', u'1'}, {84, u'2', u'2'}, {85, u'3', u'3'},
    {86, u'4', u'4'}, {87, u'5', u'5'}, {88, u'6', u'6'}, {89, u'7', u'7'},
    {91, u'8', u'8'}, {92, u'9', u'9'},
};

constexpr KeyChars kUsKeys[] = {
    {0, u'a', u'A'},   {1, u's', u'S'},   {2, u'd', u'D'},   {3, u'f', u'F'},
    {4, u'h', u'H'},   {5, u'g', u'G'},   {6, u'z', u'Z'},   {7, u'x', u'X'},
    {8, u'c', u'C'},   {9, u'v', u'V'},   {11, u'b', u'B'},  {12, u'q', u'Q'},
    {13, u'w', u'W'},  {14, u'e', u'E'},  {15, u'r', u'R'},  {16, u'y', u'Y'},
    {17, u't', u'T'},  {18, u'1', u'!'},  {19, u'2', u'@'},  {20, u'3', u'#'},
    {21, u'4', u'$'},  {22, u'6', u'^'},  {23, u'5', u'%'},  {24, u'=', u'+'},
    {25, u'9', u'('},  {26, u'7', u'&'},  {27, u'-', u'_'},  {28, u'8', u'*'},
    {29, u'0', u')'},  {30, u']', u'}'},  {31, u'o', u'O'},  {32, u'u', u'U'},
    {33, u'[', u'{'},  {34, u'i', u'I'},  {35, u'p', u'P'},  {37, u'l', u'L'},
    {38, u'j', u'J'},  {39, u'\'', u'"'}, {40, u'k', u'K'},  {41, u';', u':'},
    {42, u'\\', u'|'}, {43, u',', u'<'},  {44, u'/', u'?'},  {45, u'n', u'N'},
    {46, u'm', u'M'},  {47, u'.', u'>'},  {50, u'`', u'~'},
};

// German (ISO): Y and Z swapped, umlauts, and a different symbol row; the
// accent keys answer their display characters.
constexpr KeyChars kGermanKeys[] = {
    {0, u'a', u'A'},    {1, u's', u'S'},    {2, u'd', u'D'},    {3, u'f', u'F'},
    {4, u'h', u'H'},    {5, u'g', u'G'},    {6, u'y', u'Y'},    {7, u'x', u'X'},
    {8, u'c', u'C'},    {9, u'v', u'V'},    {10, u'^', u'\u00B0'}, {11, u'b', u'B'},
    {12, u'q', u'Q'},   {13, u'w', u'W'},   {14, u'e', u'E'},   {15, u'r', u'R'},
    {16, u'z', u'Z'},   {17, u't', u'T'},   {18, u'1', u'!'},   {19, u'2', u'"'},
    {20, u'3', u'\u00A7'}, {21, u'4', u'$'}, {22, u'6', u'&'},  {23, u'5', u'%'},
    {24, u'\u00B4', u'`'}, {25, u'9', u')'}, {26, u'7', u'/'},  {27, u'\u00DF', u'?'},
    {28, u'8', u'('},   {29, u'0', u'='},   {30, u'+', u'*'},   {31, u'o', u'O'},
    {32, u'u', u'U'},   {33, u'\u00FC', u'\u00DC'}, {34, u'i', u'I'}, {35, u'p', u'P'},
    {37, u'l', u'L'},   {38, u'j', u'J'},   {39, u'\u00E4', u'\u00C4'}, {40, u'k', u'K'},
    {41, u'\u00F6', u'\u00D6'}, {42, u'#', u'\''}, {43, u',', u';'}, {44, u'-', u'_'},
    {45, u'n', u'N'},   {46, u'm', u'M'},   {47, u'.', u':'},   {50, u'<', u'>'},
};

template <size_t N>
const KeyChars* Find(const KeyChars (&table)[N], uint16_t keycode) {
  for (const auto& k : table)
    if (k.keycode == keycode) return &k;
  return nullptr;
}

}  // namespace

const std::vector<LayoutInfo>& KnownLayouts() {
  static const std::vector<LayoutInfo> layouts = {
      {"us", "com.apple.keylayout.US"},
      {"de", "com.apple.keylayout.German"},
  };
  return layouts;
}

const LayoutInfo* FindLayout(const std::string& name) {
  for (const auto& l : KnownLayouts())
    if (l.name == name) return &l;
  return nullptr;
}

std::u16string LayoutChars(const std::string& name, uint16_t keycode, bool shift) {
  const KeyChars* k = name == "de" ? Find(kGermanKeys, keycode) : Find(kUsKeys, keycode);
  if (!k) k = Find(kCommonKeys, keycode);
  if (!k) return std::u16string();
  return std::u16string(1, shift ? k->shifted : k->plain);
}

std::optional<std::u16string> SimKeyboard::Translate(uint16_t keycode, uint64_t modifier_flags) {
  std::string layout;
  {
    World& w = W();
    std::lock_guard<std::mutex> l(w.mu);
    if (!w.keyboard_layout_available) return std::nullopt;
    layout = w.keyboard_layout;
  }
  return LayoutChars(layout, keycode, (modifier_flags & platform::kFlagMaskShift) != 0);
}

std::string SimKeyboard::CurrentInputSourceId() {
  World& w = W();
  std::lock_guard<std::mutex> l(w.mu);
  const LayoutInfo* info = FindLayout(w.keyboard_layout);
  return info ? info->input_source_id : std::string();
}

}  // namespace sim
