// Global input over XTest: applications cannot tell these events from a real
// keyboard and mouse. Keys go by position (virtual keycode -> evdev keycode),
// Unicode payloads through the layout (x11_keymap.cc); modifier flags are
// pressed around the key they come with. Command posts Control, so shortcuts
// such as cmd+c mean on X11 what the agent meant.
#include <X11/XKBlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <atomic>
#include <cmath>

#include "common/text.h"
#include "x11/x11_display.h"
#include "x11/x11_key_post.h"
#include "x11/x11_keymap.h"
#include "x11/x11_services.h"

namespace x11 {

namespace {

using platform::EventType;

// Virtual keycode (ANSI key position) -> Linux evdev code; the X server's
// keycode is the evdev code + 8. 0: no such key on X.
constexpr uint8_t kEvdev[128] = {
    30, 31, 32, 33, 35, 34, 44, 45, 46, 47,         // 0-9: a s d f h g z x c v
    86, 48, 16, 17, 18, 19, 21, 20, 2, 3,           // 10-19: section b q w e r y t 1 2
    4, 5, 7, 6, 13, 10, 8, 12, 9, 11,               // 20-29: 3 4 6 5 = 9 7 - 8 0
    27, 24, 22, 26, 23, 25, 28, 38, 36, 40,         // 30-39: ] o u [ i p return l j '
    37, 39, 43, 51, 53, 49, 50, 52, 15, 57,         // 40-49: k ; \ , / n m . tab space
    41, 14, 0, 1, 97, 29, 42, 58, 56, 29,           // 50-59: ` delete - esc rcmd cmd shift caps option control
    54, 100, 97, 0, 187, 83, 0, 55, 0, 78,          // 60-69: rshift roption rcontrol fn f17 kp. - kp* - kp+
    0, 69, 115, 114, 113, 98, 96, 0, 74, 188,       // 70-79: - clear volup voldown mute kp/ kpenter - kp- f18
    189, 117, 82, 79, 80, 81, 75, 76, 77, 71,       // 80-89: f19 kp= kp0 kp1 kp2 kp3 kp4 kp5 kp6 kp7
    190, 72, 73, 0, 0, 0, 63, 64, 65, 61,           // 90-99: f20 kp8 kp9 - - - f5 f6 f7 f3
    66, 67, 0, 87, 0, 183, 186, 184, 0, 68,         // 100-109: f8 f9 - f11 - f13 f16 f14 - f10
    0, 88, 0, 185, 110, 102, 104, 111, 62, 107,     // 110-119: - f12 - f15 help home pgup fwddel f4 end
    60, 109, 59, 105, 106, 108, 103, 0,             // 120-127: f2 pgdown f1 left right down up -
};

// Modifier flags and the keys that produce them.
struct Modifier {
  uint64_t flag;
  KeySym key;
  unsigned int x_mask;
};
constexpr Modifier kModifiers[] = {
    {platform::kFlagMaskShift, XK_Shift_L, ShiftMask},
    {platform::kFlagMaskControl, XK_Control_L, ControlMask},
    {platform::kFlagMaskAlternate, XK_Alt_L, Mod1Mask},
    {platform::kFlagMaskCommand, XK_Control_L, ControlMask},
};

// The flag a modifier key (left or right) stands for; 0 for other keys.
uint64_t ModifierFlagOf(uint16_t vk) {
  switch (vk) {
    case 54:
    case 55:
      return platform::kFlagMaskCommand;
    case 56:
    case 60:
      return platform::kFlagMaskShift;
    case 58:
    case 61:
      return platform::kFlagMaskAlternate;
    case 59:
    case 62:
      return platform::kFlagMaskControl;
    default:
      return 0;
  }
}

bool IsModifierKey(uint16_t vk) { return ModifierFlagOf(vk) != 0; }

// Modifier flags whose keys this process holds down.
std::atomic<uint64_t> g_held_flags{0};

void NoteModifier(uint16_t vk, bool down) {
  if (down) g_held_flags.fetch_or(ModifierFlagOf(vk));
  else g_held_flags.fetch_and(~ModifierFlagOf(vk));
}

bool HaveXTest(Display* d) {
  thread_local Display* checked = nullptr;
  thread_local bool present = false;
  if (checked != d) {
    int ev, er, major, minor;
    present = XTestQueryExtension(d, &ev, &er, &major, &minor);
    checked = d;
  }
  return present;
}

unsigned int CurrentMods(Display* d) {
  XkbStateRec st;
  if (XkbGetState(d, XkbUseCoreKbd, &st) != Success) return 0;
  return st.mods;
}

// Presses the modifiers `flags` needs that are not down yet; answers what to
// release afterwards.
std::vector<unsigned int> PressMissingModifiers(Display* d, uint64_t flags) {
  std::vector<unsigned int> pressed;
  unsigned int mods = CurrentMods(d);
  for (const auto& m : kModifiers) {
    if (!(flags & m.flag) || (mods & m.x_mask)) continue;
    unsigned int kc = XKeysymToKeycode(d, m.key);
    if (!kc) continue;
    XTestFakeKeyEvent(d, kc, True, CurrentTime);
    mods |= m.x_mask;
    pressed.push_back(kc);
  }
  return pressed;
}

void Release(Display* d, const std::vector<unsigned int>& keys) {
  for (auto it = keys.rbegin(); it != keys.rend(); ++it) XTestFakeKeyEvent(d, *it, False, CurrentTime);
}

bool TypeText(Display* d, const std::u16string& text) {
  auto lock = LockTyping();
  std::vector<KeyStroke> strokes;
  if (!PlanStrokes(d, common::CodePointsOfUtf16(text), &strokes)) return false;
  unsigned int shift = XKeysymToKeycode(d, XK_Shift_L);
  // Shift is only known held when this process pressed it: asking the server
  // would wait for every key sent before, once per run of text.
  bool shift_held = g_held_flags.load() & platform::kFlagMaskShift;
  for (const auto& k : strokes) {
    bool wrap = k.shift && !shift_held && shift;
    if (wrap) XTestFakeKeyEvent(d, shift, True, CurrentTime);
    XTestFakeKeyEvent(d, k.keycode, True, CurrentTime);
    XTestFakeKeyEvent(d, k.keycode, False, CurrentTime);
    if (wrap) XTestFakeKeyEvent(d, shift, False, CurrentTime);
  }
  // Flushed, not synced: the server works through the keys while the caller
  // paces its next run, and one connection keeps them in order.
  XFlush(d);
  NoteTyped();
  return true;
}

bool PostKey(Display* d, const platform::Event& e, bool down) {
  unsigned int kc = XKeycodeFor(e.keycode);
  if (!kc) return false;
  if (IsModifierKey(e.keycode)) {
    NoteModifier(e.keycode, down);
    XTestFakeKeyEvent(d, kc, down, CurrentTime);
  } else {
    auto wrapped = PressMissingModifiers(d, e.flags);
    XTestFakeKeyEvent(d, kc, down, CurrentTime);
    Release(d, wrapped);
  }
  XSync(d, False);
  return true;
}

unsigned int ButtonFor(const platform::Event& e) {
  switch (e.type) {
    case EventType::kLeftMouseDown:
    case EventType::kLeftMouseUp:
      return 1;
    case EventType::kRightMouseDown:
    case EventType::kRightMouseUp:
      return 3;
    default: {
      auto it = e.integer_fields.find(platform::kFieldMouseEventButtonNumber);
      int64_t n = it == e.integer_fields.end() ? 2 : it->second;
      // Button numbers 0 and 1 are left and right; 2 is the middle; the
      // rest are the side buttons X numbers from 8.
      return n <= 0 ? 1 : n == 1 ? 3 : n == 2 ? 2 : static_cast<unsigned int>(std::min<int64_t>(n + 5, 255));
    }
  }
}

void MoveTo(Display* d, platform::Point p) {
  XTestFakeMotionEvent(d, -1, static_cast<int>(std::lround(p.x)), static_cast<int>(std::lround(p.y)),
                       CurrentTime);
}

// Wheel clicks: X scrolls in whole lines (buttons 4/5 vertical, 6/7
// horizontal); pixel deltas are turned into lines of 10 pixels.
void Scroll(Display* d, const platform::Event& e) {
  auto lines = [&](int32_t delta) {
    if (e.scroll_units_pixel != 1 || delta == 0) return delta;
    int32_t l = static_cast<int32_t>(std::lround(delta / 10.0));
    return l != 0 ? l : (delta > 0 ? 1 : -1);
  };
  auto clicks = [&](int32_t n, unsigned int positive, unsigned int negative) {
    unsigned int button = n > 0 ? positive : negative;
    for (int32_t i = 0; i < std::min(std::abs(n), 100); ++i) {
      XTestFakeButtonEvent(d, button, True, CurrentTime);
      XTestFakeButtonEvent(d, button, False, CurrentTime);
    }
  };
  clicks(lines(e.scroll_deltas[0]), 4, 5);  // positive: up
  clicks(lines(e.scroll_deltas[1]), 6, 7);  // positive: left
}

}  // namespace

unsigned int XKeycodeFor(uint16_t virtual_keycode) {
  if (virtual_keycode >= 128 || kEvdev[virtual_keycode] == 0) return 0;
  return kEvdev[virtual_keycode] + 8u;
}

bool X11Events::Post(platform::EventTap tap, const platform::Event& e) {
  (void)tap;  // every tap is the same XTest device
  Display* d = Dpy();
  if (!d || !HaveXTest(d)) return false;
  switch (e.type) {
    case EventType::kKeyDown:
      // A Unicode payload is typed whole on the key-down; its key-up carries nothing new.
      return e.unicode.empty() ? PostKey(d, e, true) : TypeText(d, e.unicode);
    case EventType::kKeyUp:
      return e.unicode.empty() ? PostKey(d, e, false) : true;
    case EventType::kFlagsChanged: {
      unsigned int kc = XKeycodeFor(e.keycode);
      if (!kc || !IsModifierKey(e.keycode)) return false;
      uint64_t flag = ModifierFlagOf(e.keycode);
      NoteModifier(e.keycode, (e.flags & flag) != 0);
      XTestFakeKeyEvent(d, kc, (e.flags & flag) != 0, CurrentTime);
      XSync(d, False);
      return true;
    }
    case EventType::kMouseMoved:
    case EventType::kLeftMouseDragged:
    case EventType::kRightMouseDragged:
    case EventType::kOtherMouseDragged:
      MoveTo(d, e.location);
      XSync(d, False);
      return true;
    case EventType::kLeftMouseDown:
    case EventType::kRightMouseDown:
    case EventType::kOtherMouseDown:
    case EventType::kLeftMouseUp:
    case EventType::kRightMouseUp:
    case EventType::kOtherMouseUp: {
      bool down = e.type == EventType::kLeftMouseDown || e.type == EventType::kRightMouseDown ||
                  e.type == EventType::kOtherMouseDown;
      MoveTo(d, e.location);
      auto wrapped = PressMissingModifiers(d, e.flags);
      XTestFakeButtonEvent(d, ButtonFor(e), down, CurrentTime);
      Release(d, wrapped);
      XSync(d, False);
      return true;
    }
    case EventType::kScrollWheel:
      Scroll(d, e);
      XSync(d, False);
      return true;
    case EventType::kNull:
      return true;
  }
  return false;
}

// Keys to one process go by XSendEvent to its focus window
// (x11_key_post.cc). Mouse events to a process are not delivered: the
// platform answers that it could not post them.
bool X11Events::PostToPid(pid_t pid, const platform::Event& e) {
  if (e.type == EventType::kKeyDown || e.type == EventType::kKeyUp) return PostKeyToProcess(pid, 0, e);
  return false;
}

uint64_t X11Events::CurrentFlags() {
  Display* d = Dpy();
  if (!d) return 0;
  unsigned int mods = CurrentMods(d);
  uint64_t flags = 0;
  if (mods & ShiftMask) flags |= platform::kFlagMaskShift;
  if (mods & ControlMask) flags |= platform::kFlagMaskControl;
  if (mods & Mod1Mask) flags |= platform::kFlagMaskAlternate;
  if (mods & Mod4Mask) flags |= platform::kFlagMaskCommand;
  return flags;
}

}  // namespace x11
