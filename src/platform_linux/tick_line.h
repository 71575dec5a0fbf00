#pragma once

// The line on standard error that names the tick count a run compares the
// counter with, whether that clock is independent of the counter, and why
// no timer of the machine's own was used: a quiet run means "no leap" only
// against an independent clock.

#include <cstddef>
#include <cstdint>

#include "tick_clock.h"
#include "timer_face.h"
#include "timer_refusal.h"

constexpr std::size_t ClocksourceNameCapacity = 32;

struct TickChoice {
  TickSource source;
  std::uint64_t hertz;                        // the timer's stated rate
  TimerRefusal refusals[TimerCount];          // in the order of timer_list.h
  char clocksource[ClocksourceNameCapacity];  // the kernel's; "" unknown
};

// Whether the kernel's clock runs on a timer of its own (the HPET or the
// PM timer) rather than on the counter or a clock derived from it.
bool IsIndependentClocksource(const char* clocksource);

// Reads the kernel's current clocksource from `path` into `name`
// ("" where it cannot be read).
void ReadClocksource(const char* path, char (&name)[ClocksourceNameCapacity]);

// The line, without its newline, cut short to fit `capacity`.
void FormatTickLine(const TickChoice& choice, char* line, std::size_t capacity);
