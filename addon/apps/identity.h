// Live identity checks made before every consequential action, and the fresh
// (no-prompt) accessibility trust check.
#pragma once

#include <cstdint>
#include <string>

// Bundle identifiers compare with common::EqualsIgnoringAsciiCase.
#include "common/text.h"

namespace addon {

// The frontmost process: the process manager's front process when it answers
// a positive pid, else the workspace's frontmost application; 0 when none.
int32_t LiveFrontmostPid();
// pid >= 1, expected 1..255 bytes, and a running, not terminated application
// with that pid whose bundle identifier equals expected ignoring case.
bool LivePidMatchesExpectedBundle(int32_t pid, const std::string& expected);
// Accessibility trust asked anew, without prompting.
bool FreshAXIsTrusted();

}  // namespace addon
