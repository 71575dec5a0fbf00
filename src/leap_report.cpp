// The uncommon end of a pass: the full comparison and the leap report. In a
// unit of its own, so that the compiler cannot fold it into the pass, which
// then stays a short function that saves almost no registers.

#include <cinttypes>
#include <cstdio>

#include "leap_test.h"
#include "platform.h"

void PrintLeapReport(LeapTestState& state) {
  SampleRing& ring = state.ring;
  for (int n = ReportSampleCount; n >= 1; --n) {
    std::printf("      Previous %d:  %" PRIX64 "\n", n,
                static_cast<std::uint64_t>(ring.slots[ring.position]));
    ring.position = (ring.position + 1) % SampleRingSize;
  }
  std::printf("LEAP: Current:     %" PRIX64 "  delta = %" PRIX64 "\n",
              static_cast<std::uint64_t>(state.currentSample),
              static_cast<std::uint64_t>(state.currentSample) -
                  static_cast<std::uint64_t>(state.previousSample));
  for (int i = 1; i <= ReportSampleCount; ++i) {
    ReadCounter(state.currentSample);  // a failure here just repeats a value
    std::printf("      Next     %d:  %" PRIX64 "\n", i,
                static_cast<std::uint64_t>(state.currentSample));
    ring.slots[ring.position] = state.currentSample;
    ring.position = (ring.position + 1) % SampleRingSize;
  }
  std::printf("\n");
  // Without this a report to a file or pipe could sit in the buffer until
  // the process is stopped, and be lost with it.
  std::fflush(stdout);
}

void FinishUnquietPass(LeapTestState& state, std::uint32_t currentTick) {
  if (IsLeap(state, state.currentSample, currentTick)) {
    PrintLeapReport(state);
  }
  state.previousSample = state.currentSample;
  state.previousTick = currentTick;
}
