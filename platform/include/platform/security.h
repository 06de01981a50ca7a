// Security service: code signing, responsible process, screen-recording
// preflight and request. Socket peer credentials and parent pids are real
// kernel facts on every backend and live in the core, not here.
#pragma once

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace platform {

using AuditToken = std::array<uint8_t, 32>;

struct SigningInfo {
  std::optional<std::string> team_identifier;
  std::optional<std::string> identifier;
};

enum class RequirementResult { kSatisfied, kNotSatisfied, kInvalidRequirement, kNoCode };

class Security {
 public:
  virtual ~Security() = default;

  // Signing information of a process (by pid or audit token); nullopt when the
  // process has no code object.
  virtual std::optional<SigningInfo> SigningInfoForPid(pid_t pid) = 0;
  virtual std::optional<SigningInfo> SigningInfoForAuditToken(const AuditToken& token) = 0;
  virtual RequirementResult CheckRequirementForPid(pid_t pid, const std::string& requirement) = 0;
  virtual RequirementResult CheckRequirementForAuditToken(const AuditToken& token,
                                                          const std::string& requirement) = 0;

  // Run-time entry points that may be absent: answer nullopt then.
  virtual std::optional<pid_t> ResponsiblePidForPid(pid_t pid) = 0;
  virtual std::optional<bool> PreflightScreenCaptureAccess() = 0;
  virtual std::optional<bool> RequestScreenCaptureAccess() = 0;
};

}  // namespace platform
