#pragma once

// The ACPI power-management timer as the tick count: 3.579545 MHz from the
// chipset's own crystal, 24 or 32 bits, in every ACPI PC chipset since the
// late 1990s. Found as the kernel finds it (the FADT, else /proc/ioports),
// read from its I/O port, which needs ioperm and so root.

#include <cstddef>
#include <cstdint>

#include "timer_face.h"
#include "timer_refusal.h"
#include "wrapping_timer.h"

constexpr TimerRate PmTimerRate{1000000000000000, 3579545};

struct PmTimerPort {
  std::uint16_t port;
  unsigned bits;  // 24, or 32 where the FADT says TMR_VAL_EXT
};

// Where the FADT (`table`, `size` bytes as /sys/firmware/acpi/tables/FACP
// holds it) puts the timer: X_PM_TMR_BLK in I/O space, else PM_TMR_BLK of
// length 4. Refused for hardware-reduced ACPI, a block in memory space, no
// block, or a table too short to say.
bool ParseFadtPmTimer(const unsigned char* table, std::size_t size,
                      PmTimerPort& timer, TimerRefusal& refusal);

// The port of the "ACPI PM_TMR" line of /proc/ioports' text (24 bits: the
// list does not say). A port of 0 is what the kernel shows a user who is
// not root.
bool ParseIoportsPmTimer(const char* text, PmTimerPort& timer,
                         TimerRefusal& refusal);

// Finds the timer from the FADT at `paths.fadt`, else the list at
// `paths.ioports`, and asks for its port (ioperm).
bool OpenPmTimer(const TimerPaths& paths, OpenTimer& timer,
                 TimerRefusal& refusal);
void ClosePmTimer(const OpenTimer& timer);

constexpr std::uint32_t PmTimer24BitMask = 0xFFFFFF;

// The timer's width: 24, or the `stated` 32 only where a count past 24 bits
// was seen.
constexpr unsigned ProvenPmTimerBits(unsigned stated, bool countPast24Bits) {
  return stated == 32 && countPast24Bits ? 32 : 24;
}

// Triples a read tries before it takes what it has: a port whose reads
// never come in order (one that is no working timer) must not hold the run.
constexpr int PmTimerReadTries = 3;

// Whether three reads, of a timer that may wrap once between them, are in
// order: the kernel's driver reads again where they are not, for chipsets
// whose timer now and then returns a wrong value while it counts.
inline bool InOrder(std::uint32_t first, std::uint32_t second,
                    std::uint32_t third) {
  return !((first > second && first < third) ||
           (second > third && second < first) ||
           (third > first && third < second));
}

// The timer's `mask` bits from `read()`: the middle of the first triple in
// order, true; false where none of PmTimerReadTries was, with the middle of
// the last in `value`.
template <typename PortReader>
bool ReadPmTimerInOrder(PortReader read, std::uint32_t mask,
                        std::uint32_t& value) {
  for (int i = 0; i < PmTimerReadTries; ++i) {
    const std::uint32_t first = read() & mask;
    const std::uint32_t second = read() & mask;
    const std::uint32_t third = read() & mask;
    value = second;
    if (InOrder(first, second, third)) {
      return true;
    }
  }
  return false;
}

// The timer read from its port as above; false where no triple was in
// order.
bool ReadPmTimerChecked(const OpenTimer& timer, std::uint32_t& value);

// The same on the pass, which takes the value either way: a timer whose
// reads go wrong while the test runs shows in its comparison.
std::uint32_t ReadPmTimer(std::uint16_t port, std::uint32_t mask);
std::uint32_t ReadPmTimerCount(const OpenTimer& timer);

// 24 bits, or the FADT's 32 where a count past 24 bits was seen
// (ProvenPmTimerBits).
unsigned ProvePmTimerBits(const OpenTimer& timer, std::uint32_t highest);
const char* PmTimerRefusalText(TimerRefusal refusal);

constexpr TimerFace PmTimerFace{
    TickSource::PmTimer, "ACPI PM timer",  OpenPmTimer,  ReadPmTimerCount,
    ReadPmTimerChecked,  ProvePmTimerBits, ClosePmTimer, PmTimerRefusalText};
