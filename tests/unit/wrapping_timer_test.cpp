// A timer of 24 or 32 bits as the tick count (the HPET, the PM timer): its
// counts in milliseconds, its reads extended across wraps, also across a
// stop of the program longer than a wrap, and its rate check.

#include "wrapping_timer.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "hpet.h"
#include "pm_timer.h"

namespace {

__extension__ typedef unsigned __int128 Uint128;

constexpr std::uint64_t FsPerMs = 1000000000000;

struct Timer {
  unsigned bits;
  TimerRate rate;
};

constexpr Timer Timers[] = {
    {32, HpetRate(69841279)},  // the PC's classic HPET, 14.318 MHz
    {32, HpetRate(41666667)},  // 24 MHz
    {32, HpetRate(40000000)},  // 25 MHz
    {32, HpetRate(10000000)},  // QEMU's, 100 MHz
    {32, HpetRate(MaxHpetPeriodFemtoseconds)},
    {24, PmTimerRate},
    {32, PmTimerRate},  // TMR_VAL_EXT
};

std::uint64_t Wrap(const Timer& timer) {
  return std::uint64_t{1} << timer.bits;
}

std::uint64_t ExactMs(std::uint64_t count, TimerRate rate) {
  return static_cast<std::uint64_t>(Uint128{count} * rate.femtoseconds /
                                    (Uint128{rate.counts} * FsPerMs));
}

WrappingTimer TimerAt(const Timer& timer, std::uint64_t count,
                      std::uint32_t systemTick) {
  WrappingTimer wrapping{};
  StartWrappingTimer(wrapping, timer.bits, timer.rate,
                     static_cast<std::uint32_t>(count), systemTick);
  wrapping.count = count;
  return wrapping;
}

// Against exact arithmetic: the result is the exact milliseconds, modulo
// 2^32, or one more only where the exact value is within 1/256 ms of it.
TEST(WrappingTimerTest, MillisecondsFromCountsAreExactOverALongRangeAndWrap) {
  for (const Timer& timer : Timers) {
    const TimerRate rate = timer.rate;
    const WrappingTimer wrapping = TimerAt(timer, 0, 0);
    // 2^32 ms is this many counts; the range runs well past it.
    const auto wrapCounts = static_cast<std::uint64_t>(
        (Uint128{1} << 32U) * FsPerMs * rate.counts / rate.femtoseconds);
    std::uint64_t count = 0;
    for (std::uint64_t step = 1; count < 40 * wrapCounts;
         step = step * 3 + 7, count += step) {
      for (const std::uint64_t probe : {count, wrapCounts - 1 + (count & 3)}) {
        const std::uint64_t exact = ExactMs(probe, rate);
        const std::uint32_t got =
            TimerMilliseconds(probe, wrapping.millisecondsPerCountQ64);
        if (got != static_cast<std::uint32_t>(exact)) {
          EXPECT_EQ(static_cast<std::uint32_t>(exact + 1), got) << probe;
          const Uint128 remainder = Uint128{probe} * rate.femtoseconds %
                                    (Uint128{rate.counts} * FsPerMs);
          EXPECT_GT(remainder, Uint128{rate.counts} * (FsPerMs - FsPerMs / 256))
              << probe;
        }
      }
    }
    EXPECT_EQ(static_cast<std::uint32_t>(ExactMs(Wrap(timer), rate)),
              wrapping.wrapMilliseconds);
  }
}

// A program reading the timer often, through many wraps of its bits, with
// the kernel's clock beside it: the extended count is the true one. The
// bits above the timer's are noise, as a 24-bit PM timer's may be.
TEST(WrappingTimerTest, ReadsExtendAcrossWraps) {
  for (const Timer& timer : Timers) {
    const std::uint64_t first = Wrap(timer) - 5000;
    std::uint64_t truth = first;
    WrappingTimer wrapping = TimerAt(timer, truth, 1000);
    for (int read = 0; read < 200; ++read) {
      truth += Wrap(timer) / 7 + static_cast<std::uint64_t>(read) * 123;
      const auto systemTick = static_cast<std::uint32_t>(
          1000 + ExactMs(truth, timer.rate) - ExactMs(first, timer.rate));
      const auto noise = timer.bits < 32 ? 0xA5000000U : 0U;
      const std::uint32_t ms = AdvanceWrappingTimer(
          wrapping, static_cast<std::uint32_t>(truth) | noise, systemTick);
      ASSERT_EQ(truth, wrapping.count) << timer.bits << " read " << read;
      ASSERT_EQ(static_cast<std::uint32_t>(ExactMs(truth, timer.rate)), ms);
    }
  }
}

// A stop longer than a wrap (or many) between two reads: the kernel's
// clock tells how many wraps went unseen, so the interval is the true one
// (no false report) and the reads after it go on from the right count (no
// wrong baseline). It needs the kernel's clock within half a wrap over the
// stop: slewed by 10 % (adjtimex's most) for up to 4 wraps, by 500 ppm (an
// NTP daemon's frequency limit) for 900.
struct Stop {
  std::uint64_t wraps;     // in wraps of the timer ...
  std::int64_t plus;       // ... and counts
  std::uint64_t fraction;  // plus wrap / fraction (0: none)
  double slew;
};

TEST(WrappingTimerTest, StopLongerThanAWrapGivesTheTrueInterval) {
  for (const Timer& timer : Timers) {
    const std::uint64_t wrap = Wrap(timer);
    for (const Stop& s :
         {Stop{0, 1, 2, 1.0}, Stop{1, 3, 0, 1.1}, Stop{1, 3, 0, 0.9},
          Stop{2, 0, 3, 1.1}, Stop{4, -1, 0, 0.9}, Stop{900, 77, 0, 1.0005},
          Stop{900, -77, 0, 0.9995}}) {
      const std::uint64_t stop = s.wraps * wrap +
                                 static_cast<std::uint64_t>(s.plus) +
                                 (s.fraction != 0 ? wrap / s.fraction : 0);
      std::uint64_t truth = 123456789;
      WrappingTimer wrapping = TimerAt(timer, truth, 7);
      std::uint32_t systemTick = 7;
      std::uint32_t before =
          TimerMilliseconds(truth, wrapping.millisecondsPerCountQ64);
      for (int read = 0; read < 4; ++read) {
        const std::uint64_t step = read == 1 ? stop : 1000;
        truth += step;
        systemTick += static_cast<std::uint32_t>(
            static_cast<double>(ExactMs(step, timer.rate)) * s.slew);
        const std::uint32_t after = AdvanceWrappingTimer(
            wrapping, static_cast<std::uint32_t>(truth), systemTick);
        const std::uint32_t interval = after - before;
        const auto expected = static_cast<std::uint32_t>(
            ExactMs(truth, timer.rate) - ExactMs(truth - step, timer.rate));
        EXPECT_LE(interval - expected + 1, 2U)
            << timer.bits << " bits, slew " << s.slew << " stop " << stop
            << " read " << read;
        EXPECT_EQ(truth, wrapping.count);
        before = after;
      }
    }
  }
}

TEST(WrappingTimerTest, RateMustAgreeWithTheKernelClockWithinHalfAPercent) {
  constexpr std::int64_t Ns = 100000000;  // 100 ms: 10,000,000 at 100 MHz
  constexpr TimerRate Rate100Mhz = HpetRate(10000000);
  EXPECT_TRUE(TimerRateAgrees(Rate100Mhz, 10000000, Ns));
  EXPECT_TRUE(TimerRateAgrees(Rate100Mhz, 10050000, Ns));
  EXPECT_TRUE(TimerRateAgrees(Rate100Mhz, 9950000, Ns));
  EXPECT_FALSE(TimerRateAgrees(Rate100Mhz, 10050001, Ns));
  EXPECT_FALSE(TimerRateAgrees(Rate100Mhz, 9949999, Ns));
  EXPECT_FALSE(TimerRateAgrees(Rate100Mhz, 0, Ns));  // a stopped counter
  EXPECT_TRUE(TimerRateAgrees(PmTimerRate, 357954, Ns));
  EXPECT_FALSE(TimerRateAgrees(PmTimerRate, 357954 * 2, Ns));
  // A counter that runs at 25 MHz but states 24 MHz.
  EXPECT_FALSE(TimerRateAgrees(HpetRate(41666667), 2500000, Ns));
  EXPECT_FALSE(TimerRateAgrees(Rate100Mhz, 10000000, 0));
  EXPECT_FALSE(TimerRateAgrees(HpetRate(0), 10000000, Ns));
  EXPECT_EQ(3579545U, TimerHertz(PmTimerRate));
  EXPECT_EQ(14318180U, TimerHertz(HpetRate(69841279)));
}

}  // namespace
