#pragma once

// The HPET as the tick count: a timer with its own oscillator, whose
// registers the kernel lets a program map read-only from /dev/hpet. Read
// directly it is a clock that no change of the processor's counter moves,
// where the kernel's own clock may follow that very counter.

#include <cstdint>

#include "timer_face.h"
#include "timer_refusal.h"
#include "wrapping_timer.h"

// The longest period the timer may state: 100 ns a count (10 MHz).
constexpr std::uint32_t MaxHpetPeriodFemtoseconds = 100000000;

// The main counter is read in 32 bits, as the kernel reads it.
constexpr unsigned HpetCounterBits = 32;

// Whether the capabilities register's period, in femtoseconds a count, is
// one a working timer states.
bool IsValidHpetPeriod(std::uint32_t periodFemtoseconds);

// The rate a stated period means.
constexpr TimerRate HpetRate(std::uint32_t periodFemtoseconds) {
  return TimerRate{periodFemtoseconds, 1};
}

// Maps the timer's registers read-only from the device and reads its
// period; refused where the device is missing, may not be opened or
// mapped, or states no valid period. Only on x86-64: elsewhere the kernel
// offers no HPET to programs.
bool OpenHpet(const TimerPaths& paths, OpenTimer& timer, TimerRefusal& refusal);
void CloseHpet(const OpenTimer& timer);

// The main counter, as the pass reads it: one uncached load.
inline std::uint32_t ReadHpet(const OpenTimer& timer) { return *timer.counter; }
bool ReadHpetChecked(const OpenTimer& timer, std::uint32_t& low);
unsigned ProvenHpetBits(const OpenTimer& timer, std::uint32_t highest);
const char* HpetRefusalText(TimerRefusal refusal);

constexpr TimerFace HpetFace{TickSource::Hpet, "HPET",          OpenHpet,
                             ReadHpet,         ReadHpetChecked, ProvenHpetBits,
                             CloseHpet,        HpetRefusalText};
