#pragma once

// The ACPI power-management timer as the tick count: 3.579545 MHz from the
// chipset's own crystal, 24 or 32 bits, in every ACPI PC chipset since the
// late 1990s. Found as the kernel finds it (the FADT, else /proc/ioports),
// read from its I/O port, which needs ioperm and so root.

#include <cstddef>
#include <cstdint>

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

// Finds the timer from the tables at `fadtPath`, else the list at
// `ioportsPath`, and asks for its port (ioperm).
bool OpenPmTimer(const char* fadtPath, const char* ioportsPath,
                 PmTimerPort& timer, TimerRefusal& refusal);
void ClosePmTimer(const PmTimerPort& timer);

// The bits of the port's value that count.
std::uint32_t PmTimerMask(const PmTimerPort& timer);

// The timer's `mask` bits, read until three reads are in order as the kernel's
// driver does for chipsets whose timer now and then returns a wrong value
// while it counts.
std::uint32_t ReadPmTimer(std::uint16_t port, std::uint32_t mask);
