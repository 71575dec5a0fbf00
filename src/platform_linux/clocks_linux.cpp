// Linux clocks: the processor's own counter as the performance counter (the
// time-stamp counter on x86, the architected timer's virtual count on
// 64-bit ARM, the raw monotonic clock elsewhere). The tick count is the
// HPET on x86-64 where a program may read it, since the kernel's clocks
// there usually follow the time-stamp counter itself; elsewhere, and
// wherever the HPET cannot be had, the coarse monotonic clock.

#include "clocks_linux.h"

#include <time.h>

#include <cerrno>

#include "hpet.h"
#include "platform.h"

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

constexpr const char* HpetDevice = "/dev/hpet";

constexpr std::int64_t NanosecondsPerSecond = 1000000000;

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

// The raw monotonic clock, the counter and, where one is mapped, the HPET's
// low bits at one moment.
struct ClockPair {
  std::int64_t nanoseconds;
  std::uint64_t count;
  std::uint32_t hpetLow;
};

// The counter is read on both sides of the clock, and of a few tries the
// narrowest bracket wins, so that an interruption between the reads (a busy
// machine) does not skew the pair. The HPET is read right after the
// bracket, always at the same distance from the clock, so that its
// uncached read does not widen it.
bool ReadClockPair(const volatile std::uint32_t* hpet, ClockPair& pair) {
  constexpr int Tries = 16;
  std::uint64_t narrowest = UINT64_MAX;
  for (int i = 0; i < Tries; ++i) {
    const std::uint64_t before = ReadHardwareCounter();
    std::int64_t nanoseconds = 0;
    if (!ReadClockNanoseconds(CLOCK_MONOTONIC_RAW, nanoseconds)) {
      return false;
    }
    const std::uint64_t width = ReadHardwareCounter() - before;
    const std::uint32_t hpetLow = hpet != nullptr ? ReadHpetCounter(hpet) : 0;
    if (width < narrowest) {
      narrowest = width;
      pair = ClockPair{nanoseconds, before + width / 2, hpetLow};
    }
  }
  return true;
}

// The clocks at both ends of about 100 ms of the raw monotonic clock. Both
// ends are timed, so the wait between them need not be exact, and sleeping
// leaves the processor to others.
bool MeasureClocks(const volatile std::uint32_t* hpet, ClockPair& start,
                   ClockPair& end) {
  constexpr timespec MeasureInterval{0, 100000000};
  if (!ReadClockPair(hpet, start)) {
    return false;
  }
  timespec remaining = MeasureInterval;
  while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
  return ReadClockPair(hpet, end);
}

std::int64_t CounterRate(const ClockPair& start, const ClockPair& end) {
  return static_cast<std::int64_t>(
      static_cast<double>(end.count - start.count) * NanosecondsPerSecond /
      static_cast<double>(end.nanoseconds - start.nanoseconds));
}

#endif

}  // namespace

bool AgreeWithinHalfPercent(std::uint64_t value, std::uint64_t reference) {
  constexpr std::uint64_t ToleranceDivisor = 200;  // 0.5 %
  const std::uint64_t difference =
      value > reference ? value - reference : reference - value;
  return difference <= reference / ToleranceDivisor;
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
// HPET, where it can be mapped, is measured in the same interval, and is
// the tick count only if it runs at the rate it states.
bool ReadCounterFrequencyWith(const char* hpetDevice, std::int64_t& frequency,
                              TickClock& tick) {
  tick = TickClock{};
#if LEAPCHECK_HARDWARE_COUNTER
  std::uint32_t period = 0;
  const volatile std::uint32_t* hpet =
      LEAPCHECK_HPET_TICK ? MapHpet(hpetDevice, period) : nullptr;
  ClockPair start{};
  ClockPair end{};
  if (!MeasureClocks(hpet, start, end)) {
    UnmapHpet(hpet);
    return false;
  }
  if (hpet != nullptr && HpetRateAgrees(period, end.hpetLow - start.hpetLow,
                                        end.nanoseconds - start.nanoseconds)) {
    UseHpetTick(tick, hpet, period, end.hpetLow, CoarseMilliseconds());
  } else {
    UnmapHpet(hpet);
  }
  const std::int64_t measured = CounterRate(start, end);
  frequency = ChooseCounterFrequency(StatedCounterFrequency(), measured);
  return measured > 0;
#else
  static_cast<void>(hpetDevice);
  frequency = NanosecondsPerSecond;
  return true;
#endif
}

bool ReadCounterFrequency(std::int64_t& frequency, TickClock& tick) {
  return ReadCounterFrequencyWith(HpetDevice, frequency, tick);
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

// The kernel's coarse clock goes with every HPET read, to tell how long
// ago the last one was: that costs little beside the device's read. It is
// read first: a stop is taken after an instruction, and most often after
// the uncached read, which takes longest; there it falls between two
// passes, into both of their intervals, as it does between the reads of
// the system's tick count.
std::uint32_t ReadTickCount(TickClock& tick) {
#if LEAPCHECK_HPET_TICK
  if (tick.counter != nullptr) {
    const std::uint32_t systemTick = CoarseMilliseconds();
    const std::uint32_t low = *tick.counter;
    return AdvanceHpetTick(tick, low, systemTick);
  }
#else
  static_cast<void>(tick);
#endif
  return CoarseMilliseconds();
}

int LastPlatformError() { return errno; }
