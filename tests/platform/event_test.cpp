// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "klv/platform.h"

namespace klv::platform {
namespace {

using Mode = Event::Mode;

TEST(Event, ManualResetStaysSetForEveryWaiterUntilReset) {
  Event event(Mode::kManualReset);
  EXPECT_FALSE(event.Wait(0));
  event.Set();
  EXPECT_TRUE(event.Wait(0));
  EXPECT_TRUE(event.Wait(0));
  EXPECT_TRUE(event.IsSet());
  event.Reset();
  EXPECT_FALSE(event.Wait(0));
}

TEST(Event, AutoResetIsConsumedByOneWait) {
  Event event(Mode::kAutoReset, /*initially_set=*/true);
  EXPECT_TRUE(event.IsSet());
  EXPECT_TRUE(event.Wait(0));
  EXPECT_FALSE(event.Wait(0));
  event.Set();
  event.Set();  // signals do not count up
  EXPECT_TRUE(event.Wait(0));
  EXPECT_FALSE(event.Wait(0));
}

TEST(Event, WaitTimesOutAfterAboutTheTimeout) {
  Event event;
  int64_t start = MonotonicMs();
  EXPECT_FALSE(event.Wait(30));
  EXPECT_GE(MonotonicMs() - start, 30);
}

TEST(Event, WaitForeverWakesOnSetFromAnotherThread) {
  Event event(Mode::kAutoReset);
  Thread setter("setter");
  ASSERT_TRUE(setter.Start([&] {
    Sleep(10);
    event.Set();
  }));
  EXPECT_TRUE(event.Wait(kForever));
  setter.Join();
  EXPECT_FALSE(event.IsSet());
}

TEST(Event, WaitAnyReturnsLowestSignalledIndexAndConsumesOnlyIt) {
  Event a(Mode::kAutoReset), b(Mode::kAutoReset), c(Mode::kManualReset);
  std::vector<Event*> events{&a, nullptr, &b, &c};
  EXPECT_EQ(Event::WaitAny(events, 0), -1);
  b.Set();
  c.Set();
  EXPECT_EQ(Event::WaitAny(events, 0), 2);
  EXPECT_FALSE(b.IsSet());
  EXPECT_TRUE(c.IsSet());
  EXPECT_EQ(Event::WaitAny(events, 0), 3);
  EXPECT_EQ(Event::WaitAny(events, 0), 3);  // manual reset stays set
}

TEST(Event, WaitAnyWithoutEventsReturnsAtOnce) {
  std::vector<Event*> none;
  EXPECT_EQ(Event::WaitAny(none, kForever), -1);
  std::vector<Event*> only_null{nullptr, nullptr};
  EXPECT_EQ(Event::WaitAny(only_null, kForever), -1);
}

TEST(Event, WaitAnyTimesOut) {
  Event a, b;
  int64_t start = MonotonicMs();
  EXPECT_EQ(Event::WaitAny({&a, &b}, 25), -1);
  EXPECT_GE(MonotonicMs() - start, 25);
}

TEST(Event, WaitAnyWakesOnSetFromAnotherThread) {
  Event a(Mode::kAutoReset), b(Mode::kAutoReset), c(Mode::kAutoReset);
  Thread setter("setter");
  ASSERT_TRUE(setter.Start([&] {
    Sleep(20);
    c.Set();
  }));
  EXPECT_EQ(Event::WaitAny({&a, &b, &c}, 5000), 2);
  setter.Join();
  EXPECT_FALSE(c.IsSet());
}

// A waiter that returns must leave no record behind in the events it did not
// take: a later Set on them must not touch the finished wait.
TEST(Event, WaitAnyUnregistersFromEveryEvent) {
  Event a, b;
  for (int i = 0; i < 100; ++i) {
    Event c(Mode::kAutoReset);
    Thread setter("setter");
    ASSERT_TRUE(setter.Start([&] { c.Set(); }));
    EXPECT_EQ(Event::WaitAny({&a, &b, &c}, 5000), 2);
    setter.Join();
  }
  a.Set();
  b.Set();
  EXPECT_EQ(Event::WaitAny({&a, &b}, 0), 0);
}

// Producer and consumer hand over a token many times through auto-reset
// events, with WaitAny on one side and Wait on the other. A lost wake-up
// makes a side wait forever, caught by the generous timeouts.
TEST(Event, NoLostWakeUpInPingPong) {
  constexpr int kRounds = 20000;
  Event ping(Mode::kAutoReset), pong(Mode::kAutoReset), unused(Mode::kAutoReset);
  std::atomic<int> lost{0};
  Thread other("pong");
  ASSERT_TRUE(other.Start([&] {
    for (int i = 0; i < kRounds; ++i) {
      if (Event::WaitAny({&unused, &ping}, 10000) != 1) {
        ++lost;
        return;
      }
      pong.Set();
    }
  }));
  for (int i = 0; i < kRounds; ++i) {
    ping.Set();
    if (!pong.Wait(10000)) {
      ++lost;
      break;
    }
  }
  other.Join();
  EXPECT_EQ(lost.load(), 0);
}

// Several threads set one auto-reset event per round; each signal is taken by
// exactly one of several WaitAny waiters.
TEST(Event, AutoResetSignalReleasesExactlyOneOfManyWaiters) {
  constexpr int kWaiters = 4;
  constexpr int kSignals = 2000;
  Event work(Mode::kAutoReset), stop(Mode::kManualReset), done(Mode::kAutoReset);
  std::atomic<int> taken{0};
  std::vector<std::unique_ptr<Thread>> waiters;
  for (int w = 0; w < kWaiters; ++w) {
    waiters.push_back(std::make_unique<Thread>("waiter"));
    ASSERT_TRUE(waiters.back()->Start([&] {
      for (;;) {
        int index = Event::WaitAny({&stop, &work}, 10000);
        if (index != 1) return;
        ++taken;
        done.Set();
      }
    }));
  }
  for (int i = 0; i < kSignals; ++i) {
    work.Set();
    ASSERT_TRUE(done.Wait(10000)) << "signal " << i << " was not taken";
  }
  stop.Set();
  for (auto& waiter : waiters) waiter->Join();
  EXPECT_EQ(taken.load(), kSignals);
}

}  // namespace
}  // namespace klv::platform
