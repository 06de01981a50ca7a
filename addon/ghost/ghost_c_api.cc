// The ghost cursor's C-level interface. Drawing calls return at once while the
// overlay is disabled; setters and ghost_cursor_hide also work while it is
// disabled, so the overlay can be switched on and cleared at any time. Calls
// made off the host thread are carried to it: commands are posted to the main
// queue, queries wait for their answer there.
#include "ghost/ghost_c_api.h"

#include <string>

#include "ghost/overlay.h"
#include "main_queue.h"

namespace {

using ghost::GhostGroup;

// Runs a command on the host thread, posting it there when called elsewhere.
template <typename F>
void OnMain(F&& fn) {
  if (addon::IsMainThread()) {
    fn();
  } else {
    addon::PostToMain(std::function<void()>(std::forward<F>(fn)));
  }
}

std::string Str(const char* s) { return s ? std::string(s) : std::string(); }

void Tracked(GhostGroup* g, ghost::GhostTarget t, double x, double y, bool ripple) {
  if (g) ghost::BeginTrackedFeedback(*g, x, y, t, ripple);
}

}  // namespace

extern "C" {

bool ghost_cursor_enabled(void) { return ghost::GhostCursorOverlayEnabled(); }

void ghost_cursor_set_enabled(int enabled) { ghost::S().explicitEnabled.store(enabled != 0); }

void ghost_cursor_set_capture(int capturable) {
  OnMain([capturable] {
    ghost::S().explicitCapture = capturable != 0;
    ghost::SetAllSharingTypes();
  });
}

void ghost_cursor_set_multi_session_enabled(int enabled) {
  OnMain([enabled] { ghost::S().multiSession = enabled != 0; });
}

bool ghost_cursor_multi_session_enabled(void) {
  bool v = false;
  addon::RunOnMainThreadSync([&] { v = ghost::S().multiSession; });
  return v;
}

void ghost_cursor_set_request_session(const char* session) {
  OnMain([s = Str(session)] { ghost::S().requestSession = s; });
}

const char* ghost_cursor_request_session(void) {
  // The host thread owns the string; other threads get the empty answer
  // rather than a pointer that the next set would invalidate under them.
  if (!addon::IsMainThread()) return "";
  return ghost::S().requestSession.c_str();
}

bool ghost_cursor_is_ready(void) {
  if (!ghost_cursor_enabled()) return false;
  bool v = false;
  addon::RunOnMainThreadSync([&] { v = !ghost::S().windows.empty(); });
  return v;
}

uint32_t ghost_cursor_window_id(void) {
  if (!ghost_cursor_enabled()) return 0;
  uint32_t v = 0;
  addon::RunOnMainThreadSync([&] {
    if (!ghost::S().windows.empty()) v = ghost::S().windows[0].number;
  });
  return v;
}

bool ghost_cursor_get_position(double* x, double* y) {
  if (!x || !y || !ghost_cursor_enabled()) return false;
  bool ok = false;
  addon::RunOnMainThreadSync([&] {
    GhostGroup* g = ghost::GroupForRequest();
    if (!g || !g->motion.hasPosition || g->screenIndex < 0 || ghost::S().windows.empty()) return;
    // The drawn position, read back from the layer and converted to global
    // top-left points.
    *x = g->motion.position.x;
    *y = g->motion.position.y;
    ok = true;
  });
  return ok;
}

bool ghost_cursor_get_target_position(double* x, double* y) {
  if (!x || !y || !ghost_cursor_enabled()) return false;
  bool ok = false;
  addon::RunOnMainThreadSync([&] {
    GhostGroup* g = ghost::GroupForRequest();
    if (!g || !g->targetPlaced) return;
    *x = g->targetPoint.x;
    *y = g->targetPoint.y;
    ok = true;
  });
  return ok;
}

void ghost_cursor_move_to(double x, double y) {
  if (!ghost_cursor_enabled()) return;
  OnMain([=] { Tracked(ghost::GroupForRequest(), ghost::MakeTarget(0, 0, 0), x, y, false); });
}

void ghost_cursor_move_to_target(int32_t pid, uint32_t window_id, int exact, double x, double y) {
  if (!ghost_cursor_enabled()) return;
  OnMain([=] {
    Tracked(ghost::GroupForRequest(), ghost::MakeTarget(pid, window_id, exact), x, y, false);
  });
}

void ghost_cursor_move_to_current_target(double x, double y) {
  if (!ghost_cursor_enabled()) return;
  OnMain([=] {
    GhostGroup* g = ghost::GroupForRequest();
    if (!g) return;
    ghost::GhostTarget t = g->target.kind != 0 ? g->target : ghost::MakeTarget(0, 0, 0);
    Tracked(g, t, x, y, false);
  });
}

void ghost_cursor_click_ripple(double x, double y) {
  if (!ghost_cursor_enabled()) return;
  OnMain([=] { Tracked(ghost::GroupForRequest(), ghost::MakeTarget(0, 0, 0), x, y, true); });
}

void ghost_cursor_click_ripple_target(int32_t pid, uint32_t window_id, int exact, double x,
                                      double y) {
  if (!ghost_cursor_enabled()) return;
  OnMain([=] {
    Tracked(ghost::GroupForRequest(), ghost::MakeTarget(pid, window_id, exact), x, y, true);
  });
}

void ghost_cursor_move_to_target_session(int32_t pid, uint32_t window_id, int exact,
                                         const char* session, double x, double y) {
  if (!ghost_cursor_enabled()) return;
  OnMain([=, s = Str(session)] {
    Tracked(ghost::GroupForExplicitSession(s.c_str()), ghost::MakeTarget(pid, window_id, exact), x,
            y, false);
  });
}

void ghost_cursor_click_ripple_target_session(int32_t pid, uint32_t window_id, int exact,
                                              const char* session, double x, double y) {
  if (!ghost_cursor_enabled()) return;
  OnMain([=, s = Str(session)] {
    Tracked(ghost::GroupForExplicitSession(s.c_str()), ghost::MakeTarget(pid, window_id, exact), x,
            y, true);
  });
}

void ghost_cursor_begin_action(int kind) { ghost_cursor_begin_action_session3(kind, nullptr, nullptr); }

void ghost_cursor_begin_action_session(int kind, const char* session) {
  ghost_cursor_begin_action_session3(kind, session, nullptr);
}

void ghost_cursor_begin_action_session3(int kind, const char* session, const char* title) {
  if (!ghost_cursor_enabled()) return;
  OnMain([kind, s = Str(session), t = Str(title)] {
    if (GhostGroup* g = ghost::GroupForAction(s)) ghost::BeginAction(*g, kind, t.c_str());
  });
}

void ghost_cursor_update_badge(const char* session, const char* title) {
  if (!ghost_cursor_enabled()) return;
  OnMain([s = Str(session), t = Str(title)] {
    if (GhostGroup* g = ghost::GroupForAction(s)) ghost::UpdateBadge(*g, t.c_str());
  });
}

void ghost_cursor_end_action(void) { ghost_cursor_end_action_session(nullptr); }

void ghost_cursor_end_action_session(const char* session) {
  if (!ghost_cursor_enabled()) return;
  OnMain([s = Str(session)] {
    if (GhostGroup* g = ghost::GroupForAction(s)) ghost::EndAction(*g);
  });
}

void ghost_cursor_show_focus_rect(double x, double y, double width, double height) {
  if (!ghost_cursor_enabled()) return;
  OnMain([=] {
    ghost::EnsureGhostInit();
    ghost::ShowFocusRect(ghost::GroupForRequest(), x, y, width, height);
  });
}

void ghost_cursor_session_turn_ended(const char* session) {
  if (!session || !ghost_cursor_enabled()) return;
  OnMain([s = Str(session)] {
    GhostGroup* g = ghost::FindGroup(s);
    if (!g) return;
    if (s == "default") {
      for (auto& other : ghost::S().groups)
        if (other->ownSession && other->shown) return;
    }
    ghost::HideGroup(*g, true);
  });
}

void ghost_cursor_remove_session(const char* session) {
  if (!session || !ghost_cursor_enabled()) return;
  OnMain([s = Str(session)] { ghost::RemoveSession(s); });
}

void ghost_cursor_hide(void) {
  OnMain([] {
    if (ghost::S().windows.empty()) return;
    GhostGroup* g = ghost_cursor_enabled() ? ghost::GroupForRequest() : nullptr;
    if (g) {
      ghost::HideGroup(*g, true);
    } else {
      ghost::HideEverything();
    }
  });
}

}  // extern "C"
