#pragma once

#include <cstdint>

#include "platform_clocks.h"

// A leap is a disagreement of more than this between the counter's and the
// tick count's measure of one pass.
constexpr std::int32_t LeapThresholdMs = 500;
constexpr int SampleRingSize = 10;
constexpr int ReportSampleCount = 9;  // samples shown before and after a leap

// The most recent counter samples; `position` is the next slot to write,
// which is also the oldest one.
struct SampleRing {
  std::int64_t slots[SampleRingSize];
  int position;
};

struct LeapTestState {
  std::int64_t frequency;  // counts per second; 0 when it could not be read
  std::int64_t currentSample;
  std::int64_t previousSample;
  std::uint32_t previousTick;
  // A counter difference of 0 to this many counts is at most half a second,
  // so a pass whose tick interval is at most as long cannot be a leap and
  // needs no division; 0 without a frequency.
  std::uint64_t quietCounts;
  SampleRing ring;
  TickClock tick;  // what the tick count keeps between reads
};

// Writes a sample into the oldest slot and advances past it.
void StoreSample(SampleRing& ring, std::int64_t sample);

// Milliseconds of counter time between two samples: the difference and the
// product wrap modulo 2^64, the quotient truncates toward zero and only its
// low 32 bits are kept. `frequency` must be positive.
std::int32_t CounterIntervalMs(std::int64_t currentSample,
                               std::int64_t previousSample,
                               std::int64_t frequency);

// Counter interval minus tick interval, modulo 2^32, so that a wrap of the
// tick count between the two ticks does not count.
std::int32_t TickDiscrepancyMs(std::int32_t counterIntervalMs,
                               std::uint32_t currentTick,
                               std::uint32_t previousTick);

// Whether a pass that read `currentSample` and `currentTick` sees a leap
// against the previous pass: exactly what CounterIntervalMs and
// TickDiscrepancyMs decide, but without their division on a quiet pass.
// Never a leap without a frequency.
bool IsLeap(const LeapTestState& state, std::int64_t currentSample,
            std::uint32_t currentTick);

// Reads the frequency, the first tick and the first sample.
void StartLeapTest(LeapTestState& state);

// `passes` comparisons of counter and tick count, one after the other
// without a pause, printing a report on every leap; a pass whose counter
// read fails goes on with the previous sample. `state` is up to date on
// return. The program calls this one compiled function for ever, the
// timing programs and the tests for a count, so what they time and test is
// what the program runs.
void RunLeapTestPasses(LeapTestState& state, std::uint64_t passes);

// Start plus passes for ever.
[[noreturn]] void RunLeapTest();
