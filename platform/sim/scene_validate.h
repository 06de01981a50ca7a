// Validation of scenes and of the scene fragments control commands take
// (launchApp, addWindow, setWindow, setElement, setApp, install, setDisplays).
// A malformed input is refused before anything changes, with one message
// "<path>: expected <what>", e.g. "apps[0].windows[1].bounds: expected
// [x, y, width, height]"; fragment paths start at the argument ("spec.bounds").
// The rules are listed in platform/sim/README.md. Fragment checks look up
// referenced ids in the world, so they expect the world lock to be held.
#pragma once

#include <string>

#include "sim/world.h"

namespace sim {

bool ValidateScene(const Json& scene, std::string* error);
// launchApp(spec): an application entry (plus `activate`).
bool ValidateLaunchSpec(World& w, const Json& spec, std::string* error);
// addWindow(pid, spec): a window entry for `app`.
bool ValidateWindowSpec(World& w, const App& app, const Json& spec, std::string* error);
// setWindow(number, patch) / moveWindow(number, bounds) (path "bounds").
bool ValidateWindowPatch(const Json& patch, const std::string& path, std::string* error);
// setElement(id, patch): element keys, `windowNumber` and `children` of node `n`.
bool ValidateElementPatch(World& w, const Node& n, const Json& patch, std::string* error);
// setApp(pid, patch).
bool ValidateAppPatch(World& w, const Json& patch, std::string* error);
// install(entry).
bool ValidateInstalledEntry(World& w, const Json& entry, std::string* error);
// setDisplays(list).
bool ValidateDisplays(const Json& displays, std::string* error);

}  // namespace sim
