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

// The two reads of a pass, on the tick count the passes read.
double FloorNs(Sinks& sinks, TickClock& tick, long iterations) {
  std::int64_t counter = 0;
  const double start = NowNs();
  for (long i = 0; i < iterations; ++i) {
    ReadCounter(counter);
    sinks.counter = counter;
    sinks.tick = ReadTickCount(tick);
  }
  return (NowNs() - start) / static_cast<double>(iterations);
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

// Which tick count the passes read and, for a timer of the platform's own,
// the rate it counted at over the run against the steady clock.
void PrintTickClock(const TickClock& tick, std::uint64_t firstCount,
                    double firstNs) {
  if (tick.counter == nullptr) {
    std::printf("tick count: the system's\n");
    return;
  }
  const double seconds = (NowNs() - firstNs) / 1e9;
  const double stated = 1000.0 * 18446744073709551616.0 /
                        static_cast<double>(tick.millisecondsPerCountQ64);
  const double counted = static_cast<double>(tick.count - firstCount) / seconds;
  std::printf(
      "tick count: a timer of its own (the HPET on Linux), stated %.0f/s, "
      "counted %.0f/s over %.1f s of the steady clock (%+.1f ppm)\n",
      stated, counted, seconds, (counted / stated - 1) * 1e6);
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
  const std::uint64_t firstTimerCount = state.tick.count;
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
  PrintTickClock(state.tick, firstTimerCount, firstNs);
  std::printf("floor (counter + tick read): %.2f ns\n", floorNs);
  std::printf("pass: %.2f ns\n", passNs);
  std::printf("pass dividing every time: %.2f ns (%.2f x floor)\n", dividingNs,
              dividingNs / floorNs);
  std::printf("pass/floor = %.2f\n", passNs / floorNs);
  return 0;
}
