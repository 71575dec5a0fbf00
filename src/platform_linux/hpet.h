#pragma once

// The HPET as the tick count: a timer with its own oscillator, whose
// registers the kernel lets a program map read-only from /dev/hpet. Read
// directly it is a clock that no change of the processor's counter moves,
// where the kernel's own clock may follow that very counter.

#include <cstdint>

#include "timer_refusal.h"
#include "wrapping_timer.h"

// The longest period the timer may state: 100 ns a count (10 MHz).
constexpr std::uint32_t MaxHpetPeriodFemtoseconds = 100000000;

// The main counter is read in 32 bits, as the kernel reads it.
constexpr unsigned HpetCounterBits = 32;

// Whether the capabilities register's period, in femtoseconds a count, is
// one a working timer states.
bool IsValidHpetPeriod(std::uint32_t periodFemtoseconds);

struct HpetPaths {
  const char* device;  // /dev/hpet
  const char* table;   // the firmware's, /sys/firmware/acpi/tables/HPET
};

// Maps the timer's registers read-only from the device and reads its
// period. Returns the mapped registers, or null and why where the device is
// missing, may not be opened or mapped, or states no valid period.
const volatile std::uint32_t* MapHpet(const HpetPaths& paths,
                                      std::uint32_t& periodFemtoseconds,
                                      TimerRefusal& refusal);
void UnmapHpet(const volatile std::uint32_t* registers);
// The same, from the main counter's address that HpetMainCounter gave.
void UnmapHpetByCounter(const volatile std::uint32_t* mainCounter);

// The main counter's 32-bit register in the mapped registers.
const volatile std::uint32_t* HpetMainCounter(
    const volatile std::uint32_t* registers);

// The rate a stated period means.
constexpr TimerRate HpetRate(std::uint32_t periodFemtoseconds) {
  return TimerRate{periodFemtoseconds, 1};
}
