// Single-attribute reads on accessibility elements. Each answers false (and
// leaves `out` alone) when the read fails or the value has another type.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace addon {

using platform::AXElement;

bool CopyStringAttr(const AXElement& el, const char* attr, std::string* out);
bool CopyBoolAttr(const AXElement& el, const char* attr, bool* out);
std::optional<bool> CopyOptionalBoolAttr(const AXElement& el, const char* attr);
bool CopyPoint(const AXElement& el, platform::Point* out);  // AXPosition
bool CopySize(const AXElement& el, platform::Size* out);    // AXSize
bool CopyElementAttr(const AXElement& el, const char* attr, AXElement* out);
// AXChildren (or another element-array attribute): the element entries.
bool CopyElementArrayAttr(const AXElement& el, const char* attr, std::vector<AXElement>* out,
                          platform::AXError* error = nullptr);
// The element's pid; false when unreadable.
bool CopyElementPid(const AXElement& el, pid_t* out);
// The element's window number; 0 when it has none or the call fails.
uint32_t CopyWindowNumber(const AXElement& el);
// Frame from AXPosition and AXSize; false unless both read.
bool CopyFrame(const AXElement& el, platform::Rect* out);

}  // namespace addon
