// The poster and the input worker's start: what reaches the simulated
// desktop when deliveries fail, and the refusals of a queued sequence.
#include <gtest/gtest.h>

#include "input/holds.h"
#include "input/input_worker.h"
#include "input/key_poster.h"
#include "key_test_util.h"
#include "sim_test_util.h"

namespace addon {
namespace {

using simtest::Args;
using simtest::Cmd;

constexpr int32_t kPid = 501;

// The journal as compact text: "d18 u18 d[cd] u[cd]" (flags shown when set).
std::string Journal() {
  std::string out;
  const sim::Json events = Cmd("events");
  for (const sim::Json& e : events.items()) {
    KeyIntent i;
    i.kind = e["type"].as_string() == "keyUp" ? KeyIntent::Kind::kKeyUp : KeyIntent::Kind::kKeyDown;
    i.keycode = static_cast<uint16_t>(e["keycode"].as_int());
    const sim::Json units = e["unicodeUnits"];
    for (const sim::Json& u : units.items()) i.unicode.push_back(static_cast<char16_t>(u.as_int()));
    i.set_flags = e["flagsSet"].as_bool();
    i.flags = static_cast<uint64_t>(e["flags"].as_int());
    if (!out.empty()) out += " ";
    out += keytest::Describe(i);
  }
  return out;
}

void FailNext(const char* op) {
  sim::Json spec;
  std::string error;
  ASSERT_TRUE(sim::Json::Parse(std::string(R"({"op": ")") + op + R"(", "error": -1})", &spec, &error));
  Cmd("injectFault", Args({spec}));
}

class KeyPoster : public ::testing::Test {
 protected:
  void SetUp() override {
    simtest::LoadSample();
    Cmd("setTimeScale", Args({sim::Json(1000.0)}));  // pauses pass quickly
    Cmd("setAttribute", Args({sim::Json("textpad.text"), sim::Json("AXValue"), sim::Json("")}));
    Cmd("clearEvents");
  }
  void TearDown() override { Cmd("reset"); }
  std::string Text() { return Cmd("element", Args({sim::Json("textpad.text")}))["value"].as_string(); }
};

TEST_F(KeyPoster, AFailedUnicodeDeliveryEndsThatTextButNotTheTyping) {
  FailNext("PostToPid");
  KeyPlan plan = PlanTypeTextToPid(std::u16string(45, u'x') + u"1cd", nullptr);
  EXPECT_FALSE(RunKeyPlan(plan, KeyRoute::Process(kPid, 0), ""));
  // The first chunk's key-down was refused: no key-up, no further chunks; the
  // digit and the text after it still went out.
  EXPECT_EQ(Journal(), "d18 u18 d[cd] u[cd]");
  EXPECT_EQ(Text(), "1cd");
}

TEST_F(KeyPoster, AFailedKeyDownSendsNoKeyUp) {
  FailNext("PostToPid");
  EXPECT_FALSE(RunKeyPlan(PlanPressChord("cmd+c"), KeyRoute::Process(kPid, 0), ""));
  EXPECT_EQ(Journal(), "");
  EXPECT_TRUE(RunKeyPlan(PlanPressChord("cmd+c"), KeyRoute::Process(kPid, 0), ""));
  EXPECT_EQ(Journal(), "d8/100000 u8/100000");
  EXPECT_EQ(Text(), "") << "command chords type nothing";
}

TEST_F(KeyPoster, AFailedPressOfAChordHalfReleasesWhatWasPressed) {
  EXPECT_FALSE(RunKeyPlan(PlanChordHalf("cmd+shift+nokey", true), KeyRoute::Global(), ""));
  EXPECT_EQ(Journal(), "d55/100000 d56/120000 u56/100000 u55/0");
  EXPECT_TRUE(Cmd("heldKeys").is_object());
  EXPECT_EQ(Cmd("heldKeys", Args({sim::Json(static_cast<int64_t>(kPid))})).size(), 0u);
  // A successful press half leaves the keys down for the release half.
  Cmd("clearEvents");
  EXPECT_TRUE(RunKeyPlan(PlanChordHalf("shift+a", true), KeyRoute::Global(), ""));
  EXPECT_EQ(Cmd("heldKeys", Args({sim::Json(static_cast<int64_t>(kPid))})).size(), 2u);
  EXPECT_TRUE(RunKeyPlan(PlanChordHalf("shift+a", false), KeyRoute::Global(), ""));
  EXPECT_EQ(Journal(), "d56/20000 d0/20000 u0/20000 u56/0");
  EXPECT_EQ(Text(), "A");
}

TEST_F(KeyPoster, AHoldOfAnUnknownKeyReleasesItsModifiersWithoutWaiting) {
  Cmd("setTimeScale", Args({sim::Json(1.0)}));
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(RunKeyPlan(PlanHoldChord("cmd+nokey", 30), KeyRoute::Process(kPid, 0), ""));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << "no 30 s wait";
  EXPECT_EQ(Journal(), "d55/100000 u55/0");
}

TEST_F(KeyPoster, WindowPostingNeedsAWindowAPidAndAnEvent) {
  platform::Event e;
  EXPECT_FALSE(KorvoPostKeyboardEventToWindow(&e, kPid, 0));
  EXPECT_FALSE(KorvoPostKeyboardEventToWindow(&e, 0, 101));
  EXPECT_FALSE(KorvoPostKeyboardEventToWindow(nullptr, kPid, 101));
  EXPECT_EQ(Journal(), "");
}

TEST(InputWork, RefusalsBeforeTheWorkRuns) {
  auto& clock = platform::Get().clock();
  bool ran = false;
  auto work = [&] { return ran = true; };
  InputOutcome late = RunInputWork(clock.Now() - std::chrono::milliseconds(1), work, nullptr);
  EXPECT_EQ(late.error, "input_expired");
  EXPECT_FALSE(ran);
  {
    std::lock_guard<std::mutex> busy(InputSequenceMutex());
    InputOutcome o = RunInputWork(clock.Now() + kInputStartDeadline, work, nullptr);
    EXPECT_EQ(o.error, "input_busy");
    EXPECT_FALSE(ran);
  }
  InputOutcome ok = RunInputWork(clock.Now() + kInputStartDeadline, work, nullptr);
  EXPECT_TRUE(ok.ok);
  EXPECT_EQ(ok.error, "");
  auto fails = [] { return false; };
  EXPECT_EQ(RunInputWork(clock.Now() + kInputStartDeadline, fails, nullptr).error, "rejected");
  EXPECT_EQ(RunInputWork(clock.Now() + kInputStartDeadline, fails, [] { return true; }).error,
            "cancelled");
  EXPECT_EQ(RunInputWork(clock.Now() + kInputStartDeadline, fails, [] { return false; }).error,
            "rejected");
}

}  // namespace
}  // namespace addon
