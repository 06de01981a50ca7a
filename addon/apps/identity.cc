#include "apps/identity.h"

#include "platform/platform.h"

namespace addon {

int32_t LiveFrontmostPid() {
  auto& ws = platform::Get().workspace();
  pid_t pid = 0;
  if (ws.GetFrontProcessPid(&pid) && pid > 0) return pid;
  pid_t front = ws.FrontmostApplicationPid();
  return front > 0 ? front : 0;
}

bool LivePidMatchesExpectedBundle(int32_t pid, const std::string& expected) {
  if (pid < 1 || expected.empty() || expected.size() > 255) return false;
  auto app = platform::Get().workspace().RunningApplicationWithPid(pid);
  if (!app || app->terminated || !app->bundle_id) return false;
  return common::EqualsIgnoringAsciiCase(*app->bundle_id, expected);
}

bool FreshAXIsTrusted() { return platform::Get().ax().IsProcessTrusted(false); }

}  // namespace addon
