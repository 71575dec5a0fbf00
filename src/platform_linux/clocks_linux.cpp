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

#include "hot_path.h"
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

constexpr ClockPaths SystemPaths{
    {"/dev/hpet", "/sys/firmware/acpi/tables/HPET"},
    "/sys/firmware/acpi/tables/FACP",
    "/proc/ioports",
    "/sys/devices/system/clocksource/clocksource0/current_clocksource"};

// The clock's line, on standard error: standard output is the report's.
void PrintTickLine(const TickChoice& choice) {
  constexpr std::size_t LineCapacity = 512;
  char line[LineCapacity];
  FormatTickLine(choice, line, LineCapacity);
  std::fprintf(stderr, "%s\n", line);
}

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
  bool pmTimerInOrder;     // every read of the PM timer came in order
  bool pmTimerPast24Bits;  // a read of it showed a count of 2^24 or more
};

// The counter is read on both sides of the clock, and of a few tries the
// narrowest bracket wins, so that an interruption between the reads (a busy
// machine) does not skew the pair. The timers are read right after the
// bracket, always at the same distance from the clock, so that their slow
// uncached reads do not widen it.
bool ReadClockPair(const TimerCandidates& timers, ClockPair& pair) {
  constexpr int Tries = 16;
  std::uint64_t narrowest = UINT64_MAX;
  bool past24Bits = false;
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
    past24Bits |= pmTimerLow > PmTimer24BitMask;
    if (width < narrowest) {
      narrowest = width;
      pair = ClockPair{
          nanoseconds, before + width / 2, hpetLow, pmTimerLow, false, false};
    }
  }
  // Apart from the bracket, which a read that tries again would widen.
  std::uint32_t checked = 0;
  const bool inOrder = !timers.pmTimerOpen ||
                       ReadPmTimerChecked(timers.pmTimer.port,
                                          PmTimerMask(timers.pmTimer), checked);
  pair.pmTimerInOrder = inOrder;
  pair.pmTimerPast24Bits = past24Bits;
  return true;
}

// The clocks at both ends of about 100 ms of the raw monotonic clock. Both
// ends are timed, so the wait between them need not be exact, and sleeping
// leaves the processor to others. A measurement stretched past a second (a
// stop, a paused virtual machine) may have let a timer wrap unseen, and is
// taken again, a few times at most.
bool MeasureClocks(const TimerCandidates& timers, ClockPair& start,
                   ClockPair& end) {
  constexpr timespec MeasureInterval{0, 100000000};
  constexpr std::int64_t Stretched = NanosecondsPerSecond;
  constexpr int Tries = 3;
  for (int i = 0; i < Tries; ++i) {
    if (!ReadClockPair(timers, start)) {
      return false;
    }
    timespec remaining = MeasureInterval;
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
    if (!ReadClockPair(timers, end)) {
      return false;
    }
    if (end.nanoseconds - start.nanoseconds <= Stretched) {
      break;
    }
  }
  return true;
}

// The HPET where it can be mapped (on x86-64 only: elsewhere the kernel
// offers none to programs) and the PM timer, both, so that the one
// measurement tells which of them counts its rate.
TimerCandidates OpenTimers(const ClockPaths& paths, TickChoice& choice) {
  TimerCandidates timers{};
  if (LEAPCHECK_HPET_TICK) {
    timers.hpet = MapHpet(paths.hpet, timers.hpetPeriod, choice.hpet);
  } else {
    choice.hpet = TimerRefusal::NotThisProcessor;
  }
  timers.pmTimerOpen =
      OpenPmTimer(paths.fadt, paths.ioports, timers.pmTimer, choice.pmTimer);
  return timers;
}

