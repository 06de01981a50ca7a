// Window and surface resolution: which accessibility window of an application
// to read, how to find a requested window even when it is a sheet, dialog or
// panel missing from AXWindows, which window presents the content, and which
// related surfaces belong to a window. Every walk is bounded by a depth, a
// queue size and the caller's deadline; elements handed out are retained for
// the caller.
#pragma once

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace addon {

// [x, y, width, height] (the same type as bounds.h's IntBounds).
using IntBounds = std::array<int32_t, 4>;

// A surface that belongs to a captured window (sheet, dialog, popover, open or
// save panel, or the presentation window itself).
struct AxSurfaceSnapshotData {
  uint32_t actual_window_id = 0;
  uint32_t presentation_window_id = 0;
  std::string surface_kind;  // "window", "open_panel", "save_panel", "popover", "attached_dialog"
  std::string relation;      // "presentation_root" or "ax_descendant"
  int32_t owner_pid = 0;
  IntBounds bounds{0, 0, 0, 0};
};

// What reading a window-valued attribute (AXFocusedWindow, AXMainWindow) gave.
struct AxWindowAttributeProbe {
  platform::AXError error = platform::kAXErrorSuccess;
  bool has_element = false;
  uint32_t window_id = 0;  // 0 when none
};

// AXRole is AXWindow, AXSheet, AXDialog or AXPopover.
bool IsPipSurfaceContainer(const platform::AXElement& el);

// The window number of the application's AXFocusedWindow, when non-zero.
std::optional<uint32_t> CopyFocusedWindowId(const platform::AXElement& app);

// AXFocusedWindow, else AXMainWindow, else the first of AXWindows.
platform::AXElement CopyBestWindow(const platform::AXElement& app, platform::TimePoint deadline);

// The first AXWindows entry whose window number is window_id.
platform::AXElement CopyWindowById(const platform::AXElement& app, uint32_t window_id,
                                   platform::TimePoint deadline);

// The element whose window number is window_id: AXWindows first, then a
// bounded breadth-first walk through nested surface containers.
platform::AXElement CopyRequestedSurfaceById(const platform::AXElement& app, uint32_t window_id,
                                             pid_t pid, platform::TimePoint deadline);

// The window number of the outermost window of this pid above `window` (the
// window itself on platform versions before 14.2).
std::optional<uint32_t> CopyPipPresentationWindowId(const platform::AXElement& window, pid_t pid,
                                                    platform::TimePoint deadline);

// Surfaces related to `window`, root first then breadth-first. When
// default_button is given and empty, the first AXDefaultButton met fills it.
std::vector<AxSurfaceSnapshotData> CollectRelatedSurfaceSnapshots(
    const platform::AXElement& window, pid_t pid, uint32_t presentation_window_id,
    platform::TimePoint deadline, platform::AXElement* default_button);

// Reads a window-valued attribute of the application for diagnostics.
AxWindowAttributeProbe ProbeAxWindowAttribute(const platform::AXElement& app,
                                              const char* attribute);

}  // namespace addon
