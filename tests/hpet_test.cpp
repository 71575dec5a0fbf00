// The HPET as the tick count: its period, its counts in milliseconds, the
// 32-bit reads extended across wraps (also across a stop of the program
// longer than a wrap), and every way of not getting it, which leaves the
// kernel's coarse clock in use.

#include "hpet.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>

#include "clocks_linux.h"

namespace {

__extension__ typedef unsigned __int128 Uint128;

constexpr std::uint32_t Period14318Khz = 69841279;  // the PC's classic HPET
constexpr std::uint32_t Period24Mhz = 41666667;
constexpr std::uint32_t Period25Mhz = 40000000;
constexpr std::uint32_t Period100Mhz = 10000000;  // QEMU's
constexpr std::uint32_t Periods[] = {Period14318Khz, Period24Mhz, Period25Mhz,
                                     Period100Mhz, MaxHpetPeriodFemtoseconds};
constexpr std::uint64_t Wrap = std::uint64_t{1} << 32U;
constexpr std::uint64_t FsPerMs = 1000000000000;

// Registers standing in for the mapped page: only the main counter is read.
struct FakeHpet {
  volatile std::uint32_t words[64];
};

TickClock TickAt(FakeHpet& hpet, std::uint32_t period, std::uint64_t count,
                 std::uint32_t systemTick) {
  TickClock tick{};
  UseHpetTick(tick, hpet.words, period, static_cast<std::uint32_t>(count),
              systemTick);
  tick.count = count;
  return tick;
}

std::uint64_t ExactMs(std::uint64_t count, std::uint32_t period) {
  return static_cast<std::uint64_t>(Uint128{count} * period / FsPerMs);
}

TEST(HpetTest, PeriodMustBePositiveAndAtMost100Nanoseconds) {
  EXPECT_FALSE(IsValidHpetPeriod(0));
  EXPECT_FALSE(IsValidHpetPeriod(MaxHpetPeriodFemtoseconds + 1));
  EXPECT_FALSE(IsValidHpetPeriod(UINT32_MAX));  // all ones: nothing there
  for (const std::uint32_t period : Periods) {
    EXPECT_TRUE(IsValidHpetPeriod(period)) << period;
  }
}

// Against exact arithmetic: the result is the exact milliseconds, modulo
// 2^32, or one more only where the exact value is within 1/256 ms of it.
TEST(HpetTest, MillisecondsFromCountsAreExactOverALongRangeAndWrap) {
  FakeHpet hpet{};
  for (const std::uint32_t period : Periods) {
    const TickClock tick = TickAt(hpet, period, 0, 0);
    // 2^32 ms is this many counts; the range runs well past it.
    const std::uint64_t wrapCounts =
        static_cast<std::uint64_t>((Uint128{Wrap} * FsPerMs) / period);
    std::uint64_t count = 0;
    for (std::uint64_t step = 1; count < 40 * wrapCounts;
         step = step * 3 + 7, count += step) {
      for (const std::uint64_t probe : {count, wrapCounts - 1 + (count & 3)}) {
        const std::uint64_t exact = ExactMs(probe, period);
        const std::uint32_t got =
            HpetMilliseconds(probe, tick.millisecondsPerCountQ64);
        if (got != static_cast<std::uint32_t>(exact)) {
          EXPECT_EQ(static_cast<std::uint32_t>(exact + 1), got) << probe;
          const Uint128 remainder = Uint128{probe} * period % FsPerMs;
          EXPECT_GT(remainder, FsPerMs - FsPerMs / 256) << probe;
        }
      }
    }
    // A millisecond past 2^32 ms the value starts again from 0.
    EXPECT_LE(HpetMilliseconds(wrapCounts + FsPerMs / period + 1,
                               tick.millisecondsPerCountQ64),
              2U)
        << period;
    EXPECT_EQ(static_cast<std::uint32_t>(Wrap * period / FsPerMs),
              tick.wrapMilliseconds);
  }
}

// A program reading the counter often, through many wraps of its low bits,
// with the kernel's clock beside it: the extended count is the true one.
TEST(HpetTest, ReadsExtendAcrossWraps) {
  FakeHpet hpet{};
  for (const std::uint32_t period : Periods) {
    const std::uint64_t first = Wrap - 5000;
    std::uint64_t truth = first;
    TickClock tick = TickAt(hpet, period, truth, 1000);
    for (int read = 0; read < 200; ++read) {
      truth += Wrap / 7 + static_cast<std::uint64_t>(read) * 12345;
      const auto systemTick = static_cast<std::uint32_t>(
          1000 + ExactMs(truth, period) - ExactMs(first, period));
      const std::uint32_t ms =
          AdvanceHpetTick(tick, static_cast<std::uint32_t>(truth), systemTick);
      ASSERT_EQ(truth, tick.count) << period << " read " << read;
      ASSERT_EQ(static_cast<std::uint32_t>(ExactMs(truth, period)), ms);
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
  std::uint64_t counts;
  double slew;
};

TEST(HpetTest, StopLongerThanAWrapGivesTheTrueInterval) {
  FakeHpet hpet{};
  for (const std::uint32_t period : Periods) {
    for (const Stop& s :
         {Stop{Wrap / 2 + 1, 1.0}, Stop{Wrap + 3, 1.1}, Stop{Wrap + 3, 0.9},
          Stop{2 * Wrap + Wrap / 3, 1.1}, Stop{4 * Wrap - 1, 0.9},
          Stop{900 * Wrap + 77, 1.0005}, Stop{900 * Wrap - 77, 0.9995}}) {
      const std::uint64_t stop = s.counts;
      const double slew = s.slew;
      {
        std::uint64_t truth = 123456789;
        TickClock tick = TickAt(hpet, period, truth, 7);
        std::uint32_t systemTick = 7;
        std::uint32_t before =
            HpetMilliseconds(truth, tick.millisecondsPerCountQ64);
        for (int read = 0; read < 4; ++read) {
          const std::uint64_t step = read == 1 ? stop : 1000;
          truth += step;
          systemTick += static_cast<std::uint32_t>(
              static_cast<double>(ExactMs(step, period)) * slew);
          const std::uint32_t after = AdvanceHpetTick(
              tick, static_cast<std::uint32_t>(truth), systemTick);
          const std::uint32_t interval = after - before;
          const auto expected = static_cast<std::uint32_t>(
              ExactMs(truth, period) - ExactMs(truth - step, period));
          EXPECT_LE(interval - expected + 1, 2U)
              << period << " slew " << slew << " stop " << stop << " read "
              << read;
          EXPECT_EQ(truth, tick.count);
          before = after;
        }
      }
    }
  }
}

TEST(HpetTest, RateMustAgreeWithTheKernelClockWithinHalfAPercent) {
  constexpr std::int64_t Ns = 100000000;  // 100 ms: 10,000,000 at 100 MHz
  EXPECT_TRUE(HpetRateAgrees(Period100Mhz, 10000000, Ns));
  EXPECT_TRUE(HpetRateAgrees(Period100Mhz, 10050000, Ns));
  EXPECT_TRUE(HpetRateAgrees(Period100Mhz, 9950000, Ns));
  EXPECT_FALSE(HpetRateAgrees(Period100Mhz, 10050001, Ns));
  EXPECT_FALSE(HpetRateAgrees(Period100Mhz, 9949999, Ns));
  EXPECT_FALSE(HpetRateAgrees(Period100Mhz, 0, Ns));  // a stopped counter
  EXPECT_TRUE(HpetRateAgrees(Period14318Khz, 1431818, Ns));
  // A counter that runs at 25 MHz but states 24 MHz.
  EXPECT_FALSE(HpetRateAgrees(Period24Mhz, 2500000, Ns));
  EXPECT_FALSE(HpetRateAgrees(Period100Mhz, 10000000, 0));
  EXPECT_FALSE(HpetRateAgrees(0, 10000000, Ns));
}

// A file holding what the registers would: the period in the capabilities
// register's high half, a main counter that never moves.
std::string RegisterFile(std::uint32_t period) {
  char path[] = "/tmp/leapcheck-hpet-XXXXXX";
  const int fd = mkstemp(path);
  EXPECT_GE(fd, 0);
  std::uint32_t words[1024] = {};
  words[1] = period;
  words[0xF0 / 4] = 0x12345678;
  EXPECT_EQ(static_cast<ssize_t>(sizeof words), write(fd, words, sizeof words));
  close(fd);
  return path;
}

// Whatever stands in the way, the tick count is the kernel's coarse clock.
void ExpectCoarseClock(const char* device) {
  std::int64_t frequency = 0;
  TickClock tick{};
  ASSERT_TRUE(ReadCounterFrequencyWith(device, frequency, tick)) << device;
  EXPECT_EQ(nullptr, tick.counter) << device;
  const std::uint32_t coarse = CoarseMilliseconds();
  EXPECT_LE(ReadTickCount(tick) - coarse, 50U) << device;
}

TEST(HpetTest, EveryFailureLeavesTheCoarseClock) {
  ExpectCoarseClock("/nonexistent/hpet");  // no device
  ExpectCoarseClock("/tmp");               // opens, cannot be mapped
  ExpectCoarseClock("/dev/null");          // no register page behind it
  const std::string noPeriod = RegisterFile(0);
  const std::string slow = RegisterFile(MaxHpetPeriodFemtoseconds + 1);
  const std::string stopped = RegisterFile(Period14318Khz);
  ExpectCoarseClock(noPeriod.c_str());
  ExpectCoarseClock(slow.c_str());
  ExpectCoarseClock(stopped.c_str());  // maps, states a rate, never moves
  // Shorter than the page: mapped, a read past its end would fault.
  const std::string shortFile = RegisterFile(Period14318Khz);
  ASSERT_EQ(0, truncate(shortFile.c_str(), 0));
  ExpectCoarseClock(shortFile.c_str());
  for (const std::string& file : {noPeriod, slow, stopped, shortFile}) {
    unlink(file.c_str());
  }
  if (geteuid() != 0) {  // root opens it whatever its mode
    const std::string locked = RegisterFile(Period14318Khz);
    chmod(locked.c_str(), 0);
    ExpectCoarseClock(locked.c_str());
    unlink(locked.c_str());
  }
}

#if defined(__x86_64__)
// A register file whose main counter a thread keeps moving at 100 MHz of
// the raw monotonic clock, as QEMU's HPET counts: it is taken where it
// states its true period, and reads follow the kernel's clock; stating
// 24 MHz, its rate disagrees and it is not. The thread is only a stand-in
// for the device: descheduled at one end of the measurement, it lags, so
// it has a few tries to be taken.
void RunMovingCounter(std::uint32_t statedPeriod, bool expectTaken) {
  const std::string path = RegisterFile(statedPeriod);
  const int fd = open(path.c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  void* const page =
      mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  ASSERT_NE(MAP_FAILED, page);
  close(fd);
  auto* const counter = static_cast<volatile std::uint32_t*>(page) + 0xF0 / 4;
  std::atomic<bool> running{true};
  std::thread ticking([&] {
    while (running) {
      timespec now{};
      clock_gettime(CLOCK_MONOTONIC_RAW, &now);
      *counter = static_cast<std::uint32_t>(
          (static_cast<std::uint64_t>(now.tv_sec) * 1000000000U +
           static_cast<std::uint64_t>(now.tv_nsec)) /
          10U);
    }
  });
  while (*counter == 0x12345678) {  // until the thread has begun
    std::this_thread::yield();
  }
  TickClock tick{};
  for (int attempt = 0; attempt < 5 && tick.counter == nullptr; ++attempt) {
    std::int64_t frequency = 0;
    EXPECT_TRUE(ReadCounterFrequencyWith(path.c_str(), frequency, tick));
  }
  if (!expectTaken) {
    EXPECT_EQ(nullptr, tick.counter);
  } else if (tick.counter == nullptr) {
    ADD_FAILURE() << "a counter at its stated rate was not taken";
  } else {
    const std::uint32_t startTick = ReadTickCount(tick);
    const std::uint32_t startCoarse = CoarseMilliseconds();
    const timespec pause{0, 300000000};
    nanosleep(&pause, nullptr);
    const std::uint32_t ticked = ReadTickCount(tick) - startTick;
    const std::uint32_t coarse = CoarseMilliseconds() - startCoarse;
    EXPECT_LE(ticked - coarse + 20, 40U) << ticked << " ms against " << coarse;
  }
  running = false;
  ticking.join();
  munmap(page, 4096);
  unlink(path.c_str());
}
#endif

TEST(HpetTest, MovingCounterAtItsStatedRateIsTheTickCount) {
#if defined(__x86_64__)
  RunMovingCounter(Period100Mhz, true);
  RunMovingCounter(Period24Mhz, false);
#else
  GTEST_SKIP() << "only x86-64 reads an HPET";
#endif
}

}  // namespace
