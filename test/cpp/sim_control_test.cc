// The simulated desktop's scene JSON, control commands and hooks.
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <random>
#include <thread>

#include "sim/hooks.h"
#include "sim/sim_clock.h"
#include "sim_test_util.h"

using namespace simtest;

namespace {

TEST(SimJson, ParsesAndDumpsFaithfully) {
  sim::Json j = ParseJson(R"({"a": [1, 2.5, 3.0, -4e2, true, null], "s": "é\u00e9\ud83d\ude00\n\"", "o": {}})");
  EXPECT_TRUE(j["a"][0].is_int());
  EXPECT_FALSE(j["a"][2].is_int());  // 3.0 stays a real
  EXPECT_EQ(j["a"][3].as_double(), -400);
  EXPECT_EQ(j["s"].as_string(), "éé\xF0\x9F\x98\x80\n\"");
  EXPECT_TRUE(j["a"][99].is_null());
  EXPECT_TRUE(j["missing"]["deeper"].is_null());
  sim::Json back = ParseJson(j.Dump());
  EXPECT_EQ(back.Dump(), j.Dump());
  sim::Json out;
  std::string error;
  for (const char* bad : {"", "{", "[1,]", "{\"a\" 1}", "\"open", "tru", "01x", "[1] 2", "{\"a\":\"\\q\"}"})
    EXPECT_FALSE(sim::Json::Parse(bad, &out, &error)) << bad;
  std::string deep(2000, '[');
  EXPECT_FALSE(sim::Json::Parse(deep, &out, &error));
}

TEST(SimJson, StrictNumbersAndStringsIntegersExact) {
  sim::Json out;
  std::string error;
  // Leading zeros, a bare point and a lone surrogate are not JSON.
  for (const char* bad :
       {"01", "[1.]", "-", "[.5]", R"("\ud800")", R"("\udc00x")", "NaN", "1e400"}) {
    EXPECT_FALSE(sim::Json::Parse(bad, &out, &error)) << bad;
    EXPECT_FALSE(error.empty());
  }
  // Integers past 2^53 stay exact and stay integers.
  sim::Json j = ParseJson("[9007199254740993, -9223372036854775808, 18446744073709551615]");
  EXPECT_TRUE(j[0].is_int());
  EXPECT_EQ(j[0].as_int(), 9007199254740993);
  EXPECT_EQ(j[0].Dump(), "9007199254740993");
  EXPECT_EQ(j[1].as_int(), INT64_MIN);
  // Past int64 a number is a real, and converting it to an integer answers
  // the default instead of overflowing.
  EXPECT_FALSE(j[2].is_int());
  EXPECT_EQ(j[2].as_int(-1), -1);
  EXPECT_EQ(sim::Json(1e300).as_int(7), 7);
  EXPECT_EQ(sim::Json(std::nan("")).as_int(7), 7);
  EXPECT_EQ(sim::Json(-2.9).as_int(), -2);
  EXPECT_EQ(sim::Json(std::nan("")).Dump(), "null");
  // Member order survives a round trip.
  EXPECT_EQ(ParseJson(R"({"z":1,"a":[],"m":{"y":true,"b":null}})").Dump(),
            R"({"z":1,"a":[],"m":{"y":true,"b":null}})");
}

TEST(SimControl, CommandsAnswerErrorsInsteadOfCrashing) {
  EXPECT_NE(sim::RunCommandJson("noSuchCommand", "[]").find("error"), std::string::npos);
  EXPECT_NE(sim::RunCommandJson("setElement", "[\"nope\", {}]").find("no element nope"), std::string::npos);
  EXPECT_NE(sim::RunCommandJson("loadScene", "[1").find("bad arguments"), std::string::npos);
  EXPECT_NE(sim::RunCommandJson("injectFault", "[{}]").find("op name"), std::string::npos);
  EXPECT_NE(sim::RunCommandJson("setTimeScale", "[0]").find("positive"), std::string::npos);
  // Missing arguments read as null and never index out of range.
  for (const char* name : {"quitApp", "relaunch", "addWindow", "moveWindow", "setWindow", "setAttribute",
                           "setApp", "setFrontmost", "element", "app", "unblock", "isBlocked", "press"})
    EXPECT_FALSE(sim::RunCommandJson(name, "[]").empty()) << name;
}

