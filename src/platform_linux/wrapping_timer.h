#pragma once

// A hardware timer of N bits (24 or 32) at a known rate, read as the tick
// count: its count extended across the wraps into 64 bits and turned into
// milliseconds without a division. The HPET and the ACPI PM timer differ
// only in how they are found and read (hpet.h, pm_timer.h).

#include <cstdint>

// The timer's rate: `femtoseconds` for every `counts` counts (the HPET
// states femtoseconds a count; the PM timer runs at 3579545 counts a second).
struct TimerRate {
  std::uint64_t femtoseconds;
  std::uint32_t counts;
};

// What the tick count keeps between reads of such a timer.
struct WrappingTimer {
  std::uint64_t count;                    // extended past the timer's bits
  std::uint64_t millisecondsPerCountQ64;  // ms per count, times 2^64
  std::uint32_t mask;                     // the bits the timer counts in
  std::uint32_t wrapMilliseconds;         // one wrap of those bits
  std::uint32_t guardTick;  // the kernel's coarse clock at the last read
};

// Whether `value` is within 0.5 % of `reference`: how near a clock's rate
// must come to the kernel's measure of it to be believed.
bool AgreeWithinHalfPercent(std::uint64_t value, std::uint64_t reference);

// Whether `counts` over `nanoseconds` of the kernel's raw clock are the
// timer's `rate`, within 0.5 %: a stopped counter is not.
bool TimerRateAgrees(TimerRate rate, std::uint32_t counts,
                     std::int64_t nanoseconds);

// The rate in whole counts a second, rounded.
std::uint64_t TimerHertz(TimerRate rate);

// Starts counting from the timer's `low` bits (of `bits`, 1 to 32) just
// read and the kernel's coarse milliseconds `systemTick` read with them.
void StartWrappingTimer(WrappingTimer& timer, unsigned bits, TimerRate rate,
                        std::uint32_t low, std::uint32_t systemTick);

// Milliseconds of `count` counts, wrapping at 2^32, without a division.
std::uint32_t TimerMilliseconds(std::uint64_t count,
                                std::uint64_t millisecondsPerCountQ64);

// Extends the count by the timer's `low` bits just read and returns its
// milliseconds. `systemTick` (the kernel's milliseconds, read before them)
// tells how long ago the last read was: where that is half a wrap or more,
// the wraps the timer made unseen are added.
std::uint32_t AdvanceWrappingTimer(WrappingTimer& timer, std::uint32_t low,
                                   std::uint32_t systemTick);
