#pragma once

// The tick clock of a platform whose tick count is the system's own
// (Windows' GetTickCount, the tests' script): nothing to keep, one reader.

#include <cstdint>

struct TickClock {};

// ReadTickCount (platform_clocks.h) is found where the reader is used.
struct SystemTickReader {
  template <typename Clock>
  std::uint32_t operator()(Clock& tick) const {
    return ReadTickCount(tick);
  }
  template <typename Clock>
  static bool InUse(const Clock& /*tick*/) {
    return true;  // the one clock
  }
};

template <typename Pass>
void WithTickReader(const TickClock& /*tick*/, Pass&& pass) {
  pass(SystemTickReader{});
}
