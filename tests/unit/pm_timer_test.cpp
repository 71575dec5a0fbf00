// The ACPI PM timer found as the kernel finds it: the FADT recorded from
// machines and made for the cases none of them shows, and /proc/ioports.

#include "pm_timer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "clocks_linux.h"

namespace {

// A table as a firmware writes it: the header's length, the flags, the old
// block and its length, the extended block's space and address.
struct Fadt {
  unsigned char bytes[276];
};

void Put(unsigned char* at, std::uint64_t value, int count) {
  for (int i = 0; i < count; ++i, value >>= 8U) {
    at[i] = static_cast<unsigned char>(value & 0xFFU);
  }
}

Fadt MakeFadt(std::uint32_t length, std::uint32_t flags, std::uint32_t block,
              unsigned char blockLength, unsigned char space,
              std::uint64_t extended) {
  Fadt fadt{};
  Put(fadt.bytes + 4, length, 4);
  Put(fadt.bytes + 76, block, 4);
  fadt.bytes[91] = blockLength;
  Put(fadt.bytes + 112, flags, 4);
  fadt.bytes[208] = space;
  Put(fadt.bytes + 212, extended, 8);
  return fadt;
}

struct Parsed {
  bool found;
  PmTimerPort timer;
  TimerRefusal refusal;
};

Parsed Parse(const Fadt& fadt, std::size_t size = sizeof(Fadt)) {
  Parsed parsed{false, {0, 0}, TimerRefusal::None};
  parsed.found =
      ParseFadtPmTimer(fadt.bytes, size, parsed.timer, parsed.refusal);
  return parsed;
}

std::string Recorded(const char* name) {
  std::string bytes;
  FILE* const file =
      std::fopen((std::string(LEAPCHECK_TEST_DATA) + "/" + name).c_str(), "rb");
  EXPECT_NE(nullptr, file) << name;
  if (file != nullptr) {
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
      bytes.push_back(static_cast<char>(c));
    }
    std::fclose(file);
  }
  return bytes;
}

Parsed ParseRecorded(const char* name) {
  const std::string bytes = Recorded(name);
  Parsed parsed{false, {0, 0}, TimerRefusal::None};
  parsed.found =
      ParseFadtPmTimer(reinterpret_cast<const unsigned char*>(bytes.data()),
                       bytes.size(), parsed.timer, parsed.refusal);
  return parsed;
}

TEST(PmTimerTest, RecordedTablesOfEmulatedMachines) {
  for (const char* name : {"fadt-pc.bin", "fadt-q35.bin"}) {
    const Parsed parsed = ParseRecorded(name);
    EXPECT_TRUE(parsed.found) << name;
    EXPECT_EQ(0x608, parsed.timer.port) << name;
    EXPECT_EQ(24U, parsed.timer.bits) << name;
  }
  // A virtual machine of hardware-reduced ACPI, as this project's build
  // machines are: no PM timer.
  const Parsed reduced = ParseRecorded("fadt-hardware-reduced.bin");
  EXPECT_FALSE(reduced.found);
  EXPECT_EQ(TimerRefusal::HardwareReduced, reduced.refusal);
}

TEST(PmTimerTest, BlocksAndFlagsAsTheKernelReadsThem) {
  constexpr std::uint32_t Extended32Bits = 1U << 8U;
  // The extended block first, in I/O space; the old one is the fallback.
  Parsed parsed = Parse(MakeFadt(276, 0, 0x408, 4, 1, 0x1808));
  EXPECT_TRUE(parsed.found);
  EXPECT_EQ(0x1808, parsed.timer.port);
  parsed = Parse(MakeFadt(276, Extended32Bits, 0x408, 4, 0, 0));
  EXPECT_TRUE(parsed.found);
  EXPECT_EQ(0x408, parsed.timer.port);
  EXPECT_EQ(32U, parsed.timer.bits);
  // An ACPI 1.0 table has no extended block at all.
  parsed = Parse(MakeFadt(116, 0, 0x408, 4, 1, 0x1808));
  EXPECT_TRUE(parsed.found);
  EXPECT_EQ(0x408, parsed.timer.port);
  // In memory space: left to the kernel's clock.
  parsed = Parse(MakeFadt(276, 0, 0x408, 4, 0, 0xFED00000));
  EXPECT_FALSE(parsed.found);
  EXPECT_EQ(TimerRefusal::MemorySpace, parsed.refusal);
  // No block, or one whose length is not the timer's 4.
  for (const Fadt& none :
       {MakeFadt(276, 0, 0, 0, 0, 0), MakeFadt(276, 0, 0x408, 2, 0, 0),
        MakeFadt(276, 0, 0, 4, 1, 0x1FFFF)}) {
    parsed = Parse(none);
    EXPECT_FALSE(parsed.found);
    EXPECT_NE(TimerRefusal::None, parsed.refusal);
  }
  // Hardware-reduced, whatever the blocks say.
  parsed = Parse(MakeFadt(276, 1U << 20U, 0x408, 4, 1, 0x408));
  EXPECT_EQ(TimerRefusal::HardwareReduced, parsed.refusal);
  // Truncated: the file, or the length the table states.
  const Fadt whole = MakeFadt(276, 0, 0x408, 4, 1, 0x408);
  EXPECT_FALSE(Parse(whole, 100).found);
  EXPECT_FALSE(Parse(whole, 0).found);
  EXPECT_FALSE(Parse(MakeFadt(64, 0, 0x408, 4, 1, 0x408)).found);
}

