// Keyboard layout service: translation between virtual keycodes and the
// characters the current input source produces.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

class KeyboardLayout {
 public:
  virtual ~KeyboardLayout() = default;
  // Characters produced by keycode with the given modifier flags (empty when
  // none); nullopt when no layout data is available.
  virtual std::optional<std::u16string> Translate(uint16_t keycode, uint64_t modifier_flags) = 0;
  virtual std::string CurrentInputSourceId() = 0;
};

}  // namespace platform
