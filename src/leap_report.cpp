// The uncommon end of a pass: the full comparison and the leap report. Never
// inlined into the loop of passes, so that the loop stays short and holds
// only what a quiet pass needs in its registers.

#include <cinttypes>
#include <cstdio>

#include "hot_path.h"
#include "leap_test.h"
#include "output_check.h"
#include "platform_clocks.h"

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

LEAPCHECK_COLD_PATH std::uint32_t ReportIfLeap(LeapTestState& state,
                                               std::uint32_t currentTick) {
  if (IsLeap(state, state.currentSample, currentTick)) {
    return PrintLeapReport(state);
  }
  return currentTick;
}
