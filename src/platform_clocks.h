#pragma once

// The clocks of the platform layer (platform.h): all that the leap test
// reaches, so that it compiles without the platform's other types.

#include <cstdint>

// The platform's own tick_clock.h, chosen by the build like
// platform_types.h, gives:
// - `TickClock`: what the tick count carries from one read to the next
//   (empty where the tick count is the system's own);
// - `WithTickReader(tick, pass)`: calls `pass` once with a reader made for
//   the clock in use, `reader(tick)` returning what ReadTickCount would, so
//   that the loop of passes is compiled once for each clock and carries
//   nothing of the others; `reader.InUse(tick)` false once the platform
//   has left that clock for another.
#include "tick_clock.h"

// Starts the clocks: the counts per second of the high-resolution counter
// (false, and the platform's `error` number, where they cannot be had) and
// the tick count's clock, chosen where the platform has more than one;
// `tick` is ready to read even when the frequency is not.
bool StartClocks(std::int64_t& frequency, TickClock& tick, int& error);

// Reads the high-resolution counter; on failure `counter` keeps its value.
bool ReadCounter(std::int64_t& counter);

// Milliseconds on a clock independent of the counter, wrapping at 2^32.
std::uint32_t ReadTickCount(TickClock& tick);

// The error number of the last failed platform call.
int LastPlatformError();
