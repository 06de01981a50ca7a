// The events of background window input: window-addressed mouse events
// posted to a process through the private window-server path, the
// activation events of the focus session, and the event sequence of each
// background mouse operation.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "input/background_target.h"
#include "input/mouse_model.h"
#include "platform/events.h"
#include "platform/private_api.h"

namespace addon {

// The integer fields of a window-addressed event, in the order they are set:
// event number b, click state a, button c, subtype 3, target pid, window,
// field 58 = d, and the two window-under-pointer fields.
std::vector<std::pair<uint32_t, int64_t>> WindowAddressedFields(int32_t pid, uint32_t window_id,
                                                                int64_t a, int64_t b, int64_t c,
                                                                int64_t d);
// The window-local point of a global one; (-1, -1) passes unchanged.
platform::Point WindowLocalPoint(platform::Point global, const platform::Rect& bounds);

// Stamps the event for the target window and posts it to the target pid;
// answers what the platform knows of its delivery (undeliverable when the
// entries are missing).
platform::WindowEventDelivery SkyLightPostToWindow(platform::Event event, const WindowTarget& target,
                                                   platform::Point global, int64_t a, int64_t b,
                                                   int64_t c, int64_t d);

// Uptime clock in nanoseconds, stamped on activation events.
uint64_t UptimeNs();
// The activation routine's events (see background_session.cc).
platform::Event AppKitOtherEvent();
platform::Event AppKitActivationEvent(uint32_t window_id);
platform::Event MakeSyntheticActivationClick(bool down, uint32_t window_id,
                                             const platform::Rect& frame, platform::Point point);

// One background mouse operation with its arguments.
struct BackgroundMouseOp {
  enum class Kind { kClick, kMove, kScroll, kDrag, kMouseDown, kMouseUp };
  Kind kind = Kind::kMove;
  platform::Point point;  // click, move, scroll, down, up; drag: from
  platform::Point to;     // drag
  std::string button;     // exact name
  double clicks = 1;
  double delta = 0;
  std::string direction;
  std::string modifiers;
  bool publish_ghost = false;
  std::string ghost_session;  // empty: none
};

// Whether the operation's points, counts and names are acceptable; nothing
// is posted otherwise.
bool BackgroundOpAcceptable(const BackgroundMouseOp& op, const WindowTarget& target);
// Posts the operation's events (after a successful Begin); true when the
// action went out whole and no event that carries it was undeliverable.
bool PostBackgroundOp(const BackgroundMouseOp& op, const WindowTarget& target);

}  // namespace addon
