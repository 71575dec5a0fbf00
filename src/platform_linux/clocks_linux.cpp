// Linux clocks: the processor's own counter as the performance counter (the
// time-stamp counter on x86, the architected timer's virtual count on
// 64-bit ARM, the raw monotonic clock elsewhere). The tick count is a timer
// of the machine's own where a program may read one (the HPET, else the
// ACPI PM timer), since the kernel's clocks usually follow the counter
// itself; elsewhere the coarse monotonic clock.

#include "clocks_linux.h"

#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iterator>

#include "hot_path.h"
#include "platform_clocks.h"
#include "privileges.h"
#include "timer_list.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <x86intrin.h>
#endif

namespace {

constexpr std::int64_t NanosecondsPerSecond = 1000000000;
constexpr std::uint64_t MillisecondsPerSecond = 1000;

constexpr ClockPaths SystemPaths{
    {"/dev/hpet", "/sys/firmware/acpi/tables/HPET",
     "/sys/firmware/acpi/tables/FACP", "/proc/ioports"},
    "/sys/devices/system/clocksource/clocksource0/current_clocksource"};

// What the line tells of the clock `tick` reads: its rate, each timer's
// reason, and the kernel's clocksource read from `clocksourcePath`.
TickChoice ChoiceOf(const TickClock& tick, const char* clocksourcePath) {
  TickChoice choice{};
  choice.source = tick.source;
  choice.hertz = TimerIndexOf(tick.source) < TimerCount
                     ? TimerHertz(tick.opened.rate)
                     : MillisecondsPerSecond;
  std::copy(std::begin(tick.refusals), std::end(tick.refusals),
            std::begin(choice.refusals));
  ReadClocksource(clocksourcePath, choice.clocksource);
  return choice;
}

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
  OpenTimer timers[TimerCount];
  bool open[TimerCount];
};

// A timer at one end of the measurement.
struct TimerSample {
  std::uint32_t low;      // its count, read right after the clock
  std::uint32_t highest;  // the highest of its reads
  bool inOrder;           // a read that checks its order found it so
};

// The raw monotonic clock, the counter and the candidate timers' counts at
// one moment.
struct ClockPair {
  std::int64_t nanoseconds;
  std::uint64_t count;
  TimerSample timers[TimerCount];
};

void ReadOpenTimers(const TimerCandidates& candidates,
                    std::uint32_t (&lows)[TimerCount]) {
  for (std::size_t i = 0; i < TimerCount; ++i) {
    lows[i] = candidates.open[i] ? TimerFaces[i].read(candidates.timers[i]) : 0;
  }
}

// Apart from the bracket, which a read that tries again would widen.
void CheckOpenTimers(const TimerCandidates& candidates, ClockPair& pair,
                     const std::uint32_t (&highest)[TimerCount]) {
  for (std::size_t i = 0; i < TimerCount; ++i) {
    std::uint32_t checked = 0;
    pair.timers[i].inOrder =
        candidates.open[i] &&
        TimerFaces[i].readChecked(candidates.timers[i], checked);
    pair.timers[i].highest = highest[i];
  }
}

// The counter is read on both sides of the clock, and of a few tries the
// narrowest bracket wins, so that an interruption between the reads (a busy
// machine) does not skew the pair. The timers are read right after the
// bracket, always at the same distance from the clock, so that their slow
// uncached reads do not widen it.
bool ReadClockPair(const TimerCandidates& candidates, ClockPair& pair) {
  constexpr int Tries = 16;
  std::uint64_t narrowest = UINT64_MAX;
  std::uint32_t highest[TimerCount] = {};
  for (int i = 0; i < Tries; ++i) {
    const std::uint64_t before = ReadHardwareCounter();
    std::int64_t nanoseconds = 0;
    if (!ReadClockNanoseconds(CLOCK_MONOTONIC_RAW, nanoseconds)) {
      return false;
    }
    const std::uint64_t width = ReadHardwareCounter() - before;
    std::uint32_t lows[TimerCount] = {};
    ReadOpenTimers(candidates, lows);
    for (std::size_t t = 0; t < TimerCount; ++t) {
      highest[t] = lows[t] > highest[t] ? lows[t] : highest[t];
    }
    if (width < narrowest) {
      narrowest = width;
      pair = ClockPair{nanoseconds, before + width / 2, {}};
      for (std::size_t t = 0; t < TimerCount; ++t) {
        pair.timers[t].low = lows[t];
      }
    }
  }
  CheckOpenTimers(candidates, pair, highest);
  return true;
}

// The clocks at both ends of about 100 ms of the raw monotonic clock. Both
// ends are timed, so the wait between them need not be exact, and sleeping
// leaves the processor to others. A measurement stretched past a second (a
// stop, a paused virtual machine) may have let a timer wrap unseen, and is
// taken again, a few times at most.
bool MeasureClocks(const TimerCandidates& candidates, ClockPair& start,
                   ClockPair& end) {
  constexpr timespec MeasureInterval{0, 100000000};
  constexpr std::int64_t Stretched = NanosecondsPerSecond;
  constexpr int Tries = 3;
  for (int i = 0; i < Tries; ++i) {
    if (!ReadClockPair(candidates, start)) {
      return false;
    }
    timespec remaining = MeasureInterval;
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
    if (!ReadClockPair(candidates, end)) {
      return false;
    }
    if (end.nanoseconds - start.nanoseconds <= Stretched) {
      break;
    }
  }
  return true;
}

