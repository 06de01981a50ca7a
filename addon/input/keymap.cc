#include "input/keymap.h"

#include <mutex>

#include "input/key_names.h"
#include "platform/platform.h"

namespace addon {

namespace {

std::mutex g_keymap_mutex;
std::string g_keymap_identity;
LayoutKeymap g_keymap;

// US ANSI positions of the characters U+0009 to U+007E.
bool FallbackKey(char16_t c, uint16_t* keycode, bool* needs_shift) {
  static constexpr char kPlain[] = "',-./;=[\\]`";
  static constexpr uint16_t kPlainCodes[] = {39, 43, 27, 47, 44, 41, 24, 33, 42, 30, 50};
  static constexpr char kShifted[] = "!@#$%^&*()_+{}|:\"<>?~";
  static constexpr uint16_t kShiftedCodes[] = {18, 19, 20, 21, 23, 22, 26, 28, 25, 29, 27,
                                               24, 33, 30, 42, 41, 39, 43, 47, 44, 50};
  *needs_shift = false;
  if (c == u'\t') return *keycode = 48, true;
  if (c == u'\n' || c == u'\r') return *keycode = 36, true;
  if (c == u' ') return *keycode = 49, true;
  if ((c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9')) {
    return KeycodeForKey(std::string(1, static_cast<char>(c)), keycode);
  }
  for (size_t i = 0; kPlain[i]; ++i)
    if (c == static_cast<char16_t>(kPlain[i])) return *keycode = kPlainCodes[i], true;
  for (size_t i = 0; kShifted[i]; ++i) {
    if (c == static_cast<char16_t>(kShifted[i])) {
      *keycode = kShiftedCodes[i];
      *needs_shift = true;
      return true;
    }
  }
  return false;
}

}  // namespace

LayoutKeymap BuildLayoutKeymap(platform::KeyboardLayout& layout) {
  auto table = std::make_shared<std::unordered_map<char16_t, KeyPosition>>();
  for (uint16_t keycode = 0; keycode < 128; ++keycode) {
    for (bool shift : {false, true}) {
      auto chars = layout.Translate(keycode, shift ? platform::kFlagMaskShift : 0);
      if (!chars) return table;  // no layout data at all
      if (chars->empty()) continue;
      table->emplace((*chars)[0], KeyPosition{keycode, shift});
    }
  }
  return table;
}

LayoutKeymap KeyboardLayoutKeymap() {
  platform::KeyboardLayout& layout = platform::Get().keyboard();
  const std::string identity = layout.CurrentInputSourceId();
  std::lock_guard<std::mutex> lock(g_keymap_mutex);
  if (g_keymap && g_keymap_identity == identity) return g_keymap;
  g_keymap = BuildLayoutKeymap(layout);
  g_keymap_identity = identity;
  return g_keymap;
}

bool KeycodeForChar(char16_t c, uint16_t* keycode, bool* needs_shift, const LayoutKeymap& keymap) {
  *needs_shift = false;
  if (keymap) {
    auto it = keymap->find(c);
    if (it != keymap->end()) {
      *keycode = it->second.keycode;
      *needs_shift = it->second.needs_shift;
      return true;
    }
  }
  if (c >= u'A' && c <= u'Z') {
    bool ignored = false;
    if (!KeycodeForChar(static_cast<char16_t>(c - u'A' + u'a'), keycode, &ignored, keymap)) return false;
    *needs_shift = true;
    return true;
  }
  return FallbackKey(c, keycode, needs_shift);
}

}  // namespace addon
