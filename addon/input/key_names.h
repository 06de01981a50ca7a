// The key vocabulary every keyboard and mouse operation shares: token
// normalisation, chord parsing, modifier flags and the key-name table of
// virtual keycodes. Pure functions, safe on any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace addon {

inline constexpr size_t kMaxChordBytes = 128;
inline constexpr size_t kMaxChordTokens = 8;

// Trims C-locale whitespace, lower-cases ASCII letters and maps the aliases
// "return", "escape", "cmd", U+2318, "option" and "control" to their names.
std::string LowerTrim(const std::string& text);
// Splits at "+" and normalises each piece; empty pieces and "none" are
// skipped. An empty list means the chord is invalid (empty, longer than 128
// bytes, or more than 8 tokens). Key names are not checked here.
std::vector<std::string> ParseKeyChord(const std::string& text);
// True with the event flag for "command", "shift", "ctrl" and "alt".
bool ModifierFlag(const std::string& token, uint64_t* flag);
// The virtual keycode of a normalised key name.
bool KeycodeForKey(const std::string& token, uint16_t* keycode);
// Modifier argument of the mouse operations: the OR of the modifier tokens
// of the parsed chord; other tokens are ignored, an invalid chord gives 0.
uint64_t ParseModifierFlags(const std::string& text);
// Modifier argument of background-window operations: case-sensitive
// substring search on the raw text ("cmd"/"command", "shift", "opt"/"alt",
// "ctrl"/"control").
uint64_t ModifierFlags(const std::string& text);

// A chord's tokens split, in order, into modifiers and other keys.
struct ChordParts {
  std::vector<std::string> modifiers;
  std::vector<uint64_t> modifier_flags;  // one per modifier
  std::vector<std::string> keys;
  uint64_t all_flags = 0;                // OR of modifier_flags
};
ChordParts SplitChord(const std::vector<std::string>& tokens);

// Rows of the key-name table (84).
size_t KeyTableSizeForTest();

}  // namespace addon
