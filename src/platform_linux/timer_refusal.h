#pragma once

#include <cstdint>

// Why a timer of the machine's own is not the tick count; said to the user
// in the line that names the clock (tick_line.h).
enum class TimerRefusal : std::uint8_t {
  None,              // taken, or not looked at: an earlier one was taken
  Missing,           // the machine shows none
  NeedsRoot,         // only root may open or read it
  Busy,              // another program holds it (the HPET's comparators)
  MappingOff,        // the kernel lets no program map it
  HardwareReduced,   // ACPI without fixed hardware: no PM timer
  MemorySpace,       // a PM timer in memory space, which is not read
  WrongRate,         // it does not count at the rate it states
  OutOfOrder,        // its reads do not come in order (the PM timer)
  Unreadable,        // anything else
  NotThisProcessor,  // no such timer on this kind of processor
};
