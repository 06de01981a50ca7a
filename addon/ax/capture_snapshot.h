// The snapshot a capture produces: the application's identity, one window,
// its element tree and the menu bar, and the related surfaces. Owned by the
// capture until it is converted to JavaScript.
#pragma once

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ax/surfaces.h"
#include "platform/platform.h"

namespace addon {

inline constexpr auto kCaptureDeadline = std::chrono::seconds(12);
inline constexpr float kCaptureMessagingTimeoutSeconds = 0.3f;
inline constexpr int kCaptureNodeBudget = 1000;
inline constexpr int kCaptureMaxDepth = 30;
inline constexpr size_t kCaptureMaxActions = 64;
inline constexpr size_t kCaptureMaxChildren = 64;
inline constexpr size_t kCaptureChildrenListLimit = 500;

struct AxAppSnapshotData {
  int32_t pid = 0;
  std::optional<std::string> bundle_id;
  std::optional<std::string> name;
  bool active = false;
};

struct AxElementSnapshotData {
  std::string ref;
  std::string role;
  std::optional<std::string> subrole;
  std::optional<std::string> title;
  std::optional<std::string> description;
  std::optional<std::string> value;
  IntBounds bounds{0, 0, 0, 0};
  bool enabled = true;
  bool focused = false;
  std::optional<bool> selected;
  bool default_action = false;
  bool editable = false;
  std::vector<std::string> actions;
  int32_t owner_pid = 0;
  std::vector<AxElementSnapshotData> children;
  std::optional<int32_t> children_total;
  std::optional<int32_t> children_offset;
};

struct AxCaptureSnapshotData {
  AxAppSnapshotData app;
  std::optional<std::string> window_title;
  IntBounds window_bounds{0, 0, 0, 0};
  std::optional<uint32_t> window_id;
  std::optional<uint32_t> presentation_window_id;
  bool main = false;
  bool focused = false;
  std::vector<AxElementSnapshotData> elements;
  std::vector<AxSurfaceSnapshotData> surfaces;
  uint64_t capture_epoch = 0;
  bool window_id_fallback = false;
  std::string empty_capture_reason;
  std::string empty_capture_diagnostics;
};

// Budgets shared by one traversal.
struct CaptureBudget {
  int nodes = kCaptureNodeBudget;
  size_t text = 0;
};

// The same, appended to *out; false (and nothing appended) when it yields
// nothing.
bool CollectElementSnapshotInto(const platform::AXElement& element, pid_t pid,
                                CaptureBudget* budget, int depth, platform::TimePoint deadline,
                                uint64_t epoch, const platform::AXElement& default_button,
                                std::vector<AxElementSnapshotData>* out);

// The menu bar items (without children), each followed by its open menus
// (full subtree), and the closed menu of the third item (one level).
void CollectMenuBarElements(const platform::AXElement& app, pid_t pid, CaptureBudget* budget,
                            platform::TimePoint deadline, uint64_t epoch,
                            const platform::AXElement& default_button,
                            std::vector<AxElementSnapshotData>* out);

// The application record of the pid.
AxAppSnapshotData CollectAppSnapshot(pid_t pid);

// The whole capture. Nothing when the capture yields nothing.
std::unique_ptr<AxCaptureSnapshotData> CollectCaptureAppSnapshot(
    pid_t pid, const std::optional<std::string>& expected_bundle_id,
    platform::TimePoint deadline, std::optional<uint32_t> window_id);

}  // namespace addon
