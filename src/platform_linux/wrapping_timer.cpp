// The extension across wraps is the kernel's own for such timers: the
// difference of two reads, masked to the timer's bits, is the counts
// between them as long as they are less than a wrap apart. Longer gaps
// (the program stopped) are measured by the kernel's coarse clock.

#include "wrapping_timer.h"

#include "hot_path.h"

namespace {

__extension__ typedef unsigned __int128 Uint128;

constexpr std::uint64_t FemtosecondsPerMillisecond = 1000000000000;
constexpr std::uint64_t FemtosecondsPerNanosecond = 1000000;
constexpr std::uint64_t FemtosecondsPerSecond = 1000000000000000;

// Rounded up, so that a whole number of milliseconds' counts gives that
// number; the excess is under 2^-64 ms a count, under 2^-8 ms after 2^56
// counts (22 years at 100 MHz).
std::uint64_t MillisecondsPerCountQ64(TimerRate rate) {
  const Uint128 scaled = Uint128{rate.femtoseconds} << 64U;
  const Uint128 divisor = Uint128{rate.counts} * FemtosecondsPerMillisecond;
  return static_cast<std::uint64_t>((scaled + divisor - 1) / divisor);
}

// The wraps missed between two reads `elapsedMs` apart, in which the
// timer's bits moved by `counts`: the kernel's time less the timer's, in
// counts, to the nearest wrap. In counts rather than whole milliseconds a
// wrap, so that no rounding grows with the wraps (a 24-bit PM timer's is
// 4687.5 ms). Rare, and apart from the pass, which divides nowhere; it
// takes the timer's fields by value so that the pass may keep them in
// registers.
LEAPCHECK_COLD_PATH std::uint64_t MissedWraps(
    std::uint32_t counts, std::uint32_t elapsedMs,
    std::uint64_t millisecondsPerCountQ64, std::uint64_t wrap) {
  const Uint128 elapsedCounts =
      (Uint128{elapsedMs} << 64U) / millisecondsPerCountQ64;
  const Uint128 rounded = elapsedCounts + wrap / 2;
  return rounded > counts
             ? static_cast<std::uint64_t>((rounded - counts) / wrap)
             : 0;
}

}  // namespace

bool AgreeWithinHalfPercent(std::uint64_t value, std::uint64_t reference) {
  constexpr std::uint64_t ToleranceDivisor = 200;  // 0.5 %
  const std::uint64_t difference =
      value > reference ? value - reference : reference - value;
  return difference <= reference / ToleranceDivisor;
}

bool TimerRateAgrees(TimerRate rate, std::uint32_t counts,
                     std::int64_t nanoseconds) {
  if (nanoseconds <= 0 || rate.counts == 0 || rate.femtoseconds == 0) {
    return false;
  }
  // Femtoseconds on both sides: under 2^64 for up to 5 hours.
  const Uint128 counted = Uint128{counts} * rate.femtoseconds / rate.counts;
  const std::uint64_t elapsed =
      static_cast<std::uint64_t>(nanoseconds) * FemtosecondsPerNanosecond;
  return counted <= UINT64_MAX &&
         AgreeWithinHalfPercent(static_cast<std::uint64_t>(counted), elapsed);
}

std::uint64_t TimerHertz(TimerRate rate) {
  if (rate.femtoseconds == 0) {
    return 0;
  }
  const Uint128 scaled = Uint128{rate.counts} * FemtosecondsPerSecond;
  return static_cast<std::uint64_t>((scaled + rate.femtoseconds / 2) /
                                    rate.femtoseconds);
}

void StartWrappingTimer(WrappingTimer& timer, unsigned bits, TimerRate rate,
                        std::uint32_t low, std::uint32_t systemTick) {
  const std::uint64_t wrap = std::uint64_t{1} << bits;
  timer.mask = static_cast<std::uint32_t>(wrap - 1U);
  timer.count = low & timer.mask;
  timer.millisecondsPerCountQ64 = MillisecondsPerCountQ64(rate);
  timer.wrapMilliseconds =
      TimerMilliseconds(wrap, timer.millisecondsPerCountQ64);
  timer.guardTick = systemTick;
}

std::uint32_t TimerMilliseconds(std::uint64_t count,
                                std::uint64_t millisecondsPerCountQ64) {
  const Uint128 product = Uint128{count} * millisecondsPerCountQ64;
  return static_cast<std::uint32_t>(product >> 64U);
}

std::uint32_t AdvanceWrappingTimer(WrappingTimer& timer, std::uint32_t low,
                                   std::uint32_t systemTick) {
  const std::uint32_t counts =
      (low - static_cast<std::uint32_t>(timer.count)) & timer.mask;
  const std::uint32_t elapsedMs = systemTick - timer.guardTick;
  timer.guardTick = systemTick;
  if (elapsedMs >= timer.wrapMilliseconds / 2U) {
    const std::uint64_t wrap = std::uint64_t{timer.mask} + 1U;
    timer.count +=
        MissedWraps(counts, elapsedMs, timer.millisecondsPerCountQ64, wrap) *
        wrap;
  }
  timer.count += counts;
  return TimerMilliseconds(timer.count, timer.millisecondsPerCountQ64);
}
