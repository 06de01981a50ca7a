// Attribute reads made by capture code: each names its operation in the
// active diagnostic record (when there is one) before the platform call.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "ax/diagnostics.h"
#include "platform/platform.h"

namespace addon {

inline bool DeadlinePassed(platform::TimePoint deadline) {
  return platform::Get().clock().Now() >= deadline;
}

inline platform::AXError DiagCopyAttribute(const platform::AXElement& el, const char* attr,
                                           AxCaptureOperation op, platform::Value* out) {
  if (op != AxCaptureOperation::kNone) SetCaptureOperation(op);
  if (!el) return platform::kAXErrorInvalidUIElement;
  return platform::Get().ax().CopyAttributeValue(el, attr, out);
}

// An element-valued attribute; false unless it holds an element.
bool DiagCopyElement(const platform::AXElement& el, const char* attr, AxCaptureOperation op,
                     platform::AXElement* out);
// An array attribute's element entries; *error gets the read's error.
bool DiagCopyElementArray(const platform::AXElement& el, const char* attr,
                          AxCaptureOperation op, std::vector<platform::AXElement>* out,
                          platform::AXError* error = nullptr);
bool DiagCopyString(const platform::AXElement& el, const char* attr, AxCaptureOperation op,
                    std::string* out);
// A boolean, or an integer 0 / 1 as the platform sometimes answers.
bool DiagCopyBool(const platform::AXElement& el, const char* attr, AxCaptureOperation op,
                  bool* out);
// The element's window number (get_window_id); 0 when none or unreadable.
uint32_t DiagWindowNumber(const platform::AXElement& el);
bool ReadElementPid(const platform::AXElement& el, pid_t* out);
// Reads a value as a boolean the way the readers above do.
bool ValueAsBool(const platform::Value& v, bool* out);

}  // namespace addon
