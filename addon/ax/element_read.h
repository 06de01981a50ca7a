// The single element object of readElement and elementAtPoint.
#pragma once

#include <napi.h>

#include <string>

#include "platform/platform.h"

namespace addon {

// Reads the element's attributes (each skipped once the deadline has passed)
// into an object keyed "ref", "role", "subrole"?, "title"?, "description"?,
// "value"?, "bounds", "enabled", "focused", "selected"?,
// "selected_text_range"?, "actions", "editable", "ownerPid"?. Strings are not
// cut, except action names (1,024 bytes, at most 64 names).
Napi::Object BuildElement(Napi::Env env, const platform::AXElement& el, const std::string& ref,
                          platform::TimePoint deadline);

}  // namespace addon
