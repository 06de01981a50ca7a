#include "pip/pip_c_api.h"

#include <cmath>
#include <string>

#include "main_queue.h"
#include "pip/pip_interaction.h"
#include "pip/pip_stack.h"
#include "pip/pip_start.h"

namespace {

pip::GroupKey Group(const char* s) {
  if (!s || !*s) return std::nullopt;
  return std::string(s);
}

void OnMain(const std::function<void()>& fn) {
  addon::PipRunOnMainSync([&] {
    fn();
    return true;
  });
}

}  // namespace

extern "C" {

bool pip_start(uint32_t window_id, double width, double height) {
  return addon::PipRunOnMainSync([&] { return pip::PipLegacyStart(window_id, width, height); });
}

void pip_stop(void) { OnMain([] { pip::PipStopAll(); }); }
void pip_dismiss(void) { OnMain([] { pip::PipDismissAll(); }); }
bool pip_is_running(void) { return addon::PipRunOnMainSync([] { return pip::PipIsRunning(); }); }
bool pip_is_interaction_ready(void) {
  return addon::PipRunOnMainSync([] { return pip::PipLeadInteractionReady(); });
}

int64_t pip_prepare_synthetic_pointer_down(double x, double y) {
  if (!std::isfinite(x) || !std::isfinite(y)) return -1;
  int64_t token = -1;
  OnMain([&] { token = pip::PipPrepareSyntheticPointerDown(platform::Point{x, y}); });
  return token;
}

bool pip_is_dismissed(void) {
  return addon::PipRunOnMainSync([] { return pip::Switches().dismissed; });
}
void pip_clear_dismissed(void) { OnMain([] { pip::PipClearDismissed(); }); }

int pip_stop_target(uint32_t window_id, int32_t pid, const char* bundle_id) {
  int stopped = 0;
  std::string bundle = bundle_id ? bundle_id : "";
  OnMain([&] { stopped = pip::PipStopTarget(window_id, pid, bundle); });
  return stopped;
}

size_t pip_stack_count(void) { return pip::PipStackCount(); }

void pip_set_active_group(const char* group) {
  pip::GroupKey g = Group(group);
  OnMain([&] { pip::PipSetActiveGroup(g); });
}

void pip_begin_turn(const char* group) {
  pip::GroupKey g = Group(group);
  if (g) OnMain([&] { pip::PipBeginTurn(g); });
}

void pip_task_completed(const char* group, int keep) {
  pip::GroupKey g = Group(group);
  if (g) OnMain([&] { pip::PipTaskCompleted(g, keep != 0); });
}

void pip_freeze_group(const char* group) {
  pip::GroupKey g = Group(group);
  if (g) OnMain([&] { pip::PipFreezeGroup(g); });
}

bool pip_get_lead_target(uint32_t* window_id, int32_t* pid, char* buffer, size_t length) {
  return addon::PipRunOnMainSync(
      [&] { return pip::PipLeadTarget(window_id, pid, buffer, length); });
}

void pip_set_enabled(int on) { OnMain([&] { pip::PipSetEnabled(on != 0); }); }

}  // extern "C"
