#include "input/key_names.h"

#include <unordered_map>

#include "platform/events.h"

namespace addon {

namespace {

bool IsCSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

const std::unordered_map<std::string, uint16_t>& KeyTable() {
  static const std::unordered_map<std::string, uint16_t> table = [] {
    std::unordered_map<std::string, uint16_t> t;
    auto row = [&t](std::initializer_list<const char*> names, uint16_t first) {
      uint16_t code = first;
      for (const char* n : names) t.emplace(n, code++);
    };
    row({"a", "s", "d", "f", "h", "g", "z", "x", "c", "v"}, 0);
    row({"b", "q", "w", "e", "r", "y", "t"}, 11);
    row({"1", "2", "3", "4", "6", "5"}, 18);
    row({"=", "9", "7", "-", "8", "0"}, 24);
    row({"]", "o", "u", "[", "i", "p"}, 30);
    row({"enter"}, 36);
    row({"l", "j", "'", "k", ";", "\\", ",", "/", "n", "m", "."}, 37);
    row({"tab", "space", "`", "backspace"}, 48);
    row({"delete"}, 51);
    row({"esc"}, 53);
    row({"command", "shift", "capslock", "alt", "ctrl"}, 55);
    row({"f5", "f6", "f7", "f3", "f8", "f9"}, 96);
    row({"f11"}, 103);
    row({"f13", "f16", "f14"}, 105);
    row({"f10"}, 109);
    row({"f12"}, 111);
    row({"f15", "help", "home", "pageup", "forwarddelete", "f4", "end", "f2", "pagedown", "f1",
         "left", "right", "down", "up"},
        113);
    return t;
  }();
  return table;
}

}  // namespace

std::string LowerTrim(const std::string& text) {
  size_t b = 0, e = text.size();
  while (b < e && IsCSpace(text[b])) ++b;
  while (e > b && IsCSpace(text[e - 1])) --e;
  std::string s = text.substr(b, e - b);
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  if (s == "return") return "enter";
  if (s == "escape") return "esc";
  if (s == "cmd" || s == "\xE2\x8C\x98") return "command";
  if (s == "option") return "alt";
  if (s == "control") return "ctrl";
  return s;
}

std::vector<std::string> ParseKeyChord(const std::string& text) {
  std::vector<std::string> tokens;
  if (text.empty() || text.size() > kMaxChordBytes) return tokens;
  size_t start = 0;
  while (true) {
    size_t plus = text.find('+', start);
    std::string piece = LowerTrim(text.substr(start, plus == std::string::npos ? std::string::npos
                                                                                : plus - start));
    if (!piece.empty() && piece != "none") {
      if (tokens.size() == kMaxChordTokens) return {};
      tokens.push_back(std::move(piece));
    }
    if (plus == std::string::npos) break;
    start = plus + 1;
  }
  return tokens;
}

bool ModifierFlag(const std::string& token, uint64_t* flag) {
  uint64_t f = 0;
  if (token == "command") f = platform::kFlagMaskCommand;
  else if (token == "shift") f = platform::kFlagMaskShift;
  else if (token == "ctrl") f = platform::kFlagMaskControl;
  else if (token == "alt") f = platform::kFlagMaskAlternate;
  else return false;
  if (flag) *flag = f;
  return true;
}

bool KeycodeForKey(const std::string& token, uint16_t* keycode) {
  const auto& t = KeyTable();
  auto it = t.find(token);
  if (it == t.end()) return false;
  if (keycode) *keycode = it->second;
  return true;
}

uint64_t ParseModifierFlags(const std::string& text) {
  uint64_t flags = 0;
  for (const auto& token : ParseKeyChord(text)) {
    uint64_t f = 0;
    if (ModifierFlag(token, &f)) flags |= f;
  }
  return flags;
}

uint64_t ModifierFlags(const std::string& text) {
  auto has = [&text](const char* s) { return text.find(s) != std::string::npos; };
  uint64_t flags = 0;
  if (has("cmd") || has("command")) flags |= platform::kFlagMaskCommand;
  if (has("shift")) flags |= platform::kFlagMaskShift;
  if (has("opt") || has("alt")) flags |= platform::kFlagMaskAlternate;
  if (has("ctrl") || has("control")) flags |= platform::kFlagMaskControl;
  return flags;
}

ChordParts SplitChord(const std::vector<std::string>& tokens) {
  ChordParts parts;
  for (const auto& token : tokens) {
    uint64_t f = 0;
    if (ModifierFlag(token, &f)) {
      parts.modifiers.push_back(token);
      parts.modifier_flags.push_back(f);
      parts.all_flags |= f;
    } else {
      parts.keys.push_back(token);
    }
  }
  return parts;
}

size_t KeyTableSizeForTest() { return KeyTable().size(); }

}  // namespace addon