// Firmware sets TMR_VAL_EXT on 24-bit timers too, which the kernel never
// reads past 24 bits: 32 only where the timer showed a count beyond them.
void ProvePmTimerBits(PmTimerPort& timer, const ClockPair& start,
                      const ClockPair& end) {
  timer.bits = ProvenPmTimerBits(
      timer.bits, start.pmTimerPast24Bits || end.pmTimerPast24Bits);
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
                       end.hpetLow, CoarseMilliseconds(),
                       RawClockSample{end.hpetLow - start.hpetLow, nanoseconds,
                                      end.nanoseconds, 0, 0});
    choice.hertz = TimerHertz(HpetRate(timers.hpetPeriod));
    choice.pmTimer = TimerRefusal::None;
  } else if (timers.hpet != nullptr) {
    choice.hpet = TimerRefusal::WrongRate;
    UnmapHpet(timers.hpet);
  }
  if (!timers.pmTimerOpen) {
    return;
  }
  if (!start.pmTimerInOrder || !end.pmTimerInOrder) {
    if (tick.source == TickSource::KernelClock) {
      choice.pmTimer = TimerRefusal::OutOfOrder;
    }
    ClosePmTimer(timers.pmTimer);
    return;
  }
  ProvePmTimerBits(timers.pmTimer, start, end);
  const std::uint32_t mask = PmTimerMask(timers.pmTimer);
  if (tick.source == TickSource::KernelClock &&
      TimerRateAgrees(PmTimerRate, (end.pmTimerLow - start.pmTimerLow) & mask,
                      nanoseconds)) {
    tick.source = TickSource::PmTimer;
    tick.pmTimerPort = timers.pmTimer.port;
    tick.hpetRefusal = choice.hpet;
    StartWrappingTimer(
        tick.timer, timers.pmTimer.bits, PmTimerRate, end.pmTimerLow,
        CoarseMilliseconds(),
        RawClockSample{(end.pmTimerLow - start.pmTimerLow) & mask, nanoseconds,
                       end.nanoseconds, 0, 0});
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

std::int64_t MeasuredCounterRate(std::uint64_t counts,
                                 std::int64_t nanoseconds) {
  // A counter that went back (counts wrapped) or a rate beyond any
  // counter's is no measurement; past 2^63 the conversion would be
  // undefined.
  constexpr double Highest = 1e18;
  if (counts > static_cast<std::uint64_t>(INT64_MAX) || nanoseconds <= 0) {
    return 0;
  }
  const double rate = static_cast<double>(counts) * NanosecondsPerSecond /
                      static_cast<double>(nanoseconds);
  return rate < Highest ? static_cast<std::int64_t>(rate) : 0;
}

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
  const std::int64_t measured = MeasuredCounterRate(
      end.count - start.count, end.nanoseconds - start.nanoseconds);
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

namespace {

// Which clock the run compares against and what it kept, on standard error
// (standard output is the report's alone), so that the log shows the state
// the test runs in. A run that could not give up a right it held stops.
void AnnounceClocks(const TickChoice& choice, const PrivilegeDrop& drop) {
  PrintTickLine(choice);
  if (drop.outcome != DropOutcome::Done) {
    constexpr std::size_t LineCapacity = 512;
    char line[LineCapacity];
    FormatPrivilegeLine(drop, line, LineCapacity);
    std::fprintf(stderr, "%s\n", line);
  }
  if (drop.outcome == DropOutcome::Failed) {
    std::exit(EXIT_FAILURE);
  }
}

}  // namespace

// Measures and chooses; then the run needs root no longer, gives it up, and
// says so.
bool StartClocks(std::int64_t& frequency, TickClock& tick, int& error) {
  TickChoice choice{};
  const bool measured =
      MeasureAndChooseClocks(SystemPaths, frequency, tick, choice);
  error = measured ? 0 : errno;
  AnnounceClocks(choice, GiveUpPrivileges(SystemPrivilegeCalls()));
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

namespace {

std::uint32_t ReadTimerLow(const TickClock& tick) {
  return tick.source == TickSource::Hpet
             ? *tick.hpetCounter
             : ReadPmTimer(tick.pmTimerPort, tick.timer.mask);
}

// The timer that went wrong is let go (its comparator or port freed), and
// the kernel's clock read on from the timer's last count and the time since
// it, so that the change shows as no leap; the line says so, once.
LEAPCHECK_COLD_PATH std::uint32_t LeaveTimer(TickClock& tick, TimerRead read,
                                             std::uint32_t systemTick) {
  const TimerRefusal why = read == TimerRead::Stopped ? TimerRefusal::Stopped
                                                      : TimerRefusal::WentBack;
  const bool hpet = tick.source == TickSource::Hpet;
  TickChoice choice{TickSource::KernelClockAfterTimer,
                    MillisecondsPerSecond,
                    hpet ? why : tick.hpetRefusal,
                    hpet ? TimerRefusal::LetGo : why,
                    {}};
  ReadClocksource(SystemPaths.clocksource, choice.clocksource);
  const std::uint32_t milliseconds =
      TimerMilliseconds(tick.timer.count, tick.timer.millisecondsPerCountQ64) +
      (systemTick - tick.timer.guardTick);
  tick.afterTimerOffset = milliseconds - systemTick;
  if (hpet) {
    UnmapHpetByCounter(tick.hpetCounter);
  } else {
    ClosePmTimer(PmTimerPort{tick.pmTimerPort, 0});
  }
  tick.source = TickSource::KernelClockAfterTimer;
  PrintTickLine(choice);
  return milliseconds;
}

}  // namespace

// A read that does not look right is taken again a few times: a one-off
// glitch, or a stop of the program between the kernel's clock and the
// timer, reads right the next time; a timer that reads back or still every
// time is left.
LEAPCHECK_COLD_PATH std::uint32_t ReadTimerAgain(TickClock& tick) {
  constexpr int Reads = 64;
  TimerRead read = TimerRead::Plausible;
  std::uint32_t systemTick = 0;
  for (int i = 0; i < Reads; ++i) {
    systemTick = CoarseMilliseconds();
    const std::uint32_t low = ReadTimerLow(tick);
    read = ClassifyTimerRead(tick.timer, low, systemTick);
    if (read == TimerRead::Plausible) {
      return AdvanceWrappingTimer(tick.timer, low, systemTick,
                                  ReadRawNanoseconds);
    }
  }
  return read == TimerRead::SlightlyBack
             ? HoldWrappingTimer(tick.timer, systemTick)
             : LeaveTimer(tick, read, systemTick);
}

std::int64_t ReadRawNanoseconds() {
  std::int64_t nanoseconds = 0;
  return ReadClockNanoseconds(CLOCK_MONOTONIC_RAW, nanoseconds) ? nanoseconds
                                                                : 0;
}

std::uint32_t ReadTickCount(TickClock& tick) {
  std::uint32_t milliseconds = 0;
  WithTickReader(tick, [&](auto read) { milliseconds = read(tick); });
  return milliseconds;
}

int LastPlatformError() { return errno; }
