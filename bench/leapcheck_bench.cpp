// How much a leap-test pass costs beyond its two clock reads, on the real
// clocks of this machine, and what the chipset check costs over a thousand
// keys. The last line printed is the ratio of a pass to the bare reads.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_pci_keys.h"
#include "chipset_check.h"
#include "discarded_stdout.h"
#include "leap_test.h"
#include "platform.h"

namespace {

constexpr int Repetitions = 10;

// One counter read and one tick read: what a pass cannot do without.
void BM_ClockReadFloor(benchmark::State& state) {
  std::int64_t counter = 0;
  LeapTestState leap{};
  StartLeapTest(leap);  // the tick count the passes read
  for (auto _ : state) {
    ReadCounter(counter);
    std::uint32_t tick = ReadTickCount(leap.tick);
    benchmark::DoNotOptimize(counter);
    benchmark::DoNotOptimize(tick);
  }
}

// Passes in batches, as the program runs them (one call for many passes);
// an iteration is one pass.
void BM_LeapTestPass(benchmark::State& state) {
  constexpr benchmark::IterationCount Batch = 1000;
  LeapTestState leap{};
  StartLeapTest(leap);
  while (state.KeepRunningBatch(Batch)) {
    RunLeapTestPasses(leap, Batch);
  }
  benchmark::DoNotOptimize(leap);
}

// Device lines go to /dev/null: the check's cost, not the terminal's.
void BM_ChipsetCheck1000Keys(benchmark::State& state) {
  PrepareBenchKeys();
  {
    const DiscardedStdout discard;
    for (auto _ : state) {
      benchmark::DoNotOptimize(CheckChipset());
    }
  }
  state.SetItemsProcessed(state.iterations() * BenchKeyCount);
}

// Other work on the machine only ever adds time, so the fastest repetition
// is the truest one.
double Fastest(const std::vector<double>& times) {
  return *std::min_element(times.begin(), times.end());
}

BENCHMARK(BM_ClockReadFloor)
    ->Repetitions(Repetitions)
    ->ComputeStatistics("min", Fastest)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_LeapTestPass)
    ->Repetitions(Repetitions)
    ->ComputeStatistics("min", Fastest)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_ChipsetCheck1000Keys)->Unit(benchmark::kMicrosecond);

// Keeps the fastest repetition's time per iteration of the floor and of
// the pass.
struct RatioReporter : benchmark::ConsoleReporter {
  explicit RatioReporter(OutputOptions options) : ConsoleReporter(options) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Aggregate || run.aggregate_name != "min") {
        continue;
      }
      const std::string name = run.run_name.function_name;
      if (name == "BM_ClockReadFloor") {
        floorNs = run.GetAdjustedRealTime();
      } else if (name == "BM_LeapTestPass") {
        passNs = run.GetAdjustedRealTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  double floorNs = 0;
  double passNs = 0;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  // Colour only on a terminal: redirected, the last line is the bare ratio.
  RatioReporter reporter(isatty(STDOUT_FILENO) != 0
                             ? benchmark::ConsoleReporter::OO_Defaults
                             : benchmark::ConsoleReporter::OO_Tabular);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  if (reporter.floorNs > 0 && reporter.passNs > 0) {
    std::printf("pass/floor = %.2f\n", reporter.passNs / reporter.floorNs);
  }
  return 0;
}