TEST(PmTimerTest, IoportsListAsRootAndAsAUser) {
  PmTimerPort timer{};
  TimerRefusal refusal = TimerRefusal::None;
  const char* root =
      "0000-0cf7 : PCI Bus 0000:00\n"
      "  0600-067f : 0000:00:1f.0\n"
      "    0600-0603 : ACPI PM1a_EVT_BLK\n"
      "    0608-060b : ACPI PM_TMR\n"
      "    0620-062f : ACPI GPE0_BLK\n";
  ASSERT_TRUE(ParseIoportsPmTimer(root, timer, refusal));
  EXPECT_EQ(0x608, timer.port);
  EXPECT_EQ(24U, timer.bits);
  const char* user =
      "  0000-0000 : ACPI PM1a_EVT_BLK\n  0000-0000 : ACPI PM_TMR\n";
  EXPECT_FALSE(ParseIoportsPmTimer(user, timer, refusal));
  EXPECT_EQ(TimerRefusal::NeedsRoot, refusal);
  EXPECT_FALSE(ParseIoportsPmTimer("  0070-0077 : rtc0\n", timer, refusal));
  EXPECT_EQ(TimerRefusal::Missing, refusal);
  EXPECT_FALSE(
      ParseIoportsPmTimer("  zz08-060b : ACPI PM_TMR\n", timer, refusal));
  // ':' to '@' sit between the digits and the letters: no digits either.
  EXPECT_FALSE(
      ParseIoportsPmTimer("  06:8-060b : ACPI PM_TMR\n", timer, refusal));
}

// A port whose reads fall (no working timer there) ends the read after a
// few tries instead of holding the run; a rising one, wrapping or not, is
// read at once.
TEST(PmTimerTest, ReadsOutOfOrderEndAfterAFewTries) {
  std::uint32_t next = 1000;
  int reads = 0;
  std::uint32_t value = 0;
  const auto falling = [&] { return ++reads, next -= 8; };
  EXPECT_FALSE(ReadPmTimerInOrder(falling, PmTimer24BitMask, value));
  EXPECT_EQ(3 * PmTimerReadTries, reads);
  next = PmTimer24BitMask - 1;
  reads = 0;
  const auto rising = [&] { return ++reads, next++; };
  EXPECT_TRUE(ReadPmTimerInOrder(rising, PmTimer24BitMask, value));
  EXPECT_EQ(3, reads);
  EXPECT_EQ(PmTimer24BitMask, value);
}

// Firmware sets TMR_VAL_EXT on 24-bit timers: 32 bits only once a count
// beyond 24 was seen.
TEST(PmTimerTest, ThirtyTwoBitsOnlyWhereTheTimerShowsThem) {
  EXPECT_EQ(24U, ProvenPmTimerBits(32, false));
  EXPECT_EQ(32U, ProvenPmTimerBits(32, true));
  EXPECT_EQ(24U, ProvenPmTimerBits(24, true));
}

// Whatever stands in the way of the PM timer, the kernel's clock is left.
TEST(PmTimerTest, EveryFailureLeavesTheKernelClock) {
  char ioports[] = "/tmp/leapcheck-ioports-XXXXXX";
  const int fd = mkstemp(ioports);
  ASSERT_GE(fd, 0);
  close(fd);
  struct Case {
    const char* fadt;
    TimerRefusal why;
  };
  const std::string reduced =
      std::string(LEAPCHECK_TEST_DATA) + "/fadt-hardware-reduced.bin";
  for (const Case& c : {Case{"/nonexistent", TimerRefusal::Missing},
                        Case{reduced.c_str(), TimerRefusal::HardwareReduced},
                        Case{"/tmp", TimerRefusal::Unreadable}}) {
    const ClockPaths paths{{"/nonexistent", "/nonexistent", c.fadt, ioports},
                           "/nonexistent"};
    std::int64_t frequency = 0;
    TickClock tick{};
    TickChoice choice{};
    EXPECT_TRUE(MeasureAndChooseClocks(paths, frequency, tick, choice));
    EXPECT_EQ(TickSource::KernelClock, tick.source) << c.fadt;
#if defined(__x86_64__) || defined(__i386__)
    EXPECT_EQ(c.why, choice.refusals[1]) << c.fadt;
#else
    EXPECT_EQ(TimerRefusal::NotThisProcessor, choice.refusals[1]);
#endif
  }
  unlink(ioports);
}

}  // namespace
