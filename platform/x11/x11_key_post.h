// Keyboard input to one process without activating it: KeyPress/KeyRelease
// sent with XSendEvent to a window of the process. GTK3 and Qt5 take these
// events (they arrive with send_event set); xterm ignores them unless its
// allowSendEvents resource is set. Nothing is activated, the pointer stays.
#pragma once

#include <sys/types.h>

#include <cstdint>

#include "platform/events.h"

namespace x11 {

// Posts a key-down or key-up (a keycode, or a Unicode payload typed whole on
// the key-down) to `window` when it is non-zero, which must then belong to
// `pid`; otherwise to the pid's focus window: the X input focus when the pid
// owns it, else its top-most managed window. The state mask comes from the
// event's flags (Command posts Control, as the global path does); characters
// go through the current layout, those it lacks through the same spare-key
// mapping the global path uses. False when no window of the pid takes the
// event or the server refused it.
bool PostKeyToProcess(pid_t pid, uint32_t window, const platform::Event& event);

}  // namespace x11
