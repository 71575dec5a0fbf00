// The pass skips the 64-bit division when its quotient cannot matter; these
// tests hold its leap decision against the plain formula, written out here
// on its own, over edge values and many random ones.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "fake_platform.h"
#include "leap_test.h"

namespace {

// The plain quotient's low 32 bits: difference and product modulo 2^64
// read as signed, quotient truncated toward zero.
std::uint32_t ReferenceIntervalMs(std::uint64_t difference,
                                  std::int64_t frequency) {
  const std::uint64_t product = difference * 1000U;
  std::int64_t signedProduct = 0;
  std::memcpy(&signedProduct, &product, sizeof product);
  return static_cast<std::uint32_t>(
      static_cast<std::uint64_t>(signedProduct / frequency) & 0xFFFFFFFFU);
}

// That interval minus the tick interval modulo 2^32, read as signed.
bool ReferenceLeap(std::int64_t current, std::int64_t previous,
                   std::uint32_t currentTick, std::uint32_t previousTick,
                   std::int64_t frequency) {
  const std::uint32_t wrapped =
      ReferenceIntervalMs(static_cast<std::uint64_t>(current) -
                              static_cast<std::uint64_t>(previous),
                          frequency) -
      (currentTick - previousTick);
  std::int32_t discrepancy = 0;
  std::memcpy(&discrepancy, &wrapped, sizeof wrapped);
  return discrepancy > 500 || discrepancy < -500;
}

const std::int64_t Frequencies[] = {1,
                                    2,
                                    3,
                                    999,
                                    1000,
                                    1001,
                                    1024,
                                    3579545,
                                    10000000,
                                    1000000000,
                                    2399999999,
                                    2400000000,
                                    INT64_C(1) << 40,
                                    INT64_MAX / 1000,
                                    INT64_MAX / 1000 + 1,
                                    INT64_MAX / 500,
                                    INT64_MAX / 2,
                                    INT64_MAX - 1,
                                    INT64_MAX};

class LeapDecisionTest : public testing::Test {
 protected:
  void SetUp() override { ResetFakePlatform(); }

  void StartWithFrequency(std::int64_t frequency) {
    ResetFakePlatform();
    Clocks().frequency = frequency;
    StartLeapTest(state_);
  }

  // Checks the decision for the difference `difference` from `previous`
  // against tick intervals around the edges of the threshold.
  void ExpectSameDecision(std::int64_t previous, std::uint64_t difference,
                          std::uint32_t previousTick) {
    const std::int64_t frequency = state_.frequency;
    const std::int64_t current = static_cast<std::int64_t>(
        static_cast<std::uint64_t>(previous) + difference);
    // Tick intervals aimed at the edges around the counter's interval.
    const std::uint32_t interval = ReferenceIntervalMs(difference, frequency);
    const std::uint32_t tickIntervals[] = {0,
                                           1,
                                           499,
                                           500,
                                           501,
                                           1000,
                                           0x7FFFFFFFU,
                                           0x80000000U,
                                           0xFFFFFFFFU,
                                           interval - 501,
                                           interval - 500,
                                           interval - 499,
                                           interval,
                                           interval + 499,
                                           interval + 500,
                                           interval + 501};
    state_.previousSample = previous;
    state_.previousTick = previousTick;
    for (const std::uint32_t ticks : tickIntervals) {
      const std::uint32_t currentTick = previousTick + ticks;
      ASSERT_EQ(ReferenceLeap(current, previous, currentTick, previousTick,
                              frequency),
                IsLeap(state_, current, currentTick))
          << "frequency " << frequency << ", previous " << previous
          << ", difference " << difference << ", tick interval " << ticks;
    }
  }

  LeapTestState state_{};
};

TEST_F(LeapDecisionTest, MatchesTheFormulaAtTheEdges) {
  for (const std::int64_t frequency : Frequencies) {
    StartWithFrequency(frequency);
    const std::uint64_t f = static_cast<std::uint64_t>(frequency);
    const std::uint64_t overflowEdge =
        static_cast<std::uint64_t>(INT64_MAX) / 1000U;  // 1000 * d still fits
    const std::uint64_t bases[] = {0,
                                   f / 1000,  // 1 ms exactly, where it is whole
                                   f / 2,     // half a second
                                   f / 1000 * 501,
                                   (f / 1000 + 1) * 501,  // around 501 ms
                                   f - 1,
                                   f,
                                   overflowEdge,
                                   UINT64_C(1) << 62,
                                   UINT64_C(1) << 63,
                                   (UINT64_C(1) << 63) + overflowEdge,
                                   0 - f / 2,  // negative differences
                                   0 - f,
                                   0 - overflowEdge};
    for (const std::uint64_t base : bases) {
      for (std::uint64_t offset = 0; offset <= 4; ++offset) {
        for (const std::int64_t previous : {INT64_C(0), INT64_C(-1), INT64_MAX,
                                            INT64_MIN, INT64_C(0x123456789)}) {
          ExpectSameDecision(previous, base + offset - 2, 0);
          ExpectSameDecision(previous, base + offset - 2, 0xFFFFFF00U);
          if (HasFatalFailure()) {
            return;
          }
        }
      }
    }
  }
}

TEST_F(LeapDecisionTest, MatchesTheFormulaOnRandomValues) {
  // A fixed seed, so that a failure repeats.
  std::mt19937_64 random(20260);  // NOLINT(cert-msc32-c,cert-msc51-cpp)
  std::uniform_int_distribution<std::uint64_t> any;
  for (const std::int64_t frequency : Frequencies) {
    StartWithFrequency(frequency);
    const std::uint64_t f = static_cast<std::uint64_t>(frequency);
    std::uniform_int_distribution<std::uint64_t> nearSecond(0, 2 * f);
    for (int round = 0; round < 20000; ++round) {
      const std::int64_t previous = static_cast<std::int64_t>(any(random));
      const std::uint32_t previousTick =
          static_cast<std::uint32_t>(any(random));
      // Small, half-second-sized, negative and arbitrary differences.
      std::uint64_t difference = 0;
      switch (round % 4) {
        case 0:
          difference = any(random) % 4096;
          break;
        case 1:
          difference = nearSecond(random);
          break;
        case 2:
          difference = 0 - nearSecond(random);
          break;
        default:
          difference = any(random);
          break;
      }
      ExpectSameDecision(previous, difference, previousTick);
      if (HasFatalFailure()) {
        return;
      }
    }
  }
}

TEST_F(LeapDecisionTest, NoFrequencyNeverLeaps) {
  Clocks().frequencyOk = false;
  testing::internal::CaptureStdout();
  StartLeapTest(state_);
  testing::internal::GetCapturedStdout();
  EXPECT_FALSE(IsLeap(state_, 0, 0));
  EXPECT_FALSE(IsLeap(state_, INT64_C(1) << 40, 100000));
  EXPECT_FALSE(IsLeap(state_, -1, 0xFFFFFFFFU));
}

}  // namespace
