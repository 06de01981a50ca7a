// The panel stack's rules on fake panels: push, promote, remove, the cap and
// its victim, dismissal keys and prefix clearing, groups, turns, completion
// and the lead target.
#include <gtest/gtest.h>
#include <uv.h>

#include "main_queue.h"
#include "pip/pip_geometry.h"
#include "pip/pip_stack.h"

namespace pip {
namespace {

struct FakePanel : PipPanel {
  FakePanel(uint32_t wid, GroupKey g, int32_t pid = 12) : wid(wid), group(std::move(g)), pid(pid) {}
  uint32_t wid;
  GroupKey group;
  int32_t pid;
  bool is_running = true, presented = true, hidden = false, completed = false, badge = false;
  int stops = 0, fronts = 0;
  bool running() const override { return is_running; }
  GroupKey groupKey() const override { return group; }
  uint32_t windowId() const override { return wid; }
  uint32_t presentationWindowId() const override { return wid; }
  uint32_t actualWindowId() const override { return wid + 1000; }
  int32_t expectedPid() const override { return pid; }
  std::string expectedBundleId() const override { return "com.korvo.TextPad"; }
  bool verified() const override { return true; }
  bool hasPresentedFrame() const override { return presented; }
  bool groupHidden() const override { return hidden; }
  bool taskCompleted() const override { return completed; }
  bool badgeShown() const override { return badge; }
  void stop() override {
    stops++;
    is_running = false;
  }
  void orderFrontRegardless() override { fronts++; }
  void setGroupHidden(bool h) override { hidden = h; }
  void freezeCapture() override { completed = true; }
  void showTaskCompletionBadge() override { badge = completed = true; }
};

using Ref = std::shared_ptr<FakePanel>;

class PipStackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    addon::RecordMainThreadLoop(uv_default_loop());
    PipResetStateForTest();
  }
  void TearDown() override { PipResetStateForTest(); }
  Ref Push(uint32_t wid, GroupKey g = std::nullopt) {
    auto p = std::make_shared<FakePanel>(wid, std::move(g));
    PipStackPushFront(p);
    return p;
  }
  std::vector<uint32_t> Order() {
    std::vector<uint32_t> out;
    for (auto& p : PipStackCopy()) out.push_back(p->windowId());
    return out;
  }
};

TEST_F(PipStackTest, PushPromoteRemoveAndPublishedBounds) {
  auto a = Push(1), b = Push(2), c = Push(3);
  EXPECT_EQ(Order(), (std::vector<uint32_t>{3, 2, 1}));
  PipStackPushFront(a);  // already there: moves, does not grow
  EXPECT_EQ(Order(), (std::vector<uint32_t>{1, 3, 2}));
  EXPECT_TRUE(PipStackPromoteImmediately(b.get()));
  EXPECT_TRUE(PipStackPromoteImmediately(b.get()));
  EXPECT_EQ(Order(), (std::vector<uint32_t>{2, 1, 3}));

  PipStackSetPublishedBounds(b.get(), {10, 10, 100, 50}, true);
  PipStackSetPublishedBounds(a.get(), {0, 0, 500, 500}, false);
  PipPublishedBounds pb;
  ASSERT_TRUE(PipStackPublishedBounds(a.get(), &pb));
  EXPECT_FALSE(pb.valid);
  EXPECT_EQ(pb.rect.width, 0);  // an invalid call keeps a zero rectangle
  EXPECT_FALSE(PipLeadsStackAtPoint(a.get(), {20, 20}));  // b covers the point
  EXPECT_TRUE(PipLeadsStackAtPoint(a.get(), {300, 300}));
  EXPECT_TRUE(PipLeadsStackAtPoint(b.get(), {20, 20}));

  PipStackRemove(b.get());
  PipStackRemove(b.get());  // absent: ignored
  EXPECT_FALSE(PipStackPromoteImmediately(b.get()));
  EXPECT_FALSE(PipStackPublishedBounds(b.get(), &pb));
  PipStackSetPublishedBounds(b.get(), {1, 1, 1, 1}, true);  // not in the stack: no entry
  EXPECT_FALSE(PipStackPublishedBounds(b.get(), &pb));
  EXPECT_EQ(PipStackCount(), 2u);
  (void)c;
}

TEST_F(PipStackTest, PromotionOrdersFrontOnlyAfterAFrame) {
  auto a = Push(1), b = Push(2);
  a->presented = false;
  PipPromotePanel(a);
  EXPECT_EQ(Order().front(), 1u);
  EXPECT_EQ(a->fronts, 0);
  PipPromotePanel(b);
  EXPECT_EQ(b->fronts, 1);
}

