// Attribute answers of simulated elements, computed from the world model.
// Every function expects the world lock to be held.
#pragma once

#include <string>
#include <vector>

#include "sim/world.h"

namespace sim {

// The application whose focus and main-window state an element belongs to:
// the application of the element's own pid (an open panel served by another
// process belongs to that process), else the one whose tree holds it.
std::shared_ptr<App> FocusApp(World& w, const NodePtr& n);
bool IsWindowLike(const Node& n);
bool IsTextRole(const std::string& role);
std::vector<NodePtr> ShownChildren(const NodePtr& n);

platform::AXError ReadAttr(World& w, const NodePtr& n, const std::string& attr,
                           platform::Value* out);
std::vector<std::string> AttrNames(World& w, const NodePtr& n);
bool IsSettable(const Node& n, const std::string& attr);
platform::AXError WriteAttr(World& w, const NodePtr& n, const std::string& attr,
                            const platform::Value& v);

// Scene values to platform values: strings, booleans, numbers, arrays and
// objects; {"ref": id}, {"refs": [ids]}, {"point": [x, y]}, {"size": [w, h]},
// {"rect": [x, y, w, h]}, {"range": [location, length]} are typed values.
platform::Value JsonToValue(World& w, const Json& j);
Json ValueToJson(const platform::Value& v);
// A value of another type than `v` (for wrong-type answers).
platform::Value WrongTypeOf(const platform::Value& v);
// Text of an element's value for readers and rendering.
std::string ValueText(const Json& j);

}  // namespace sim
