// The simulated desktop's workspace, window server, events, security and
// clock as the core sees them.
#include <atomic>
#include <cerrno>
#include <thread>

#include "sim_test_util.h"

using namespace simtest;
using platform::Event;
using platform::EventType;

namespace {

class SimDesktopTest : public SimTest {};

Event Key(EventType type, uint16_t keycode, std::u16string text) {
  Event e;
  e.type = type;
  e.keycode = keycode;
  e.unicode = std::move(text);
  return e;
}

Event Mouse(EventType type, double x, double y) {
  Event e;
  e.type = type;
  e.location = {x, y};
  return e;
}

std::string Value(const std::string& id) {
  return Cmd("element", Args({sim::Json(id)}))["value"].str_or("");
}

TEST_F(SimDesktopTest, EmptyDesktopHasOneRetinaDisplayAndNoApplications) {
  Cmd("reset");
  std::vector<platform::DisplayInfo> displays;
  ASSERT_TRUE(P().windows().GetActiveDisplays(16, &displays));
  ASSERT_EQ(displays.size(), 1u);
  EXPECT_EQ(displays[0].id, P().windows().MainDisplayId());
  EXPECT_EQ(displays[0].bounds.width, 1440);
  EXPECT_EQ(displays[0].pixel_width, 2880);
  EXPECT_TRUE(P().workspace().RunningApplications().empty());
  EXPECT_TRUE(P().ax().IsProcessTrusted(false));
  EXPECT_EQ(P().security().PreflightScreenCaptureAccess(), std::optional<bool>(true));
  EXPECT_EQ(P().workspace().FrontmostApplicationPid(), 0);
  EXPECT_EQ(P().workspace().OsVersion(), std::optional(std::make_pair(14, 5)));
}

TEST_F(SimDesktopTest, WindowListKeepsOrderFiltersAndMalformedKeys) {
  Cmd("setWindow", Args({sim::Json(201), ParseJson(R"({"omitKeys": ["kCGWindowName"],
      "badKeys": {"kCGWindowLayer": "0"}})")}));
  Cmd("setWindow", Args({sim::Json(301), ParseJson(R"({"onScreen": false})")}));
  auto all = P().windows().CopyWindowList(platform::WindowListOption::kAll);
  auto on = P().windows().CopyWindowList(platform::WindowListOption::kOnScreenOnlyExcludingDesktop);
  ASSERT_TRUE(all && on);
  std::vector<int> numbers;
  for (auto& e : *all) numbers.push_back(static_cast<int>(e.dict()->at(platform::kWindowNumber).number()->value));
  EXPECT_EQ(numbers, (std::vector<int>{111, 101, 401, 102, 201, 301, 300}));
  EXPECT_EQ(on->size(), 5u);  // no off-screen Finder window, no desktop
  const platform::Dict& settings = *(*all)[4].dict();
  EXPECT_EQ(settings.count(platform::kWindowName), 0u);
  EXPECT_TRUE(settings.at(platform::kWindowLayer).string());
  EXPECT_TRUE(settings.at(platform::kWindowNumber).number()->integral_type);
  const platform::Dict& bounds = *settings.at(platform::kWindowBounds).dict();
  EXPECT_EQ(bounds.at("Width").number()->value, 680);
  Cmd("injectFault", Args({ParseJson(R"({"op": "CopyWindowList", "error": -1})")}));
  EXPECT_FALSE(P().windows().CopyWindowList(platform::WindowListOption::kAll));
}

TEST_F(SimDesktopTest, TypingReachesTheFocusedTextElement) {
  std::string before = Value("textpad.text");
  for (char16_t c : std::u16string(u"Hi é")) {
    ASSERT_TRUE(P().events().Post(platform::EventTap::kHID, Key(EventType::kKeyDown, 0, {c})));
    P().events().Post(platform::EventTap::kHID, Key(EventType::kKeyUp, 0, {c}));
  }
  EXPECT_EQ(Value("textpad.text"), before + "Hi é");
  P().events().Post(platform::EventTap::kHID, Key(EventType::kKeyDown, 51, u""));
  EXPECT_EQ(Value("textpad.text"), before + "Hi ");
  // Command shortcuts do not type.
  Event cmd = Key(EventType::kKeyDown, 0, u"a");
  cmd.flags = platform::kFlagMaskCommand;
  P().events().Post(platform::EventTap::kHID, cmd);
  EXPECT_EQ(Value("textpad.text"), before + "Hi ");
  // Posting to a pid types into that application even when it is not frontmost.
  Cmd("setApp", Args({sim::Json(502), ParseJson(R"({"focusedElement": "settings.autosave"})")}));
  P().events().PostToPid(501, Key(EventType::kKeyDown, 0, u"!"));
  EXPECT_EQ(Value("textpad.text"), before + "Hi !");
  sim::Json events = Cmd("events");
  ASSERT_GE(events.size(), 10u);
  EXPECT_EQ(events[0]["route"].as_string(), "hid");
  EXPECT_EQ(events[0]["pid"].as_int(), 501);
  EXPECT_EQ(events[0]["unicode"].as_string(), "H");
  EXPECT_EQ(events[events.size() - 1]["route"].as_string(), "pid");
}

TEST_F(SimDesktopTest, ClickPressesActivatesAndMovesThePointer) {
  Cmd("setFrontmost", Args({sim::Json(502)}));
  std::atomic<int> notified{0};
  uint64_t token = P().workspace().AddActivationObserver([&](pid_t pid) {
    if (pid == 501) notified++;
  });
  P().app_loop().RunOnce();  // drains the activation of 502
  // (150, 120) is TextPad's Bold button; Settings' window is elsewhere.
  P().events().Post(platform::EventTap::kHID, Mouse(EventType::kMouseMoved, 150, 120));
  platform::Point p;
  ASSERT_TRUE(P().windows().CurrentPointerLocation(&p));
  EXPECT_EQ(p.x, 150);
  P().events().Post(platform::EventTap::kHID, Mouse(EventType::kLeftMouseDown, 150, 120));
  P().events().Post(platform::EventTap::kHID, Mouse(EventType::kLeftMouseUp, 150, 120));
  EXPECT_EQ(Cmd("element", Args({sim::Json("textpad.bold")}))["pressCount"].as_int(), 1);
  EXPECT_EQ(P().workspace().FrontmostApplicationPid(), 501);
  pid_t front = 0;
  ASSERT_TRUE(P().workspace().GetFrontProcessPid(&front));
  EXPECT_EQ(front, 501);
  EXPECT_EQ(notified.load(), 0);  // only the host loop's turn delivers
  P().app_loop().RunOnce();
  EXPECT_EQ(notified.load(), 1);
  P().workspace().RemoveActivationObserver(token);
  // Down on one element and up on another is no click.
  P().events().Post(platform::EventTap::kHID, Mouse(EventType::kLeftMouseDown, 150, 120));
  P().events().Post(platform::EventTap::kHID, Mouse(EventType::kLeftMouseUp, 220, 120));
  EXPECT_EQ(Cmd("element", Args({sim::Json("textpad.bold")}))["pressCount"].as_int(), 1);
}

TEST_F(SimDesktopTest, ApplicationsLivenessAndTermination) {
  auto apps = P().workspace().RunningApplications();
  ASSERT_EQ(apps.size(), 4u);
  EXPECT_EQ(apps[3].activation_policy, platform::ActivationPolicy::kAccessory);
  EXPECT_TRUE(apps[0].active);
  Cmd("setApp", Args({sim::Json(503), ParseJson(R"({"otherUser": true})")}));
  EXPECT_EQ(P().workspace().SignalZero(501), 0);
  EXPECT_EQ(P().workspace().SignalZero(503), EPERM);
  EXPECT_EQ(P().workspace().SignalZero(9999), ESRCH);
  EXPECT_EQ(P().workspace().SignalZero(P().workspace().SelfPid()), 0);
  EXPECT_TRUE(P().workspace().ForceTerminate(502));
  EXPECT_FALSE(P().workspace().ForceTerminate(502));
  EXPECT_FALSE(P().workspace().RunningApplicationWithPid(502));
  EXPECT_EQ(P().workspace().SignalZero(502), ESRCH);
}

TEST_F(SimDesktopTest, OpenApplicationLaunchesLateWithoutStealingFocus) {
  std::string url = P().workspace().UrlForApplicationWithBundleId("com.korvo.calc");
  EXPECT_EQ(url, "file:///Applications/Calc.app/");
  EXPECT_EQ(P().workspace().FullPathForApplication("Calc"), "/Applications/Calc.app");
  EXPECT_EQ(P().workspace().UrlForApplicationWithBundleId("com.nobody"), "");
  Cmd("install", Args({ParseJson(R"({"bundleId": "com.korvo.Calc", "name": "Calc",
      "path": "/Applications/Calc.app", "app": {"pid": 510}, "openResult": {"delayMs": 60000}})")}));
  std::atomic<int> calls{0};
  std::atomic<pid_t> got{0};
  platform::OpenConfiguration config;
  config.activates = false;
  P().workspace().OpenApplication(url, config, [&](int64_t err, pid_t pid) {
    EXPECT_EQ(err, 0);
    got = pid;
    calls++;
  });
  EXPECT_TRUE(P().workspace().RunningApplicationWithPid(510));
  EXPECT_EQ(P().workspace().FrontmostApplicationPid(), 501);
  EXPECT_EQ(calls.load(), 0);
  Cmd("advanceClock", Args({sim::Json(60000)}));
  for (int i = 0; i < 2000 && calls.load() == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(calls.load(), 1);
  EXPECT_EQ(got.load(), 510);
  // Opening a running application answers the running one.
  Cmd("install", Args({ParseJson(R"({"bundleId": "com.korvo.Calc", "name": "Calc",
      "path": "/Applications/Calc.app", "openResult": {"error": 0}})")}));
  std::atomic<pid_t> again{0};
  P().workspace().OpenApplication(url, config, [&](int64_t, pid_t pid) { again = pid; });
  for (int i = 0; i < 2000 && again.load() == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(again.load(), 510);
  Cmd("injectFault", Args({ParseJson(R"({"op": "OpenApplication", "error": -10810})")}));
  std::atomic<int64_t> err{0};
  P().workspace().OpenApplication(url, config, [&](int64_t e, pid_t) { err = e; });
  for (int i = 0; i < 2000 && err.load() == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(err.load(), -10810);
}

TEST_F(SimDesktopTest, CodeSigningRequirements) {
  auto& sec = P().security();
  using R = platform::RequirementResult;
  EXPECT_EQ(sec.CheckRequirementForPid(501, "identifier \"com.korvo.TextPad\" and anchor apple generic and "
                                            "certificate leaf[subject.OU] = \"KORVO12345\""),
            R::kSatisfied);
  EXPECT_EQ(sec.CheckRequirementForPid(501, "identifier \"com.korvo.TextPad\" and certificate "
                                            "leaf[subject.OU] = \"OTHERTEAM\""),
            R::kNotSatisfied);
  EXPECT_EQ(sec.CheckRequirementForPid(503, "anchor apple"), R::kSatisfied);
  EXPECT_EQ(sec.CheckRequirementForPid(501, "anchor apple"), R::kNotSatisfied);
  EXPECT_EQ(sec.CheckRequirementForPid(503, "identifier com.apple.finder"), R::kSatisfied);
  EXPECT_EQ(sec.CheckRequirementForPid(501, "identifier \"com.x\" or (anchor apple generic)"), R::kSatisfied);
  for (const char* bad : {"", "identifier", "identifier \"x", "anchor apple and", "((anchor apple)",
                          "certificate leaf[subject.OU = \"x\"", "garbage words here", "identifier \"a\" ;"})
    EXPECT_EQ(sec.CheckRequirementForPid(501, bad), R::kInvalidRequirement) << bad;
  EXPECT_EQ(sec.CheckRequirementForPid(9999, "anchor apple"), R::kNoCode);
  platform::AuditToken token{};
  token[20] = 501 & 0xFF;
  token[21] = 501 >> 8;
  auto info = sec.SigningInfoForAuditToken(token);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->team_identifier, std::optional<std::string>("KORVO12345"));
  EXPECT_EQ(sec.ResponsiblePidForPid(504), std::optional<pid_t>(501));
  Cmd("setPermissions", Args({ParseJson(R"({"responsibilityAvailable": false, "preflightAvailable": false})")}));
  EXPECT_FALSE(sec.ResponsiblePidForPid(504));
  EXPECT_FALSE(sec.PreflightScreenCaptureAccess());
}

TEST_F(SimDesktopTest, PrivateEntriesAndEventRecords) {
  auto& priv = P().private_api();
  EXPECT_TRUE(priv.Lookup(platform::kSkyLightPath, "SLEventPostToPid"));
  Cmd("setPrivateEntriesAbsent", Args({ParseJson(R"(["SLEventPostToPid"])")}));
  EXPECT_FALSE(priv.Lookup(platform::kSkyLightPath, "SLEventPostToPid"));
  platform::ProcessSerialNumber psn;
  EXPECT_EQ(priv.GetProcessForPid(501, &psn), 0);
  EXPECT_NE(priv.GetProcessForPid(9999, &psn), 0);
  std::array<uint8_t, 248> record{};
  record[4] = 0xF8;
  record[8] = 0x0D;
  record[0x3C] = 101;
  record[0x8A] = 1;
  EXPECT_EQ(priv.PostEventRecordTo(psn, record), 0);
  sim::Json events = Cmd("events");
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0]["route"].as_string(), "event_record");
  EXPECT_EQ(events[0]["recordWindowId"].as_int(), 101);
  EXPECT_EQ(events[0]["recordFocus"].as_int(), 1);
  uint32_t mask = 0;
  int32_t conn = priv.MainConnectionId();
  EXPECT_NE(conn, 0);
  ASSERT_EQ(priv.GetWindowEventMask(conn, 101, &mask), 0);
  EXPECT_TRUE(mask & 2);
  Cmd("setWindow", Args({sim::Json(101), ParseJson(R"({"acceptsMouseDown": false})")}));
  ASSERT_EQ(priv.GetWindowEventMask(conn, 101, &mask), 0);
  EXPECT_FALSE(mask & 2);
  EXPECT_NE(priv.GetWindowEventMask(conn, 4242, &mask), 0);
  Event e = Key(EventType::kKeyDown, 0, u"x");
  priv.EventSetIntegerValueField(&e, platform::kFieldEventSourceUserData, 77);
  priv.EventSetWindowLocation(&e, {5, 6});
  priv.EventPostToPid(501, e);
  events = Cmd("events");
  EXPECT_EQ(events[1]["route"].as_string(), "private_pid");
  EXPECT_EQ(events[1]["fields"]["42"].as_int(), 77);
  EXPECT_EQ(events[1]["windowLocation"]["y"].as_double(), 6);
}

TEST_F(SimDesktopTest, WindowImagesAreRealPicturesAtDisplayScale) {
  platform::Image img = P().windows().CreateSingleWindowImage(101);
  ASSERT_TRUE(img);
  EXPECT_EQ(img->width, 1800);
  EXPECT_EQ(img->height, 1280);
  std::set<uint32_t> colours;
  for (size_t i = 0; i < img->rgba.size(); i += 4 * 97) {
    uint32_t c = img->rgba[i] | img->rgba[i + 1] << 8 | img->rgba[i + 2] << 16;
    colours.insert(c);
  }
  EXPECT_GT(colours.size(), 5u);
  EXPECT_FALSE(P().windows().CreateSingleWindowImage(4242));
  Cmd("setPermissions", Args({ParseJson(R"({"screenRecording": false})")}));
  EXPECT_FALSE(P().windows().CreateSingleWindowImage(101));
  auto icon = P().workspace().IconForFile("/Applications/TextPad.app", 32);
  ASSERT_TRUE(icon);
  EXPECT_EQ(icon->width, 32);
}

TEST_F(SimDesktopTest, ScaledClockRunsFasterAndJumps) {
  auto& clock = P().clock();
  Cmd("setTimeScale", Args({sim::Json(100.0)}));
  auto real0 = std::chrono::steady_clock::now();
  auto sim0 = clock.Now();
  clock.SleepFor(std::chrono::seconds(2));
  EXPECT_GE(clock.Now() - sim0, std::chrono::seconds(2));
  EXPECT_LT(std::chrono::steady_clock::now() - real0, std::chrono::milliseconds(1000));
  Cmd("setTimeScale", Args({sim::Json(1.0)}));
  std::atomic<bool> woke{false};
  std::thread sleeper([&] {
    clock.SleepFor(std::chrono::hours(1));
    woke = true;
  });
  // The sleeper may not have started yet: keep jumping until it wakes.
  for (int i = 0; i < 2000 && !woke.load(); ++i) {
    Cmd("advanceClock", Args({sim::Json(3600.0 * 1000)}));
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  sleeper.join();
  EXPECT_TRUE(woke.load());
}

}  // namespace
