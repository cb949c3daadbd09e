#include "midi/event.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "midi/clock.h"

namespace korvane {
namespace {

TEST(ManualResetEvent, StaysSetUntilReset) {
  ManualResetEvent event;
  EXPECT_FALSE(event.IsSet());
  event.Set();
  EXPECT_EQ(WaitForEvent(event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForEvent(event, 0), WAIT_OBJECT_0);  // a wait does not consume it
  event.Reset();
  EXPECT_EQ(WaitForEvent(event, 0), WAIT_TIMEOUT);
}

TEST(ManualResetEvent, AWaitTimesOutNoSoonerThanAsked) {
  ManualResetEvent event;
  const std::uint32_t start = timeGetTime();
  EXPECT_EQ(WaitForEvent(event, 30), WAIT_TIMEOUT);
  EXPECT_GE(timeGetTime() - start, 30u);
}

TEST(ManualResetEvent, AWaitWakesWhenAnotherThreadSets) {
  ManualResetEvent event;
  std::thread setter([&] {
    SleepMs(20);
    event.Set();
  });
  EXPECT_EQ(WaitForEvent(event, 10000), WAIT_OBJECT_0);
  setter.join();
}

TEST(WaitForAnyEvent, NamesTheLowestSetIndex) {
  ManualResetEvent a, b, c;
  ManualResetEvent* const events[] = {&a, &b, &c};
  c.Set();
  EXPECT_EQ(WaitForAnyEvent(events, 0), WAIT_OBJECT_0 + 2);
  b.Set();
  EXPECT_EQ(WaitForAnyEvent(events, 0), WAIT_OBJECT_0 + 1);
  b.Reset();
  c.Reset();
  EXPECT_EQ(WaitForAnyEvent(events, 10), WAIT_TIMEOUT);
}

TEST(WaitForAnyEvent, WakesForALaterSetAndNamesIt) {
  ManualResetEvent a, b;
  ManualResetEvent* const events[] = {&a, &b};
  std::thread setter([&] {
    SleepMs(20);
    b.Set();
  });
  EXPECT_EQ(WaitForAnyEvent(events, 10000), WAIT_OBJECT_0 + 1);
  setter.join();
}

TEST(WaitForAnyEvent, AnEmptySetOrANullEntryFails) {
  ManualResetEvent a;
  a.Set();
  ManualResetEvent* const withNull[] = {&a, nullptr};
  EXPECT_EQ(WaitForAnyEvent({}, 0), WAIT_FAILED);
  EXPECT_EQ(WaitForAnyEvent(withNull, 0), WAIT_FAILED);
}

TEST(Clock, SleepLastsAtLeastItsTime) {
  const auto start = std::chrono::steady_clock::now();
  SleepMs(15);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(15));
}

}  // namespace
}  // namespace korvane
