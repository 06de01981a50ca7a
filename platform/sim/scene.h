// Building the world from a scene (JSON) and changing it: loading, launching
// and quitting applications, adding windows, patching elements. All functions
// expect the world lock to be held by the caller.
#pragma once

#include <string>

#include "sim/world.h"

namespace sim {

// Back to the empty desktop: one main display (1440 x 900 points, scale 2),
// permissions granted, no applications. Existing handles go invalid.
void ResetWorld(World& w);
bool LoadScene(World& w, const Json& scene, std::string* error);

// Creates a running application from its scene entry. Its windows are put in
// front of every other window when `to_front`, else behind them.
std::shared_ptr<App> InstantiateApp(World& w, const Json& spec, pid_t pid, double launch_time,
                                    bool to_front, std::string* error);
// Ends an application: its windows and tree disappear, its handles go invalid.
void QuitApp(World& w, pid_t pid);

// Adds a window (scene window entry) to a running application, in front.
std::shared_ptr<CgWindow> AddWindow(World& w, App& app, const Json& spec, std::string* error);
// Removes a window and, when it has one, its element subtree.
bool RemoveWindow(World& w, uint32_t number);

// Applies a partial element entry (delayMs, hang, errors, wrongType, settable,
// actions, title, value, frame, hidden, ...) to an existing element.
void PatchElement(World& w, const NodePtr& n, const Json& patch);
// Changes a window-server window (bounds, title, layer, onScreen, alpha,
// omitKeys, badKeys, acceptsMouseDown); bounds also move the element.
void PatchWindow(World& w, CgWindow& cw, const Json& patch);

bool ParseRect(const Json& j, platform::Rect* out);
// One display entry; `index` gives the default id, `default_main` the default
// of its "main" key.
Display ParseDisplay(const Json& d, size_t index, bool default_main);
// One installed-application entry.
Installed ParseInstalled(const Json& inst);
platform::ActivationPolicy ParsePolicy(const Json& j);
// Inserts a window into the z-order just in front of `behind` (or at the front).
void InsertWindowInFront(World& w, const std::shared_ptr<CgWindow>& cw, uint32_t behind);

}  // namespace sim
