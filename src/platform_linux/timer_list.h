#pragma once

// The timers of the machine's own, in the order they are tried as the tick
// count: the HPET first, read with one load and with the finer count, then
// the ACPI PM timer, a coarser count read from an I/O port.

#include <cstddef>

#include "hpet.h"
#include "pm_timer.h"
#include "timer_face.h"

constexpr TimerFace TimerFaces[TimerCount] = {HpetFace, PmTimerFace};

// The place in the order of the timer `source` reads; TimerCount for a
// kernel's clock.
constexpr std::size_t TimerIndexOf(TickSource source) {
  for (std::size_t i = 0; i < TimerCount; ++i) {
    if (TimerFaces[i].source == source) {
      return i;
    }
  }
  return TimerCount;
}
