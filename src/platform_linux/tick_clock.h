#pragma once

// What the tick count keeps between reads on Linux, and the readers of
// each clock it may be (platform_clocks.h). One is chosen at start:
// the HPET, the ACPI PM timer, or the kernel's coarse clock. A timer that
// goes back or stops while the test runs is left for the kernel's clock,
// read on from where the timer's count stood.

#include <cstdint>

#include "hpet.h"
#include "pm_timer.h"
#include "timer_face.h"
#include "timer_refusal.h"
#include "wrapping_timer.h"

struct TickClock {
  WrappingTimer timer;             // the timer in use, extended
  OpenTimer opened;                // where it is read
  std::uint32_t afterTimerOffset;  // to the kernel's clock, once it is left
  TickSource source;
  // Why each timer is not the one in use (LetGo: an earlier one was taken),
  // for the line that tells of a timer left while the test runs.
  TimerRefusal refusals[TimerCount];
};

// The kernel's coarse monotonic clock in milliseconds, wrapping at 2^32.
std::uint32_t CoarseMilliseconds();
// The kernel's raw monotonic clock in nanoseconds; 0 where it cannot be
// read.
std::int64_t ReadRawNanoseconds();

// Reads the timer in use again where its read did not look right; leaves
// it for the kernel's clock where it went back or stopped.
std::uint32_t ReadTimerAgain(TickClock& tick);

// The kernel's coarse clock goes with every read of a timer, to tell how
// long ago the last one was: that costs little beside the timer's read. It
// is read first: a stop is taken after an instruction, and most often after
// the uncached read, which takes longest; there it falls between two
// passes, into both of their intervals, as it does between the reads of
// the kernel's clock. Inline, the same in every program that runs the
// loop of passes.
inline std::uint32_t AdvanceTimerTick(TickClock& tick, std::uint32_t low,
                                      std::uint32_t systemTick) {
  if (!IsPlausibleTimerRead(tick.timer, low, systemTick)) {
    return ReadTimerAgain(tick);
  }
  return AdvanceWrappingTimer(tick.timer, low, systemTick, ReadRawNanoseconds);
}

inline std::uint32_t ReadHpetTick(TickClock& tick) {
  const std::uint32_t systemTick = CoarseMilliseconds();
  return AdvanceTimerTick(tick, ReadHpet(tick.opened), systemTick);
}

inline std::uint32_t ReadPmTimerTick(TickClock& tick) {
  const std::uint32_t systemTick = CoarseMilliseconds();
  return AdvanceTimerTick(tick, ReadPmTimer(tick.opened.port, tick.timer.mask),
                          systemTick);
}

// Each reader also says whether its clock is still the one in use: only a
// timer's may be left.
struct KernelClockReader {
  std::uint32_t operator()(TickClock& /*tick*/) const {
    return CoarseMilliseconds();
  }
  static bool InUse(const TickClock& /*tick*/) { return true; }
};
struct HpetReader {
  std::uint32_t operator()(TickClock& tick) const { return ReadHpetTick(tick); }
  static bool InUse(const TickClock& tick) {
    return tick.source == TickSource::Hpet;
  }
};
struct PmTimerReader {
  std::uint32_t operator()(TickClock& tick) const {
    return ReadPmTimerTick(tick);
  }
  static bool InUse(const TickClock& tick) {
    return tick.source == TickSource::PmTimer;
  }
};
struct KernelClockAfterTimerReader {
  std::uint32_t operator()(TickClock& tick) const {
    return CoarseMilliseconds() + tick.afterTimerOffset;
  }
  static bool InUse(const TickClock& /*tick*/) { return true; }
};

template <typename Pass>
void WithTickReader(const TickClock& tick, Pass&& pass) {
  switch (tick.source) {
    case TickSource::Hpet:
      pass(HpetReader{});
      return;
    case TickSource::PmTimer:
      pass(PmTimerReader{});
      return;
    case TickSource::KernelClockAfterTimer:
      pass(KernelClockAfterTimerReader{});
      return;
    case TickSource::KernelClock:
      break;
  }
  pass(KernelClockReader{});
}
