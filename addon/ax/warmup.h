// Warming an application's accessibility tree before reading it, and waiting
// for a freshly warmed window's children to settle.
#pragma once

#include <sys/types.h>

#include <string>

#include "platform/platform.h"

namespace addon {

// A deadline that never passes (callers without a deadline).
inline constexpr platform::TimePoint kNoDeadline = platform::TimePoint::max();

// Sets AXManualAccessibility and AXEnhancedUserInterface on the application
// element (errors ignored) and records the identity of the process instance.
// Answers true when this process instance (bundle id and launch time) had not
// been warmed before, so its tree may still be building.
bool WarmAccessibilityTree(const platform::AXElement& app, pid_t pid,
                           platform::TimePoint deadline);

// "<bundle id>:<launch seconds with six fraction digits>", or "missing:<pid>"
// when no running application has the pid.
std::string ProcessIdentityString(pid_t pid);

// Polls the window's AXChildren count every 60 ms until the same positive
// count was read three times in a row; false when the deadline came first.
bool WaitForChildrenStableUntil(const platform::AXElement& window, platform::TimePoint deadline);

}  // namespace addon
