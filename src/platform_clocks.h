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
//   nothing of the others.
#include "tick_clock.h"

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
