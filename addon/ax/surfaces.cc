#include "ax/surfaces.h"

#include <utility>

#include "apps/identity.h"
#include "ax/capture_reads.h"
#include "bounds.h"

namespace addon {

namespace {

using platform::AXElement;
using Op = AxCaptureOperation;

constexpr size_t kSurfaceQueueLimit = 64;
constexpr size_t kSurfaceProcessLimit = 63;
constexpr int kSurfaceDepthLimit = 8;
constexpr int kPresentationParentSteps = 8;
constexpr int kRootParentSteps = 9;
constexpr char kOpenSavePanelService[] = "com.apple.appkit.xpc.openAndSavePanelService";

struct QueueEntry {
  AXElement element;
  int depth = 0;
};

bool Queued(const std::vector<QueueEntry>& queue, const AXElement& el) {
  for (const auto& e : queue) {
    if (e.element.SameAs(el)) return true;
  }
  return false;
}

bool Contains(const std::vector<AXElement>& list, const AXElement& el) {
  for (const auto& e : list) {
    if (e.SameAs(el)) return true;
  }
  return false;
}

// Platform version 14.2 or later: presentation windows may sit above the
// window that holds the content. A desktop without such versions (X11) has
// no presentation windows: an element's window is its own.
bool HasPresentationParents() {
  auto version = platform::Get().workspace().OsVersion();
  return version && *version >= std::make_pair(14, 2);
}

const char* ClassifySurface(const std::string& role, const std::string& identifier,
                            pid_t owner) {
  if (identifier == "open-panel") return "open_panel";
  if (identifier == "save-panel") return "save_panel";
  if (role == "AXPopover") return "popover";
  auto app = platform::Get().workspace().RunningApplicationWithPid(owner);
  if (app && app->bundle_id && common::EqualsIgnoringAsciiCase(*app->bundle_id, kOpenSavePanelService)) {
    return "open_panel";
  }
  if (role == "AXSheet" || role == "AXDialog") return "attached_dialog";
  return "window";
}

}  // namespace

bool IsPipSurfaceContainer(const AXElement& el) {
  std::string role;
  if (!DiagCopyString(el, "AXRole", Op::kCopyRole, &role)) return false;
  return role == "AXWindow" || role == "AXSheet" || role == "AXDialog" || role == "AXPopover";
}

std::optional<uint32_t> CopyFocusedWindowId(const AXElement& app) {
  AXElement window;
  if (!DiagCopyElement(app, "AXFocusedWindow", Op::kCopyFocusedWindow, &window)) {
    return std::nullopt;
  }
  uint32_t wid = DiagWindowNumber(window);
  if (wid == 0) return std::nullopt;
  return wid;
}

AXElement CopyBestWindow(const AXElement& app, platform::TimePoint deadline) {
  AXElement window;
  if (DeadlinePassed(deadline)) return window;
  if (DiagCopyElement(app, "AXFocusedWindow", Op::kCopyFocusedWindow, &window)) return window;
  if (DeadlinePassed(deadline)) return window;
  if (DiagCopyElement(app, "AXMainWindow", Op::kCopyMainWindow, &window)) return window;
  if (DeadlinePassed(deadline)) return window;
  platform::Value v;
  if (DiagCopyAttribute(app, "AXWindows", Op::kCopyWindows, &v) == platform::kAXErrorSuccess &&
      v.array() && !v.array()->empty()) {
    const platform::Value& first = v.array()->front();
    if (first.element() && *first.element()) window = *first.element();
  }
  return window;
}

AXElement CopyWindowById(const AXElement& app, uint32_t window_id,
                         platform::TimePoint deadline) {
  if (window_id == 0 || DeadlinePassed(deadline)) return {};
  std::vector<AXElement> windows;
  DiagCopyElementArray(app, "AXWindows", Op::kCopyWindows, &windows);
  for (auto& w : windows) {
    if (DeadlinePassed(deadline)) break;
    if (DiagWindowNumber(w) == window_id) return std::move(w);
  }
  return {};
}

AXElement CopyRequestedSurfaceById(const AXElement& app, uint32_t window_id, pid_t pid,
                                   platform::TimePoint deadline) {
  AXElement found = CopyWindowById(app, window_id, deadline);
  if (found || pid < 1 || window_id == 0 || !app) return found;

  std::vector<QueueEntry> queue;
  queue.reserve(kSurfaceQueueLimit);
  auto enqueue = [&queue](AXElement el, int depth) {
    if (!el || queue.size() >= kSurfaceQueueLimit || Queued(queue, el)) return;
    pid_t owner = 0;
    if (!ReadElementPid(el, &owner) || owner < 1) return;
    queue.push_back({std::move(el), depth});
  };
  AXElement seed;
  if (DiagCopyElement(app, "AXFocusedWindow", Op::kCopyFocusedWindow, &seed)) enqueue(seed, 0);
  seed.Reset();
  if (DiagCopyElement(app, "AXMainWindow", Op::kCopyMainWindow, &seed)) enqueue(seed, 0);
  std::vector<AXElement> windows;
  DiagCopyElementArray(app, "AXWindows", Op::kCopyWindows, &windows);
  for (auto& w : windows) enqueue(std::move(w), 0);

  for (size_t i = 0; i < queue.size() && i < kSurfaceQueueLimit; ++i) {
    if (DeadlinePassed(deadline)) break;
    // Copies: enqueue may grow the vector.
    AXElement el = queue[i].element;
    int depth = queue[i].depth;
    if (DiagWindowNumber(el) == window_id) return el;
    if (depth >= kSurfaceDepthLimit) continue;
    std::vector<AXElement> children;
    DiagCopyElementArray(el, "AXChildren", Op::kCopyChildren, &children);
    for (auto& child : children) {
      if (queue.size() >= kSurfaceQueueLimit || DeadlinePassed(deadline)) break;
      if (IsPipSurfaceContainer(child)) enqueue(std::move(child), depth + 1);
    }
  }
  return {};
}

std::optional<uint32_t> CopyPipPresentationWindowId(const AXElement& window, pid_t pid,
                                                    platform::TimePoint deadline) {
  if (!HasPresentationParents()) {
    uint32_t own = DiagWindowNumber(window);
    if (own == 0) return std::nullopt;
    return own;
  }
  std::optional<uint32_t> outermost;
  std::vector<AXElement> visited;
  AXElement current = window;
  for (int step = 0; current; ++step) {
    if (DeadlinePassed(deadline)) break;
    pid_t owner = 0;
    if (!ReadElementPid(current, &owner) || owner < 1) break;
    if (owner == pid) {
      uint32_t wid = DiagWindowNumber(current);
      if (wid != 0) outermost = wid;
    }
    if (step >= kPresentationParentSteps) break;
    visited.push_back(current);
    AXElement parent;
    if (!DiagCopyElement(current, "AXParent", Op::kCopyParent, &parent)) break;
    if (Contains(visited, parent)) break;
    current = std::move(parent);
  }
  return outermost;
}

std::vector<AxSurfaceSnapshotData> CollectRelatedSurfaceSnapshots(
    const AXElement& window, pid_t pid, uint32_t presentation_window_id,
    platform::TimePoint deadline, AXElement* default_button) {
  std::vector<AxSurfaceSnapshotData> out;
  if (presentation_window_id == 0 || pid < 1 || !window) return out;

  // The root is the presentation window above `window`, or the window itself.
  AXElement root = window;
  {
    AXElement current = window;
    for (int step = 0; current; ++step) {
      if (DiagWindowNumber(current) == presentation_window_id) {
        root = current;
        break;
      }
      if (step >= kRootParentSteps || DeadlinePassed(deadline)) break;
      AXElement parent;
      if (!DiagCopyElement(current, "AXParent", Op::kCopyParent, &parent)) break;
      current = std::move(parent);
    }
  }

  std::vector<QueueEntry> queue;
  queue.reserve(kSurfaceQueueLimit);
  queue.push_back({root, 0});
  std::vector<uint32_t> recorded;
  for (size_t i = 0; i < queue.size() && i < kSurfaceProcessLimit; ++i) {
    if (DeadlinePassed(deadline)) break;
    AXElement el = queue[i].element;
    int depth = queue[i].depth;

    if (default_button && !*default_button) {
      AXElement button;
      if (DiagCopyElement(el, "AXDefaultButton", Op::kNone, &button)) {
        *default_button = std::move(button);
      }
    }

    pid_t owner = 0;
    uint32_t wid = 0;
    platform::Point pos;
    platform::Size size;
    platform::Value v;
    bool usable = ReadElementPid(el, &owner) && owner >= 1;
    if (usable) {
      wid = DiagWindowNumber(el);
      usable = wid != 0;
      for (uint32_t r : recorded) usable = usable && r != wid;
    }
    if (usable) {
      usable = DiagCopyAttribute(el, "AXPosition", Op::kCopyPosition, &v) ==
                   platform::kAXErrorSuccess &&
               v.point();
      if (usable) pos = *v.point();
    }
    if (usable) {
      usable = DiagCopyAttribute(el, "AXSize", Op::kCopySize, &v) == platform::kAXErrorSuccess &&
               v.size() && v.size()->width > 0 && v.size()->height > 0;
      if (usable) size = *v.size();
    }
    if (usable) {
      std::string role, identifier;
      DiagCopyString(el, "AXRole", Op::kCopyRole, &role);
      DiagCopyString(el, "AXIdentifier", Op::kCopyIdentifier, &identifier);
      AxSurfaceSnapshotData s;
      s.actual_window_id = wid;
      s.presentation_window_id = presentation_window_id;
      s.surface_kind = ClassifySurface(role, identifier, owner);
      s.relation = wid == presentation_window_id ? "presentation_root" : "ax_descendant";
      s.owner_pid = owner;
      s.bounds = ToIntBounds({pos.x, pos.y, size.width, size.height});
      out.push_back(std::move(s));
      recorded.push_back(wid);
    }

    if (depth >= kSurfaceDepthLimit) continue;
    std::vector<AXElement> children;
    DiagCopyElementArray(el, "AXChildren", Op::kCopyChildren, &children);
    for (auto& child : children) {
      if (queue.size() >= kSurfaceQueueLimit || DeadlinePassed(deadline)) break;
      if (Queued(queue, child) || !IsPipSurfaceContainer(child)) continue;
      queue.push_back({std::move(child), depth + 1});
    }
  }
  return out;
}

AxWindowAttributeProbe ProbeAxWindowAttribute(const AXElement& app, const char* attribute) {
  AxWindowAttributeProbe probe;
  platform::Value v;
  probe.error = DiagCopyAttribute(app, attribute, OperationForAttribute(attribute), &v);
  if (probe.error != platform::kAXErrorSuccess) return probe;
  const AXElement* el = v.element();
  if (!el || !*el) return probe;
  probe.has_element = true;
  probe.window_id = DiagWindowNumber(*el);
  return probe;
}

}  // namespace addon
