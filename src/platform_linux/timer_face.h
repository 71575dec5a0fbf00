#pragma once

// What each timer of the machine's own shows the choice of the tick count:
// the same face for the HPET (hpet.h) and the ACPI PM timer (pm_timer.h),
// which are tried in turn (timer_list.h), the first that proves itself
// taken.

#include <cstddef>
#include <cstdint>

#include "timer_refusal.h"
#include "wrapping_timer.h"

// The clock the tick count reads.
enum class TickSource : std::uint8_t {
  KernelClock,
  Hpet,
  PmTimer,
  KernelClockAfterTimer,  // the kernel's clock, from a timer's last count
};

// Where the timers are looked for; tests point them at files of their own.
struct TimerPaths {
  const char* hpetDevice;  // /dev/hpet
  const char* hpetTable;   // the firmware's, /sys/firmware/acpi/tables/HPET
  const char* fadt;        // the FADT, /sys/firmware/acpi/tables/FACP
  const char* ioports;     // /proc/ioports
};

// A timer found and opened: where it is read, its width and its rate.
struct OpenTimer {
  const volatile std::uint32_t* counter;  // a register mapped, or null
  std::uint16_t port;                     // an I/O port, or 0
  unsigned bits;                          // 24 or 32
  TimerRate rate;                         // as the timer states it
};

struct TimerFace {
  TickSource source;  // the tick count's, once the timer is taken
  const char* name;   // in the clock's line
  // Finds the timer and opens it, or says why not.
  bool (*open)(const TimerPaths& paths, OpenTimer& timer,
               TimerRefusal& refusal);
  // The timer's low bits, as a pass reads them.
  std::uint32_t (*read)(const OpenTimer& timer);
  // The same, false where its reads were not in order.
  bool (*readChecked)(const OpenTimer& timer, std::uint32_t& low);
  // The width it counts in, given the highest count seen at the start.
  unsigned (*provenBits)(const OpenTimer& timer, std::uint32_t highest);
  void (*close)(const OpenTimer& timer);
  // Its own words for a refusal; null where the common ones say it.
  const char* (*refusalText)(TimerRefusal refusal);
};

constexpr std::size_t TimerCount = 2;
