// The stack, its published bounds and the dismissed targets. The stack mutex
// is held only for short copies and edits: panels are stopped and logged
// after it is released.
#include "pip/pip_stack.h"

#include "pip/pip_geometry.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <mutex>

#include "apps/identity.h"
#include "pip/pip_log.h"

namespace pip {

namespace {

std::mutex g_pip_stack_mutex;
std::vector<PanelRef>* g_pip_stack = new std::vector<PanelRef>();
std::map<const PipPanel*, PipPublishedBounds>* g_pip_published_bounds =
    new std::map<const PipPanel*, PipPublishedBounds>();
std::mutex g_pip_dismissed_targets_mutex;
std::vector<std::string>* g_pip_dismissed_targets = new std::vector<std::string>();

std::vector<PanelRef>::iterator Find(const PipPanel* panel) {
  return std::find_if(g_pip_stack->begin(), g_pip_stack->end(),
                      [&](const PanelRef& p) { return p.get() == panel; });
}

}  // namespace

std::atomic<uint64_t> g_pip_request_generation{0};

std::string PipTargetKey(int32_t pid, uint32_t window_id, const GroupKey& group) {
  char buf[384];
  std::snprintf(buf, sizeof buf, "%s|%d:%u", group ? group->c_str() : "", pid, window_id);
  return buf;
}

std::string PipPanelKey(const PipPanel& p) {
  uint32_t wid = p.presentationWindowId() ? p.presentationWindowId() : p.windowId();
  return PipTargetKey(p.expectedPid(), wid, p.groupKey());
}

bool GroupsEqualIgnoringCase(const GroupKey& a, const GroupKey& b) {
  if (!a || !b) return !a && !b;
  return common::EqualsIgnoringAsciiCase(*a, *b);
}

GroupKey GroupFromString(const std::string& s) {
  if (s.empty()) return std::nullopt;
  return s;
}

size_t PipEvictionVictim(const std::vector<PanelRef>& stack, const GroupKey& active) {
  if (stack.empty()) return 0;
  auto in_active = [&](const PanelRef& p) {
    GroupKey g = p->groupKey();
    return active && g && common::EqualsIgnoringAsciiCase(*g, *active);
  };
  // The active group's front-most panel is never chosen while another
  // qualifies.
  size_t lead = stack.size();
  for (size_t i = 0; i < stack.size(); ++i)
    if (in_active(stack[i])) {
      lead = i;
      break;
    }
  // Oldest first: a panel outside the active group (any panel when no group
  // is active), never the newly pushed front one while another qualifies.
  for (size_t i = stack.size(); i-- > 1;)
    if (i != lead && !in_active(stack[i])) return i;
  for (size_t i = stack.size(); i-- > 1;)
    if (i != lead) return i;
  return 0;
}

void PipStackPushFront(const PanelRef& panel) {
  if (!panel || !PipCheckMain("PipStackPushFront", "PiP stack push must run on main")) return;
  PanelRef victim;
  {
    std::lock_guard<std::mutex> l(g_pip_stack_mutex);
    auto it = Find(panel.get());
    if (it != g_pip_stack->end()) g_pip_stack->erase(it);
    g_pip_stack->insert(g_pip_stack->begin(), panel);
    (*g_pip_published_bounds)[panel.get()] = PipPublishedBounds{};
    if (g_pip_stack->size() > kPipStackCap) {
      size_t v = PipEvictionVictim(*g_pip_stack, Switches().active_group);
      victim = (*g_pip_stack)[v];
      g_pip_stack->erase(g_pip_stack->begin() + static_cast<ptrdiff_t>(v));
      g_pip_published_bounds->erase(victim.get());
    }
  }
  if (victim) {
    PipLog("PiP stack cap reached; evicting oldest non-lead panel");
    victim->stop();
  }
}

void PipStackRemove(const PipPanel* panel) {
  std::lock_guard<std::mutex> l(g_pip_stack_mutex);
  auto it = Find(panel);
  if (it != g_pip_stack->end()) g_pip_stack->erase(it);
  g_pip_published_bounds->erase(panel);
}

bool PipStackPromoteImmediately(const PipPanel* panel) {
  std::lock_guard<std::mutex> l(g_pip_stack_mutex);
  auto it = Find(panel);
  if (it == g_pip_stack->end()) return false;
  if (it != g_pip_stack->begin()) std::rotate(g_pip_stack->begin(), it, it + 1);
  return true;
}

void PipStackSetPublishedBounds(const PipPanel* panel, platform::Rect rect, bool valid) {
  std::lock_guard<std::mutex> l(g_pip_stack_mutex);
  if (Find(panel) == g_pip_stack->end()) {
    g_pip_published_bounds->erase(panel);
    return;
  }
  PipPublishedBounds& b = (*g_pip_published_bounds)[panel];
  b.valid = valid;
  b.rect = valid ? rect : platform::Rect{};
}

bool PipStackPublishedBounds(const PipPanel* panel, PipPublishedBounds* out) {
  std::lock_guard<std::mutex> l(g_pip_stack_mutex);
  auto it = g_pip_published_bounds->find(panel);
  if (it == g_pip_published_bounds->end()) return false;
  *out = it->second;
  return true;
}

size_t PipStackCount() {
  std::lock_guard<std::mutex> l(g_pip_stack_mutex);
  return g_pip_stack->size();
}

std::vector<PanelRef> PipStackCopy() {
  std::lock_guard<std::mutex> l(g_pip_stack_mutex);
  return *g_pip_stack;
}

PanelRef PipStackLead() {
  std::lock_guard<std::mutex> l(g_pip_stack_mutex);
  return g_pip_stack->empty() ? nullptr : g_pip_stack->front();
}

bool PipStackContains(const PipPanel* panel) {
  std::lock_guard<std::mutex> l(g_pip_stack_mutex);
  return Find(panel) != g_pip_stack->end();
}

bool PipStackIsLead(const PipPanel* panel) {
  std::lock_guard<std::mutex> l(g_pip_stack_mutex);
  return !g_pip_stack->empty() && g_pip_stack->front().get() == panel;
}

bool PipLeadsStackAtPoint(const PipPanel* panel, platform::Point point) {
  std::lock_guard<std::mutex> l(g_pip_stack_mutex);
  for (const auto& p : *g_pip_stack) {
    if (p.get() == panel) return true;
    auto it = g_pip_published_bounds->find(p.get());
    if (it != g_pip_published_bounds->end() && it->second.valid && PipRectContains(it->second.rect, point))
      return false;
  }
  return false;
}

bool PipIsTargetDismissed(int32_t pid, uint32_t window_id, const GroupKey& group) {
  std::string key = PipTargetKey(pid, window_id, group);
  std::lock_guard<std::mutex> l(g_pip_dismissed_targets_mutex);
  return std::find(g_pip_dismissed_targets->begin(), g_pip_dismissed_targets->end(), key) !=
         g_pip_dismissed_targets->end();
}

void PipAddDismissal(const std::string& key) {
  std::lock_guard<std::mutex> l(g_pip_dismissed_targets_mutex);
  if (std::find(g_pip_dismissed_targets->begin(), g_pip_dismissed_targets->end(), key) ==
      g_pip_dismissed_targets->end())
    g_pip_dismissed_targets->push_back(key);
}

void PipClearTargetDismissalsForGroup(const GroupKey& group) {
  std::string prefix = (group ? *group : std::string()) + "|";
  std::lock_guard<std::mutex> l(g_pip_dismissed_targets_mutex);
  auto& v = *g_pip_dismissed_targets;
  v.erase(std::remove_if(v.begin(), v.end(),
                         [&](const std::string& k) { return k.rfind(prefix, 0) == 0; }),
          v.end());
}

std::vector<std::string> PipDismissedKeys() {
  std::lock_guard<std::mutex> l(g_pip_dismissed_targets_mutex);
  return *g_pip_dismissed_targets;
}

PipSwitches& Switches() {
  static PipSwitches* s = new PipSwitches();
  return *s;
}

uint64_t PipBumpRequestGeneration() { return ++g_pip_request_generation; }

bool PipGroupIsActive(const GroupKey& group) {
  const GroupKey& active = Switches().active_group;
  return active && group && common::EqualsIgnoringAsciiCase(*active, *group);
}

void PipResetStateForTest() {
  {
    std::lock_guard<std::mutex> l(g_pip_stack_mutex);
    g_pip_stack->clear();
    g_pip_published_bounds->clear();
  }
  {
    std::lock_guard<std::mutex> l(g_pip_dismissed_targets_mutex);
    g_pip_dismissed_targets->clear();
  }
  Switches() = PipSwitches{};
}

}  // namespace pip
