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

// The raw clock's nanoseconds at `count` counts of the timer, running
// `ppm` parts per million fast against it.
std::int64_t ExactNs(std::uint64_t count, TimerRate rate,
                     std::int64_t ppm = 0) {
  const auto ns = static_cast<std::int64_t>(Uint128{count} * rate.femtoseconds /
                                            (Uint128{rate.counts} * 1000000));
  return ns + ns / 1000000 * ppm;
}

// A timer started at `count`, measured over 100 ms of the raw clock.
WrappingTimer TimerAt(const Timer& timer, std::uint64_t count,
                      std::uint32_t systemTick) {
  constexpr std::int64_t MeasureNs = 100000000;
  const auto measured =
      static_cast<std::uint64_t>(Uint128{MeasureNs} * 1000000 *
                                 timer.rate.counts / timer.rate.femtoseconds);
  WrappingTimer wrapping{};
  StartWrappingTimer(
      wrapping, timer.bits, timer.rate, static_cast<std::uint32_t>(count),
      systemTick,
      RawClockSample{measured, MeasureNs, ExactNs(count, timer.rate), 0, 0});
  wrapping.count = count;
  wrapping.raw.count = count;
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
          wrapping, static_cast<std::uint32_t>(truth) | noise, systemTick,
          [&] { return ExactNs(truth, timer.rate); });
      ASSERT_EQ(truth, wrapping.count) << timer.bits << " read " << read;
      ASSERT_EQ(static_cast<std::uint32_t>(ExactMs(truth, timer.rate)), ms);
    }
  }
}

// A stop longer than a wrap (or many) between two reads: the kernel's raw
// clock tells how many wraps went unseen, so the interval is the true one
// (no false report) and the reads after it go on from the right count (no
// wrong baseline). The coarse clock, which only says when to look, may be
// slewed by 10 % (adjtimex's most); the raw clock is not, and may differ
// from the rate measured at the start by the drift of two oscillators.
struct Stop {
  std::uint64_t wraps;     // in wraps of the timer ...
  std::int64_t plus;       // ... and counts
  std::uint64_t fraction;  // plus wrap / fraction (0: none)
  double slew;             // of the coarse clock
  std::int64_t ppm;        // the raw clock's drift
};

TEST(WrappingTimerTest, StopLongerThanAWrapGivesTheTrueInterval) {
  for (const Timer& timer : Timers) {
    const std::uint64_t wrap = Wrap(timer);
    for (const Stop& s :
         {Stop{0, 1, 2, 1.0, 0}, Stop{1, 3, 0, 1.1, 0}, Stop{1, 3, 0, 0.9, 0},
          Stop{2, 0, 3, 1.1, 150}, Stop{4, -1, 0, 0.9, -150},
          Stop{900, 77, 0, 1.0005, 0}, Stop{900, -77, 0, 0.9995, 100}}) {
      const std::uint64_t stop = s.wraps * wrap +
                                 static_cast<std::uint64_t>(s.plus) +
                                 (s.fraction != 0 ? wrap / s.fraction : 0);
      std::uint64_t truth = 123456789;
      WrappingTimer wrapping = TimerAt(timer, truth, 7);
      std::uint32_t systemTick = 7;
      std::uint32_t before =
          TimerMilliseconds(truth, wrapping.millisecondsPerCountQ64);
      const std::int64_t rawStart = ExactNs(truth, timer.rate);
      for (int read = 0; read < 4; ++read) {
        const std::uint64_t step = read == 1 ? stop : 1000;
        truth += step;
        systemTick += static_cast<std::uint32_t>(
            static_cast<double>(ExactMs(step, timer.rate)) * s.slew);
        const std::int64_t raw =
            rawStart + ExactNs(truth - 123456789, timer.rate, s.ppm);
        const std::uint32_t after =
            AdvanceWrappingTimer(wrapping, static_cast<std::uint32_t>(truth),
                                 systemTick, [raw] { return raw; });
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

// The kernel's clocks follow the counter on most machines: a leap of the
// whole machine moves the raw clock, not the timer. Its wraps are bridged
// only where the timer's count agrees, so a leap of 4,700 ms (12.5 ms past
// one 24-bit PM timer wrap) reads as the timer's own interval and shows;
// one within the tolerance of a whole number of wraps cannot.
TEST(WrappingTimerTest, LeapOfTheKernelClocksIsNoWrap) {
  const Timer pm{24, PmTimerRate};
  struct Leap {
    std::int64_t ms;
    bool hidden;
  };
  for (const Leap leap : {Leap{4700, false}, Leap{3000, false},
                          Leap{9375, true}, Leap{9375 + 12, false}}) {
    std::uint64_t truth = 5000000;
    WrappingTimer wrapping = TimerAt(pm, truth, 100);
    const std::uint32_t before =
        TimerMilliseconds(truth, wrapping.millisecondsPerCountQ64);
    const std::int64_t raw = ExactNs(truth, pm.rate) + leap.ms * 1000000;
    truth += 1000;  // what the timer counted: 0.28 ms
    const std::uint32_t after = AdvanceWrappingTimer(
        wrapping, static_cast<std::uint32_t>(truth),
        static_cast<std::uint32_t>(100 + leap.ms), [raw] { return raw; });
    EXPECT_EQ(leap.hidden, after - before > 1000) << leap.ms;
  }
}

// A read below the last, beyond a millisecond's counts, while the kernel's
// clock says no wrap can have come between, went back; within them it is
// taken as no movement; the same count for a second of the kernel's clock
// is a stopped timer. None of these on a timer read after a long stop.
TEST(WrappingTimerTest, ReadsBackOrStillAreToldApart) {
  for (const Timer& t : Timers) {
    const std::uint32_t start = 0x1000;
    const WrappingTimer timer = TimerAt(t, start, 100);
    const std::uint32_t mask = static_cast<std::uint32_t>(Wrap(t) - 1);
    EXPECT_EQ(TimerRead::Plausible, ClassifyTimerRead(timer, start + 5, 101));
    EXPECT_EQ(TimerRead::Plausible, ClassifyTimerRead(timer, start, 1099));
    EXPECT_EQ(TimerRead::Stopped, ClassifyTimerRead(timer, start, 1100));
    EXPECT_EQ(TimerRead::SlightlyBack,
              ClassifyTimerRead(timer, (start - 1) & mask, 101));
    EXPECT_EQ(TimerRead::Back,
              ClassifyTimerRead(timer, (start - timer.backTolerance - 1) & mask,
                                101));
    const std::uint32_t longStop = 100 + timer.wrapMilliseconds;
    EXPECT_EQ(TimerRead::Plausible,
              ClassifyTimerRead(timer, (start - 8) & mask, longStop));
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
