#pragma once

#include <cstdint>

#include "platform_clocks.h"

// Whether `value` is within 0.5 % of `reference`: how near a clock's rate
// must come to the kernel's measure of it to be believed.
bool AgreeWithinHalfPercent(std::uint64_t value, std::uint64_t reference);

// The counter rate to use: the processor's `stated` rate where it is within
// 0.5 % of the `measured` one, else the measured rate. A stated rate of 0
// or less is none.
std::int64_t ChooseCounterFrequency(std::int64_t stated, std::int64_t measured);

// ReadCounterFrequency with the HPET's device at `hpetDevice` (/dev/hpet),
// for tests that point it at something else.
bool ReadCounterFrequencyWith(const char* hpetDevice, std::int64_t& frequency,
                              TickClock& tick);

// The kernel's coarse monotonic clock in milliseconds, wrapping at 2^32:
// the tick count where no HPET can be read.
std::uint32_t CoarseMilliseconds();
