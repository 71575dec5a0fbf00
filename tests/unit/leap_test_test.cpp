#include "leap_test.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <string>

#include "fake_platform.h"

namespace {

// Frequency 1,000,000: a millisecond is 1000 counts.
constexpr std::int64_t CountsPerMs = 1000;

class LeapTest : public testing::Test {
 protected:
  void SetUp() override { ResetFakePlatform(); }

  // Starts at counter `counter` and tick `tick`; returns what was printed.
  std::string Start(std::int64_t counter, std::uint32_t tick) {
    QueueTick(tick);
    QueueCounter(counter);
    testing::internal::CaptureStdout();
    StartLeapTest(state_);
    return testing::internal::GetCapturedStdout();
  }

  std::string Pass(std::int64_t counter, std::uint32_t tick, bool ok = true) {
    QueueCounter(counter, ok);
    QueueTick(tick);
    testing::internal::CaptureStdout();
    RunLeapTestPasses(state_, 1);
    return testing::internal::GetCapturedStdout();
  }

  // A pass that leaps to `counter`, followed by the report's nine readings
  // and its tick read `reportTick`.
  std::string LeapPass(std::int64_t counter, std::uint32_t tick,
                       const std::int64_t (&next)[ReportSampleCount],
                       std::uint32_t reportTick) {
    QueueCounter(counter);
    QueueTick(tick);
    for (const std::int64_t sample : next) {
      QueueCounter(sample);
    }
    QueueTick(reportTick);
    testing::internal::CaptureStdout();
    RunLeapTestPasses(state_, 1);
    return testing::internal::GetCapturedStdout();
  }

