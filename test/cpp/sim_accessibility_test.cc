// The simulated desktop's accessibility service as the core sees it.
#include <thread>

#include "sim_test_util.h"

using namespace simtest;
using platform::AXElement;
using platform::Value;

namespace {

class SimAccessibilityTest : public SimTest {};

TEST_F(SimAccessibilityTest, ApplicationElementAnswersWindowsFocusAndMenuBar) {
  AXElement app = P().ax().CreateApplication(501);
  ASSERT_TRUE(app);
  EXPECT_EQ(Str(app, "AXRole"), "AXApplication");
  Value windows;
  ASSERT_EQ(P().ax().CopyAttributeValue(app, "AXWindows", &windows), platform::kAXErrorSuccess);
  ASSERT_TRUE(windows.array());
  ASSERT_EQ(windows.array()->size(), 2u);
  EXPECT_EQ(Str((*windows.array())[0].element() ? *(*windows.array())[0].element() : AXElement(), "AXTitle"),
            "Untitled 1");
  AXElement focused = Elem(app, "AXFocusedWindow");
  EXPECT_TRUE(focused.SameAs(*(*windows.array())[0].element()));
  uint32_t number = 0;
  ASSERT_EQ(P().ax().GetWindow(focused, &number), platform::kAXErrorSuccess);
  EXPECT_EQ(number, 101u);
  AXElement bar = Elem(app, "AXMenuBar");
  Value items;
  ASSERT_EQ(P().ax().CopyAttributeValue(bar, "AXChildren", &items), platform::kAXErrorSuccess);
  ASSERT_EQ(items.array()->size(), 4u);
  EXPECT_EQ(Str(*(*items.array())[2].element(), "AXTitle"), "File");
  // Closed menus have no frame; an element inside a window answers that window's number.
  AXElement text = Elem(app, "AXFocusedUIElement");
  EXPECT_EQ(Str(text, "AXRole"), "AXTextArea");
  ASSERT_EQ(P().ax().GetWindow(text, &number), platform::kAXErrorSuccess);
  EXPECT_EQ(number, 101u);
  EXPECT_EQ(P().ax().GetWindow(app, &number), platform::kAXErrorFailure);
}

TEST_F(SimAccessibilityTest, HandlesAreCountedAndReleased) {
  int64_t before = Cmd("liveHandleCount").as_int();
  {
    AXElement app = P().ax().CreateApplication(501);
    AXElement win = Elem(app, "AXFocusedWindow");
    EXPECT_EQ(LiveHandles("textpad.doc1"), 1);
    AXElement copy = win;
    EXPECT_EQ(LiveHandles("textpad.doc1"), 2);
    Value kids;
    P().ax().CopyAttributeValue(win, "AXChildren", &kids);
    EXPECT_EQ(LiveHandles("textpad.toolbar"), 1);
    EXPECT_GT(Cmd("liveHandleCount").as_int(), before);
  }
  EXPECT_EQ(LiveHandles("textpad.doc1"), 0);
  EXPECT_EQ(LiveHandles("textpad.toolbar"), 0);
  EXPECT_EQ(Cmd("liveHandleCount").as_int(), before);
}

TEST_F(SimAccessibilityTest, BatchAnswersErrorEntriesAndCanFailWhole) {
  Cmd("setElement", Args({sim::Json("textpad.bold"),
                          ParseJson(R"({"errors": {"AXTitle": -25204}, "wrongType": ["AXPosition"]})")}));
  AXElement app = P().ax().CreateApplication(501);
  AXElement bold;
  {
    Value hit;
    ASSERT_EQ(P().ax().CopyElementAtPosition(app, 150, 120, &bold), platform::kAXErrorSuccess);
  }
  EXPECT_EQ(Str(bold, "AXRole"), "AXButton");
  std::vector<Value> out;
  ASSERT_EQ(P().ax().CopyMultipleAttributeValues(bold, {"AXRole", "AXTitle", "AXPosition", "AXNope"}, &out),
            platform::kAXErrorSuccess);
  ASSERT_EQ(out.size(), 4u);
  EXPECT_EQ(*out[0].string(), "AXButton");
  ASSERT_TRUE(out[1].error());
  EXPECT_EQ(out[1].error()->code, platform::kAXErrorCannotComplete);
  EXPECT_FALSE(out[2].point());
  ASSERT_TRUE(out[3].error());
  EXPECT_EQ(out[3].error()->code, platform::kAXErrorAttributeUnsupported);
  Cmd("setApp", Args({sim::Json(501), ParseJson(R"({"batchFails": true})")}));
  EXPECT_NE(P().ax().CopyMultipleAttributeValues(bold, {"AXRole"}, &out), platform::kAXErrorSuccess);
  EXPECT_EQ(Str(bold, "AXRole"), "AXButton");  // the single-read path still works
}

TEST_F(SimAccessibilityTest, DelaysHonourTheMessagingTimeoutOnTheSimClock) {
  Cmd("setTimeScale", Args({sim::Json(1000.0)}));
  AXElement app = P().ax().CreateApplication(501);
  P().ax().SetMessagingTimeout(app, 0.3f);
  Cmd("setElement", Args({sim::Json("textpad.text"), ParseJson(R"({"delayMs": 100})")}));
  AXElement text = Elem(app, "AXFocusedUIElement");
  auto t0 = P().clock().Now();
  EXPECT_EQ(Str(text, "AXRole"), "AXTextArea");
  EXPECT_GE(P().clock().Now() - t0, std::chrono::milliseconds(100));
  Cmd("setElement", Args({sim::Json("textpad.text"), ParseJson(R"({"delayMs": 5000})")}));
  t0 = P().clock().Now();
  Value v;
  EXPECT_EQ(P().ax().CopyAttributeValue(text, "AXRole", &v), platform::kAXErrorCannotComplete);
  auto took = P().clock().Now() - t0;
  EXPECT_GE(took, std::chrono::milliseconds(300));
  EXPECT_LT(took, std::chrono::milliseconds(4000));
  Cmd("setElement", Args({sim::Json("textpad.text"), ParseJson(R"({"delayMs": 0, "hang": true})")}));
  EXPECT_EQ(P().ax().CopyAttributeValue(text, "AXRole", &v), platform::kAXErrorCannotComplete);
}

TEST_F(SimAccessibilityTest, QuitInvalidatesHandlesAndRelaunchBuildsAFreshTree) {
  AXElement app = P().ax().CreateApplication(501);
  AXElement win = Elem(app, "AXFocusedWindow");
  Cmd("quitApp", Args({sim::Json(501)}));
  Value v;
  EXPECT_EQ(P().ax().CopyAttributeValue(win, "AXRole", &v), platform::kAXErrorInvalidUIElement);
  pid_t pid = 0;
  EXPECT_EQ(P().ax().GetPid(win, &pid), platform::kAXErrorSuccess);
  EXPECT_EQ(pid, 501);
  EXPECT_EQ(LiveHandles("textpad.doc1"), 1);  // still readable after the quit
  AXElement unknown = P().ax().CreateApplication(4242);
  ASSERT_TRUE(unknown);
  EXPECT_EQ(P().ax().CopyAttributeValue(unknown, "AXRole", &v), platform::kAXErrorCannotComplete);

  LoadSample();
  AXElement app2 = P().ax().CreateApplication(501);
  double launch = P().workspace().RunningApplicationWithPid(501)->launch_time;
  Cmd("relaunch", Args({sim::Json(501), ParseJson(R"({"launchTime": 1800000000.5})")}));
  EXPECT_EQ(P().ax().CopyAttributeValue(app2, "AXRole", &v), platform::kAXErrorInvalidUIElement);
  auto again = P().workspace().RunningApplicationWithPid(501);
  ASSERT_TRUE(again);
  EXPECT_NE(again->launch_time, launch);
  EXPECT_EQ(again->launch_time, 1800000000.5);
  EXPECT_EQ(Str(P().ax().CreateApplication(501), "AXRole"), "AXApplication");
}

TEST_F(SimAccessibilityTest, SettingValueAndFocusChangesTheWorld) {
  AXElement app = P().ax().CreateApplication(501);
  AXElement field;
  ASSERT_EQ(P().ax().CopyElementAtPosition(app, 500, 135, &field), platform::kAXErrorSuccess);
  EXPECT_EQ(Str(field, "AXRole"), "AXTextField");
  bool settable = false;
  ASSERT_EQ(P().ax().IsAttributeSettable(field, "AXValue", &settable), platform::kAXErrorSuccess);
  EXPECT_TRUE(settable);
  EXPECT_EQ(P().ax().SetAttributeValue(field, "AXValue", Value("Report.txt")), platform::kAXErrorSuccess);
  EXPECT_EQ(Cmd("element", Args({sim::Json("textpad.saveName")}))["value"].as_string(), "Report.txt");
  EXPECT_EQ(P().ax().SetAttributeValue(field, "AXFocused", Value(true)), platform::kAXErrorSuccess);
  EXPECT_EQ(Cmd("app", Args({sim::Json(501)}))["focusedElement"].as_string(), "textpad.saveName");
  // Not settable: the window title.
  AXElement win = Elem(app, "AXFocusedWindow");
  EXPECT_NE(P().ax().SetAttributeValue(win, "AXTitle", Value("x")), platform::kAXErrorSuccess);
  EXPECT_EQ(P().ax().SetAttributeValue(app, "AXEnhancedUserInterface", Value(true)), platform::kAXErrorSuccess);
  EXPECT_TRUE(Cmd("app", Args({sim::Json(501)}))["enhancedUserInterface"].as_bool());
}

TEST_F(SimAccessibilityTest, PressRunsEffectsAndRaiseReorders) {
  AXElement app = P().ax().CreateApplication(501);
  AXElement ok;
  ASSERT_EQ(P().ax().CopyElementAtPosition(app, 750, 270, &ok), platform::kAXErrorSuccess);
  EXPECT_EQ(Str(ok, "AXIdentifier"), "OKButton");
  EXPECT_EQ(P().ax().PerformAction(ok, "AXPress"), platform::kAXErrorSuccess);
  EXPECT_EQ(Cmd("element", Args({sim::Json("textpad.saveOK")}))["pressCount"].as_int(), 1);
  EXPECT_TRUE(Cmd("element", Args({sim::Json("textpad.saveSheet")}))["hidden"].as_bool());
  EXPECT_EQ(Str(Elem(app, "AXFocusedWindow"), "AXTitle"), "Report.txt");
  EXPECT_EQ(P().ax().PerformAction(ok, "AXNoSuchAction"), platform::kAXErrorActionUnsupported);

  Value windows;
  P().ax().CopyAttributeValue(app, "AXWindows", &windows);
  AXElement doc2 = *(*windows.array())[1].element();
  EXPECT_EQ(P().ax().PerformAction(doc2, "AXRaise"), platform::kAXErrorSuccess);
  auto list = P().windows().CopyWindowList(platform::WindowListOption::kAll);
  ASSERT_TRUE(list);
  auto number = [&](size_t i) {
    return (*list)[i].dict()->at(platform::kWindowNumber).number()->value;
  };
  EXPECT_EQ(number(0), 401);  // the nested panel travels with its window
  EXPECT_EQ(number(1), 102);
  EXPECT_EQ(Elem(app, "AXMainWindow").SameAs(doc2), true);
}

TEST_F(SimAccessibilityTest, ParentChainAndSurfaceOwnedByAnotherProcess) {
  AXElement app = P().ax().CreateApplication(501);
  AXElement panel;
  // Right of window 101, window 102's open panel shows its file list.
  ASSERT_EQ(P().ax().CopyElementAtPosition(app, 1050, 330, &panel), platform::kAXErrorSuccess);
  EXPECT_EQ(Str(panel, "AXTitle"), "Document 0.txt");
  for (int i = 0; i < 8 && panel && Str(panel, "AXRole") != "AXSheet"; ++i)
    panel = Elem(panel, "AXParent");
  ASSERT_EQ(Str(panel, "AXRole"), "AXSheet");
  pid_t pid = 0;
  P().ax().GetPid(panel, &pid);
  EXPECT_EQ(pid, 504);
  uint32_t number = 0;
  P().ax().GetWindow(panel, &number);
  EXPECT_EQ(number, 401u);
  AXElement host = Elem(panel, "AXParent");
  P().ax().GetWindow(host, &number);
  EXPECT_EQ(number, 102u);
  EXPECT_TRUE(Elem(host, "AXParent").SameAs(app));
}

TEST_F(SimAccessibilityTest, FaultsAndBlocksHitTheNamedOperation) {
  AXElement app = P().ax().CreateApplication(501);
  Cmd("injectFault", Args({ParseJson(R"({"op": "CopyAttributeValue", "attribute": "AXWindows", "error": -25211})")}));
  Value v;
  EXPECT_EQ(P().ax().CopyAttributeValue(app, "AXRole", &v), platform::kAXErrorSuccess);
  EXPECT_EQ(P().ax().CopyAttributeValue(app, "AXWindows", &v), platform::kAXErrorAPIDisabled);
  EXPECT_EQ(P().ax().CopyAttributeValue(app, "AXWindows", &v), platform::kAXErrorSuccess);  // one shot

  Cmd("injectFault", Args({ParseJson(R"({"op": "CopyWindowList", "quit": true, "quitPid": 502})")}));
  auto list = P().windows().CopyWindowList(platform::WindowListOption::kAll);
  ASSERT_TRUE(list);
  for (auto& e : *list) EXPECT_NE(e.dict()->at(platform::kWindowOwnerPID).number()->value, 502);

  uint64_t id = Cmd("block", Args({ParseJson(R"({"op": "CopyAttributeValue", "attribute": "AXTitle"})")})).as_int();
  std::thread t([&] {
    Value title;
    P().ax().CopyAttributeValue(Elem(app, "AXFocusedWindow"), "AXTitle", &title);
  });
  for (int i = 0; i < 2000 && !Cmd("isBlocked", Args({sim::Json(id)})).as_bool(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_TRUE(Cmd("isBlocked", Args({sim::Json(id)})).as_bool());
  // The world is not locked while the call is parked.
  EXPECT_EQ(Str(app, "AXRole"), "AXApplication");
  Cmd("unblock", Args({sim::Json(id)}));
  t.join();
  EXPECT_FALSE(Cmd("isBlocked", Args({sim::Json(id)})).as_bool());
}

TEST_F(SimAccessibilityTest, GeneratedChildrenAndVisibleChildren) {
  Cmd("setElement", Args({sim::Json("settings.sidebar"), ParseJson(R"({
    "children": [{"generate": {"count": 600, "role": "AXRow", "idPrefix": "big", "title": "Row {i}"}}],
    "visibleChildren": ["big-10", "big-11"]})")}));
  AXElement app = P().ax().CreateApplication(502);
  AXElement list;
  ASSERT_EQ(P().ax().CopyElementAtPosition(app, 410, 600, &list), platform::kAXErrorSuccess);
  EXPECT_EQ(Str(list, "AXRole"), "AXList");
  int64_t count = 0;
  ASSERT_EQ(P().ax().GetAttributeValueCount(list, "AXChildren", &count), platform::kAXErrorSuccess);
  EXPECT_EQ(count, 600);
  Value vis;
  ASSERT_EQ(P().ax().CopyAttributeValue(list, "AXVisibleChildren", &vis), platform::kAXErrorSuccess);
  ASSERT_EQ(vis.array()->size(), 2u);
  EXPECT_EQ(Str(*(*vis.array())[1].element(), "AXTitle"), "Row 11");
}

}  // namespace
