// Mouse input to one window of a background application, without moving
// the user's pointer or activating anything. X offers two routes, and a
// window gets the first that reaches it:
//
// - Accessible actions (applications on the accessibility bus, GTK3 and Qt5):
//   a left click at a point is the press action of the element there (the
//   first of click / press / toggle / activate / Press / Toggle, on the
//   element or up to three of its ancestors inside the window), done when the
//   button goes up over the same element; on editable text the caret moves
//   to the character at the point (the toolkit's focus call would raise the
//   window: GTK presents it). A right click is the element's ShowMenu action.
//   Confirmed: the application answers the action.
// - Core events (XSendEvent) for applications that select core button
//   events on the window under the point (Xt applications such as xterm, Tk,
//   Qt5): press, release, motion and wheel events addressed to that window.
//   GTK3 reads the pointer through XInput2 and selects no core button events,
//   so this route never reaches it. Not confirmable: the server queues the
//   event for the client, which may discard synthetic events (xterm does
//   unless its allowSendEvents resource is on).
//
// Anything else (modifiers, drags and wheels on an application without core
// events, a point with no action, a window the pid does not own) is
// undeliverable, and the caller reports that nothing was clicked.
#pragma once

#include <sys/types.h>

#include "platform/events.h"
#include "platform/private_api.h"

namespace x11 {

// Delivers one window-addressed mouse event (field 91 names the window,
// `location` is the global point).
platform::WindowEventDelivery PostWindowMouseEvent(pid_t pid, const platform::Event& event);

}  // namespace x11