  LeapTestState state_{};
};

std::string Hex(std::int64_t value) {
  char text[32];
  std::snprintf(text, sizeof text, "%" PRIX64,
                static_cast<std::uint64_t>(value));
  return text;
}

std::string PreviousLine(int n, std::int64_t value) {
  return "      Previous " + std::to_string(n) + ":  " + Hex(value) + "\n";
}

std::string NextLine(int i, std::int64_t value) {
  return "      Next     " + std::to_string(i) + ":  " + Hex(value) + "\n";
}

TEST(LeapArithmeticTest, CounterIntervalWrapsAndTruncatesAsSpecified) {
  constexpr std::int64_t Frequency = 3579545;  // the classic ACPI PM timer
  EXPECT_EQ(0, CounterIntervalMs(0, 0, Frequency));
  EXPECT_EQ(0, CounterIntervalMs(Frequency - 1, 0, 1000 * Frequency));
  EXPECT_EQ(1, CounterIntervalMs(1000, 0, 1000000));  // exactly 1 ms
  EXPECT_EQ(0, CounterIntervalMs(999, 0, 1000000));
  EXPECT_EQ(-1, CounterIntervalMs(0, 1999, 1000000));  // toward zero
  EXPECT_EQ(1000, CounterIntervalMs(Frequency, 0, Frequency));
  EXPECT_EQ(-1000, CounterIntervalMs(0, Frequency, Frequency));
  // The difference wraps modulo 2^64 ...
  EXPECT_EQ(2, CounterIntervalMs(INT64_MIN + 1, INT64_MAX, 1000));
  // ... the product too: 2^62 * 1000 is 0 modulo 2^64 ...
  EXPECT_EQ(1000, CounterIntervalMs(INT64_C(0x4000000000000001), 0, 1));
  // ... and only the low 32 bits of the quotient count.
  EXPECT_EQ(1000, CounterIntervalMs(INT64_C(0x100000001), 0, 1));
  EXPECT_EQ(-1000, CounterIntervalMs(0, 1, 1));
  EXPECT_EQ(INT32_MIN, CounterIntervalMs(INT64_C(0x80000000), 0, 1000));
}

TEST(LeapArithmeticTest, DiscrepancyIsTakenModulo2To32) {
  EXPECT_EQ(0, TickDiscrepancyMs(0x110, 0x10, 0xFFFFFF00U));  // tick wrap
  EXPECT_EQ(501, TickDiscrepancyMs(501, 7, 7));
  EXPECT_EQ(-501, TickDiscrepancyMs(0, 501, 0));
  EXPECT_EQ(0, TickDiscrepancyMs(INT32_MIN, 0x80000000U, 0));
  EXPECT_EQ(INT32_MIN, TickDiscrepancyMs(0, 0x80000000U, 0));
}

TEST_F(LeapTest, CounterAndTickAdvancingTogetherPrintNothing) {
  EXPECT_EQ("", Start(0, 0));
  testing::internal::CaptureStdout();
  RunLeapTestPasses(state_, 10000);
  EXPECT_EQ("", testing::internal::GetCapturedStdout());
}

void QueuePass(std::int64_t counter, std::uint32_t tick, bool ok = true) {
  QueueCounter(counter, ok);
  QueueTick(tick);
}

// A report's nine readings from `first` on and its tick read.
void QueueReport(std::int64_t first, std::uint32_t tick) {
  for (int i = 0; i < ReportSampleCount; ++i) {
    QueueCounter(first + i);
  }
  QueueTick(tick);
}

// Quiet passes, a failed read, a leap, a leap right after it, a backwards
// leap, a stall and a long pass that is no leap, queued for one run of
// twelve passes.
void QueueMixedPasses() {
  constexpr std::int64_t Leap = 0x10000000;
  QueuePass(1 * CountsPerMs, 1);
  QueuePass(2 * CountsPerMs, 2);
  QueuePass(0, 3, false);  // keeps 2 ms
  QueuePass(Leap, 4);
  QueueReport(Leap + 1, 4);
  QueuePass(Leap + 600 * CountsPerMs, 5);  // leap right after the report
  QueueReport(Leap + 600 * CountsPerMs + 1, 5);
  QueuePass(Leap + 601 * CountsPerMs, 6);
  QueuePass(Leap, 7);  // backwards
  QueueReport(Leap + 1, 7);
  QueuePass(Leap + 2 * CountsPerMs, 900);  // stall before the tick read
  QueueReport(Leap + 2 * CountsPerMs + 1, 900);
  QueuePass(Leap + 3 * CountsPerMs, 901);
  QueuePass(Leap + 4 * CountsPerMs, 902);
  QueuePass(Leap + 404 * CountsPerMs, 1302);
  QueuePass(Leap + 1004 * CountsPerMs, 1902);  // 600 ms both ways: no leap
}

TEST_F(LeapTest, ManyPassesInOneCallRunAsOnePassPerCall) {
  constexpr std::uint64_t Passes = 12;
  Clocks().errorNumber = 5;
  Start(0, 0);
  QueueMixedPasses();
  testing::internal::CaptureStdout();
  RunLeapTestPasses(state_, Passes);
  const std::string together = testing::internal::GetCapturedStdout();
  const LeapTestState afterTogether = state_;

  ResetFakePlatform();
  Clocks().errorNumber = 5;
  state_ = LeapTestState{};
  Start(0, 0);
  QueueMixedPasses();
  testing::internal::CaptureStdout();
  for (std::uint64_t pass = 0; pass < Passes; ++pass) {
    RunLeapTestPasses(state_, 1);
  }
  EXPECT_EQ(testing::internal::GetCapturedStdout(), together);

  // Four reports and the failure line, and the state each run leaves.
  std::size_t reports = 0;
  for (std::size_t at = together.find("LEAP:"); at != std::string::npos;
       at = together.find("LEAP:", at + 1)) {
    ++reports;
  }
  EXPECT_EQ(4U, reports);
  EXPECT_NE(std::string::npos, together.find("QPC() failed with error 5\n"));
  EXPECT_EQ(afterTogether.currentSample, state_.currentSample);
  EXPECT_EQ(afterTogether.previousSample, state_.previousSample);
  EXPECT_EQ(afterTogether.previousTick, state_.previousTick);
  EXPECT_EQ(afterTogether.ring.position, state_.ring.position);
  for (int slot = 0; slot < SampleRingSize; ++slot) {
    EXPECT_EQ(afterTogether.ring.slots[slot], state_.ring.slots[slot]) << slot;
  }
  EXPECT_EQ(0x10000000 + 1004 * CountsPerMs, state_.previousSample);
  EXPECT_EQ(1902U, state_.previousTick);
}

TEST_F(LeapTest, ThresholdIs500MsEitherWay) {
  Start(0, 0);
  EXPECT_EQ("", Pass(500 * CountsPerMs, 0));
  EXPECT_EQ("", Pass(500 * CountsPerMs, 500));
  EXPECT_NE("", Pass(1001 * CountsPerMs, 500));  // counter ahead by 501 ms
  Start(0, 0);
  EXPECT_EQ("", Pass(0, 500));
  EXPECT_NE("", Pass(0, 1001));  // counter behind by 501 ms
}

TEST_F(LeapTest, ReportShowsNineSamplesEitherSideOfTheLeap) {
  constexpr std::int64_t Base = 0x1000;
  Start(Base, 0);
  for (std::uint32_t pass = 1; pass <= 9; ++pass) {
    ASSERT_EQ("", Pass(Base + pass * CountsPerMs, pass));
  }
  const std::int64_t before = Base + 9 * CountsPerMs;
  const std::int64_t leap = before + 0x10000000;
  std::int64_t next[ReportSampleCount];
  for (int i = 0; i < ReportSampleCount; ++i) {
    next[i] = leap + i + 1;
  }
  const std::string report = LeapPass(leap, 10, next, 10);

  std::string expected;
  for (int n = 9; n >= 1; --n) {
    expected += PreviousLine(n, Base + (10 - n) * CountsPerMs);
  }
  expected += "LEAP: Current:     " + Hex(leap) + "  delta = 10000000\n";
  for (int i = 1; i <= 9; ++i) {
    expected += NextLine(i, leap + i);
  }
  expected += "\n";
  EXPECT_EQ(expected, report);

  // The hex values all start in column 20.
  std::size_t lineStart = 0;
  for (int line = 0; line < 19; ++line) {
    const std::size_t end = report.find('\n', lineStart);
    ASSERT_NE(std::string::npos, end);
    EXPECT_EQ(' ', report[lineStart + 18]) << line;
    EXPECT_TRUE(std::isxdigit(report[lineStart + 19])) << line;
    lineStart = end + 1;
  }
}

TEST_F(LeapTest, SlowReportIsFollowedByNoSecondReport) {
  Start(0, 0);
  // Printing holds the report for 1.2 s before its ninth Next reading (a
  // console or pipe that blocks); the tick read right after it sees that.
  constexpr std::int64_t Leap = 0x10000000;
  std::int64_t next[ReportSampleCount];
  for (int i = 0; i < ReportSampleCount; ++i) {
    next[i] = Leap + i + 1;
  }
  next[8] += 1200 * CountsPerMs;
  const std::size_t readsBefore = Clocks().counterReads;
  const std::string report = LeapPass(Leap, 10, next, 1210);
  ASSERT_NE(std::string::npos, report.find("LEAP:"));
  EXPECT_EQ(readsBefore + 1 + ReportSampleCount,
            Clocks().counterReadsAtLastTick);  // after the ninth Next reading

  // Both intervals of the next pass start there: the held second is in
  // neither, and a later leap is measured from there.
  const std::int64_t after = next[8] + 3 * CountsPerMs;
  EXPECT_EQ("", Pass(after, 1213));
  EXPECT_EQ("", Pass(after + 500 * CountsPerMs, 1213));
  const std::string later = Pass(after + 1001 * CountsPerMs, 1213);
  EXPECT_NE(std::string::npos,
            later.find("  delta = " + Hex(501 * CountsPerMs) + "\n"));
}

TEST_F(LeapTest, BackwardsLeapPrintsATwosComplementDelta) {
  Start(0x500000, 100);
  const std::string report = Pass(0x500000 - 0x100000, 101);
  EXPECT_NE(
      std::string::npos,
      report.find("LEAP: Current:     400000  delta = FFFFFFFFFFF00000\n"));
}

TEST_F(LeapTest, LeapOnTheFirstPassShowsAnEmptyRing) {
  Start(0, 0);
  const std::string report = Pass(600 * CountsPerMs, 0);
  for (int n = 9; n >= 1; --n) {
    EXPECT_NE(std::string::npos, report.find(PreviousLine(n, 0))) << n;
  }
}

TEST_F(LeapTest, LeapRightAfterAReportRepeatsItsNextSamples) {
  Start(0, 0);
  std::int64_t next[ReportSampleCount];
  for (int i = 0; i < ReportSampleCount; ++i) {
    next[i] = 0x100000 + i + 1;
  }
  LeapPass(0x100000, 0, next, 0);  // Next 1..9 are 0x100001..0x100009
  const std::string second = Pass(0x300000, 0);  // second leap
  std::string expected;
  for (int n = 9; n >= 1; --n) {
    expected += PreviousLine(n, 0x100000 + (10 - n));
  }
  EXPECT_EQ(expected, second.substr(0, expected.size()));
  EXPECT_NE(std::string::npos,
            second.find("LEAP: Current:     300000  delta = 1FFFF7\n"));
}

TEST_F(LeapTest, TickWrapCausesNoReport) {
  Start(0, 0xFFFFFF00U);
  EXPECT_EQ("", Pass(0x110 * CountsPerMs, 0x10));
  EXPECT_EQ("", Pass(0x120 * CountsPerMs, 0x20));
}

TEST_F(LeapTest, FailedCounterReadIsReportedOnEveryPass) {
  Clocks().errorNumber = 5;
  QueueTick(0);
  QueueCounter(0, false);
  testing::internal::CaptureStdout();
  StartLeapTest(state_);
  EXPECT_EQ("QPC() failed with error 5\n",
            testing::internal::GetCapturedStdout());
  for (std::uint32_t pass = 1; pass <= 100; ++pass) {
    // The sample keeps its last value while the tick count runs on: the
    // failure is reported, no leap.
    EXPECT_EQ("QPC() failed with error 5\n", Pass(0, pass, false));
  }
}

TEST_F(LeapTest, WithoutAFrequencyNothingIsCompared) {
  Clocks().frequencyOk = false;
  Clocks().errorNumber = 87;
  EXPECT_EQ("QPF() failed with error 87\n", Start(0, 0));
  EXPECT_EQ("", Pass(INT64_C(1) << 40, 0));
  EXPECT_EQ("", Pass(0, 100000));

  ResetFakePlatform();
  Clocks().frequency = 0;  // a "successful" zero is no divisor either
  EXPECT_EQ("", Start(0, 0));
  EXPECT_EQ("", Pass(INT64_C(1) << 40, 0));
}

TEST_F(LeapTest, StallBetweenCounterAndTickReadGivesASmallDelta) {
  Start(0, 0);
  const std::string report = Pass(2 * CountsPerMs, 900);
  EXPECT_NE(std::string::npos,
            report.find("LEAP: Current:     7D0  delta = 7D0\n"));
  // The stall before the next counter read falls into both intervals.
  const std::int64_t nextNine = 2 * CountsPerMs + 9 * CountsPerMs;
  EXPECT_EQ("", Pass(nextNine + 1500 * CountsPerMs, 2400));
}

}  // namespace
