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

// The timer against the kernel's raw monotonic clock, which no slew moves:
// counts over nanoseconds as measured at the start, and the two read
// together at the first read after each move of the coarse clock.
struct RawClockSample {
  std::uint64_t measuredCounts;
  std::int64_t measuredNanoseconds;
  std::int64_t nanoseconds;  // the raw clock at the sample
  std::uint64_t count;       // the extended count then
  std::uint32_t tick;        // the coarse clock then
};

// What the tick count keeps between reads of such a timer.
struct WrappingTimer {
  std::uint64_t count;                    // extended past the timer's bits
  std::uint64_t millisecondsPerCountQ64;  // ms per count, times 2^64
  std::uint32_t mask;                     // the bits the timer counts in
  std::uint32_t wrapMilliseconds;         // one wrap of those bits
  std::uint32_t guardTick;      // the kernel's coarse clock at the last read
  std::uint32_t movedTick;      // the same when the count last moved
  std::uint32_t backTolerance;  // counts of a millisecond
  RawClockSample raw;
};

// How far the timer's count over a gap may stand from the raw clock's
// measure of it for the wraps that measure counts to be believed: a
// millisecond, plus 200 ppm of the gap for the error of the rate measured
// over 100 ms at the start and the drift of two oscillators since (a
// crystal's is within 100 ppm). A leap of the whole machine within this of
// a whole number of wraps cannot show.
constexpr std::uint32_t BridgeToleranceMs = 1;
constexpr std::uint32_t BridgeTolerancePerMillion = 200;

// The bits a timer of `bits` (1 to 32) counts in.
constexpr std::uint32_t TimerMask(unsigned bits) {
  return static_cast<std::uint32_t>((std::uint64_t{1} << bits) - 1U);
}

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
// `raw` holds the start's measurement and the raw clock at `low`.
void StartWrappingTimer(WrappingTimer& timer, unsigned bits, TimerRate rate,
                        std::uint32_t low, std::uint32_t systemTick,
                        const RawClockSample& raw);

// Milliseconds of `count` counts, wrapping at 2^32, without a division.
std::uint32_t TimerMilliseconds(std::uint64_t count,
                                std::uint64_t millisecondsPerCountQ64);

// A timer whose count has not moved over this much of the kernel's clock
// has stopped.
constexpr std::uint32_t StoppedTimerMs = 1000;

// What a read of the timer shows against the last and the kernel's clock
// (ClassifyTimerRead).
enum class TimerRead : std::uint8_t {
  Plausible,
  // Below the last by at most a millisecond's counts: it cannot move the
  // tick count by the 500 ms a report needs, and is taken as no movement.
  SlightlyBack,
  // Below the last by more, while the kernel's clock says the timer cannot
  // have wrapped to there.
  Back,
  Stopped,  // the same count for StoppedTimerMs of the kernel's clock
};

// Whether the timer's `low` bits just read, with `systemTick` read before
// them, are believable: not below the last where the kernel's clock says
// the timer cannot have wrapped to there, and not the same count for
// StoppedTimerMs. Inline: it runs on every pass.
inline bool IsPlausibleTimerRead(const WrappingTimer& timer, std::uint32_t low,
                                 std::uint32_t systemTick) {
  const std::uint32_t counts =
      (low - static_cast<std::uint32_t>(timer.count)) & timer.mask;
  const bool wrappedAway =
      systemTick - timer.guardTick >= timer.wrapMilliseconds / 2U;
  const bool still = systemTick - timer.movedTick >= StoppedTimerMs;
  return (counts <= timer.mask / 2U || wrappedAway) && (counts != 0 || !still);
}

// What a read that is not plausible shows.
TimerRead ClassifyTimerRead(const WrappingTimer& timer, std::uint32_t low,
                            std::uint32_t systemTick);

// The timer's milliseconds as they were at the last read, now `systemTick`:
// for a read taken as no movement.
std::uint32_t HoldWrappingTimer(WrappingTimer& timer, std::uint32_t systemTick);

// The count `read` (the last count and the bits just read) after a gap of
// `rawNanoseconds` by the raw clock since the last sample: with the wraps
// the raw clock counts where the count then stands within the tolerance
// above of its measure; else `read`, and the pass is judged on the timer's
// own reading. The kernel's clocks follow the counter on most machines, so
// a leap of the counter would otherwise be bridged as wraps.
std::uint64_t BridgedCount(const WrappingTimer& timer, std::uint64_t read,
                           std::int64_t rawNanoseconds);

// Takes a sample of the raw clock, `rawNanoseconds`, at the count `read`,
// bridging a gap of half a wrap or more since the last.
std::uint64_t SampleRawClock(WrappingTimer& timer, std::uint64_t read,
                             std::int64_t rawNanoseconds,
                             std::uint32_t systemTick);

// Extends the count by the timer's `low` bits just read and returns its
// milliseconds. `systemTick` is the kernel's coarse milliseconds, read
// before them; where it has moved, `readRawNanoseconds()` is read too, and
// a gap of half a wrap or more since the last such read bridged
// (BridgedCount). Reading the raw clock only then keeps the pass at its
// floor.
template <typename RawClock>
std::uint32_t AdvanceWrappingTimer(WrappingTimer& timer, std::uint32_t low,
                                   std::uint32_t systemTick,
                                   RawClock readRawNanoseconds) {
  const std::uint32_t counts =
      (low - static_cast<std::uint32_t>(timer.count)) & timer.mask;
  timer.guardTick = systemTick;
  if (counts != 0) {
    timer.movedTick = systemTick;
  }
  timer.count += counts;
  if (systemTick != timer.raw.tick) {
    timer.count =
        SampleRawClock(timer, timer.count, readRawNanoseconds(), systemTick);
  }
  return TimerMilliseconds(timer.count, timer.millisecondsPerCountQ64);
}
