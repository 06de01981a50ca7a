#include "ax/diagnostics.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

#include "ax/surfaces.h"
#include "log.h"

namespace addon {

namespace {

const char* const kPhaseNames[] = {
    "admitted",       "worker_started",     "capture_lock",       "accessibility_check",
    "identity_check", "application_create", "cg_window_scan",     "accessibility_warm",
    "window_resolve", "window_stabilize",   "window_metadata",    "tree_traversal",
    "menu_traversal", "final_identity_check", "app_snapshot",     "native_complete",
};

const char* const kOperationNames[] = {
    "none",
    "capture_mutex_wait",
    "trust_probe",
    "process_identity",
    "create_application",
    "cg_window_scan",
    "set_attribute:AXManualAccessibility",
    "set_attribute:AXEnhancedUserInterface",
    "copy_attribute:AXRole",
    "copy_attribute:AXSubrole",
    "copy_attribute:AXTitle",
    "copy_attribute:AXDescription",
    "copy_attribute:AXTitleUIElement",
    "copy_attribute:AXHelp",
    "copy_attribute:AXIdentifier",
    "copy_attribute:AXValue",
    "copy_attribute:AXPosition",
    "copy_attribute:AXSize",
    "copy_attribute:AXEnabled",
    "copy_attribute:AXFocused",
    "copy_attribute:AXMain",
    "copy_attribute:AXChildren",
    "copy_attribute:AXFocusedWindow",
    "copy_attribute:AXMainWindow",
    "copy_attribute:AXWindows",
    "copy_attribute:AXParent",
    "copy_attribute:AXMenuBar",
    "copy_action_names",
    "copy_multiple_attribute_values",
    "is_attribute_settable:AXValue",
    "get_window_id",
    "app_snapshot",
};
static_assert(sizeof(kPhaseNames) / sizeof(kPhaseNames[0]) == 16);
static_assert(sizeof(kOperationNames) / sizeof(kOperationNames[0]) == 32);

std::mutex g_capture_diagnostic_mutex;
std::map<uint64_t, AxCaptureDiagnosticPtr> g_capture_diagnostics;
thread_local AxCaptureDiagnosticState* g_active_capture_diagnostic = nullptr;

uint64_t Key(int32_t pid, uint32_t window_id) {
  return (static_cast<uint64_t>(static_cast<uint32_t>(pid)) << 32) | window_id;
}

}  // namespace

const char* AxCapturePhaseName(uint8_t code) {
  return code < 16 ? kPhaseNames[code] : "unknown";
}

const char* AxCaptureOperationName(uint8_t code) {
  return code < 32 ? kOperationNames[code] : "unknown";
}

AxCaptureOperation OperationForAttribute(const char* attribute) {
  // "copy_attribute:" names run from AXRole (8) to AXMenuBar (26).
  static constexpr size_t kPrefix = sizeof("copy_attribute:") - 1;
  for (uint8_t code = 8; code <= 26; ++code) {
    if (std::strcmp(kOperationNames[code] + kPrefix, attribute) == 0) {
      return static_cast<AxCaptureOperation>(code);
    }
  }
  return AxCaptureOperation::kNone;
}

AxCaptureDiagnosticPtr BeginCaptureDiagnostic(int32_t pid, uint32_t window_id,
                                              platform::TimePoint deadline) {
  auto record = std::make_shared<AxCaptureDiagnosticState>();
  record->pid = pid;
  record->window_id = window_id;
  record->started = platform::Get().clock().Now();
  record->deadline = deadline;
  std::lock_guard<std::mutex> lock(g_capture_diagnostic_mutex);
  g_capture_diagnostics[Key(pid, window_id)] = record;
  return record;
}

void EndCaptureDiagnostic(const AxCaptureDiagnosticPtr& record) {
  if (!record) return;
  AxCaptureDiagnosticPtr dropped;  // released after the mutex
  std::lock_guard<std::mutex> lock(g_capture_diagnostic_mutex);
  auto it = g_capture_diagnostics.find(Key(record->pid, record->window_id));
  if (it != g_capture_diagnostics.end() && it->second == record) {
    dropped = std::move(it->second);
    g_capture_diagnostics.erase(it);
  }
}

AxCaptureDiagnosticPtr FindCaptureDiagnostic(int32_t pid, uint32_t window_id) {
  std::lock_guard<std::mutex> lock(g_capture_diagnostic_mutex);
  auto it = g_capture_diagnostics.find(Key(pid, window_id));
  return it == g_capture_diagnostics.end() ? nullptr : it->second;
}

AxCaptureDiagnosticState* ActiveCaptureDiagnostic() { return g_active_capture_diagnostic; }

void SetCapturePhase(AxCapturePhase phase) {
  if (auto* r = g_active_capture_diagnostic) {
    r->phase.store(static_cast<uint8_t>(phase), std::memory_order_relaxed);
  }
}

void SetCaptureOperation(AxCaptureOperation op) {
  if (auto* r = g_active_capture_diagnostic) {
    r->operation.store(static_cast<uint8_t>(op), std::memory_order_relaxed);
  }
}

void SetCaptureOperationForAttribute(const char* attribute) {
  if (g_active_capture_diagnostic) SetCaptureOperation(OperationForAttribute(attribute));
}

void CountCaptureNodeVisited() {
  if (auto* r = g_active_capture_diagnostic) {
    r->nodes_visited.fetch_add(1, std::memory_order_relaxed);
  }
}

ScopedActiveCaptureDiagnostic::ScopedActiveCaptureDiagnostic(AxCaptureDiagnosticState* record)
    : previous_(g_active_capture_diagnostic) {
  g_active_capture_diagnostic = record;
}

ScopedActiveCaptureDiagnostic::~ScopedActiveCaptureDiagnostic() {
  g_active_capture_diagnostic = previous_;
}

std::string LogEmptyCaptureDiagnostics(const platform::AXElement& app, pid_t pid,
                                       uint32_t requested_window_id,
                                       const CGWindowCandidate* candidate,
                                       const std::string& reason, uint32_t selected_window_id,
                                       int32_t children_error, int64_t children_count,
                                       std::string* out) {
  AxWindowAttributeProbe focused = ProbeAxWindowAttribute(app, "AXFocusedWindow");
  AxWindowAttributeProbe main = ProbeAxWindowAttribute(app, "AXMainWindow");

  SetCaptureOperation(AxCaptureOperation::kCopyWindows);
  platform::Value windows;
  platform::AXError windows_error =
      app ? platform::Get().ax().CopyAttributeValue(app, "AXWindows", &windows)
          : platform::kAXErrorInvalidUIElement;
  long windows_count = -1;
  std::string ids;
  if (windows_error == platform::kAXErrorSuccess && windows.array()) {
    windows_count = static_cast<long>(windows.array()->size());
    for (const platform::Value& entry : *windows.array()) {
      const platform::AXElement* el = entry.element();
      if (!el || !*el) continue;
      SetCaptureOperation(AxCaptureOperation::kGetWindowId);
      uint32_t wid = 0;
      if (platform::Get().ax().GetWindow(*el, &wid) != platform::kAXErrorSuccess || wid == 0) {
        continue;
      }
      if (!ids.empty()) ids += ',';
      ids += std::to_string(wid);
    }
  }
  if (ids.empty()) ids = "<none>";

  char buf[1024];
  int n = std::snprintf(
      buf, sizeof(buf),
      "%s pid=%d requested_window_id=%u cg_window_id=%u cg_onscreen=%d selected_window_id=%u "
      "focused_error=%d focused_has_element=%d focused_window_id=%u main_error=%d "
      "main_has_element=%d main_window_id=%u windows_error=%d windows_count=%ld ax_window_ids=",
      reason.c_str(), static_cast<int>(pid), requested_window_id,
      candidate ? candidate->window_id : 0u, candidate && candidate->on_screen ? 1 : 0,
      selected_window_id, static_cast<int>(focused.error), focused.has_element ? 1 : 0,
      focused.window_id, static_cast<int>(main.error), main.has_element ? 1 : 0, main.window_id,
      static_cast<int>(windows_error), windows_count);
  std::string line(buf, n > 0 ? std::min<size_t>(static_cast<size_t>(n), sizeof(buf) - 1) : 0);
  line += ids;
  std::snprintf(buf, sizeof(buf), " children_error=%d children_count=%ld",
                static_cast<int>(children_error), static_cast<long>(children_count));
  line += buf;

  LogLine("[Vantor][capture-app-empty] " + line);
  if (out) *out = line;
  return line;
}

}  // namespace addon
