// The panel stack: every live mirroring panel, front (lead) first, capped at
// four; where each panel's window is (for hit tests from other threads); the
// dismissed targets; the active group and the switches. The stack works on
// the PipPanel interface so its rules are tested without windows.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/value.h"

namespace pip {

inline constexpr size_t kPipStackCap = 4;

using GroupKey = std::optional<std::string>;

// What the stack and its operations need of a panel (KvPipController).
class PipPanel {
 public:
  virtual ~PipPanel() = default;
  virtual bool running() const = 0;
  virtual GroupKey groupKey() const = 0;
  virtual uint32_t windowId() const = 0;
  virtual uint32_t presentationWindowId() const = 0;
  virtual uint32_t actualWindowId() const = 0;
  virtual int32_t expectedPid() const = 0;
  virtual std::string expectedBundleId() const = 0;  // empty: none
  virtual bool verified() const = 0;
  virtual bool hasPresentedFrame() const = 0;
  virtual bool groupHidden() const = 0;
  virtual bool taskCompleted() const = 0;
  virtual bool badgeShown() const = 0;
  virtual void stop() = 0;
  virtual void orderFrontRegardless() = 0;
  virtual void setGroupHidden(bool hidden) = 0;
  virtual void freezeCapture() = 0;
  virtual void showTaskCompletionBadge() = 0;
};
using PanelRef = std::shared_ptr<PipPanel>;

struct PipPublishedBounds {
  platform::Rect rect;  // global top-left points
  bool valid = false;
};

// ---- keys and groups ----
// "<group>|<pid>:<windowId>" (the empty string for no group), at most 383 bytes.
std::string PipTargetKey(int32_t pid, uint32_t window_id, const GroupKey& group);
std::string PipPanelKey(const PipPanel& panel);
bool GroupsEqualIgnoringCase(const GroupKey& a, const GroupKey& b);
// An empty string means no group.
GroupKey GroupFromString(const std::string& s);

// ---- the stack (guarded by g_pip_stack_mutex) ----
void PipStackPushFront(const PanelRef& panel);
void PipStackRemove(const PipPanel* panel);
bool PipStackPromoteImmediately(const PipPanel* panel);
void PipStackSetPublishedBounds(const PipPanel* panel, platform::Rect rect, bool valid);
bool PipStackPublishedBounds(const PipPanel* panel, PipPublishedBounds* out);
size_t PipStackCount();
std::vector<PanelRef> PipStackCopy();
PanelRef PipStackLead();
bool PipStackContains(const PipPanel* panel);
bool PipStackIsLead(const PipPanel* panel);
// The eviction victim among `stack` (front first) for `active` (see .cc).
size_t PipEvictionVictim(const std::vector<PanelRef>& stack, const GroupKey& active);
// Whether `panel` is the first panel at `point` (global top-left), earlier
// panels with valid published bounds counting as covering it.
bool PipLeadsStackAtPoint(const PipPanel* panel, platform::Point point);

// ---- dismissal ----
bool PipIsTargetDismissed(int32_t pid, uint32_t window_id, const GroupKey& group);
void PipAddDismissal(const std::string& key);
void PipClearTargetDismissalsForGroup(const GroupKey& group);
std::vector<std::string> PipDismissedKeys();

// ---- switches (main thread) ----
struct PipSwitches {
  GroupKey active_group;
  bool enabled = true;
  bool dismissed = false;
  bool starting = false;
};
PipSwitches& Switches();
extern std::atomic<uint64_t> g_pip_request_generation;
uint64_t PipBumpRequestGeneration();
bool PipGroupIsActive(const GroupKey& group);

// ---- operations (main thread) ----
void PipStopAllPanels(const char* reason);
void PipPromotePanel(const PanelRef& panel);
void PipDismissPanel(const PanelRef& panel);
// Any thread. Promotes the panel in the stack now and orders it front on the
// main queue if it is still the running lead of that visibility epoch.
void PipSchedulePromotePanel(const PanelRef& panel, uint64_t visibility_epoch);
PanelRef PipFindPanelForVerifiedPresentation(uint32_t presentation_window_id, int32_t pid,
                                             const std::string& bundle_id, const GroupKey& group);
void PipStopAll();      // bumps the generation, "pip_stop"
void PipDismissAll();   // "pip_dismiss"
void PipClearDismissed();
void PipSetEnabled(bool on);
bool PipIsRunning();
int PipStopTarget(uint32_t window_id, int32_t pid, const std::string& bundle_id);
void PipSetActiveGroup(const GroupKey& group);
void PipBeginTurn(const GroupKey& group);
void PipTaskCompleted(const GroupKey& group, bool keep);
void PipFreezeGroup(const GroupKey& group);
bool PipLeadTarget(uint32_t* window_id, int32_t* pid, char* buffer, size_t length);

// Empties every table and resets the switches (tests).
void PipResetStateForTest();

}  // namespace pip
