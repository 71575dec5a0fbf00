#include "leap_test.h"

#include <cinttypes>
#include <cstdio>

#include "hot_path.h"
#include "output_check.h"
#include "platform_clocks.h"

namespace {

constexpr std::int64_t MillisecondsPerSecond = 1000;

// current - previous modulo 2^64: the raw count difference of a report.
std::uint64_t WrappingDifference(std::int64_t current, std::int64_t previous) {
  return static_cast<std::uint64_t>(current) -
         static_cast<std::uint64_t>(previous);
}

// Two's-complement reading of an unsigned value, without relying on the
// implementation-defined narrowing conversion.
std::int64_t ToSigned64(std::uint64_t value) {
  if (value <= static_cast<std::uint64_t>(INT64_MAX)) {
    return static_cast<std::int64_t>(value);
  }
  return -static_cast<std::int64_t>(~value) - 1;
}

std::int32_t ToSigned32(std::uint32_t value) {
  if (value <= static_cast<std::uint32_t>(INT32_MAX)) {
    return static_cast<std::int32_t>(value);
  }
  return -static_cast<std::int32_t>(~value) - 1;
}

// Up to f/2 counts, 1000 * d <= 500 * f: the quotient is 0 to 500. The cap
// keeps 1000 * d within the signed range, where the reading is the plain one.
std::uint64_t QuietCounts(std::int64_t frequency) {
  if (frequency <= 0) {
    return 0;
  }
  const std::uint64_t half = static_cast<std::uint64_t>(frequency) / 2;
  const std::uint64_t cap = static_cast<std::uint64_t>(INT64_MAX) /
                            static_cast<std::uint64_t>(MillisecondsPerSecond);
  return half < cap ? half : cap;
}

// Counter interval 0..500 and tick interval 0..500 differ by at most 500:
// no leap, whatever the exact quotient.
bool IsQuietPass(std::int64_t currentSample, std::int64_t previousSample,
                 std::uint32_t currentTick, std::uint32_t previousTick,
                 std::uint64_t quietCounts) {
  return WrappingDifference(currentSample, previousSample) <= quietCounts &&
         currentTick - previousTick <=
             static_cast<std::uint32_t>(LeapThresholdMs);
}

// Runs on every pass: a compare is cheaper than the remainder.
int NextPosition(int position) {
  return position + 1 == SampleRingSize ? 0 : position + 1;
}

// Moves the ring to its next slot, the oldest.
void AdvancePosition(SampleRing& ring) {
  ring.position = NextPosition(ring.position);
}

LEAPCHECK_COLD_PATH void PrintCounterFailure(int error) {
  std::printf("QPC() failed with error %d\n", error);
  FlushOutputOrExit();
}

// Reads the counter, reporting a failure at once; the pass goes on with
// whatever the sample then holds.
void ReadCounterOrReport(std::int64_t& sample) {
  if (!ReadCounter(sample)) {
    PrintCounterFailure(LastPlatformError());
  }
}

}  // namespace

void StoreSample(SampleRing& ring, std::int64_t sample) {
  ring.slots[ring.position] = sample;
  AdvancePosition(ring);
}

std::int32_t CounterIntervalMs(std::int64_t currentSample,
                               std::int64_t previousSample,
                               std::int64_t frequency) {
  const std::uint64_t product =
      WrappingDifference(currentSample, previousSample) *
      static_cast<std::uint64_t>(MillisecondsPerSecond);
  const std::int64_t quotient = ToSigned64(product) / frequency;
  return ToSigned32(static_cast<std::uint32_t>(
      static_cast<std::uint64_t>(quotient) & UINT32_MAX));
}

std::int32_t TickDiscrepancyMs(std::int32_t counterIntervalMs,
                               std::uint32_t currentTick,
                               std::uint32_t previousTick) {
  const std::uint32_t tickInterval = currentTick - previousTick;
  return ToSigned32(static_cast<std::uint32_t>(counterIntervalMs) -
                    tickInterval);
}

bool IsLeap(const LeapTestState& state, std::int64_t currentSample,
            std::uint32_t currentTick) {
  if (IsQuietPass(currentSample, state.previousSample, currentTick,
                  state.previousTick, state.quietCounts) ||
      state.frequency <= 0) {
    return false;  // nothing to compare with without a frequency
  }
  const std::int32_t discrepancy = TickDiscrepancyMs(
      CounterIntervalMs(currentSample, state.previousSample, state.frequency),
      currentTick, state.previousTick);
  return discrepancy > LeapThresholdMs || discrepancy < -LeapThresholdMs;
}