// Every timer the machine lets this process read, so that the one
// measurement tells which of them counts its rate.
TimerCandidates OpenTimers(const TimerPaths& paths,
                           TimerRefusal (&refusals)[TimerCount]) {
  TimerCandidates candidates{};
  for (std::size_t i = 0; i < TimerCount; ++i) {
    candidates.open[i] =
        TimerFaces[i].open(paths, candidates.timers[i], refusals[i]);
  }
  return candidates;
}

// Whether the timer's reads came in order and it counted its stated rate
// over the measurement's `nanoseconds`, in the width it proved.
TimerRefusal ProveTimer(const TimerFace& face, OpenTimer& timer,
                        const TimerSample& start, const TimerSample& end,
                        std::int64_t nanoseconds) {
  if (!start.inOrder || !end.inOrder) {
    return TimerRefusal::OutOfOrder;
  }
  const std::uint32_t highest =
      start.highest > end.highest ? start.highest : end.highest;
  timer.bits = face.provenBits(timer, highest);
  const std::uint32_t counts = (end.low - start.low) & TimerMask(timer.bits);
  return TimerRateAgrees(timer.rate, counts, nanoseconds)
             ? TimerRefusal::None
             : TimerRefusal::WrongRate;
}

void TakeTimer(std::size_t index, const OpenTimer& timer,
               const ClockPair& start, const ClockPair& end, TickClock& tick) {
  const std::uint32_t low = end.timers[index].low;
  const std::uint32_t counts =
      (low - start.timers[index].low) & TimerMask(timer.bits);
  tick.source = TimerFaces[index].source;
  tick.opened = timer;
  StartWrappingTimer(tick.timer, timer.bits, timer.rate, low,
                     CoarseMilliseconds(),
                     RawClockSample{counts, end.nanoseconds - start.nanoseconds,
                                    end.nanoseconds, 0, 0});
}

// The first timer, in order, that proves itself is the tick count; the
// others are let go, each with its reason.
void ChooseTick(TimerCandidates& candidates, const ClockPair& start,
                const ClockPair& end, TickClock& tick) {
  for (std::size_t i = 0; i < TimerCount; ++i) {
    if (!candidates.open[i]) {
      continue;
    }
    OpenTimer& timer = candidates.timers[i];
    const TimerRefusal refusal =
        tick.source != TickSource::KernelClock
            ? TimerRefusal::LetGo
            : ProveTimer(TimerFaces[i], timer, start.timers[i], end.timers[i],
                         end.nanoseconds - start.nanoseconds);
    if (refusal == TimerRefusal::None) {
      TakeTimer(i, timer, start, end, tick);
    } else {
      tick.refusals[i] = refusal;
      TimerFaces[i].close(timer);
    }
  }
}

// No rate to measure a timer with: each is let go.
void CloseTimers(const TimerCandidates& candidates, TickClock& tick) {
  for (std::size_t i = 0; i < TimerCount; ++i) {
    if (candidates.open[i]) {
      tick.refusals[i] = TimerRefusal::Unreadable;
      TimerFaces[i].close(candidates.timers[i]);
    }
  }
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
namespace {

bool MeasureAndChooseTick(const TimerPaths& paths, std::int64_t& frequency,
                          TickClock& tick) {
#if LEAPCHECK_HARDWARE_COUNTER
  TimerCandidates candidates = OpenTimers(paths, tick.refusals);
  ClockPair start{};
  ClockPair end{};
  if (!MeasureClocks(candidates, start, end)) {
    CloseTimers(candidates, tick);
    return false;  // no rate to divide by
  }
  ChooseTick(candidates, start, end, tick);
  const std::int64_t measured = MeasuredCounterRate(
      end.count - start.count, end.nanoseconds - start.nanoseconds);
  frequency = ChooseCounterFrequency(StatedCounterFrequency(), measured);
  return measured > 0;
#else
  static_cast<void>(paths);
  std::fill(std::begin(tick.refusals), std::end(tick.refusals),
            TimerRefusal::NotThisProcessor);
  frequency = NanosecondsPerSecond;
  return true;
#endif
}

}  // namespace

bool MeasureAndChooseClocks(const ClockPaths& paths, std::int64_t& frequency,
                            TickClock& tick, TickChoice& choice) {
  tick = TickClock{};
  const bool measured = MeasureAndChooseTick(paths.timers, frequency, tick);
  choice = ChoiceOf(tick, paths.clocksource);
  return measured;
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

// The timer that went wrong is let go (its mapping or port freed), and
// the kernel's clock read on from the timer's last count and the time since
// it, so that the change shows as no leap; the line says so, once.
LEAPCHECK_COLD_PATH std::uint32_t LeaveTimer(TickClock& tick, TimerRead read,
                                             std::uint32_t systemTick) {
  const std::size_t left = TimerIndexOf(tick.source);
  tick.refusals[left] = read == TimerRead::Stopped ? TimerRefusal::Stopped
                                                   : TimerRefusal::WentBack;
  TimerFaces[left].close(tick.opened);
  const std::uint32_t milliseconds =
      TimerMilliseconds(tick.timer.count, tick.timer.millisecondsPerCountQ64) +
      (systemTick - tick.timer.guardTick);
  tick.afterTimerOffset = milliseconds - systemTick;
  tick.source = TickSource::KernelClockAfterTimer;
  PrintTickLine(ChoiceOf(tick, SystemPaths.clocksource));
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
    const std::uint32_t low =
        TimerFaces[TimerIndexOf(tick.source)].read(tick.opened);
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
