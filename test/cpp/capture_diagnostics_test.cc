// The capture diagnostic registry, its names, and the thread-local record
// that capture code writes through.
#include <gtest/gtest.h>

#include <thread>

#include "ax/diagnostics.h"

namespace addon {
namespace {

platform::TimePoint Later() { return platform::Get().clock().Now() + std::chrono::seconds(12); }

TEST(CaptureDiagnostics, PhaseAndOperationNamesWithUnknownCodes) {
  EXPECT_STREQ(AxCapturePhaseName(0), "admitted");
  EXPECT_STREQ(AxCapturePhaseName(9), "window_stabilize");
  EXPECT_STREQ(AxCapturePhaseName(15), "native_complete");
  EXPECT_STREQ(AxCapturePhaseName(16), "unknown");
  EXPECT_STREQ(AxCaptureOperationName(0), "none");
  EXPECT_STREQ(AxCaptureOperationName(6), "set_attribute:AXManualAccessibility");
  EXPECT_STREQ(AxCaptureOperationName(29), "is_attribute_settable:AXValue");
  EXPECT_STREQ(AxCaptureOperationName(31), "app_snapshot");
  EXPECT_STREQ(AxCaptureOperationName(32), "unknown");
  EXPECT_STREQ(AxCaptureOperationName(255), "unknown");
}

TEST(CaptureDiagnostics, AttributeReadsMapToTheirOperations) {
  EXPECT_EQ(OperationForAttribute("AXRole"), AxCaptureOperation::kCopyRole);
  EXPECT_EQ(OperationForAttribute("AXTitleUIElement"), AxCaptureOperation::kCopyTitleUIElement);
  EXPECT_EQ(OperationForAttribute("AXFocusedWindow"), AxCaptureOperation::kCopyFocusedWindow);
  EXPECT_EQ(OperationForAttribute("AXMenuBar"), AxCaptureOperation::kCopyMenuBar);
  EXPECT_EQ(OperationForAttribute("AXSelected"), AxCaptureOperation::kNone);
  EXPECT_EQ(OperationForAttribute("AXRoleX"), AxCaptureOperation::kNone);
}

TEST(CaptureDiagnostics, NewerRecordReplacesOlderAndOnlyTheHolderUnregisters) {
  auto older = BeginCaptureDiagnostic(31001, 0, Later());
  EXPECT_EQ(FindCaptureDiagnostic(31001, 0), older);
  EXPECT_EQ(FindCaptureDiagnostic(31001, 7), nullptr);
  auto newer = BeginCaptureDiagnostic(31001, 0, Later());
  EXPECT_EQ(FindCaptureDiagnostic(31001, 0), newer);
  EndCaptureDiagnostic(older);  // no longer registered: leaves the newer one
  EXPECT_EQ(FindCaptureDiagnostic(31001, 0), newer);
  EndCaptureDiagnostic(newer);
  EXPECT_EQ(FindCaptureDiagnostic(31001, 0), nullptr);
  EndCaptureDiagnostic(nullptr);
}

TEST(CaptureDiagnostics, KeysKeepPidAndWindowApart) {
  auto a = BeginCaptureDiagnostic(31002, 5, Later());
  auto b = BeginCaptureDiagnostic(31002, 6, Later());
  auto c = BeginCaptureDiagnostic(5, 31002, Later());
  EXPECT_EQ(FindCaptureDiagnostic(31002, 5), a);
  EXPECT_EQ(FindCaptureDiagnostic(31002, 6), b);
  EXPECT_EQ(FindCaptureDiagnostic(5, 31002), c);
  for (auto& r : {a, b, c}) EndCaptureDiagnostic(r);
}

TEST(CaptureDiagnostics, WritesGoToThisThreadsActiveRecordOnly) {
  auto record = BeginCaptureDiagnostic(31003, 0, Later());
  SetCapturePhase(AxCapturePhase::kTreeTraversal);  // no active record: nothing happens
  EXPECT_EQ(record->phase.load(), 0);
  {
    ScopedActiveCaptureDiagnostic active(record.get());
    SetCapturePhase(AxCapturePhase::kTreeTraversal);
    SetCaptureOperationForAttribute("AXChildren");
    CountCaptureNodeVisited();
    CountCaptureNodeVisited();
    std::thread other([] {
      EXPECT_EQ(ActiveCaptureDiagnostic(), nullptr);
      SetCapturePhase(AxCapturePhase::kNativeComplete);
    });
    other.join();
    {
      ScopedActiveCaptureDiagnostic none(nullptr);
      SetCaptureOperation(AxCaptureOperation::kAppSnapshot);
    }
    EXPECT_EQ(ActiveCaptureDiagnostic(), record.get());
  }
  EXPECT_EQ(ActiveCaptureDiagnostic(), nullptr);
  EXPECT_STREQ(AxCapturePhaseName(record->phase.load()), "tree_traversal");
  EXPECT_STREQ(AxCaptureOperationName(record->operation.load()), "copy_attribute:AXChildren");
  EXPECT_EQ(record->nodes_visited.load(), 2u);
  EndCaptureDiagnostic(record);
}

}  // namespace
}  // namespace addon
