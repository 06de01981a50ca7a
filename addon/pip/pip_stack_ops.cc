// Stack-level operations behind the C interface: stop, dismiss, enable,
// stop by target, groups, turns, completion, freezing and the lead target.
// Each runs on the main thread, copies the stack first and stops panels only
// after the stack lock is released.
#include <cmath>
#include <cstdio>

#include "apps/identity.h"
#include "main_queue.h"
#include "pip/pip_controller.h"
#include "pip/pip_interaction.h"
#include "pip/pip_log.h"
#include "pip/pip_stack.h"

namespace pip {

namespace {

std::vector<PanelRef> RunningOfGroup(const GroupKey& group) {
  std::vector<PanelRef> out;
  for (auto& p : PipStackCopy())
    if (p->running() && GroupsEqualIgnoringCase(p->groupKey(), group)) out.push_back(p);
  return out;
}

}  // namespace

void PipStopAllPanels(const char* reason) {
  if (!PipCheckMain("PipStopAllPanels", "PiP stop-all must run on main")) return;
  std::vector<PanelRef> copy = PipStackCopy();
  for (auto& p : copy) PipStackRemove(p.get());
  for (auto& p : copy) p->stop();
  if (!copy.empty()) PipLog("PiP stack cleared (%zu panels, %s)", copy.size(), reason);
}

void PipPromotePanel(const PanelRef& panel) {
  if (!panel || !PipCheckMain("PipPromotePanel", "PiP promotion must run on main")) return;
  if (!PipStackPromoteImmediately(panel.get())) return;
  if (panel->hasPresentedFrame()) {
    panel->orderFrontRegardless();
  } else {
    PipLog("PiP promotion withheld: no frame presented yet");
  }
}

void PipSchedulePromotePanel(const PanelRef& panel, uint64_t visibility_epoch) {
  if (!panel || !PipStackPromoteImmediately(panel.get())) return;
  std::weak_ptr<PipPanel> weak = panel;
  addon::PostToMain([weak, visibility_epoch] {
    auto p = weak.lock();
    auto* c = dynamic_cast<KvPipController*>(p.get());
    if (!c || !PipStackContains(p.get()) || !c->running() || c->groupHidden() ||
        c->interaction()->visibilityEpoch() != visibility_epoch || !PipStackIsLead(p.get()))
      return;
    p->orderFrontRegardless();
    PipLog("PiP panel promoted by pointer-down wid=%u", p->windowId());
  });
}

void PipDismissPanel(const PanelRef& panel) {
  if (!panel || !PipCheckMain("PipDismissPanel", "PiP panel dismissal must run on main")) return;
  PipAddDismissal(PipPanelKey(*panel));
  PipBumpRequestGeneration();
  panel->stop();
  PipStackRemove(panel.get());
  PipLog("PiP panel closed by user; target dismissed pid=%d wid=%u", panel->expectedPid(),
         panel->windowId());
}

PanelRef PipFindPanelForVerifiedPresentation(uint32_t presentation_window_id, int32_t pid,
                                             const std::string& bundle_id, const GroupKey& group) {
  for (auto& p : PipStackCopy()) {
    if (!p->running() || !p->verified() || p->presentationWindowId() != presentation_window_id ||
        p->expectedPid() != pid || !common::EqualsIgnoringAsciiCase(p->expectedBundleId(), bundle_id))
      continue;
    if (GroupsEqualIgnoringCase(p->groupKey(), group)) return p;
  }
  return nullptr;
}

void PipStopAll() {
  PipBumpRequestGeneration();
  PipStopAllPanels("pip_stop");
}

void PipDismissAll() {
  Switches().dismissed = true;
  PipBumpRequestGeneration();
  PipStopAllPanels("pip_dismiss");
}

void PipClearDismissed() {
  Switches().dismissed = false;
  PipClearTargetDismissalsForGroup(std::nullopt);
}

void PipSetEnabled(bool on) {
  Switches().enabled = on;
  if (!on) {
    PipBumpRequestGeneration();
    PipStopAllPanels("pip_set_enabled(off)");
  } else {
    Switches().dismissed = false;
  }
}

bool PipIsRunning() {
  for (auto& p : PipStackCopy())
    if (p->running()) return true;
  return false;
}

int PipStopTarget(uint32_t window_id, int32_t pid, const std::string& bundle_id) {
  int stopped = 0;
  for (auto& p : PipStackCopy()) {
    if (!p->running()) continue;
    if (window_id != 0 && window_id != p->windowId() && window_id != p->presentationWindowId() &&
        window_id != p->actualWindowId())
      continue;
    if (pid > 0 && pid != p->expectedPid()) continue;
    if (!bundle_id.empty() && !common::EqualsIgnoringAsciiCase(bundle_id, p->expectedBundleId()))
      continue;
    if (stopped++ == 0) PipBumpRequestGeneration();
    p->stop();
    PipStackRemove(p.get());
  }
  PipLog("pip_stop_target wid=%u pid=%d stopped=%d", window_id, pid, stopped);
  return stopped;
}

void PipSetActiveGroup(const GroupKey& group) {
  Switches().active_group = group;
  for (auto& p : PipStackCopy()) {
    if (!p->running()) continue;
    GroupKey g = p->groupKey();
    p->setGroupHidden(group.has_value() && g.has_value() && !GroupsEqualIgnoringCase(g, group));
  }
}

void PipBeginTurn(const GroupKey& group) {
  if (!group || group->empty()) return;
  PipBumpRequestGeneration();
  for (auto& p : PipStackCopy()) {
    if (!GroupsEqualIgnoringCase(p->groupKey(), group)) continue;
    p->stop();
    PipStackRemove(p.get());
  }
  PipClearTargetDismissalsForGroup(group);
}

void PipTaskCompleted(const GroupKey& group, bool keep) {
  if (!group || group->empty()) return;
  for (auto& p : RunningOfGroup(group)) {
    if (keep && p->hasPresentedFrame()) {
      if (PipGroupIsActive(group)) PipPromotePanel(p);
      p->showTaskCompletionBadge();
      p->freezeCapture();
      continue;
    }
    if (keep) PipLog("PiP completion tore down a mirror that never presented a frame");
    PipBumpRequestGeneration();
    p->stop();
    PipStackRemove(p.get());
  }
}

void PipFreezeGroup(const GroupKey& group) {
  if (!group || group->empty()) return;
  for (auto& p : RunningOfGroup(group)) p->freezeCapture();
}

bool PipLeadTarget(uint32_t* window_id, int32_t* pid, char* buffer, size_t length) {
  if (!window_id || !pid || !buffer || length == 0) return false;
  PanelRef lead = PipStackLead();
  if (!lead || !lead->running()) return false;
  *window_id = lead->actualWindowId() ? lead->actualWindowId() : lead->windowId();
  *pid = lead->expectedPid();
  std::snprintf(buffer, length, "%s", lead->expectedBundleId().c_str());
  return true;
}

}  // namespace pip