namespace {

// The uncommon end of a pass: the full comparison and the leap report.
// Never inlined into the loop of passes, so that the loop stays short and
// holds only what a quiet pass needs in its registers.
// Prints the report of the leap just found and reads the nine samples after
// it. Returns the tick count read right after the ninth: the next pass
// measures both intervals from that moment, so that time spent printing
// (a blocked console or pipe) falls into both and is no leap.
std::uint32_t PrintLeapReport(LeapTestState& state) {
  SampleRing& ring = state.ring;
  for (int n = ReportSampleCount; n >= 1; --n) {
    std::printf("      Previous %d:  %" PRIX64 "\n", n,
                static_cast<std::uint64_t>(ring.slots[ring.position]));
    AdvancePosition(ring);
  }
  std::printf("LEAP: Current:     %" PRIX64 "  delta = %" PRIX64 "\n",
              static_cast<std::uint64_t>(state.currentSample),
              WrappingDifference(state.currentSample, state.previousSample));
  std::uint32_t tick = 0;
  for (int i = 1; i <= ReportSampleCount; ++i) {
    ReadCounter(state.currentSample);  // a failure here just repeats a value
    if (i == ReportSampleCount) {
      tick = ReadTickCount(
          state.tick);  // the next pass's intervals start together
    }
    std::printf("      Next     %d:  %" PRIX64 "\n", i,
                static_cast<std::uint64_t>(state.currentSample));
    StoreSample(ring, state.currentSample);
  }
  std::printf("\n");
  // Without this a report to a file or pipe could sit in the buffer until
  // the process is stopped, and be lost with it.
  FlushOutputOrExit();
  return tick;
}

// The rest of a pass that may be a leap: the full comparison and, on a
// leap, the report. Returns the tick count the next pass measures from:
// `currentTick`, or after a report the one PrintLeapReport read.
LEAPCHECK_COLD_PATH std::uint32_t ReportIfLeap(LeapTestState& state,
                                               std::uint32_t currentTick) {
  if (IsLeap(state, state.currentSample, currentTick)) {
    return PrintLeapReport(state);
  }
  return currentTick;
}

}  // namespace

void StartLeapTest(LeapTestState& state) {
  state = LeapTestState{};
  int error = 0;
  if (!StartClocks(state.frequency, state.tick, error)) {
    std::printf("QPF() failed with error %d\n", error);
    FlushOutputOrExit();
    state.frequency = 0;
  }
  if (state.frequency < 0) {
    state.frequency = 0;  // unusable as a divisor, like a failed read
  }
  state.quietCounts = QuietCounts(state.frequency);
  state.previousTick = ReadTickCount(state.tick);
  ReadCounterOrReport(state.currentSample);
  state.previousSample = state.currentSample;
}

// The state lives in locals for the whole loop, so that it stays in
// registers across the clock reads instead of going to memory before each
// and coming back after it; only the ring's slots are stored on every pass
// (the tick clock's own state is a local too). The state itself is brought
// up to date for a possible report, which reads and changes it, and at the
// end. Between passes the current sample is the previous one, so one local
// holds both.
//
// `readTick` is the platform's reader of the clock in use: the loop is
// compiled once for each, so that a pass carries nothing of the others.
// It ends early where the platform leaves that clock for another (a timer
// that went wrong), and returns the passes left.
template <typename TickReader>
LEAPCHECK_HOT_PATH std::uint64_t RunLeapTestPassesReading(LeapTestState& state,
                                                          std::uint64_t passes,
                                                          TickReader readTick) {
  std::int64_t* const slots = state.ring.slots;
  TickClock tick = state.tick;
  const std::uint64_t quietCounts = state.quietCounts;
  std::int64_t previousSample = state.previousSample;
  std::uint32_t previousTick = state.previousTick;
  int position = state.ring.position;
  for (; passes != 0 && readTick.InUse(tick); --passes) {
    std::int64_t currentSample = previousSample;  // kept if the read fails
    ReadCounterOrReport(currentSample);
    std::uint32_t currentTick = readTick(tick);
    slots[position] = currentSample;
    position = NextPosition(position);
    if (!IsQuietPass(currentSample, previousSample, currentTick, previousTick,
                     quietCounts)) {
      state.currentSample = currentSample;
      state.previousSample = previousSample;
      state.previousTick = previousTick;
      state.ring.position = position;
      state.tick = tick;
      currentTick = ReportIfLeap(state, currentTick);
      tick = state.tick;
      // After a report both baselines are its last Next reading and the
      // tick read right after it.
      currentSample = state.currentSample;
      position = state.ring.position;
    }
    previousSample = currentSample;
    previousTick = currentTick;
  }
  state.currentSample = previousSample;
  state.previousSample = previousSample;
  state.previousTick = previousTick;
  state.ring.position = position;
  state.tick = tick;
  return passes;
}

// Kept apart from its callers like the loops, so that the program and the
// timing programs call the same ones. A clock is left at most once for the
// next, which is never left: the loop turns a few times at most.
LEAPCHECK_HOT_PATH void RunLeapTestPasses(LeapTestState& state,
                                          std::uint64_t passes) {
  while (passes != 0) {
    WithTickReader(state.tick, [&state, &passes](auto readTick) {
      passes = RunLeapTestPassesReading(state, passes, readTick);
    });
  }
}

void RunLeapTest() {
  LeapTestState state;
  StartLeapTest(state);
  FlushOutputOrExit();
  for (;;) {
    RunLeapTestPasses(state, UINT64_MAX);  // thousands of years of passes
  }
}
