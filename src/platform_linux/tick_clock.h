#pragma once

// What the tick count keeps between reads on Linux, and the readers of
// each clock it may be (platform_clocks.h). One is chosen at start:
// the HPET, the ACPI PM timer, or the kernel's coarse clock.

#include <cstdint>

#include "wrapping_timer.h"

enum class TickSource : std::uint8_t { KernelClock, Hpet, PmTimer };

struct TickClock {
  WrappingTimer timer;  // the HPET or the PM timer, extended
  const volatile std::uint32_t* hpetCounter;
  std::uint16_t pmTimerPort;
  TickSource source;
};

// The kernel's coarse monotonic clock in milliseconds, wrapping at 2^32.
std::uint32_t CoarseMilliseconds();
std::uint32_t ReadHpetTick(TickClock& tick);
std::uint32_t ReadPmTimerTick(TickClock& tick);

struct KernelClockReader {
  std::uint32_t operator()(TickClock& /*tick*/) const {
    return CoarseMilliseconds();
  }
};
struct HpetReader {
  std::uint32_t operator()(TickClock& tick) const { return ReadHpetTick(tick); }
};
struct PmTimerReader {
  std::uint32_t operator()(TickClock& tick) const {
    return ReadPmTimerTick(tick);
  }
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
    case TickSource::KernelClock:
      break;
  }
  pass(KernelClockReader{});
}
