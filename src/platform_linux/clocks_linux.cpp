// Linux clocks: the processor's own counter as the performance counter (the
// time-stamp counter on x86, the architected timer's virtual count on
// 64-bit ARM, the raw monotonic clock elsewhere). The tick count is a timer
// of the machine's own where a program may read one (the HPET, else the
// ACPI PM timer), since the kernel's clocks usually follow the counter
// itself; elsewhere the coarse monotonic clock.

#include "clocks_linux.h"

#include <time.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "hpet.h"
#include "platform_clocks.h"
#include "pm_timer.h"
#include "privileges.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <x86intrin.h>
#endif

#if defined(__x86_64__)
#define LEAPCHECK_HPET_TICK 1
#else
#define LEAPCHECK_HPET_TICK 0
#endif

namespace {

constexpr std::int64_t NanosecondsPerSecond = 1000000000;
constexpr std::uint64_t MillisecondsPerSecond = 1000;

bool ReadClockNanoseconds(clockid_t clock, std::int64_t& nanoseconds) {
  timespec now{};
  if (clock_gettime(clock, &now) != 0) {
    return false;
  }
  nanoseconds = static_cast<std::int64_t>(now.tv_sec) * NanosecondsPerSecond +
                now.tv_nsec;
  return true;
}

#if defined(__x86_64__) || defined(__i386__)
#define LEAPCHECK_HARDWARE_COUNTER 1

std::uint64_t ReadHardwareCounter() { return __rdtsc(); }

// The CPU's own statement of the counter's rate, where it makes one.
std::int64_t StatedCounterFrequency() {
  unsigned eax = 0;
  unsigned ebx = 0;
  unsigned ecx = 0;
  unsigned edx = 0;
  if (__get_cpuid_max(0, nullptr) < 0x15) {
    return 0;
  }
  __cpuid_count(0x15, 0, eax, ebx, ecx, edx);
  if (eax == 0 || ebx == 0 || ecx == 0) {
    return 0;
  }
  return static_cast<std::int64_t>(std::uint64_t{ecx} * ebx / eax);
}

#elif defined(__aarch64__)
#define LEAPCHECK_HARDWARE_COUNTER 1

// The virtual count register; the barrier keeps the read from being done
// ahead of the instructions before it, as the kernel's own readers do.
std::uint64_t ReadHardwareCounter() {
  std::uint64_t count = 0;
  asm volatile("isb\n\tmrs %0, cntvct_el0" : "=r"(count) : : "memory");
  return count;
}

// The rate the firmware wrote into the timer's frequency register; 0 where
// it wrote none.
std::int64_t StatedCounterFrequency() {
  std::uint64_t frequency = 0;
  asm volatile("mrs %0, cntfrq_el0" : "=r"(frequency));
  return static_cast<std::int64_t>(frequency & 0xFFFFFFFFU);
}

#else
#define LEAPCHECK_HARDWARE_COUNTER 0
#endif

#if LEAPCHECK_HARDWARE_COUNTER

// The timers that may become the tick count, found and opened before the
// rate measurement, which then measures them too.
struct TimerCandidates {
  const volatile std::uint32_t* hpet;  // mapped registers, or null
  std::uint32_t hpetPeriod;
  PmTimerPort pmTimer;
  bool pmTimerOpen;
};

// The raw monotonic clock, the counter and the candidate timers' counts at
// one moment.
struct ClockPair {
  std::int64_t nanoseconds;
  std::uint64_t count;
  std::uint32_t hpetLow;
  std::uint32_t pmTimerLow;
};

// The counter is read on both sides of the clock, and of a few tries the
// narrowest bracket wins, so that an interruption between the reads (a busy
// machine) does not skew the pair. The timers are read right after the
// bracket, always at the same distance from the clock, so that their slow
// uncached reads do not widen it.
bool ReadClockPair(const TimerCandidates& timers, ClockPair& pair) {
  constexpr int Tries = 16;
  std::uint64_t narrowest = UINT64_MAX;
  for (int i = 0; i < Tries; ++i) {
    const std::uint64_t before = ReadHardwareCounter();
    std::int64_t nanoseconds = 0;
    if (!ReadClockNanoseconds(CLOCK_MONOTONIC_RAW, nanoseconds)) {
      return false;
    }
    const std::uint64_t width = ReadHardwareCounter() - before;
    const std::uint32_t hpetLow =
        timers.hpet != nullptr ? *HpetMainCounter(timers.hpet) : 0;
    const std::uint32_t pmTimerLow =
        timers.pmTimerOpen
            ? ReadPmTimer(timers.pmTimer.port, PmTimerMask(timers.pmTimer))
            : 0;
    if (width < narrowest) {
      narrowest = width;
      pair = ClockPair{nanoseconds, before + width / 2, hpetLow, pmTimerLow};
    }
  }
  return true;
}

// The clocks at both ends of about 100 ms of the raw monotonic clock. Both
// ends are timed, so the wait between them need not be exact, and sleeping
// leaves the processor to others.
bool MeasureClocks(const TimerCandidates& timers, ClockPair& start,
                   ClockPair& end) {
  constexpr timespec MeasureInterval{0, 100000000};
  if (!ReadClockPair(timers, start)) {
    return false;
  }
  timespec remaining = MeasureInterval;
  while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
  return ReadClockPair(timers, end);
}

std::int64_t CounterRate(const ClockPair& start, const ClockPair& end) {
  return static_cast<std::int64_t>(
      static_cast<double>(end.count - start.count) * NanosecondsPerSecond /
      static_cast<double>(end.nanoseconds - start.nanoseconds));
}

// The HPET where it can be mapped (on x86-64 only: elsewhere the kernel
// offers none to programs) and the PM timer, both, so that the one
// measurement tells which of them counts its rate.
TimerCandidates OpenTimers(const ClockPaths& paths, TickChoice& choice) {
  TimerCandidates timers{};
  if (LEAPCHECK_HPET_TICK) {
    timers.hpet = MapHpet(paths.hpetDevice, timers.hpetPeriod, choice.hpet);
  } else {
    choice.hpet = TimerRefusal::NotThisProcessor;
  }
  timers.pmTimerOpen =
      OpenPmTimer(paths.fadt, paths.ioports, timers.pmTimer, choice.pmTimer);
  return timers;
}

// The first timer that counted its stated rate over the measurement is the
// tick count; the others are let go.
void ChooseTick(TimerCandidates& timers, const ClockPair& start,
                const ClockPair& end, TickClock& tick, TickChoice& choice) {
  const std::int64_t nanoseconds = end.nanoseconds - start.nanoseconds;
  if (timers.hpet != nullptr &&
      TimerRateAgrees(HpetRate(timers.hpetPeriod), end.hpetLow - start.hpetLow,
                      nanoseconds)) {
    tick.source = TickSource::Hpet;
    tick.hpetCounter = HpetMainCounter(timers.hpet);
    StartWrappingTimer(tick.timer, HpetCounterBits, HpetRate(timers.hpetPeriod),
                       end.hpetLow, CoarseMilliseconds());
    choice.hertz = TimerHertz(HpetRate(timers.hpetPeriod));
    choice.pmTimer = TimerRefusal::None;
  } else if (timers.hpet != nullptr) {
    choice.hpet = TimerRefusal::WrongRate;
    UnmapHpet(timers.hpet);
  }
  if (!timers.pmTimerOpen) {
    return;
  }
  const std::uint32_t mask = PmTimerMask(timers.pmTimer);
  if (tick.source == TickSource::KernelClock &&
      TimerRateAgrees(PmTimerRate, (end.pmTimerLow - start.pmTimerLow) & mask,
                      nanoseconds)) {
    tick.source = TickSource::PmTimer;
    tick.pmTimerPort = timers.pmTimer.port;
    StartWrappingTimer(tick.timer, timers.pmTimer.bits, PmTimerRate,
                       end.pmTimerLow, CoarseMilliseconds());
    choice.hertz = TimerHertz(PmTimerRate);
    return;
  }
  if (tick.source == TickSource::KernelClock) {
    choice.pmTimer = TimerRefusal::WrongRate;
  }
  ClosePmTimer(timers.pmTimer);
}

#endif
}  // namespace

