#include "input/key_plan.h"

#include <algorithm>
#include <optional>

#include "common/text.h"
#include "input/key_names.h"
#include "platform/events.h"

namespace addon {

namespace {

using Kind = KeyIntent::Kind;

// End of a run starting at `begin` that stops before `limit` and holds at
// most `max_units` units, pulled back by one when it would split a pair.
size_t RunEnd(const std::u16string& text, size_t begin, size_t limit, size_t max_units) {
  size_t end = std::min(limit, begin + max_units);
  if (end < text.size() && end - begin > 1 && common::IsHighSurrogate(text[end - 1]) &&
      common::IsLowSurrogate(text[end])) {
    --end;
  }
  return end;
}

class PlanBuilder {
 public:
  int NewGroup() { return ++group_; }

  int Key(Kind kind, uint16_t keycode, bool known, std::optional<uint64_t> flags) {
    KeyIntent i;
    i.kind = kind;
    i.keycode = keycode;
    i.known = known;
    if (flags) {
      i.set_flags = true;
      i.flags = *flags;
    }
    return Add(std::move(i));
  }
  int Unicode(Kind kind, std::u16string text, std::optional<uint64_t> flags) {
    int index = Key(kind, 0, true, flags);
    plan_.intents[index].unicode = std::move(text);
    return index;
  }
  int Named(Kind kind, const std::string& name, uint64_t flags) {
    uint16_t keycode = 0;
    bool known = KeycodeForKey(name, &keycode);
    return Key(kind, keycode, known, flags);
  }
  int Pause(double ms) {
    KeyIntent i;
    i.kind = Kind::kPause;
    i.ms = ms;
    return Add(std::move(i));
  }
  int Control(Kind kind, double ms = 0) {
    KeyIntent i;
    i.kind = kind;
    i.ms = ms;
    return Add(std::move(i));
  }

  KeyIntent& operator[](int index) { return plan_.intents[index]; }
  // Every intent of the current group added from now on aborts it on failure.
  void AbortGroupOnFailure(bool on) { abort_ = on; }

  KeyPlan Take() { return std::move(plan_); }

 private:
  int Add(KeyIntent i) {
    i.group = group_;
    i.abort_group = abort_;
    plan_.intents.push_back(std::move(i));
    return static_cast<int>(plan_.intents.size()) - 1;
  }
  KeyPlan plan_;
  int group_ = 0;
  bool abort_ = false;
};

KeyPlan Refused() {
  KeyPlan p;
  p.ok = false;
  return p;
}

bool IsKeyPressedChar(char16_t c) {
  if (c >= u'0' && c <= u'9') return true;
  switch (c) {
    case u'\n': case u'\r': case u'%': case u'*': case u'+': case u'-': case u'/': case u'=':
      return true;
    default:
      return false;
  }
}

// Key-down of each modifier with the flags accumulated so far (aborting the
// group on failure); answers the indices of the downs.
std::vector<int> PressModifiers(PlanBuilder& b, const ChordParts& parts) {
  std::vector<int> downs;
  uint64_t flags = 0;
  for (size_t m = 0; m < parts.modifiers.size(); ++m) {
    flags |= parts.modifier_flags[m];
    downs.push_back(b.Named(Kind::kKeyDown, parts.modifiers[m], flags));
  }
  return downs;
}

// Key-up of each pressed modifier in reverse order, carrying the flags of the
// modifiers still down; each runs only when its key-down succeeded.
void ReleaseModifiers(PlanBuilder& b, const ChordParts& parts, const std::vector<int>& downs,
                      bool only_on_failure) {
  for (size_t m = parts.modifiers.size(); m-- > 0;) {
    uint64_t still_down = 0;
    for (size_t k = 0; k < m; ++k) still_down |= parts.modifier_flags[k];
    int up = b.Named(Kind::kKeyUp, parts.modifiers[m], still_down);
    b[up].after = downs.empty() ? -1 : downs[m];
    b[up].only_on_failure = only_on_failure;
  }
}

bool ParseSingleKeyChord(const std::string& chord, ChordParts* parts) {
  auto tokens = ParseKeyChord(chord);
  if (tokens.empty()) return false;
  *parts = SplitChord(tokens);
  return parts->keys.size() <= 1;
}

}  // namespace

std::vector<std::u16string> ChunkUtf16(const std::u16string& text, size_t max_units) {
  std::vector<std::u16string> chunks;
  for (size_t i = 0; i < text.size();) {
    size_t end = RunEnd(text, i, text.size(), max_units);
    chunks.push_back(text.substr(i, end - i));
    i = end;
  }
  return chunks;
}

KeyPlan PlanTypeTextToPid(const std::u16string& text, const LayoutKeymap& keymap) {
  PlanBuilder b;
  std::u16string pending;
  auto flush = [&] {
    if (pending.empty()) return;
    // One failed delivery ends this text's Unicode chunks.
    b.NewGroup();
    b.AbortGroupOnFailure(true);
    for (auto& chunk : ChunkUtf16(pending, kUnicodeChunkUnits)) {
      b.Unicode(Kind::kKeyDown, chunk, std::nullopt);
      b.Unicode(Kind::kKeyUp, std::move(chunk), std::nullopt);
      b.Pause(kPauseAfterCharMs);
    }
    b.AbortGroupOnFailure(false);
    pending.clear();
  };
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    uint16_t keycode = 0;
    bool shift = false;
    if (!IsKeyPressedChar(c) || !KeycodeForChar(c, &keycode, &shift, keymap)) {
      pending.push_back(c);
      continue;
    }
    // A CR directly followed by LF is one line break, one Return.
    if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
    flush();
    b.NewGroup();  // every event of the character is attempted
    if (shift) {
      const uint64_t kShift = platform::kFlagMaskShift;
      b.Key(Kind::kKeyDown, kShiftKeycode, true, kShift);
      b.Key(Kind::kKeyDown, keycode, true, kShift);
      b.Key(Kind::kKeyUp, keycode, true, kShift);
      b.Key(Kind::kKeyUp, kShiftKeycode, true, 0);
      b.Pause(kPauseAfterShiftedCharMs);
    } else {
      b.Key(Kind::kKeyDown, keycode, true, std::nullopt);
      b.Key(Kind::kKeyUp, keycode, true, std::nullopt);
    }
    b.Pause(kPauseAfterCharMs);
  }
  flush();
  return b.Take();
}

