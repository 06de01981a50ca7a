// Building and posting the mouse events of global and per-process mouse
// input, the pointer wait at the end of a drag, and what the ghost cursor is
// told about them.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>

#include "input/mouse_model.h"
#include "platform/events.h"

namespace addon {

// Where mouse events go: the system's HID tap (pid 0) or one process.
struct MouseRoute {
  pid_t pid = 0;
  bool global() const { return pid == 0; }
};

// A mouse event from a fresh combined-session source at `p`. `flags` are set
// when given; `tag` (when positive) goes in field 42; the button number only
// for the middle button; the click state when positive.
struct MouseEventParams {
  platform::EventType type = platform::EventType::kMouseMoved;
  platform::Point point;
  std::optional<uint64_t> flags;
  const MouseButton* button = nullptr;
  int64_t tag = 0;
  int64_t click_state = 0;
};
platform::Event MakeMouseEvent(const MouseEventParams& params);
// A two-wheel pixel scroll event at `p`.
platform::Event MakeScrollEvent(platform::Point p, WheelValues wheels);

// Posts to the route. The platform answers false when it could not create or
// post the event; that counts as the event not being made.
bool PostMouseEvent(const MouseRoute& route, const platform::Event& event);
// A plain mouse-moved event at `p`; with `clear_flags` it carries flags 0 so
// that no modifier state lingers after a modified click or drag.
bool PostMouseMoved(const MouseRoute& route, platform::Point p, bool clear_flags);

// Pauses 30 ms, then reads the pointer every 10 ms for at most 100 ms and
// returns as soon as it is within 1 point of `p` on both axes.
void WaitForCursorNear(platform::Point p);
void PauseMs(double ms);

// The pointer location, or (0, 0) when it cannot be read.
platform::Point RealPointerLocation();

// Ghost cursor publication (nothing while the overlay is disabled). A pid
// below 1 moves to a bare point, otherwise to that target.
void PublishGhostClickForTarget(double x, double y, int32_t pid, uint32_t window_id);
void PublishGhostMoveForTarget(double x, double y, int32_t pid, uint32_t window_id);
// The same move made from a worker thread: handed to the main queue.
void PublishGhostMoveOnMainQueue(double x, double y, int32_t pid, uint32_t window_id);
// ghost_cursor_move_to_target(pid, 0, 0, p) of the per-process operations.
void PublishGhostMoveToPid(int32_t pid, platform::Point p);
// ghost_cursor_move_to_current_target after a button press or release.
void PublishGhostMoveToCurrentTarget(platform::Point p);

// Where mouseDown / mouseUp press: while the ghost cursor is enabled, the
// point its latest glide from this module is heading for (not the drawn
// position, which may be anywhere along the glide); else the ghost's drawn
// position when it reports one; else the real pointer; else (0, 0).
platform::Point ButtonPressPoint();

// One global drag: the from and to points, the button, the flags, and how the
// ghost cursor follows it (not at all, directly, or through the main queue
// when the drag runs on a worker thread).
struct GlobalDragRequest {
  platform::Point from;
  platform::Point to;
  MouseButton button{};
  uint64_t flags = 0;
  bool publish_ghost = false;
  bool ghost_on_main_queue = false;
  int32_t ghost_pid = 0;
  uint32_t ghost_window_id = 0;
};
// Claims the left button for the drag; false when it is not free or an
// event could not be made.
bool PerformGlobalDrag(const GlobalDragRequest& request);

}  // namespace addon
