// The line that tells which clock a run compares the counter with, and
// what the run cannot see.

#include "tick_line.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::string Line(TickSource source, std::uint64_t hertz, TimerRefusal hpet,
                 TimerRefusal pmTimer, const char* clocksource) {
  TickChoice choice{source, hertz, hpet, pmTimer, {}};
  std::strncpy(choice.clocksource, clocksource, ClocksourceNameCapacity - 1);
  char line[512];
  FormatTickLine(choice, line, sizeof line);
  return line;
}

TEST(TickLineTest, NamesTheClockAndWhetherItIsIndependent) {
  EXPECT_EQ(
      "leapcheck: tick count: HPET, 100000000 Hz, independent of the "
      "counter",
      Line(TickSource::Hpet, 100000000, TimerRefusal::None, TimerRefusal::None,
           "tsc"));
  EXPECT_EQ(
      "leapcheck: tick count: ACPI PM timer, 3579545 Hz, independent of "
      "the counter",
      Line(TickSource::PmTimer, 3579545, TimerRefusal::Missing,
           TimerRefusal::None, "kvm-clock"));
  EXPECT_EQ(
      "leapcheck: tick count: kernel clock (clocksource kvm-clock), 1000 "
      "Hz, follows the counter: a leap of the whole counter moves it too "
      "and cannot show; no timer of its own: HPET: none (no /dev/hpet); "
      "ACPI PM timer: none (hardware-reduced ACPI)",
      Line(TickSource::KernelClock, 1000, TimerRefusal::Missing,
           TimerRefusal::HardwareReduced, "kvm-clock"));
  EXPECT_EQ(
      "leapcheck: tick count: kernel clock (clocksource hpet), 1000 Hz, "
      "independent of the counter; no timer of its own: HPET: needs "
      "root; ACPI PM timer: needs root (run as root: sudo leapcheck "
      "runtest)",
      Line(TickSource::KernelClock, 1000, TimerRefusal::NeedsRoot,
           TimerRefusal::NeedsRoot, "hpet"));
}

TEST(TickLineTest, SaysWhyNoTimerOfItsOwnInWordsToActOn) {
  const std::string busy =
      Line(TickSource::KernelClock, 1000, TimerRefusal::Busy,
           TimerRefusal::WrongRate, "tsc");
  EXPECT_NE(std::string::npos,
            busy.find("HPET: in use by another run; ACPI PM timer: does not "
                      "count at its stated rate (one run at a time: stop the "
                      "service or the other run)"))
      << busy;
  EXPECT_NE(std::string::npos,
            Line(TickSource::KernelClock, 1000, TimerRefusal::MappingOff,
                 TimerRefusal::MemorySpace, "")
                .find("(clocksource unknown), 1000 Hz, follows the counter"));
  const std::string arm =
      Line(TickSource::KernelClock, 1000, TimerRefusal::NotThisProcessor,
           TimerRefusal::NotThisProcessor, "arch_sys_counter");
  EXPECT_NE(std::string::npos,
            arm.find("HPET: none on this processor; ACPI PM timer: none on "
                     "this processor"))
      << arm;
  EXPECT_TRUE(IsIndependentClocksource("acpi_pm"));
  for (const char* follows :
       {"tsc", "kvm-clock", "xen", "hyperv_clocksource_tsc_page",
        "arch_sys_counter", "hpet2", ""}) {
    EXPECT_FALSE(IsIndependentClocksource(follows)) << follows;
  }
  // Cut short, never past its buffer.
  TickChoice choice{TickSource::KernelClock, 1000, TimerRefusal::Busy,
                    TimerRefusal::Busy, "tsc"};
  char small[16];
  FormatTickLine(choice, small, sizeof small);
  EXPECT_STREQ("leapcheck: tick", small);
}

}  // namespace
