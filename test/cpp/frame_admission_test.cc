// Admission counters and shared leases.
#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "admission.h"

namespace addon {
namespace {

TEST(Admission, SeventeenthCaptureIsRefusedWhileSixteenAreHeld) {
  std::atomic<int> counter{0};
  for (int i = 0; i < kCaptureAppWorkerLimit; ++i) ASSERT_TRUE(TryAdmit(counter, kCaptureAppWorkerLimit));
  EXPECT_FALSE(TryAdmit(counter, kCaptureAppWorkerLimit));
  EXPECT_EQ(counter.load(), 16);
  ReleaseAdmission(counter);
  EXPECT_TRUE(TryAdmit(counter, kCaptureAppWorkerLimit));
}

TEST(Admission, CounterNeverGoesBelowZero) {
  std::atomic<int> counter{0};
  ReleaseAdmission(counter);
  EXPECT_EQ(counter.load(), 0);
  ASSERT_TRUE(TryAdmit(counter, 2));
  ReleaseAdmission(counter);
  ReleaseAdmission(counter);
  EXPECT_EQ(counter.load(), 0);
}

TEST(Admission, ConcurrentAdmissionsNeverExceedTheLimit) {
  std::atomic<int> counter{0};
  std::atomic<int> admitted{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 1000; ++i) {
        if (TryAdmit(counter, kInputWorkerLimit)) admitted.fetch_add(1);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(admitted.load(), kInputWorkerLimit);
  EXPECT_EQ(counter.load(), kInputWorkerLimit);
}

TEST(Admission, LeaseSharedByThreeHoldersGivesItsSlotBackOnce) {
  std::atomic<int> counter{0};
  ASSERT_TRUE(TryAdmit(counter, 2));
  ASSERT_TRUE(TryAdmit(counter, 2));  // an unrelated slot that must survive
  auto lease = std::make_shared<WorkerAdmissionLease>(&counter);
  auto a = lease, b = lease, c = lease;
  lease.reset();
  a.reset();
  b.reset();
  EXPECT_EQ(counter.load(), 2);
  c.reset();
  EXPECT_EQ(counter.load(), 1);
}

TEST(Admission, ExplicitLeaseReleaseIsNotRepeatedByTheLastHolder) {
  std::atomic<int> counter{0};
  ASSERT_TRUE(TryAdmit(counter, 2));
  ASSERT_TRUE(TryAdmit(counter, 2));
  auto lease = std::make_shared<WorkerAdmissionLease>(&counter);
  auto completion = lease;
  lease->Release();  // a waiter gave up on a completion that never came
  EXPECT_EQ(counter.load(), 1);
  lease.reset();
  completion.reset();
  EXPECT_EQ(counter.load(), 1);
}

TEST(Admission, SlotIsGivenBackUnlessDismissed) {
  std::atomic<int> counter{0};
  ASSERT_TRUE(TryAdmit(counter, 1));
  { AdmissionSlot slot(&counter); }
  EXPECT_EQ(counter.load(), 0);
  ASSERT_TRUE(TryAdmit(counter, 1));
  {
    AdmissionSlot slot(&counter);
    EXPECT_EQ(slot.Dismiss(), &counter);
  }
  EXPECT_EQ(counter.load(), 1);
}

}  // namespace
}  // namespace addon
