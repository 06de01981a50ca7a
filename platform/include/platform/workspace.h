// Workspace service: running applications, frontmost state, activation,
// launch, termination, icons and activation notifications.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/value.h"

namespace platform {

enum class ActivationPolicy { kRegular = 0, kAccessory = 1, kProhibited = 2 };

struct RunningApp {
  pid_t pid = 0;
  std::optional<std::string> bundle_id;
  std::optional<std::string> name;         // localized name
  std::optional<std::string> bundle_path;  // file path of the application bundle
  double launch_time = 0;                  // seconds since 1970; 0 when unknown
  ActivationPolicy activation_policy = ActivationPolicy::kRegular;
  bool terminated = false;
  bool active = false;
};

// Option value that activates ignoring other applications.
inline constexpr uint32_t kActivateIgnoringOtherApps = 2;

struct OpenConfiguration {
  bool activates = true;
  bool allows_running_application_substitution = false;
};

// Completion of a background open: error code (0 for none) and the pid of the
// application returned (0 when none). May be called on any thread, once, late
// or never.
using OpenCompletion = std::function<void(int64_t error_code, pid_t pid)>;

class Workspace {
 public:
  virtual ~Workspace() = default;

  virtual std::vector<RunningApp> RunningApplications() = 0;
  virtual std::optional<RunningApp> RunningApplicationWithPid(pid_t pid) = 0;
  // The workspace's frontmost application pid, 0 when none.
  virtual pid_t FrontmostApplicationPid() = 0;
  // The process manager's front process; false when the call fails.
  virtual bool GetFrontProcessPid(pid_t* pid) = 0;
  // Null-signal liveness: 0 when alive, otherwise an errno value (EPERM means
  // alive but owned by another user).
  virtual int SignalZero(pid_t pid) = 0;

  virtual bool Activate(pid_t pid, uint32_t options) = 0;
  virtual bool ForceTerminate(pid_t pid) = 0;

  // Application location lookups: empty when not found.
  virtual std::string UrlForApplicationWithBundleId(const std::string& bundle_id) = 0;
  virtual std::string FullPathForApplication(const std::string& name) = 0;
  virtual void OpenApplication(const std::string& url, const OpenConfiguration& config,
                               OpenCompletion completion) = 0;
  // Icon of a file, drawn at (0, 0, size, size); null when none.
  virtual Image IconForFile(const std::string& path, int size) = 0;

  // Activation notifications (the pid that became active). Returns a token for
  // removal. Callbacks arrive on the host thread's run-loop turn.
  virtual uint64_t AddActivationObserver(std::function<void(pid_t)> callback) = 0;
  virtual void RemoveActivationObserver(uint64_t token) = 0;

  // This host process's own pid as the platform sees it.
  virtual pid_t SelfPid() = 0;
  // The platform's version as (major, minor). Absent on a desktop that has no
  // such version (the x11 backend): the core then branches on the
  // capability table instead (capabilities.h).
  virtual std::optional<std::pair<int, int>> OsVersion() = 0;
};

}  // namespace platform
