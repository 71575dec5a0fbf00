#pragma once

// The clocks of the platform layer (platform.h): all that the leap test
// reaches, so that it compiles without any platform's types.

#include <cstdint>

// What the tick count carries from one read to the next. A platform whose
// tick count is the system's own leaves it empty; one that reads a timer of
// its own through memory (Linux on x86-64: the HPET) keeps here the
// counter's address, its count extended past the 32 bits it is read in,
// and the scale to milliseconds. Only the platform reads the fields.
struct TickClock {
  const volatile std::uint32_t* counter;  // null: the system's tick count
  std::uint64_t count;                    // its count, past 32 bits
  std::uint64_t millisecondsPerCountQ64;  // ms per count, times 2^64
  std::uint32_t wrapMilliseconds;         // one wrap of the 32-bit counter
  std::uint32_t guardTick;  // the system's tick count at the last read
};

// Counts per second of the high-resolution counter. Also chooses the clock
// of the tick count, checking a timer of the platform's own against the
// system's clock in the same measurement; `tick` is ready to read even
// when the frequency is not.
bool ReadCounterFrequency(std::int64_t& frequency, TickClock& tick);

// Reads the high-resolution counter; on failure `counter` keeps its value.
bool ReadCounter(std::int64_t& counter);

// Milliseconds on a clock independent of the counter, wrapping at 2^32.
std::uint32_t ReadTickCount(TickClock& tick);

// The error number of the last failed platform call.
int LastPlatformError();
