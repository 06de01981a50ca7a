#include "log.h"

#include "platform/platform.h"

namespace addon {
void LogLine(const std::string& line) { platform::Get().log().Write(line); }
}  // namespace addon
