// Typing characters through the server's keyboard mapping. Characters the
// layout has are typed with their keycode (and Shift); characters it lacks
// get spare keycodes (keycodes without symbols), all of one text's missing
// characters in one mapping change, before any of its keys is sent. A spare
// is never re-mapped while its key may be in flight: assignments only grow
// while typing goes on, and are undone after a quiet grace period.
#pragma once

#include <X11/Xlib.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace x11 {

struct KeyStroke {
  unsigned int keycode = 0;
  bool shift = false;
};

// Serialises typing: the mapping is the server's, shared by every thread.
std::unique_lock<std::mutex> LockTyping();

// Strokes for every code point of `text` (held under LockTyping()); false
// when a character has no keysym or no keycode could be found for it.
bool PlanStrokes(Display* d, const std::u32string& text, std::vector<KeyStroke>* out);
// Marks the end of a burst of typing (starts the grace period).
void NoteTyped();

// The code points of a UTF-16 text (an unpaired surrogate stays as it is).
std::u32string CodePoints(const std::u16string& text);

// The X modifier state for the platform's modifier flags: Shift, Control
// (Command means Control on X11, as for the global keyboard), Alt as Mod1.
unsigned int XStateOfFlags(uint64_t flags);

}  // namespace x11
