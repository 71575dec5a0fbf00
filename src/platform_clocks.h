#pragma once

// The clocks of the platform layer (platform.h): all that the leap test
// reaches, so that it compiles without any platform's types.

#include <cstdint>

// Counts per second of the high-resolution counter.
bool ReadCounterFrequency(std::int64_t& frequency);

// Reads the high-resolution counter; on failure `counter` keeps its value.
bool ReadCounter(std::int64_t& counter);

// Milliseconds on a clock independent of the counter, wrapping at 2^32.
std::uint32_t ReadTickCount();

// The error number of the last failed platform call.
int LastPlatformError();
