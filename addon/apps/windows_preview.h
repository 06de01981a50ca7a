// A short text preview of an untitled window: the first texts met in a
// bounded depth-first walk of its descendants.
#pragma once

#include <string>

#include "platform/platform.h"

namespace addon {

// At most 8 texts, 400 visited elements, depth 30 and 80 ms; the texts joined
// by one space and cut to 50 characters plus "…".
std::string CollectWindowTextPreview(const platform::AXElement& window);

// Cuts text to max_chars UTF-8 characters, appending "…" when anything was cut.
std::string TruncatePreview(const std::string& text, size_t max_chars);

}  // namespace addon
