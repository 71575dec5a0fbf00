// The HPET as the tick count: its period, and every way of not getting it,
// which leaves the next clock in use and says why.

#include "hpet.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>

#include "clocks_linux.h"
#include "leap_test.h"

namespace {

constexpr std::uint32_t Period14318Khz = 69841279;  // the PC's classic HPET
constexpr std::uint32_t Period24Mhz = 41666667;
constexpr std::uint32_t Period25Mhz = 40000000;
constexpr std::uint32_t Period100Mhz = 10000000;  // QEMU's
constexpr std::uint32_t Periods[] = {Period14318Khz, Period24Mhz, Period25Mhz,
                                     Period100Mhz, MaxHpetPeriodFemtoseconds};

TEST(HpetTest, PeriodMustBePositiveAndAtMost100Nanoseconds) {
  EXPECT_FALSE(IsValidHpetPeriod(0));
  EXPECT_FALSE(IsValidHpetPeriod(MaxHpetPeriodFemtoseconds + 1));
  EXPECT_FALSE(IsValidHpetPeriod(UINT32_MAX));  // all ones: nothing there
  for (const std::uint32_t period : Periods) {
    EXPECT_TRUE(IsValidHpetPeriod(period)) << period;
  }
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

#if defined(__x86_64__)
constexpr bool ReadsHpet = true;
#else
constexpr bool ReadsHpet = false;
#endif

// Whatever stands in the way, the tick count is the kernel's coarse clock,
// and the line says why.
void ExpectCoarseClock(const char* device, TimerRefusal why,
                       const char* table = "/nonexistent") {
  const ClockPaths paths{{device, table, "/nonexistent", "/nonexistent"},
                         "/nonexistent"};
  std::int64_t frequency = 0;
  TickClock tick{};
  TickChoice choice{};
  ASSERT_TRUE(MeasureAndChooseClocks(paths, frequency, tick, choice)) << device;
  EXPECT_EQ(TickSource::KernelClock, tick.source) << device;
  // Only x86-64 looks for either timer.
  EXPECT_EQ(ReadsHpet ? why : TimerRefusal::NotThisProcessor,
            choice.refusals[0])
      << device;
  EXPECT_EQ(ReadsHpet ? TimerRefusal::Missing : TimerRefusal::NotThisProcessor,
            choice.refusals[1])
      << device;
  const std::uint32_t coarse = CoarseMilliseconds();
  EXPECT_LE(ReadTickCount(tick) - coarse, 50U) << device;
}

TEST(HpetTest, EveryFailureLeavesTheCoarseClock) {
  ExpectCoarseClock("/nonexistent/hpet", TimerRefusal::Missing);
  // The firmware lists one: no driver, or a container's own /dev.
  ExpectCoarseClock("/nonexistent/hpet", TimerRefusal::NoDriver, "/dev/null");
  // Opens, but maps no register page (ENODEV), which hpet_mmap=1 would not
  // change.
  ExpectCoarseClock("/tmp", TimerRefusal::Unreadable);
  ExpectCoarseClock("/dev/null", TimerRefusal::Unreadable);
  const std::string noPeriod = RegisterFile(0);
  const std::string slow = RegisterFile(MaxHpetPeriodFemtoseconds + 1);
  const std::string stopped = RegisterFile(Period14318Khz);
  ExpectCoarseClock(noPeriod.c_str(), TimerRefusal::WrongRate);
  ExpectCoarseClock(slow.c_str(), TimerRefusal::WrongRate);
  // Maps, states a rate, never moves.
  ExpectCoarseClock(stopped.c_str(), TimerRefusal::WrongRate);
  // Shorter than the page: mapped, a read past its end would fault.
  const std::string shortFile = RegisterFile(Period14318Khz);
  ASSERT_EQ(0, truncate(shortFile.c_str(), 0));
  ExpectCoarseClock(shortFile.c_str(), TimerRefusal::Unreadable);
  for (const std::string& file : {noPeriod, slow, stopped, shortFile}) {
    unlink(file.c_str());
  }
  if (geteuid() != 0) {  // root opens it whatever its mode
    const std::string locked = RegisterFile(Period14318Khz);
    chmod(locked.c_str(), 0);
    ExpectCoarseClock(locked.c_str(), TimerRefusal::NeedsRoot);
    unlink(locked.c_str());
  }
}

#if defined(__x86_64__)
// A register file whose main counter a thread keeps moving at 100 MHz of
// the raw monotonic clock, as QEMU's HPET counts, until told to stop.
struct MovingCounter {
  std::string path;
  volatile std::uint32_t* counter;
  std::atomic<bool> running{true};
  std::thread ticking;
};

void StartMovingCounter(MovingCounter& moving, std::uint32_t statedPeriod) {
  moving.path = RegisterFile(statedPeriod);
  const int fd = open(moving.path.c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  void* const page =
      mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  ASSERT_NE(MAP_FAILED, page);
  close(fd);
  moving.counter = static_cast<volatile std::uint32_t*>(page) + 0xF0 / 4;
  moving.ticking = std::thread([&moving] {
    while (moving.running) {
      timespec now{};
      clock_gettime(CLOCK_MONOTONIC_RAW, &now);
      *moving.counter = static_cast<std::uint32_t>(
          (static_cast<std::uint64_t>(now.tv_sec) * 1000000000U +
           static_cast<std::uint64_t>(now.tv_nsec)) /
          10U);
    }
  });
  while (*moving.counter == 0x12345678) {  // until the thread has begun
    std::this_thread::yield();
  }
}

void StopMovingCounter(MovingCounter& moving) {
  moving.running = false;
  if (moving.ticking.joinable()) {
    moving.ticking.join();
  }
}

void RemoveMovingCounter(MovingCounter& moving) {
  StopMovingCounter(moving);
  munmap(const_cast<std::uint32_t*>(moving.counter - 0xF0 / 4), 4096);
  unlink(moving.path.c_str());
}

// The thread is only a stand-in for the device: descheduled at one end of
// the measurement, it lags, so it has a few tries to be taken.
void ChooseMovingCounter(const MovingCounter& moving, TickClock& tick,
                         TickChoice& choice, std::int64_t& frequency) {
  const ClockPaths paths{
      {moving.path.c_str(), "/nonexistent", "/nonexistent", "/nonexistent"},
      "/nonexistent"};
  for (int attempt = 0; attempt < 5 && tick.source != TickSource::Hpet;
       ++attempt) {
    EXPECT_TRUE(MeasureAndChooseClocks(paths, frequency, tick, choice));
  }
}

// Taken where it states its true period, and reads follow the kernel's
// clock; stating 24 MHz, its rate disagrees and it is not.
void RunMovingCounter(std::uint32_t statedPeriod, bool expectTaken) {
  MovingCounter moving;
  StartMovingCounter(moving, statedPeriod);
  TickClock tick{};
  TickChoice choice{};
  std::int64_t frequency = 0;
  ChooseMovingCounter(moving, tick, choice, frequency);
  if (!expectTaken) {
    EXPECT_EQ(TickSource::KernelClock, tick.source);
    EXPECT_EQ(TickSource::KernelClock, choice.source);
    EXPECT_EQ(TimerRefusal::WrongRate, choice.refusals[0]);
  } else if (tick.source != TickSource::Hpet) {
    ADD_FAILURE() << "a counter at its stated rate was not taken";
  } else {
    EXPECT_EQ(TickSource::Hpet, choice.source);
    EXPECT_EQ(100000000U, choice.hertz);
    const std::uint32_t startTick = ReadTickCount(tick);
    const std::uint32_t startCoarse = CoarseMilliseconds();
    const timespec pause{0, 300000000};
    nanosleep(&pause, nullptr);
    const std::uint32_t ticked = ReadTickCount(tick) - startTick;
    const std::uint32_t coarse = CoarseMilliseconds() - startCoarse;
    EXPECT_LE(ticked - coarse + 20, 40U) << ticked << " ms against " << coarse;
  }
  RemoveMovingCounter(moving);
}

// The leap test on a taken timer that stops, or whose read goes 10 ms back
// (a million counts): one line on standard error names the timer and what
// it did, and the passes go on against the kernel's clock without a report.
// The other timer keeps its own reason (here: there is none).
void RunTimerGoneWrong(bool goBack, const char* says) {
  MovingCounter moving;
  StartMovingCounter(moving, Period100Mhz);
  LeapTestState state{};
  TickChoice choice{};
  ChooseMovingCounter(moving, state.tick, choice, state.frequency);
  if (state.tick.source != TickSource::Hpet) {
    RemoveMovingCounter(moving);
    GTEST_SKIP() << "the stand-in was not taken";
  }
  state.quietCounts = static_cast<std::uint64_t>(state.frequency) / 2;
  state.previousTick = ReadTickCount(state.tick);
  ReadCounter(state.currentSample);
  state.previousSample = state.currentSample;
  StopMovingCounter(moving);
  if (goBack) {
    *moving.counter -= 1000000;
  }
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const std::uint32_t start = CoarseMilliseconds();
  for (int i = 0; i < 100000 && CoarseMilliseconds() - start < 1500; ++i) {
    RunLeapTestPasses(state, 10000);
  }
  const std::string reports = testing::internal::GetCapturedStdout();
  const std::string line = testing::internal::GetCapturedStderr();
  EXPECT_EQ("", reports);
  EXPECT_EQ(TickSource::KernelClockAfterTimer, state.tick.source);
  EXPECT_NE(std::string::npos, line.find(says)) << line;
  EXPECT_EQ(
      1U, static_cast<std::size_t>(std::count(line.begin(), line.end(), '\n')));
  EXPECT_LE(ReadTickCount(state.tick) - state.previousTick, 50U);
  munmap(const_cast<std::uint32_t*>(moving.counter - 0xF0 / 4), 4096);
  unlink(moving.path.c_str());
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

TEST(HpetTest, TimerThatStopsOrGoesBackIsLeftForTheKernelClock) {
#if defined(__x86_64__)
  RunTimerGoneWrong(false,
                    "HPET: stopped while the test ran; ACPI PM timer: none "
                    "found\n");
  RunTimerGoneWrong(true,
                    "HPET: went back while the test ran; ACPI PM timer: none "
                    "found\n");
#else
  GTEST_SKIP() << "only x86-64 reads an HPET";
#endif
}

}  // namespace
