// System log: short tagged lines.
#pragma once

#include <string>

namespace platform {

class Log {
 public:
  virtual ~Log() = default;
  virtual void Write(const std::string& line) = 0;
};

}  // namespace platform
