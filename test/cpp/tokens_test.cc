// The token table: token strings, capture epochs (commit, delivery, discard)
// and the bounds on ephemeral tokens. Elements are counted fakes so every
// release can be checked.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "ax/token_table.h"

namespace addon {
namespace {

std::atomic<int64_t> g_live_fakes{0};

class FakeElement : public platform::ElementObject {
 public:
  FakeElement() { g_live_fakes.fetch_add(1); }
  void Retain() override { refs_.fetch_add(1); }
  void Release() override {
    if (refs_.fetch_sub(1) == 1) {
      g_live_fakes.fetch_sub(1);
      delete this;
    }
  }
  bool SameElement(const platform::ElementObject& other) const override { return &other == this; }
  size_t Hash() const override { return reinterpret_cast<size_t>(this); }

 private:
  std::atomic<int64_t> refs_{1};
};

platform::AXElement NewElement() { return platform::AXElement::Adopt(new FakeElement()); }

bool Resolves(const std::string& token) {
  platform::AXElement el;
  return ResolveToken(token, &el) && static_cast<bool>(el);
}

// A committed capture of `pid` holding `n` tokens.
struct Capture {
  uint64_t epoch;
  std::vector<std::string> tokens;
};
Capture CommitCapture(int32_t pid, int n = 2) {
  Capture c{NextCaptureEpoch(pid), {}};
  CaptureEpochGuard guard(pid, c.epoch);
  for (int i = 0; i < n; ++i) c.tokens.push_back(StoreToken(NewElement(), pid, c.epoch));
  guard.Commit();
  return c;
}
bool AllResolve(const Capture& c) {
  for (auto& t : c.tokens) {
    if (!Resolves(t)) return false;
  }
  return true;
}
bool NoneResolve(const Capture& c) {
  for (auto& t : c.tokens) {
    if (Resolves(t)) return false;
  }
  return true;
}

TEST(Tokens, StringsAreUniqueIncreasingAndStrictlyParsed) {
  std::string a = StoreToken(NewElement(), 10001, std::nullopt);
  std::string b = StoreToken(NewElement(), 10002, std::nullopt);
  ASSERT_EQ(a.rfind("axh-", 0), 0u);
  uint64_t na = std::stoull(a.substr(4)), nb = std::stoull(b.substr(4));
  EXPECT_GT(na, 0u);
  EXPECT_EQ(nb, na + 1);
  EXPECT_TRUE(Resolves(a));
  for (const char* bad : {"axh-0", "axh-", "axh", "", "AXH-1", "axh-+1", "axh- 1", "axh-1x",
                          "axh-99999999999999999999999"}) {
    EXPECT_FALSE(Resolves(bad)) << bad;
  }
  EXPECT_FALSE(Resolves("axh-0" + a.substr(4)));  // leading zero names no token
}

TEST(Tokens, ResolveHandsOutARetainedElementAndReplacesTheHolder) {
  int64_t before = g_live_fakes.load();
  std::string t = StoreToken(NewElement(), 10003, std::nullopt);
  platform::AXElement held = NewElement();
  EXPECT_EQ(g_live_fakes.load(), before + 2);
  ASSERT_TRUE(ResolveToken(t, &held));
  EXPECT_EQ(g_live_fakes.load(), before + 1);  // the holder's old element was released
}

TEST(CaptureEpochs, FirstEpochIsOneAndEpochsArePerPid) {
  EXPECT_EQ(NextCaptureEpoch(20001), 1u);
  EXPECT_EQ(NextCaptureEpoch(20001), 2u);
  EXPECT_EQ(NextCaptureEpoch(20002), 1u);
}

TEST(CaptureEpochs, FifthCommitOfAPidReleasesTheFirstEvenWhenDelivered) {
  const int32_t pid = 20010;
  std::vector<Capture> caps;
  for (int i = 0; i < 5; ++i) {
    caps.push_back(CommitCapture(pid));
    if (i == 0) {
      ASSERT_TRUE(MarkCaptureEpochDelivered(pid, caps[0].epoch));
    }
  }
  EXPECT_TRUE(NoneResolve(caps[0]));
  for (int i = 1; i < 5; ++i) EXPECT_TRUE(AllResolve(caps[i])) << i;
  EXPECT_FALSE(MarkCaptureEpochDelivered(pid, caps[0].epoch));
  // Another pid's captures are untouched by this pid's limit.
  Capture other = CommitCapture(20011);
  for (int i = 0; i < 4; ++i) CommitCapture(pid);
  EXPECT_TRUE(AllResolve(other));
}

TEST(CaptureEpochs, ThirtyThirdDeliveryReleasesTheFirstDelivered) {
  std::vector<std::pair<int32_t, Capture>> delivered;
  for (int i = 0; i < 33; ++i) {
    int32_t pid = 21000 + i;  // of any pids
    Capture c = CommitCapture(pid);
    ASSERT_TRUE(MarkCaptureEpochDelivered(pid, c.epoch));
    delivered.emplace_back(pid, c);
  }
  EXPECT_TRUE(NoneResolve(delivered[0].second));
  EXPECT_FALSE(MarkCaptureEpochDelivered(delivered[0].first, delivered[0].second.epoch));
  for (int i = 1; i < 33; ++i) EXPECT_TRUE(AllResolve(delivered[i].second)) << i;
}

TEST(CaptureEpochs, AcknowledgingTwiceAddsOneDeliveredEntry) {
  Capture first = CommitCapture(22000);
  EXPECT_TRUE(MarkCaptureEpochDelivered(22000, first.epoch));
  EXPECT_TRUE(MarkCaptureEpochDelivered(22000, first.epoch));
  for (int i = 1; i < 32; ++i) {
    Capture c = CommitCapture(22000 + i);
    ASSERT_TRUE(MarkCaptureEpochDelivered(22000 + i, c.epoch));
  }
  // 32 entries: the first one is still the oldest kept.
  EXPECT_TRUE(AllResolve(first));
  Capture one_more = CommitCapture(22100);
  ASSERT_TRUE(MarkCaptureEpochDelivered(22100, one_more.epoch));
  EXPECT_TRUE(NoneResolve(first));
}

TEST(CaptureEpochs, UncommittedAndUnknownEpochsCannotBeAcknowledged) {
  uint64_t e = NextCaptureEpoch(23000);
  EXPECT_FALSE(MarkCaptureEpochDelivered(23000, e));
  EXPECT_FALSE(MarkCaptureEpochDelivered(23000, e + 100));
  EXPECT_FALSE(MarkCaptureEpochDelivered(23001, 1));
}

TEST(CaptureEpochs, DiscardReleasesEveryTokenExactlyOnceAndIsRepeatable) {
  Capture c = CommitCapture(23010, 5);
  // Delivering may push another test's oldest delivery out: count after it.
  ASSERT_TRUE(MarkCaptureEpochDelivered(23010, c.epoch));
  int64_t before = g_live_fakes.load();
  DiscardCaptureEpoch(23010, c.epoch);
  EXPECT_TRUE(NoneResolve(c));
  EXPECT_EQ(g_live_fakes.load(), before - 5);
  DiscardCaptureEpoch(23010, c.epoch);  // harmless
  DiscardCaptureEpoch(23010, 999);      // unknown
  EXPECT_FALSE(MarkCaptureEpochDelivered(23010, c.epoch));
}

TEST(CaptureEpochs, AGuardThatIsNotCommittedDiscardsItsTokens) {
  int64_t before = g_live_fakes.load();
  std::string token;
  uint64_t epoch = NextCaptureEpoch(23020);
  {
    CaptureEpochGuard guard(23020, epoch);
    token = StoreToken(NewElement(), 23020, epoch);
    EXPECT_TRUE(Resolves(token));
  }
  EXPECT_FALSE(Resolves(token));
  EXPECT_EQ(g_live_fakes.load(), before);
  EXPECT_FALSE(MarkCaptureEpochDelivered(23020, epoch));
}

TEST(EphemeralTokens, PerPidLimitEvictsThatPidsOldest) {
  const int32_t pid = 24000;
  std::vector<std::string> tokens;
  for (int i = 0; i < 257; ++i) tokens.push_back(StoreToken(NewElement(), pid, std::nullopt));
  EXPECT_FALSE(Resolves(tokens[0]));
  EXPECT_TRUE(Resolves(tokens[1]));
  EXPECT_TRUE(Resolves(tokens[256]));
}

TEST(EphemeralTokens, OverallLimitEvictsTheOldestOfAnyPid) {
  std::vector<std::string> tokens;
  // Five pids in turn stay under the per-pid limit (205 each).
  for (int i = 0; i < 1025; ++i) {
    tokens.push_back(StoreToken(NewElement(), 25000 + i % 5, std::nullopt));
  }
  EXPECT_FALSE(Resolves(tokens[0]));
  for (int i = 1; i < 1025; i += 97) EXPECT_TRUE(Resolves(tokens[i])) << i;
  EXPECT_TRUE(Resolves(tokens[1024]));
}

TEST(EphemeralTokens, CaptureTokensDoNotCountAgainstEphemeralLimits) {
  Capture c = CommitCapture(26000, 300);
  std::vector<std::string> ephemeral;
  for (int i = 0; i < 256; ++i) ephemeral.push_back(StoreToken(NewElement(), 26000, std::nullopt));
  EXPECT_TRUE(AllResolve(c));
  EXPECT_TRUE(Resolves(ephemeral[0]));
}

}  // namespace
}  // namespace addon