TEST(SimControl, SetElementReplacesChildrenAndAddsSurfaces) {
  LoadSample();
  Cmd("setElement", Args({sim::Json("settings.main"), ParseJson(R"({"children": [
      {"id": "settings.dialog", "role": "AXSheet", "windowNumber": 250, "frame": [450, 250, 300, 200],
       "children": [{"id": "settings.dialog.ok", "role": "AXButton", "title": "OK"}]}]})")}));
  EXPECT_EQ(Cmd("element", Args({sim::Json("settings.dialog.ok")}))["parent"].as_string(), "settings.dialog");
  EXPECT_FALSE(Cmd("element", Args({sim::Json("settings.volume")}))["alive"].as_bool());
  sim::Json windows = Cmd("windows");
  std::vector<int64_t> numbers;
  for (auto& w : windows.items()) numbers.push_back(w["number"].as_int());
  auto at = std::find(numbers.begin(), numbers.end(), 250);
  ASSERT_NE(at, numbers.end());
  EXPECT_EQ(*(at + 1), 201);  // just in front of its host
  platform::AXElement app = P().ax().CreateApplication(502);
  platform::AXElement hit;
  ASSERT_EQ(P().ax().CopyElementAtPosition(app, 460, 260, &hit), platform::kAXErrorSuccess);
  uint32_t number = 0;
  P().ax().GetWindow(hit, &number);
  EXPECT_EQ(number, 250u);
  Cmd("reset");
}

TEST(SimHooks, ResetReleasesParkedCallsAndFaultsCountDown) {
  LoadSample();
  uint64_t id = Cmd("block", Args({ParseJson(R"({"op": "CopyWindowList"})")})).as_int();
  std::atomic<bool> done{false};
  std::thread t([&] {
    P().windows().CopyWindowList(platform::WindowListOption::kAll);
    done = true;
  });
  for (int i = 0; i < 2000 && !Cmd("isBlocked", Args({sim::Json(id)})).as_bool(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_FALSE(done.load());
  Cmd("reset");
  t.join();
  EXPECT_TRUE(done.load());

  LoadSample();
  Cmd("injectFault", Args({ParseJson(R"({"op": "Activate", "pid": 502, "error": 1, "count": -1})")}));
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(P().workspace().Activate(502, 2));
  EXPECT_TRUE(P().workspace().Activate(503, 2));
  Cmd("clearFaults");
  EXPECT_TRUE(P().workspace().Activate(502, 2));
  Cmd("reset");
}

TEST(SimSecurity, ArbitraryRequirementTextNeverCrashes) {
  LoadSample();
  std::mt19937 rng(7);
  const std::string alphabet = "identifier anchor apple generic certificate leaf[subject.OU]=\"()!&|and or x";
  for (int i = 0; i < 2000; ++i) {
    std::string text;
    int len = static_cast<int>(rng() % 60);
    for (int k = 0; k < len; ++k) text.push_back(alphabet[rng() % alphabet.size()]);
    auto r = P().security().CheckRequirementForPid(501, text);
    EXPECT_TRUE(r == platform::RequirementResult::kSatisfied || r == platform::RequirementResult::kNotSatisfied ||
                r == platform::RequirementResult::kInvalidRequirement);
  }
  // Deep nesting is refused instead of recursing until the stack runs out;
  // modest nesting still compiles.
  const std::string deep = std::string(100000, '(') + "anchor apple" + std::string(100000, ')');
  EXPECT_EQ(P().security().CheckRequirementForPid(501, deep), platform::RequirementResult::kInvalidRequirement);
  const std::string bangs = std::string(100000, '!') + "anchor apple";
  EXPECT_EQ(P().security().CheckRequirementForPid(501, bangs), platform::RequirementResult::kInvalidRequirement);
  const std::string some = std::string(8, '(') + "anchor apple" + std::string(8, ')');
  EXPECT_NE(P().security().CheckRequirementForPid(501, some), platform::RequirementResult::kInvalidRequirement);
  Cmd("reset");
}

TEST(SimKeyboard, UsLayoutWithShift) {
  auto& kb = P().keyboard();
  EXPECT_EQ(kb.Translate(0, 0), std::optional<std::u16string>(u"a"));
  EXPECT_EQ(kb.Translate(0, platform::kFlagMaskShift), std::optional<std::u16string>(u"A"));
  EXPECT_EQ(kb.Translate(18, platform::kFlagMaskShift), std::optional<std::u16string>(u"!"));
  EXPECT_EQ(kb.Translate(122, 0), std::optional<std::u16string>(u""));  // F1 types nothing
  Cmd("setOptions", Args({ParseJson(R"({"keyboardLayout": false})")}));
  EXPECT_FALSE(kb.Translate(0, 0));
  Cmd("reset");
  EXPECT_EQ(kb.CurrentInputSourceId(), "com.apple.keylayout.US");
}

}  // namespace

namespace {

TEST(SimClock, SteppedTimeMovesOnlyByStepsAndFiresDueWorkOnThem) {
  sim::SimClock& clock = sim::Clock();
  clock.SetStepped(true);
  const platform::TimePoint t0 = clock.Now();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(clock.Now(), t0) << "stepped time stands still";

  std::atomic<bool> fired{false};
  ASSERT_TRUE(clock.CallAt(t0 + std::chrono::milliseconds(100), [&] { fired = true; }));
  std::atomic<bool> woke{false};
  std::thread sleeper([&] {
    clock.SleepFor(std::chrono::milliseconds(150));
    woke = true;
  });
  while (clock.Waiters() < 1) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  clock.Advance(std::chrono::milliseconds(99));
  while (clock.StaleWaiters() > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_FALSE(fired.load());
  EXPECT_FALSE(woke.load());
  clock.Advance(std::chrono::milliseconds(1));
  for (int i = 0; i < 2000 && !fired; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_TRUE(fired.load()) << "due work runs on the step that reaches it";
  EXPECT_FALSE(woke.load());
  clock.Advance(std::chrono::milliseconds(50));
  sleeper.join();
  EXPECT_TRUE(woke.load());
  EXPECT_EQ(clock.Now(), t0 + std::chrono::milliseconds(150));

  clock.ResetScale();
  EXPECT_FALSE(clock.Stepped());
  EXPECT_FALSE(clock.CallAt(clock.Now(), [] {})) << "real time keeps the caller's own timers";
}

}  // namespace