std::int64_t ChooseCounterFrequency(std::int64_t stated,
                                    std::int64_t measured) {
  if (stated <= 0 || measured <= 0) {
    return measured;
  }
  return AgreeWithinHalfPercent(static_cast<std::uint64_t>(stated),
                                static_cast<std::uint64_t>(measured))
             ? stated
             : measured;
}

// The processor's statement of the counter's rate is nominal (x86) or
// whatever the firmware wrote (ARM), and an error in it shows in full
// across a long stop of the program; so the rate is measured against the
// kernel's clock and the stated one kept only where the two agree. The
// timers are measured in the same interval, so that choosing one makes
// start-up no longer.
bool MeasureAndChooseClocks(const ClockPaths& paths, std::int64_t& frequency,
                            TickClock& tick, TickChoice& choice) {
  tick = TickClock{};
  choice = TickChoice{};
  choice.hertz = MillisecondsPerSecond;
  ReadClocksource(paths.clocksource, choice.clocksource);
#if LEAPCHECK_HARDWARE_COUNTER
  TimerCandidates timers = OpenTimers(paths, choice);
  ClockPair start{};
  ClockPair end{};
  const bool timed = MeasureClocks(timers, start, end);
  if (!timed) {
    start = end = ClockPair{};  // no timer counted its rate: all let go
  }
  ChooseTick(timers, start, end, tick, choice);
  choice.source = tick.source;
  if (!timed) {
    return false;  // no rate to divide by
  }
  const std::int64_t measured = CounterRate(start, end);
  frequency = ChooseCounterFrequency(StatedCounterFrequency(), measured);
  return measured > 0;
#else
  static_cast<void>(paths);
  choice.hpet = TimerRefusal::NotThisProcessor;
  choice.pmTimer = TimerRefusal::NotThisProcessor;
  frequency = NanosecondsPerSecond;
  return true;
#endif
}

