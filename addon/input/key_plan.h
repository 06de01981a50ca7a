// Keyboard sequences as plans: ordered lists of intents (key-down, key-up,
// Unicode events, pauses, cancellation points, the hold itself) that a thin
// poster (key_poster.h) turns into platform events. Plans hold every rule of
// a sequence (order, flags, chunking, pauses, what happens after a failure),
// so they are the same on every backend and testable without one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "input/keymap.h"

namespace addon {

inline constexpr size_t kMaxTypedTextUnits = 1024;
inline constexpr size_t kUnicodeChunkUnits = 20;
inline constexpr uint16_t kShiftKeycode = 56;
inline constexpr int kPauseAfterCharMs = 8;
inline constexpr int kPauseAfterShiftedCharMs = 6;
inline constexpr int kPauseAfterChordMs = 20;

struct KeyIntent {
  enum class Kind : uint8_t {
    kKeyDown,
    kKeyUp,
    kPause,        // ms
    kCancelPoint,  // fails when the hold's session (or all input) was cancelled
    kHoldWait,     // waits `ms`; fails when cancelled meanwhile
  };
  Kind kind = Kind::kPause;
  uint16_t keycode = 0;
  bool known = true;        // false: a key name without a keycode; posting it fails
  bool set_flags = false;   // false: the event keeps the flags it was created with
  uint64_t flags = 0;
  std::u16string unicode;   // non-empty: a Unicode event (keycode 0) carrying this text
  double ms = 0;
  // Failure handling. A failed intent with abort_group skips the rest of its
  // group; an intent with `after` >= 0 runs only when that intent ran and
  // succeeded (a key-up after its key-down); one with only_on_failure runs
  // only when something has failed so far (releasing after a failed press).
  int group = 0;
  bool abort_group = false;
  int after = -1;
  bool only_on_failure = false;

  bool IsEvent() const { return kind == Kind::kKeyDown || kind == Kind::kKeyUp; }
};

// ok false: the sequence is refused before anything is posted (or, with
// intents, it fails whatever they do). The result of running a plan is ok AND
// the outcome of every intent that ran.
struct KeyPlan {
  bool ok = true;
  std::vector<KeyIntent> intents;
};

// Splits text into runs of at most `max_units` UTF-16 units, never between
// the halves of a surrogate pair.
std::vector<std::u16string> ChunkUtf16(const std::u16string& text, size_t max_units);

// Typing into one process: digits, line breaks and % * + - / = become key
// presses (when the layout or the fallback has a key for them), everything
// else travels as Unicode chunks. "\r\n" is one Return.
KeyPlan PlanTypeTextToPid(const std::u16string& text, const LayoutKeymap& keymap);
// Typing through the system: tab and line breaks are the keys "tab" and
// "enter" ("\r\n" one Return), everything else Unicode runs.
KeyPlan PlanTypeTextGlobal(const std::u16string& text);
// One chord press: the key down and up with the modifiers' flags (the
// modifiers get no events), or, for modifiers only, each pressed and then
// released in reverse order. Refused for no tokens or more than one key.
KeyPlan PlanPressChord(const std::string& chord);
// The chord pressed, held for `seconds` (cancellation checked before every
// press and during the wait) and released in reverse order.
KeyPlan PlanHoldChord(const std::string& chord, double seconds);
// The press half (modifiers in order, then the key; a failure releases what
// was pressed) or the release half (the key, then the modifiers in reverse).
KeyPlan PlanChordHalf(const std::string& chord, bool down);

// Sum of the plan's pauses in milliseconds (not counting holds).
double PlanPauseMs(const KeyPlan& plan);

}  // namespace addon
