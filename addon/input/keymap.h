// Character-to-keycode lookup for the few characters typing sends as real key
// presses: a table built from the current keyboard layout (shared, rebuilt
// when the layout changes) and a US ANSI fallback.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

namespace platform {
class KeyboardLayout;
}

namespace addon {

struct KeyPosition {
  uint16_t keycode = 0;
  bool needs_shift = false;
};

// UTF-16 code unit -> key. Never modified once built, so any thread may read
// it; every user holds a reference, so a worker keeps reading its table after
// the cache moved on to a newer layout.
using LayoutKeymap = std::shared_ptr<const std::unordered_map<char16_t, KeyPosition>>;

// Builds the table of `layout`: keycodes 0 to 127, each first without and then
// with Shift; the first UTF-16 unit of each result, the lowest keycode and the
// unshifted result winning. Empty when the layout has no data.
LayoutKeymap BuildLayoutKeymap(platform::KeyboardLayout& layout);

// The table of the current layout: the cached one while the layout identity
// is unchanged, else a newly built one (which replaces it in the cache).
LayoutKeymap KeyboardLayoutKeymap();

// Layout table first (when given), then the US fallback; capital letters of
// the fallback are their lower-case key with Shift.
bool KeycodeForChar(char16_t c, uint16_t* keycode, bool* needs_shift, const LayoutKeymap& keymap);

}  // namespace addon