// Once the clocks are chosen the run needs root no longer, and then says
// which clock it compares against and what it kept, on standard error
// (standard output is the report's alone), so that the log shows the state
// the test runs in. A run that could not give up a right it held stops.
bool ReadCounterFrequency(std::int64_t& frequency, TickClock& tick) {
  constexpr ClockPaths SystemPaths{
      "/dev/hpet", "/sys/firmware/acpi/tables/FACP", "/proc/ioports",
      "/sys/devices/system/clocksource/clocksource0/current_clocksource"};
  TickChoice choice{};
  const bool measured =
      MeasureAndChooseClocks(SystemPaths, frequency, tick, choice);
  const int error = errno;
  const PrivilegeDrop drop = GiveUpPrivileges(SystemPrivilegeCalls());
  constexpr std::size_t LineCapacity = 512;
  char line[LineCapacity];
  FormatTickLine(choice, line, LineCapacity);
  std::fprintf(stderr, "%s\n", line);
  if (drop.outcome != DropOutcome::Done) {
    FormatPrivilegeLine(drop, line, LineCapacity);
    std::fprintf(stderr, "%s\n", line);
  }
  if (drop.outcome == DropOutcome::Failed) {
    std::exit(EXIT_FAILURE);
  }
  errno = error;  // LastPlatformError reports the measurement's failure
  return measured;
}

bool ReadCounter(std::int64_t& counter) {
#if LEAPCHECK_HARDWARE_COUNTER
  // Wraps like QueryPerformanceCounter's signed count.
  counter = static_cast<std::int64_t>(ReadHardwareCounter());
  return true;
#else
  return ReadClockNanoseconds(CLOCK_MONOTONIC_RAW, counter);
#endif
}

// Runs on every pass: the nanoseconds become milliseconds by a multiply and
// a shift, exact for 0 <= ns < 10^9 (2^50 / 10^6 rounded up), so that no
// build divides here, whatever it optimises for. `now` is left for the call
// to fill rather than cleared on every pass; the call fails only for a
// clock the kernel lacks (none since 2.6.32), and then the tick is 0.
std::uint32_t CoarseMilliseconds() {
  constexpr std::uint64_t MillisecondsPerNanosecondQ50 = 1125899907;
  timespec now;
  if (clock_gettime(CLOCK_MONOTONIC_COARSE, &now) != 0) {
    return 0;
  }
  const std::uint64_t milliseconds =
      static_cast<std::uint64_t>(now.tv_sec) * 1000U +
      ((static_cast<std::uint64_t>(now.tv_nsec) *
        MillisecondsPerNanosecondQ50) >>
       50U);
  return static_cast<std::uint32_t>(milliseconds);
}

// The kernel's coarse clock goes with every read of a timer, to tell how
// long ago the last one was: that costs little beside the timer's read. It
// is read first: a stop is taken after an instruction, and most often after
// the uncached read, which takes longest; there it falls between two
// passes, into both of their intervals, as it does between the reads of
// the kernel's clock.
std::uint32_t ReadHpetTick(TickClock& tick) {
  const std::uint32_t systemTick = CoarseMilliseconds();
  return AdvanceWrappingTimer(tick.timer, *tick.hpetCounter, systemTick);
}

std::uint32_t ReadPmTimerTick(TickClock& tick) {
  const std::uint32_t systemTick = CoarseMilliseconds();
  return AdvanceWrappingTimer(
      tick.timer, ReadPmTimer(tick.pmTimerPort, tick.timer.mask), systemTick);
}

std::uint32_t ReadTickCount(TickClock& tick) {
  std::uint32_t milliseconds = 0;
  WithTickReader(tick, [&](auto read) { milliseconds = read(tick); });
  return milliseconds;
}

int LastPlatformError() { return errno; }
