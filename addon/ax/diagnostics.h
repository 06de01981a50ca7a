// Capture diagnostics: a record per in-flight asynchronous capture telling
// the host which phase the capture is in, which accessibility operation it
// last started and how many elements it has visited; and the one-line
// summary attached to (and logged for) an empty capture.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "ax/window_list.h"
#include "platform/platform.h"

namespace addon {

enum class AxCapturePhase : uint8_t {
  kAdmitted = 0,
  kWorkerStarted,
  kCaptureLock,
  kAccessibilityCheck,
  kIdentityCheck,
  kApplicationCreate,
  kCgWindowScan,
  kAccessibilityWarm,
  kWindowResolve,
  kWindowStabilize,
  kWindowMetadata,
  kTreeTraversal,
  kMenuTraversal,
  kFinalIdentityCheck,
  kAppSnapshot,
  kNativeComplete,
};

enum class AxCaptureOperation : uint8_t {
  kNone = 0,
  kCaptureMutexWait,
  kTrustProbe,
  kProcessIdentity,
  kCreateApplication,
  kCgWindowScan,
  kSetManualAccessibility,
  kSetEnhancedUserInterface,
  kCopyRole,
  kCopySubrole,
  kCopyTitle,
  kCopyDescription,
  kCopyTitleUIElement,
  kCopyHelp,
  kCopyIdentifier,
  kCopyValue,
  kCopyPosition,
  kCopySize,
  kCopyEnabled,
  kCopyFocused,
  kCopyMain,
  kCopyChildren,
  kCopyFocusedWindow,
  kCopyMainWindow,
  kCopyWindows,
  kCopyParent,
  kCopyMenuBar,
  kCopyActionNames,
  kCopyMultipleAttributeValues,
  kIsValueSettable,
  kGetWindowId,
  kAppSnapshot,
};

const char* AxCapturePhaseName(uint8_t code);
const char* AxCaptureOperationName(uint8_t code);
// The operation code of reading one attribute; kNone for attributes without
// a code of their own.
AxCaptureOperation OperationForAttribute(const char* attribute);

// Shared between the capture worker (writer), the registry and the host
// thread (reader). Phase and operation are written by the one capture thread
// and read without locking, so they are relaxed atomics.
struct AxCaptureDiagnosticState {
  int32_t pid = 0;
  uint32_t window_id = 0;
  platform::TimePoint started;
  platform::TimePoint deadline;
  std::atomic<uint8_t> phase{0};
  std::atomic<uint8_t> operation{0};
  std::atomic<uint32_t> nodes_visited{0};
};
using AxCaptureDiagnosticPtr = std::shared_ptr<AxCaptureDiagnosticState>;

// Opens a record and registers it under (pid, windowId), replacing any record
// registered there.
AxCaptureDiagnosticPtr BeginCaptureDiagnostic(int32_t pid, uint32_t window_id,
                                              platform::TimePoint deadline);
// Unregisters the record if the registry still holds this same record.
void EndCaptureDiagnostic(const AxCaptureDiagnosticPtr& record);
// The record registered under (pid, windowId), or null.
AxCaptureDiagnosticPtr FindCaptureDiagnostic(int32_t pid, uint32_t window_id);

// The record of the capture running on this thread (null when none). Capture
// code writes through these helpers, which do nothing without a record.
AxCaptureDiagnosticState* ActiveCaptureDiagnostic();
void SetCapturePhase(AxCapturePhase phase);
void SetCaptureOperation(AxCaptureOperation op);
void SetCaptureOperationForAttribute(const char* attribute);
void CountCaptureNodeVisited();

// Installs a record as this thread's active one for a scope.
class ScopedActiveCaptureDiagnostic {
 public:
  explicit ScopedActiveCaptureDiagnostic(AxCaptureDiagnosticState* record);
  ~ScopedActiveCaptureDiagnostic();
  ScopedActiveCaptureDiagnostic(const ScopedActiveCaptureDiagnostic&) = delete;
  ScopedActiveCaptureDiagnostic& operator=(const ScopedActiveCaptureDiagnostic&) = delete;

 private:
  AxCaptureDiagnosticState* previous_;
};

// Builds the empty-capture line, writes it to the system log with its tag and
// stores it in *out when given. Answers the line.
std::string LogEmptyCaptureDiagnostics(const platform::AXElement& app, pid_t pid,
                                       uint32_t requested_window_id,
                                       const CGWindowCandidate* candidate,
                                       const std::string& reason, uint32_t selected_window_id,
                                       int32_t children_error, int64_t children_count,
                                       std::string* out);

}  // namespace addon
