#include "x11/x11_keymap.h"

#include <X11/XKBlib.h>
#include <X11/keysym.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <thread>

#include "platform/events.h"
#include "x11/x11_display.h"
#include "x11/x11_services.h"

namespace x11 {

namespace {

using Clock = std::chrono::steady_clock;

// How long spares stay mapped after the last typed key: a client may still be
// translating queued key events against the mapping it fetches when it gets
// to them.
constexpr auto kGrace = std::chrono::milliseconds(1500);
// How long a snapshot of the layout is trusted while nothing is assigned.
constexpr auto kSnapshotAge = std::chrono::seconds(2);

struct State {
  std::mutex mu;  // the typing lock
  bool loaded = false;
  Clock::time_point loaded_at;
  int min_kc = 0, max_kc = 0, per = 0;
  std::vector<KeySym> syms;  // the layout's own mapping (no spares assigned)
  std::map<KeySym, KeyStroke> layout;     // keysym -> its lowest keycode, level 1 or 2
  std::map<KeySym, unsigned int> assigned;  // keysym -> spare keycode
  std::vector<unsigned int> spare;        // unassigned spares, ascending (handed out from the top)
  Clock::time_point last_use;
  bool exit_hook = false;
};

State& S() {
  static auto* s = new State();
  return *s;
}

void Load(Display* d, State& s) {
  XDisplayKeycodes(d, &s.min_kc, &s.max_kc);
  int count = s.max_kc - s.min_kc + 1;
  KeySym* map = XGetKeyboardMapping(d, static_cast<KeyCode>(s.min_kc), count, &s.per);
  s.syms.assign(map, map + static_cast<size_t>(count) * s.per);
  XFree(map);
  s.layout.clear();
  s.spare.clear();
  for (int i = count - 1; i >= 0; --i) {
    const KeySym* k = &s.syms[static_cast<size_t>(i) * s.per];
    bool empty = std::all_of(k, k + s.per, [](KeySym x) { return x == NoSymbol; });
    unsigned int kc = static_cast<unsigned int>(s.min_kc + i);
    // Keycodes 8..255 only: spares above the core range cannot be sent.
    if (empty && kc <= 255) s.spare.insert(s.spare.begin(), kc);
    for (int level = std::min(s.per, 2) - 1; level >= 0; --level) {
      if (k[level] != NoSymbol) s.layout[k[level]] = {kc, level == 1};
    }
  }
  // The spares are handed out from the top of the range, so one text's
  // assignments form one contiguous block (one mapping request).
  std::sort(s.spare.begin(), s.spare.end());
  s.loaded = true;
  s.loaded_at = Clock::now();
}

// Writes `keysym` (or nothing) into every level of the given keycodes, one
// request per contiguous run.
void Apply(Display* d, State& s, std::vector<std::pair<unsigned int, KeySym>> changes) {
  std::sort(changes.begin(), changes.end());
  size_t i = 0;
  while (i < changes.size()) {
    size_t j = i + 1;
    while (j < changes.size() && changes[j].first == changes[j - 1].first + 1) ++j;
    std::vector<KeySym> run(static_cast<size_t>(j - i) * s.per, NoSymbol);
    for (size_t k = i; k < j; ++k) {
      // Both levels: the key types its character with or without Shift.
      run[(k - i) * s.per] = changes[k].second;
      if (s.per > 1) run[(k - i) * s.per + 1] = changes[k].second;
    }
    XChangeKeyboardMapping(d, static_cast<int>(changes[i].first), s.per, run.data(),
                           static_cast<int>(j - i));
    i = j;
  }
  XSync(d, False);
}

void RestoreLocked(Display* d, State& s) {
  if (s.assigned.empty()) return;
  std::vector<std::pair<unsigned int, KeySym>> changes;
  for (auto& [sym, kc] : s.assigned) {
    changes.push_back({kc, NoSymbol});
    s.spare.push_back(kc);
  }
  std::sort(s.spare.begin(), s.spare.end());
  s.assigned.clear();
  Apply(d, s, changes);
}

void RestoreAtExit() {
  State& s = S();
  std::unique_lock<std::mutex> l(s.mu, std::try_to_lock);
  if (!l.owns_lock() || s.assigned.empty()) return;
  // A connection of its own: the thread's may already be gone at exit.
  if (Display* d = XOpenDisplay(nullptr)) {
    RestoreLocked(d, s);
    XCloseDisplay(d);
  }
}

KeySym KeysymFor(char32_t cp) {
  switch (cp) {
    case U'\n':
    case U'\r':
      return XK_Return;
    case U'\t':
      return XK_Tab;
    case U'\b':
      return XK_BackSpace;
    case 0x1B:
      return XK_Escape;
    case 0x7F:
      return XK_Delete;
    default:
      return xkb_utf32_to_keysym(cp);
  }
}

}  // namespace

std::unique_lock<std::mutex> LockTyping() { return std::unique_lock<std::mutex>(S().mu); }

bool PlanStrokes(Display* d, const std::u32string& text, std::vector<KeyStroke>* out) {
  State& s = S();
  if (!s.loaded || (s.assigned.empty() && Clock::now() - s.loaded_at > kSnapshotAge)) Load(d, s);
  std::vector<KeySym> missing;
  for (char32_t cp : text) {
    KeySym ks = KeysymFor(cp);
    if (ks == NoSymbol) return false;
    if (s.layout.count(ks) || s.assigned.count(ks)) continue;
    if (std::find(missing.begin(), missing.end(), ks) == missing.end()) missing.push_back(ks);
  }
  if (!missing.empty()) {
    if (missing.size() > s.spare.size() && !s.assigned.empty()) {
      // Out of spares: let clients finish with the keys already sent, then
      // start over.
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      RestoreLocked(d, s);
    }
    if (missing.size() > s.spare.size()) return false;
    std::vector<std::pair<unsigned int, KeySym>> changes;
    for (KeySym ks : missing) {
      unsigned int kc = s.spare.back();
      s.spare.pop_back();
      s.assigned[ks] = kc;
      changes.push_back({kc, ks});
    }
    Apply(d, s, changes);
    if (!s.exit_hook) {
      s.exit_hook = true;
      std::atexit(RestoreAtExit);
    }
  }
  out->clear();
  for (char32_t cp : text) {
    KeySym ks = KeysymFor(cp);
    auto it = s.layout.find(ks);
    if (it != s.layout.end()) out->push_back(it->second);
    else out->push_back({s.assigned[ks], false});
  }
  return true;
}

void NoteTyped() { S().last_use = Clock::now(); }

unsigned int XStateOfFlags(uint64_t flags) {
  unsigned int state = 0;
  if (flags & platform::kFlagMaskShift) state |= ShiftMask;
  if (flags & (platform::kFlagMaskControl | platform::kFlagMaskCommand)) state |= ControlMask;
  if (flags & platform::kFlagMaskAlternate) state |= Mod1Mask;
  return state;
}

std::u32string CodePoints(const std::u16string& s) {
  std::u32string out;
  for (size_t i = 0; i < s.size(); ++i) {
    char32_t c = s[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    }
    out.push_back(c);
  }
  return out;
}

void RestoreKeymapIfIdle() {
  State& s = S();
  std::unique_lock<std::mutex> l(s.mu, std::try_to_lock);
  if (!l.owns_lock() || s.assigned.empty() || Clock::now() - s.last_use < kGrace) return;
  if (Display* d = Dpy()) RestoreLocked(d, s);
}

}  // namespace x11
