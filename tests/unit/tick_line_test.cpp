// The line that tells which clock a run compares the counter with, and
// what the run cannot see.

#include "tick_line.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::string Line(TickSource source, std::uint64_t hertz, TimerRefusal hpet,
                 TimerRefusal pmTimer, const char* clocksource) {
  TickChoice choice{source, hertz, {hpet, pmTimer}, {}};
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
  // The PM timer taken says why the HPET was not.
  EXPECT_EQ(
      "leapcheck: tick count: ACPI PM timer, 3579545 Hz, independent of "
      "the counter; not used: HPET: in use by another run (one run at a "
      "time: stop the service or the other run)",
      Line(TickSource::PmTimer, 3579545, TimerRefusal::Busy, TimerRefusal::None,
           "kvm-clock"));
  EXPECT_EQ(
      "leapcheck: tick count: kernel clock (clocksource kvm-clock), 1000 "
      "Hz, follows the counter: a leap of the whole counter moves it too "
      "and cannot show; no timer of its own: HPET: none; ACPI PM timer: "
      "none (hardware-reduced ACPI)",
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
  struct Case {
    TimerRefusal hpet;
    TimerRefusal pmTimer;
    const char* says;
  };
  const Case cases[] = {
      {TimerRefusal::Busy, TimerRefusal::WrongRate,
       "HPET: in use by another run; ACPI PM timer: does not count at its "
       "stated rate (one run at a time: stop the service or the other run)"},
      {TimerRefusal::NotThisProcessor, TimerRefusal::NotThisProcessor,
       "HPET: none on this processor; ACPI PM timer: none on this processor"},
      // Root denied in a container, a kernel without mappings, lockdown.
      {TimerRefusal::MappingUnsupported, TimerRefusal::Confined,
       "HPET: this kernel maps it for no program; ACPI PM timer: root "
       "without CAP_SYS_RAWIO (in a container: run it on the host)"},
      {TimerRefusal::NoDriver, TimerRefusal::LockedDown,
       "HPET: no /dev/hpet (no driver, or a container); ACPI PM timer: the "
       "kernel's lockdown forbids it"},
  };
  for (const Case& c : cases) {
    const std::string line =
        Line(TickSource::KernelClock, 1000, c.hpet, c.pmTimer, "tsc");
    EXPECT_NE(std::string::npos, line.find(c.says)) << line;
  }
  EXPECT_NE(std::string::npos,
            Line(TickSource::KernelClock, 1000, TimerRefusal::MappingOff,
                 TimerRefusal::MemorySpace, "")
                .find("(clocksource unknown), 1000 Hz, follows the counter"));
  EXPECT_TRUE(IsIndependentClocksource("acpi_pm"));
  for (const char* follows :
       {"tsc", "kvm-clock", "xen", "hyperv_clocksource_tsc_page",
        "arch_sys_counter", "hpet2", ""}) {
    EXPECT_FALSE(IsIndependentClocksource(follows)) << follows;
  }
  // Cut short, never past its buffer.
  TickChoice choice{TickSource::KernelClock,
                    1000,
                    {TimerRefusal::Busy, TimerRefusal::Busy},
                    "tsc"};
  char small[16];
  FormatTickLine(choice, small, sizeof small);
  EXPECT_STREQ("leapcheck: tick", small);
}

// A denial means root is needed only to a user other than root.
TEST(TickLineTest, DenialToldByWhatTheProcessIs) {
  EXPECT_EQ(TimerRefusal::NeedsRoot, RefusalOfDenial(false, true));
  EXPECT_EQ(TimerRefusal::LockedDown, RefusalOfDenial(true, true));
  EXPECT_EQ(TimerRefusal::Confined, RefusalOfDenial(true, false));
  EXPECT_FALSE(IsLockedDown("[none] integrity confidentiality\n"));
  EXPECT_TRUE(IsLockedDown("none [integrity] confidentiality\n"));
  EXPECT_FALSE(IsLockedDown(""));  // no securityfs
}

}  // namespace
