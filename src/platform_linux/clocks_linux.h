#pragma once

#include <cstdint>

#include "platform_clocks.h"
#include "tick_line.h"
#include "timer_face.h"

// The counter rate to use: the processor's `stated` rate where it is within
// 0.5 % of the `measured` one, else the measured rate. A stated rate of 0
// or less is none.
std::int64_t ChooseCounterFrequency(std::int64_t stated, std::int64_t measured);

// Counts per second from `counts` in `nanoseconds`; 0 where that is no
// rate: the counter went back, or no time passed.
std::int64_t MeasuredCounterRate(std::uint64_t counts,
                                 std::int64_t nanoseconds);

// Where the timers and the kernel's clocksource are looked for; tests point
// them at files of their own.
struct ClockPaths {
  TimerPaths timers;
  const char* clocksource;  // the kernel's current clocksource
};

// StartClocks without its line and without giving up privileges:
// measures the counter's rate, chooses the tick count and says in `choice`
// which and why.
bool MeasureAndChooseClocks(const ClockPaths& paths, std::int64_t& frequency,
                            TickClock& tick, TickChoice& choice);
