// The extension across wraps is the kernel's own for such timers: the
// difference of two reads, masked to the timer's bits, is the counts
// between them as long as they are less than a wrap apart. Longer gaps
// (the program stopped) are measured by the kernel's raw clock, and the
// wraps it counts believed only where the timer's own count agrees.

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
                        std::uint32_t low, std::uint32_t systemTick,
                        const RawClockSample& raw) {
  const std::uint64_t wrap = std::uint64_t{1} << bits;
  timer.mask = TimerMask(bits);
  timer.count = low & timer.mask;
  timer.millisecondsPerCountQ64 = MillisecondsPerCountQ64(rate);
  timer.wrapMilliseconds =
      TimerMilliseconds(wrap, timer.millisecondsPerCountQ64);
  timer.guardTick = systemTick;
  timer.movedTick = systemTick;
  const std::uint64_t hertz = TimerHertz(rate);
  timer.backTolerance = static_cast<std::uint32_t>(hertz / 1000U) + 1U;
  timer.raw = raw;
  timer.raw.count = timer.count;
  timer.raw.tick = systemTick;
}

std::uint32_t TimerMilliseconds(std::uint64_t count,
                                std::uint64_t millisecondsPerCountQ64) {
  const Uint128 product = Uint128{count} * millisecondsPerCountQ64;
  return static_cast<std::uint32_t>(product >> 64U);
}

namespace {

constexpr std::int64_t NanosecondsPerMillisecond = 1000000;

// Counts of the timer in `nanoseconds` of the raw clock, at the rate
// measured at the start.
Uint128 RawCounts(const RawClockSample& raw, std::int64_t nanoseconds) {
  return Uint128{static_cast<std::uint64_t>(nanoseconds)} * raw.measuredCounts /
         static_cast<std::uint64_t>(raw.measuredNanoseconds);
}

Uint128 Apart(Uint128 a, Uint128 b) { return a > b ? a - b : b - a; }

}  // namespace

// Rare (a gap of half a wrap), and apart from the pass, which divides
// nowhere.
LEAPCHECK_COLD_PATH std::uint64_t BridgedCount(const WrappingTimer& timer,
                                               std::uint64_t read,
                                               std::int64_t rawNanoseconds) {
  if (rawNanoseconds <= 0 || timer.raw.measuredNanoseconds <= 0) {
    return read;  // no measure: judged on the timer's reading
  }
  const Uint128 wrap = Uint128{timer.mask} + 1U;
  const Uint128 measured =
      timer.raw.count + RawCounts(timer.raw, rawNanoseconds);
  if (measured <= read) {
    return read;
  }
  const Uint128 bridged = read + (measured - read + wrap / 2) / wrap * wrap;
  const std::int64_t tolerance =
      BridgeToleranceMs * NanosecondsPerMillisecond +
      rawNanoseconds / 1000000 * BridgeTolerancePerMillion;
  return Apart(bridged, measured) <= RawCounts(timer.raw, tolerance)
             ? static_cast<std::uint64_t>(bridged)
             : read;
}

// Once a coarse clock period (a few milliseconds), apart from the pass.
LEAPCHECK_COLD_PATH std::uint64_t SampleRawClock(WrappingTimer& timer,
                                                 std::uint64_t read,
                                                 std::int64_t rawNanoseconds,
                                                 std::uint32_t systemTick) {
  const std::int64_t elapsed = rawNanoseconds - timer.raw.nanoseconds;
  const std::int64_t halfWrap =
      std::int64_t{timer.wrapMilliseconds} * NanosecondsPerMillisecond / 2;
  const std::uint64_t count =
      elapsed >= halfWrap ? BridgedCount(timer, read, elapsed) : read;
  timer.raw.nanoseconds = rawNanoseconds;
  timer.raw.count = count;
  timer.raw.tick = systemTick;
  return count;
}

TimerRead ClassifyTimerRead(const WrappingTimer& timer, std::uint32_t low,
                            std::uint32_t systemTick) {
  if (IsPlausibleTimerRead(timer, low, systemTick)) {
    return TimerRead::Plausible;
  }
  const std::uint32_t counts =
      (low - static_cast<std::uint32_t>(timer.count)) & timer.mask;
  if (counts == 0) {
    return TimerRead::Stopped;
  }
  return timer.mask - counts < timer.backTolerance ? TimerRead::SlightlyBack
                                                   : TimerRead::Back;
}

std::uint32_t HoldWrappingTimer(WrappingTimer& timer,
                                std::uint32_t systemTick) {
  timer.guardTick = systemTick;
  return TimerMilliseconds(timer.count, timer.millisecondsPerCountQ64);
}