TEST_F(PipStackTest, EvictionVictims) {
  // No active group: the oldest goes.
  auto p1 = Push(1), p2 = Push(2), p3 = Push(3), p4 = Push(4);
  auto p5 = Push(5);
  EXPECT_EQ(p1->stops, 1);
  EXPECT_EQ(Order(), (std::vector<uint32_t>{5, 4, 3, 2}));

  // The active group's four panels are the oldest: the oldest that is not
  // the group's front-most panel goes, never the new one.
  PipResetStateForTest();
  Switches().active_group = "a";
  auto g1 = Push(1, "a"), g2 = Push(2, "A"), g3 = Push(3, "a"), g4 = Push(4, "a");
  auto other = Push(5, "b");
  EXPECT_EQ(g1->stops, 1);
  EXPECT_EQ(other->stops, 0);
  EXPECT_EQ(Order(), (std::vector<uint32_t>{5, 4, 3, 2}));

  // A panel outside the active group is chosen before any of the group's.
  std::vector<PanelRef> s = {std::make_shared<FakePanel>(9, "a"), std::make_shared<FakePanel>(8, "a"),
                             std::make_shared<FakePanel>(7, std::nullopt),
                             std::make_shared<FakePanel>(6, "a"), std::make_shared<FakePanel>(5, "a")};
  EXPECT_EQ(PipEvictionVictim(s, GroupKey("a")), 2u);
  // Everything in the group: the oldest non-lead (the lead is index 0 here).
  s[2] = std::make_shared<FakePanel>(7, "a");
  EXPECT_EQ(PipEvictionVictim(s, GroupKey("a")), 4u);
  (void)p2, (void)p3, (void)p4, (void)p5, (void)g2, (void)g3, (void)g4;
}

TEST_F(PipStackTest, DismissalKeysAndTurns) {
  EXPECT_EQ(PipTargetKey(12, 345, GroupKey("a")), "a|12:345");
  EXPECT_EQ(PipTargetKey(0, 7, std::nullopt), "|0:7");
  EXPECT_EQ(PipTargetKey(1, 1, GroupKey(std::string(500, 'g'))).size(), 383u);

  auto a = Push(345, "a");
  PipDismissPanel(a);
  EXPECT_EQ(a->stops, 1);
  EXPECT_EQ(PipStackCount(), 0u);
  EXPECT_TRUE(PipIsTargetDismissed(12, 345, GroupKey("a")));
  EXPECT_FALSE(PipIsTargetDismissed(12, 345, GroupKey("A")));  // exact bytes
  PipAddDismissal("|12:345");
  PipAddDismissal("ab|12:345");

  PipBeginTurn(GroupKey("ab"));
  EXPECT_TRUE(PipIsTargetDismissed(12, 345, GroupKey("a")));
  PipBeginTurn(GroupKey("a"));
  EXPECT_FALSE(PipIsTargetDismissed(12, 345, GroupKey("a")));
  EXPECT_TRUE(PipIsTargetDismissed(12, 345, std::nullopt));
  PipClearDismissed();
  EXPECT_EQ(PipDismissedKeys().size(), 0u);

  // A turn stops and removes the group's panels (ignoring case), others stay.
  auto x = Push(1, "S1"), y = Push(2, "s2");
  uint64_t before = g_pip_request_generation.load();
  PipBeginTurn(GroupKey("s1"));
  EXPECT_GT(g_pip_request_generation.load(), before);
  EXPECT_EQ(x->stops, 1);
  EXPECT_EQ(Order(), (std::vector<uint32_t>{2}));
  PipBeginTurn(GroupKey(""));  // empty: nothing
  EXPECT_EQ(y->stops, 0);
}

TEST_F(PipStackTest, GroupsHidingCompletionAndFreezing) {
  auto a = Push(1, "a"), b = Push(2, "b"), none = Push(3);
  PipSetActiveGroup(GroupKey("A"));
  EXPECT_FALSE(a->hidden);
  EXPECT_TRUE(b->hidden);
  EXPECT_FALSE(none->hidden);  // no group: never hidden
  EXPECT_TRUE(PipGroupIsActive(GroupKey("a")));
  EXPECT_FALSE(PipGroupIsActive(std::nullopt));
  PipSetActiveGroup(std::nullopt);
  EXPECT_FALSE(b->hidden);

  // Keeping: panels with a frame freeze with a badge, the others are torn down.
  auto c = Push(4, "a");
  c->presented = false;
  PipTaskCompleted(GroupKey("a"), true);
  EXPECT_TRUE(a->badge);
  EXPECT_TRUE(a->completed);
  EXPECT_EQ(a->stops, 0);
  EXPECT_EQ(c->stops, 1);
  // Not keeping: every panel of the group goes.
  PipTaskCompleted(GroupKey("b"), false);
  EXPECT_EQ(b->stops, 1);
  EXPECT_EQ(Order(), (std::vector<uint32_t>{3, 1}));

  PipFreezeGroup(GroupKey("nobody"));
  EXPECT_FALSE(none->completed);
  auto d = Push(5, "z");
  PipFreezeGroup(GroupKey("Z"));
  EXPECT_TRUE(d->completed);
}

