// System log lines with a bracketed tag, for example
// LogLine("[Vantor][capture-app-empty] " + text).
#pragma once

#include <string>

namespace addon {
void LogLine(const std::string& line);
}