KeyPlan PlanTypeTextGlobal(const std::u16string& text) {
  PlanBuilder b;
  auto is_break = [](char16_t c) { return c == u'\t' || c == u'\n' || c == u'\r'; };
  for (size_t i = 0; i < text.size();) {
    b.NewGroup();
    if (is_break(text[i])) {
      const std::string key = text[i] == u'\t' ? "tab" : "enter";
      b.Named(Kind::kKeyDown, key, 0);
      b.Named(Kind::kKeyUp, key, 0);
      b.Pause(kPauseAfterCharMs);
      i += (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ? 2 : 1;
      continue;
    }
    size_t limit = i;
    while (limit < text.size() && !is_break(text[limit])) ++limit;
    size_t end = RunEnd(text, i, limit, kUnicodeChunkUnits);
    std::u16string run = text.substr(i, end - i);
    b.Unicode(Kind::kKeyDown, run, 0);
    b.Unicode(Kind::kKeyUp, std::move(run), 0);
    b.Pause(kPauseAfterCharMs);
    i = end;
  }
  return b.Take();
}

KeyPlan PlanPressChord(const std::string& chord) {
  ChordParts parts;
  if (!ParseSingleKeyChord(chord, &parts)) return Refused();
  PlanBuilder b;
  b.AbortGroupOnFailure(true);
  if (parts.keys.size() == 1) {
    int down = b.Named(Kind::kKeyDown, parts.keys[0], parts.all_flags);
    int up = b.Named(Kind::kKeyUp, parts.keys[0], parts.all_flags);
    b[up].after = down;
  } else {
    std::vector<int> downs = PressModifiers(b, parts);
    b.NewGroup();
    b.AbortGroupOnFailure(false);
    ReleaseModifiers(b, parts, downs, false);
  }
  b.NewGroup();
  b.AbortGroupOnFailure(false);
  b.Pause(kPauseAfterChordMs);
  return b.Take();
}

KeyPlan PlanHoldChord(const std::string& chord, double seconds) {
  ChordParts parts;
  if (!ParseSingleKeyChord(chord, &parts)) return Refused();
  PlanBuilder b;
  b.AbortGroupOnFailure(true);
  std::vector<int> downs;
  uint64_t flags = 0;
  for (size_t m = 0; m < parts.modifiers.size(); ++m) {
    b.Control(Kind::kCancelPoint);
    flags |= parts.modifier_flags[m];
    downs.push_back(b.Named(Kind::kKeyDown, parts.modifiers[m], flags));
  }
  int key_down = -1;
  if (!parts.keys.empty()) {
    b.Control(Kind::kCancelPoint);
    key_down = b.Named(Kind::kKeyDown, parts.keys[0], parts.all_flags);
  }
  b.Control(Kind::kHoldWait, seconds * 1000.0);
  b.NewGroup();
  b.AbortGroupOnFailure(false);
  if (key_down >= 0) {
    int up = b.Named(Kind::kKeyUp, parts.keys[0], parts.all_flags);
    b[up].after = key_down;
  }
  ReleaseModifiers(b, parts, downs, false);
  b.NewGroup();
  b.Pause(kPauseAfterChordMs);
  return b.Take();
}

KeyPlan PlanChordHalf(const std::string& chord, bool down) {
  ChordParts parts;
  if (!ParseSingleKeyChord(chord, &parts)) return Refused();
  PlanBuilder b;
  if (down) {
    b.AbortGroupOnFailure(true);
    std::vector<int> downs = PressModifiers(b, parts);
    if (!parts.keys.empty()) b.Named(Kind::kKeyDown, parts.keys[0], parts.all_flags);
    b.NewGroup();
    b.AbortGroupOnFailure(false);
    ReleaseModifiers(b, parts, downs, true);
  } else {
    if (!parts.keys.empty()) b.Named(Kind::kKeyUp, parts.keys[0], parts.all_flags);
    ReleaseModifiers(b, parts, {}, false);
  }
  return b.Take();
}

double PlanPauseMs(const KeyPlan& plan) {
  double ms = 0;
  for (const auto& i : plan.intents)
    if (i.kind == Kind::kPause) ms += i.ms;
  return ms;
}

}  // namespace addon
