// Times a leap-test pass against its two clock reads on the real clocks,
// with no library beyond the standard one, so that it runs wherever the
// program does (also as a 32-bit Windows build under Wine). Prints the
// fastest round's nanoseconds of each over several rounds and, last, the ratio.
//
//   leapcheck_pass_timing [iterations per round]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "leap_test.h"
#include "platform_clocks.h"

namespace {

constexpr int Rounds = 51;

double NowNs() {
  return static_cast<double>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(
          std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

// Where the timed loops leave their results, so that none is optimised away.
struct Sinks {
  volatile std::int64_t counter;
  volatile std::uint32_t tick;
  volatile bool leap;
};

// The two reads of a pass, with the reader of the tick count the passes
// read.
template <typename TickReader>
double FloorNsReading(Sinks& sinks, TickClock& tick, long iterations,
                      TickReader readTick) {
  std::int64_t counter = 0;
  const double start = NowNs();
  for (long i = 0; i < iterations; ++i) {
    ReadCounter(counter);
    sinks.counter = counter;
    sinks.tick = readTick(tick);
  }
  return (NowNs() - start) / static_cast<double>(iterations);
}

double FloorNs(Sinks& sinks, TickClock& tick, long iterations) {
  double floor = 0;
  WithTickReader(tick, [&](auto readTick) {
    floor = FloorNsReading(sinks, tick, iterations, readTick);
  });
  return floor;
}

double PassNs(LeapTestState& state, long iterations) {
  const double start = NowNs();
  RunLeapTestPasses(state, static_cast<std::uint64_t>(iterations));
  return (NowNs() - start) / static_cast<double>(iterations);
}

// The same pass with the multiply and divide done every time, for
// comparison: what the pass would cost without its quiet-pass shortcut.
double DividingPassNs(Sinks& sinks, LeapTestState& state, long iterations) {
  const double start = NowNs();
  for (long i = 0; i < iterations; ++i) {
    std::int64_t sample = state.currentSample;
    ReadCounter(sample);
    const std::uint32_t tick = ReadTickCount(state.tick);
    StoreSample(state.ring, sample);
    const std::int32_t discrepancy = TickDiscrepancyMs(
        CounterIntervalMs(sample, state.previousSample, state.frequency), tick,
        state.previousTick);
    sinks.leap =
        discrepancy > LeapThresholdMs || discrepancy < -LeapThresholdMs;
    state.previousSample = sample;
    state.previousTick = tick;
  }
  return (NowNs() - start) / static_cast<double>(iterations);
}

// Other work on the machine only ever adds time, so the fastest round is
// the truest one.
double Fastest(const double (&values)[Rounds]) {
  return *std::min_element(values, values + Rounds);
}

// The tick count's milliseconds over the run against the steady clock: the
// rate of whichever clock it is (the program names it on standard error).
void PrintTickRate(std::uint32_t firstTick, double firstNs, TickClock& tick) {
  const double seconds = (NowNs() - firstNs) / 1e9;
  const double counted = static_cast<double>(ReadTickCount(tick) - firstTick);
  std::printf(
      "tick count: %.0f ms over %.3f s of the steady clock (%+.0f ppm)\n",
      counted, seconds, (counted / (seconds * 1000) - 1) * 1e6);
}

}  // namespace

int main(int argc, char** argv) {
  const long iterations = argc > 1 ? std::atol(argv[1]) : 1000000;
  if (iterations <= 0) {
    std::printf("usage: leapcheck_pass_timing [iterations per round]\n");
    return 2;
  }
  Sinks sinks{};
  LeapTestState state{};
  StartLeapTest(state);
  if (state.frequency <= 0) {
    std::printf("no counter frequency\n");
    return 1;
  }
  const std::uint32_t firstTick = ReadTickCount(state.tick);
  const double firstNs = NowNs();
  double floor[Rounds];
  double pass[Rounds];
  double dividing[Rounds];
  FloorNs(sinks, state.tick, iterations / 10 + 1);  // warm up
  for (int round = 0; round < Rounds; ++round) {
    floor[round] = FloorNs(sinks, state.tick, iterations);
    pass[round] = PassNs(state, iterations);
    dividing[round] = DividingPassNs(sinks, state, iterations);
  }
  const double floorNs = Fastest(floor);
  const double passNs = Fastest(pass);
  const double dividingNs = Fastest(dividing);
  std::printf("counter frequency: %lld/s\n",
              static_cast<long long>(state.frequency));
  PrintTickRate(firstTick, firstNs, state.tick);
  std::printf("floor (counter + tick read): %.2f ns\n", floorNs);
  std::printf("pass: %.2f ns\n", passNs);
  std::printf("pass dividing every time: %.2f ns (%.2f x floor)\n", dividingNs,
              dividingNs / floorNs);
  std::printf("pass/floor = %.2f\n", passNs / floorNs);
  return 0;
}
