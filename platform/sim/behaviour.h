// What the simulated desktop does, not just records: activation, raising,
// focus, actions and their effects, typed text, clicks and hit-testing.
// Every function expects the world lock to be held.
#pragma once

#include <string>

#include "sim/world.h"

namespace sim {

// Makes pid the frontmost application and brings its windows to the front;
// queues an activation notification when the frontmost application changed.
// False when there is no running application with the pid.
bool ActivateApp(World& w, pid_t pid);
// Brings a window (and the surfaces inside it) to the front of its
// application's windows and makes it main and focused.
void RaiseWindow(World& w, const NodePtr& window);
// Moves (or clears) the focused element of the element's application; the
// window that holds it becomes the focused window.
void FocusElement(World& w, const NodePtr& n, bool focused);
platform::AXError PerformActionLocked(World& w, const NodePtr& n, const std::string& action);
// Runs scene effects ({"setValue": ...}, {"openSheet": id}, ...) for `source`.
void RunEffects(World& w, const NodePtr& source, const Json& effects);

// Text typed into the focused text element of pid's application. Answers
// whether an element took it.
bool InsertText(World& w, pid_t pid, const std::string& utf8);
bool DeleteBackward(World& w, pid_t pid);

// Deepest shown element under a global point, in the topmost on-screen window
// there (only windows of `pid` when pid > 0).
NodePtr HitTest(World& w, platform::Point p, pid_t pid);
// A left click at a point: presses the element there, focuses text elements,
// and (when `activate`) activates its application.
void ClickAt(World& w, platform::Point p, pid_t pid, bool activate);


}  // namespace sim
