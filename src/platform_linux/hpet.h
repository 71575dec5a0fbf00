#pragma once

// The HPET as the tick count: a timer with its own oscillator, whose
// registers the kernel lets a program map read-only from /dev/hpet. Read
// directly it is a clock that no change of the processor's counter moves,
// where the kernel's own clock may follow that very counter.

#include <cstdint>

#include "platform_clocks.h"

// The longest period the timer may state: 100 ns a count (10 MHz).
constexpr std::uint32_t MaxHpetPeriodFemtoseconds = 100000000;

// Whether the capabilities register's period, in femtoseconds a count, is
// one a working timer states.
bool IsValidHpetPeriod(std::uint32_t periodFemtoseconds);

// Maps the timer's registers read-only from `path` and reads its period.
// Returns the mapped registers, or null where the device is missing, may
// not be opened or mapped, or states no valid period.
const volatile std::uint32_t* MapHpet(const char* path,
                                      std::uint32_t& periodFemtoseconds);
void UnmapHpet(const volatile std::uint32_t* registers);

// The low 32 bits of the main counter.
std::uint32_t ReadHpetCounter(const volatile std::uint32_t* registers);

// Whether `counts` of the timer over `nanoseconds` of the kernel's raw
// clock are its stated rate, within 0.5 %: a stopped counter is not.
bool HpetRateAgrees(std::uint32_t periodFemtoseconds, std::uint32_t counts,
                    std::int64_t nanoseconds);

// Makes `tick` read the timer whose registers are mapped, counting from its
// main counter's `low` bits and the system's tick count `systemTick`.
void UseHpetTick(TickClock& tick, const volatile std::uint32_t* registers,
                 std::uint32_t periodFemtoseconds, std::uint32_t low,
                 std::uint32_t systemTick);

// Milliseconds of `count` counts, wrapping at 2^32, without a division.
std::uint32_t HpetMilliseconds(std::uint64_t count,
                               std::uint64_t millisecondsPerCountQ64);

// Extends the count by the main counter's `low` bits just read, and
// returns its milliseconds. `systemTick` (the kernel's milliseconds, read
// with them) tells how long ago the last read was: where that is half a
// wrap or more, the wraps the 32-bit counter made unseen are added.
std::uint32_t AdvanceHpetTick(TickClock& tick, std::uint32_t low,
                              std::uint32_t systemTick);