TEST_F(PipStackTest, StopTargetAndLeadTarget) {
  uint32_t wid = 0;
  int32_t pid = 0;
  char buf[64] = "untouched";
  EXPECT_FALSE(PipLeadTarget(&wid, &pid, buf, sizeof buf));  // empty stack
  EXPECT_STREQ(buf, "untouched");
  auto a = Push(10), b = Push(20);
  EXPECT_FALSE(PipLeadTarget(&wid, &pid, buf, 0));
  EXPECT_FALSE(PipLeadTarget(nullptr, &pid, buf, sizeof buf));
  ASSERT_TRUE(PipLeadTarget(&wid, &pid, buf, sizeof buf));
  EXPECT_EQ(wid, 1020u);  // the actual window
  EXPECT_EQ(pid, 12);
  EXPECT_STREQ(buf, "com.korvo.TextPad");

  EXPECT_EQ(PipStopTarget(1010, 0, ""), 1);  // matches the actual window id
  EXPECT_EQ(a->stops, 1);
  EXPECT_EQ(PipStopTarget(20, 99, ""), 0);  // pid differs
  EXPECT_EQ(PipStopTarget(0, 0, "COM.KORVO.TEXTPAD"), 1);
  EXPECT_EQ(b->stops, 1);
  EXPECT_FALSE(PipIsRunning());
}

TEST_F(PipStackTest, SwitchesStopEverything) {
  auto a = Push(1), b = Push(2);
  PipDismissAll();
  EXPECT_TRUE(Switches().dismissed);
  EXPECT_EQ(a->stops + b->stops, 2);
  EXPECT_EQ(PipStackCount(), 0u);
  PipSetEnabled(true);
  EXPECT_FALSE(Switches().dismissed);
  auto c = Push(3);
  PipSetEnabled(false);
  EXPECT_FALSE(Switches().enabled);
  EXPECT_EQ(c->stops, 1);
}

TEST(PipGeometryTest, SizingOutputAndPixels) {
  EXPECT_EQ(RequestedBox(0, -5).width, 360);
  EXPECT_EQ(RequestedBox(0, -5).height, 240);
  platform::Size fit = AspectFit({900, 640}, {360, 240});
  EXPECT_EQ(fit.width, 338);
  EXPECT_EQ(fit.height, 240);
  fit = AspectFit({0, 0}, {360, 240});  // unknown source: 16 x 10
  EXPECT_EQ(fit.width, 360);
  EXPECT_EQ(fit.height, 225);

  platform::Rect f = InitialPanelFrame({360, 240}, {0, 0, 1440, 900});
  EXPECT_EQ(f.x, 1060);
  EXPECT_EQ(f.y, 360);
  f = InitialPanelFrame({2000, 240}, {0, 0, 1440, 900});
  EXPECT_EQ(f.x, 0);

  // One factor for both dimensions: never stretched.
  int w, h;
  OutputSize({1500, 1000}, 2, &w, &h);
  EXPECT_EQ(h, 1080);
  EXPECT_EQ(w, 1620);
  OutputSize({360, 240}, 0.5, &w, &h);  // scale at least 1
  EXPECT_EQ(w, 360);

  auto img = std::make_shared<platform::Bitmap>();
  img->width = 200;
  img->height = 100;
  img->rgba.assign(200 * 100 * 4, 0);
  EXPECT_FALSE(ImageHasVisiblePixels(img));
  for (int y = 40; y < 60; ++y)
    for (int x = 0; x < 100; ++x) img->rgba[(y * 200 + x) * 4 + 3] = 255;
  EXPECT_TRUE(ImageHasVisiblePixels(img));
  double fx, fy;
  ASSERT_TRUE(ContentFill(img, &fx, &fy));
  EXPECT_NEAR(fx, 0.5, 0.03);
  EXPECT_NEAR(fy, 0.2, 0.03);
  EXPECT_FALSE(ImageHasVisiblePixels(nullptr));
}

}  // namespace
}  // namespace pip
