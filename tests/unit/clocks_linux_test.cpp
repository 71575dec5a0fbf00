// The Linux clocks themselves, not the fake: the counter's rate that the
// leap test divides by, against the kernel's raw monotonic clock.

#include "clocks_linux.h"

#include <gtest/gtest.h>
#include <time.h>

#include <cmath>
#include <cstdint>
#include <cstdio>

#include "platform.h"

namespace {

TEST(CounterFrequencyTest, StatedRateCountsOnlyWhereTheMeasuredOneAgrees) {
  constexpr std::int64_t Measured = 2000000000;  // 0.5 % is 10,000,000
  EXPECT_EQ(Measured, ChooseCounterFrequency(0, Measured));  // none stated
  EXPECT_EQ(2010000000, ChooseCounterFrequency(2010000000, Measured));
  EXPECT_EQ(1990000000, ChooseCounterFrequency(1990000000, Measured));
  EXPECT_EQ(Measured, ChooseCounterFrequency(2010000001, Measured));
  EXPECT_EQ(Measured, ChooseCounterFrequency(1989999999, Measured));
  // A firmware's 24 MHz for a timer that counts at 25 MHz.
  EXPECT_EQ(25000000, ChooseCounterFrequency(24000000, 25000000));
}

// A counter that ran back across the measurement, or no time between its
// ends, is no rate (and no undefined conversion of 1.8e20 to an integer).
TEST(CounterFrequencyTest, MeasuredRateOfACounterThatWentBackIsNone) {
  EXPECT_EQ(2000000000, MeasuredCounterRate(200000000, 100000000));
  EXPECT_EQ(0, MeasuredCounterRate(UINT64_MAX - 1000, 100000000));
  EXPECT_EQ(0, MeasuredCounterRate(1000, 0));
}

struct Reading {
  std::int64_t nanoseconds;
  std::int64_t counter;
};

// The counter and the kernel's raw clock, one read each: over 300 ms the
// few microseconds between them are a few ppm, far inside the 1 % below.
Reading ReadBoth() {
  Reading reading{};
  EXPECT_TRUE(ReadCounter(reading.counter));
  timespec now{};
  EXPECT_EQ(0, clock_gettime(CLOCK_MONOTONIC_RAW, &now));
  reading.nanoseconds =
      static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
  return reading;
}

// The rate a long stop is measured with: 1 % off would make every stop of
// 50 s or more a report. The program keeps the processor's stated rate only
// within 0.5 % of its own measure; 1 % leaves room for this test's own
// measure on a busy machine or under an emulator.
TEST(CounterFrequencyTest, RateInUseMatchesTheKernelClock) {
  std::int64_t frequency = 0;
  TickClock tick{};
  TickChoice choice{};
  // Not StartClocks, which would give up root for the whole test.
  constexpr ClockPaths NoTimers{
      {"/nonexistent", "/nonexistent", "/nonexistent", "/nonexistent"},
      "/nonexistent"};
  ASSERT_TRUE(MeasureAndChooseClocks(NoTimers, frequency, tick, choice));
  ASSERT_GT(frequency, 0);
  const Reading start = ReadBoth();
  const timespec pause{0, 300000000};
  nanosleep(&pause, nullptr);
  const Reading end = ReadBoth();
  const double seconds =
      static_cast<double>(end.nanoseconds - start.nanoseconds) / 1e9;
  const double counted =
      static_cast<double>(static_cast<std::uint64_t>(end.counter) -
                          static_cast<std::uint64_t>(start.counter));
  const double rate = counted / seconds;
  std::printf(
      "rate in use %lld Hz; against CLOCK_MONOTONIC_RAW over %.3f s: "
      "%.0f Hz (%+.1f ppm)\n",
      static_cast<long long>(frequency), seconds, rate,
      (rate / static_cast<double>(frequency) - 1) * 1e6);
  EXPECT_LT(std::fabs(rate / static_cast<double>(frequency) - 1), 0.01);
}

}  // namespace
