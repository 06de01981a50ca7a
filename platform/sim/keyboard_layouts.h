// The simulated desktop's keyboard layouts: US and German, switchable at run
// time. Keycodes are the platform's virtual keycodes (key positions); the
// layout decides which character a position produces. Used by the keyboard
// layout service and by event delivery (a key event without a Unicode payload
// types what its key produces under the layout current at delivery).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

struct LayoutInfo {
  std::string name;             // "us", "de"
  std::string input_source_id;  // "com.apple.keylayout.US", ...
};

const std::vector<LayoutInfo>& KnownLayouts();
const LayoutInfo* FindLayout(const std::string& name);
// The characters of `keycode` under layout `name` without or with Shift;
// empty when the key produces none.
std::u16string LayoutChars(const std::string& name, uint16_t keycode, bool shift);

}  // namespace sim
