// Mouse vocabulary and background-window records: button table, wheel
// values, drag steps, the flags of a global click, left-button ownership,
// the focus event record, window-addressed fields and End's reason order.
#include <gtest/gtest.h>

#include "input/background_events.h"
#include "input/background_session.h"
#include "input/mouse_model.h"

namespace addon {
namespace {

using T = platform::EventType;

TEST(MouseButtons, NamesAreTrimmedAndLowerCasedOnlyForGlobalInput) {
  auto middle = ResolveMouseButton("  Middle ");
  ASSERT_TRUE(middle);
  EXPECT_EQ(middle->down, T::kOtherMouseDown);
  EXPECT_EQ(middle->up, T::kOtherMouseUp);
  EXPECT_EQ(middle->dragged, T::kOtherMouseDragged);
  EXPECT_TRUE(middle->writes_button_number());
  auto right = ResolveMouseButton("right");
  ASSERT_TRUE(right);
  EXPECT_EQ(right->number, 1);
  EXPECT_FALSE(right->writes_button_number());
  EXPECT_TRUE(ResolveMouseButton("LEFT")->left());
  EXPECT_FALSE(ResolveMouseButton("centre"));
  EXPECT_FALSE(ResolveMouseButtonExact("Left"));
  EXPECT_FALSE(ResolveMouseButtonExact(" left"));
  EXPECT_TRUE(ResolveMouseButtonExact("left"));
}

TEST(MouseScroll, WheelValuesByDirection) {
  auto check = [](const char* dir, int32_t w1, int32_t w2) {
    auto w = ScrollWheelValues(dir, 7);
    ASSERT_TRUE(w) << dir;
    EXPECT_EQ(w->wheel1, w1) << dir;
    EXPECT_EQ(w->wheel2, w2) << dir;
  };
  check("up", 7, 0);
  check("down", -7, 0);
  check("left", 0, -7);
  check("right", 0, 7);
  EXPECT_FALSE(ScrollWheelValues("Up", 1));
  EXPECT_FALSE(ScrollWheelValues("sideways", 1));
}

TEST(MouseDrag, TenStepsEndExactlyAtTheTarget) {
  const platform::Point from{10, 20}, to{110, -80};
  EXPECT_DOUBLE_EQ(DragStepPoint(from, to, 1).x, 20);
  EXPECT_DOUBLE_EQ(DragStepPoint(from, to, 1).y, 10);
  EXPECT_DOUBLE_EQ(DragStepPoint(from, to, kDragSteps).x, 110);
  EXPECT_DOUBLE_EQ(DragStepPoint(from, to, kDragSteps).y, -80);
}

TEST(MouseFlags, PhysicalModifiersOnlyWhenNoModifiersTextWasGiven) {
  const uint64_t shift_held = 0x20000 | 0x100;  // Shift plus a bit outside the mask
  EXPECT_EQ(GlobalMouseFlags(std::nullopt, shift_held), 0x20000u);
  EXPECT_EQ(GlobalMouseFlags(std::string(), shift_held), 0x20000u);
  EXPECT_EQ(GlobalMouseFlags(std::string("cmd"), shift_held), 0x100000u);
  // A text that names no modifier means no flags, whatever is held.
  EXPECT_EQ(GlobalMouseFlags(std::string("none"), shift_held), 0u);
  EXPECT_EQ(GlobalMouseFlags(std::nullopt, 0x800000 | 0x1000000), 0x800000u);
}

TEST(LeftButtonOwnership, OneOwnerAtATimeAndReleaseKeepsALaterTag) {
  LeftButtonOwnership o;
  EXPECT_TRUE(o.Claim(LeftButtonOwnership::kFree, LeftButtonOwnership::kPressing));
  EXPECT_FALSE(o.Claim(LeftButtonOwnership::kFree, LeftButtonOwnership::kSequence));
  o.Hold(42);
  EXPECT_EQ(o.state(), LeftButtonOwnership::kHeld);
  EXPECT_EQ(o.held_tag(), 42);
  EXPECT_FALSE(o.Claim(LeftButtonOwnership::kFree, LeftButtonOwnership::kSequence));
  EXPECT_TRUE(o.Claim(LeftButtonOwnership::kHeld, LeftButtonOwnership::kPressing));
  o.Release(7);  // not the held tag: the tag stays, the state is free
  EXPECT_EQ(o.state(), LeftButtonOwnership::kFree);
  EXPECT_EQ(o.held_tag(), 42);
  o.Release(42);
  EXPECT_EQ(o.held_tag(), 0);
}

TEST(FocusEventRecord, BytesOfFocusAndUnfocus) {
  auto r = FocusEventRecord(0x01020304, true);
  for (size_t i = 0; i < r.size(); ++i) {
    if (i == 4 || i == 8 || (i >= 0x3C && i < 0x40) || i == 0x8A) continue;
    ASSERT_EQ(r[i], 0) << "byte " << i;
  }
  EXPECT_EQ(r[4], 0xF8);
  EXPECT_EQ(r[8], 0x0D);
  EXPECT_EQ(r[0x3C], 0x04);
  EXPECT_EQ(r[0x3D], 0x03);
  EXPECT_EQ(r[0x3E], 0x02);
  EXPECT_EQ(r[0x3F], 0x01);
  EXPECT_EQ(r[0x8A], 1);
  EXPECT_EQ(FocusEventRecord(5, false)[0x8A], 2);
}

TEST(WindowAddressedEvents, FieldsInOrderAndLocalPoint) {
  auto fields = WindowAddressedFields(501, 101, /*a=*/2, /*b=*/3, /*c=*/1, /*d=*/777);
  std::vector<std::pair<uint32_t, int64_t>> expected{{0, 3},   {1, 2},   {3, 1},   {7, 3},  {40, 501},
                                                     {51, 101}, {58, 777}, {91, 101}, {92, 101}};
  EXPECT_EQ(fields, expected);
  const platform::Rect bounds{120, 80, 900, 640};
  auto local = WindowLocalPoint({130, 95}, bounds);
  EXPECT_DOUBLE_EQ(local.x, 10);
  EXPECT_DOUBLE_EQ(local.y, 15);
  auto primer = WindowLocalPoint({-1, -1}, bounds);
  EXPECT_DOUBLE_EQ(primer.x, -1);
  EXPECT_DOUBLE_EQ(primer.y, -1);
}

TEST(BackgroundEnd, ReasonsInOrderWithTheirTolerances) {
  EndFacts f;
  f.begin_frontmost = 501;
  f.live_frontmost = 501;
  f.begin_cursor = {100, 100};
  f.live_cursor = {100.5, 99.5};
  EXPECT_STREQ(EndReason(f), "");
  f.live_cursor = {100.6, 100};
  EXPECT_STREQ(EndReason(f), "cursor_moved");
  f.live_frontmost = 502;
  EXPECT_STREQ(EndReason(f), "frontmost_changed");
  f.unfocus_failed = true;
  EXPECT_STREQ(EndReason(f), "unfocus_record_failed");
  f.action_ok = false;
  EXPECT_STREQ(EndReason(f), "action_failed");
  EndOutcome moved;
  moved.reason = "cursor_moved";
  EXPECT_TRUE(EndAcceptable(moved));
  EndOutcome failed;
  failed.reason = "action_failed";
  EXPECT_FALSE(EndAcceptable(failed));
}

TEST(BackgroundTarget, BoundsWithinOnePointAndPointsInside) {
  const platform::Rect r{100, 100, 200, 100};
  EXPECT_TRUE(BoundsMatch(r, {101, 99, 201, 99}, 1.0));
  EXPECT_FALSE(BoundsMatch(r, {102, 100, 200, 100}, 1.0));
  EXPECT_TRUE(PointInBounds({100, 100}, r));
  EXPECT_FALSE(PointInBounds({300, 150}, r));
  EXPECT_FALSE(PointInBounds({99.9, 150}, r));
}

}  // namespace
}  // namespace addon
