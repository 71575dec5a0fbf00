#pragma once

#include <cstdint>

// Why a timer of the machine's own is not the tick count; said to the user
// in the line that names the clock (tick_line.h).
enum class TimerRefusal : std::uint8_t {
  None,                // taken
  Missing,             // the machine shows none
  NoDriver,            // the firmware lists one, but there is no device
  NeedsRoot,           // only root may open or read it
  Confined,            // root, but denied it (a container)
  LockedDown,          // the kernel's lockdown forbids it
  Busy,                // another program holds it (the HPET's comparators)
  MappingOff,          // the kernel lets no program map it (hpet_mmap)
  MappingUnsupported,  // this kernel cannot map it for a program
  HardwareReduced,     // ACPI without fixed hardware: no PM timer
  MemorySpace,         // a PM timer in memory space, which is not read
  WrongRate,           // it does not count at the rate it states
  OutOfOrder,          // its reads do not come in order (the PM timer)
  Unreadable,          // anything else
  NotThisProcessor,    // no such timer on this kind of processor
  WentBack,            // taken, and then read below its last count
  Stopped,             // taken, and then stopped
  LetGo,               // opened, and closed once an earlier one was taken
};

// Where the kernel says whether it is locked down.
constexpr const char* LockdownPath = "/sys/kernel/security/lockdown";

// Why an access denied (EACCES, EPERM) was denied: a user other than root
// needs root; root is denied under lockdown or, otherwise, by what confines
// it (a container without CAP_SYS_RAWIO or its devices).
TimerRefusal RefusalOfDenial(bool root, bool lockedDown);

// Whether the kernel's lockdown text (`text`, as `LockdownPath` holds it:
// "[none] integrity confidentiality") selects a mode other than none.
bool IsLockedDown(const char* text);

// The refusal an errno of opening or reading a timer's file means, with
// the process's own standing for a denial.
TimerRefusal RefusalOfError(int error);
