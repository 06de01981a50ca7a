// The private window-server tables are bound once per process, so each case
// runs in a fresh process (a threadsafe death test re-runs the binary).
#include <gtest/gtest.h>

#include <cstdlib>

#include "apps/window_event_mask.h"
#include "sim_test_util.h"
#include "skylight.h"

namespace {

using simtest::Args;
using simtest::Cmd;

void SetAbsent(std::initializer_list<sim::Json> names) {
  Cmd("setPrivateEntriesAbsent", Args({Args(names)}));
}

bool AbsentEventEntries() {
  SetAbsent({"GetProcessForPID", "SLPSPostEventRecordTo"});
  const auto& t = addon::SkyLightEvents();
  bool ok = t.post_to_pid && t.set_integer_value_field && t.set_window_location &&
            !t.post_event_record_to && !t.get_process_for_pid && !t.complete() &&
            t.absent == std::vector<std::string>{"SLPSPostEventRecordTo", "GetProcessForPID"};
  SetAbsent({});
  return ok && &addon::SkyLightEvents() == &t && !t.get_process_for_pid;
}

bool CompleteEventTable() {
  const auto& t = addon::SkyLightEvents();
  platform::ProcessSerialNumber psn;
  return t.complete() && t.get_process_for_pid(501, &psn) == 0 && psn.low == 501 &&
         t.get_process_for_pid(99999, &psn) != 0;
}

bool MaskQuery() {
  Cmd("setWindow", Args({sim::Json(int64_t{102}), simtest::ParseJson(R"({"acceptsMouseDown": false})")}));
  bool accepts = false, refuses = true, untouched = true;
  return OzaCopyWindowAcceptsLeftMouseDown(101, &accepts) && accepts &&
         OzaCopyWindowAcceptsLeftMouseDown(102, &refuses) && !refuses &&
         !OzaCopyWindowAcceptsLeftMouseDown(424242, &untouched) && untouched &&
         !OzaCopyWindowAcceptsLeftMouseDown(101, nullptr) &&
         !OzaCopyWindowAcceptsLeftMouseDown(0, &untouched);
}

bool AbsentMaskEntry() {
  SetAbsent({"SLSGetWindowEventMask"});
  bool out = false;
  bool ok = !OzaCopyWindowAcceptsLeftMouseDown(101, &out);
  SetAbsent({});
  return ok && !OzaCopyWindowAcceptsLeftMouseDown(101, &out) && !addon::WindowEventMask().complete();
}

class SkyLightTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    simtest::LoadSample();
  }
};

TEST_F(SkyLightTest, AbsentEventEntriesStayAbsentAndAreNamedInTableOrder) {
  EXPECT_EXIT(std::exit(AbsentEventEntries() ? 0 : 1), ::testing::ExitedWithCode(0), "");
}

TEST_F(SkyLightTest, CompleteEventTableCallsThroughToThePlatform) {
  EXPECT_EXIT(std::exit(CompleteEventTable() ? 0 : 1), ::testing::ExitedWithCode(0), "");
}

TEST_F(SkyLightTest, WindowEventMaskQuery) {
  EXPECT_EXIT(std::exit(MaskQuery() ? 0 : 1), ::testing::ExitedWithCode(0), "");
}

TEST_F(SkyLightTest, AbsentMaskEntryFailsForTheLifeOfTheProcess) {
  EXPECT_EXIT(std::exit(AbsentMaskEntry() ? 0 : 1), ::testing::ExitedWithCode(0), "");
}

}  // namespace
