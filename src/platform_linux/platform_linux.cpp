// Linux: device keys from sysfs, the time-stamp counter (or the raw
// monotonic clock off x86) as the performance counter, and the coarse
// monotonic clock as the tick count.

#include <time.h>

#include <cerrno>

#include "platform.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <x86intrin.h>
#define LEAPCHECK_HAS_TSC 1
#else
#define LEAPCHECK_HAS_TSC 0
#endif

namespace {

constexpr const char* PciDevicesDir = "/sys/bus/pci/devices";
constexpr std::int64_t NanosecondsPerSecond = 1000000000;

bool ReadClockNanoseconds(clockid_t clock, std::int64_t& nanoseconds) {
  timespec now{};
  if (clock_gettime(clock, &now) != 0) {
    return false;
  }
  nanoseconds = static_cast<std::int64_t>(now.tv_sec) * NanosecondsPerSecond +
                now.tv_nsec;
  return true;
}

#if LEAPCHECK_HAS_TSC

// The CPU's own statement of the counter's rate, where it makes one.
std::int64_t ReportedTscFrequency() {
  unsigned eax = 0;
  unsigned ebx = 0;
  unsigned ecx = 0;
  unsigned edx = 0;
  if (__get_cpuid_max(0, nullptr) < 0x15) {
    return 0;
  }
  __cpuid_count(0x15, 0, eax, ebx, ecx, edx);
  if (eax == 0 || ebx == 0 || ecx == 0) {
    return 0;
  }
  return static_cast<std::int64_t>(std::uint64_t{ecx} * ebx / eax);
}

// Counts of the counter over about 100 ms of the raw monotonic clock.
bool MeasureTscFrequency(std::int64_t& frequency) {
  constexpr std::int64_t MeasureNanoseconds = 100000000;
  std::int64_t start = 0;
  std::int64_t now = 0;
  if (!ReadClockNanoseconds(CLOCK_MONOTONIC_RAW, start)) {
    return false;
  }
  const std::uint64_t startCount = __rdtsc();
  do {
    if (!ReadClockNanoseconds(CLOCK_MONOTONIC_RAW, now)) {
      return false;
    }
  } while (now - start < MeasureNanoseconds);
  const std::uint64_t counts = __rdtsc() - startCount;
  frequency = static_cast<std::int64_t>(static_cast<double>(counts) *
                                        NanosecondsPerSecond /
                                        static_cast<double>(now - start));
  return frequency > 0;
}

#endif

}  // namespace

bool OpenPciKeys(PciKeySource& source) {
  return ReadPciKeyList(PciDevicesDir, source.keys);
}

PciKeyResult EnumPciKey(PciKeySource& source, std::uint32_t index,
                        char16_t* name, std::uint32_t capacity) {
  const PciKeyList& keys = source.keys;
  if (index >= keys.count) {
    return keys.incomplete ? PciKeyResult::Failed : PciKeyResult::NoMoreItems;
  }
  return FormatPciKeyName(keys.ids[index], name, capacity)
             ? PciKeyResult::Found
             : PciKeyResult::Failed;
}

bool ClosePciKeys(PciKeySource& /*source*/) { return true; }

bool ReadCounterFrequency(std::int64_t& frequency) {
#if LEAPCHECK_HAS_TSC
  frequency = ReportedTscFrequency();
  return frequency > 0 || MeasureTscFrequency(frequency);
#else
  frequency = NanosecondsPerSecond;
  return true;
#endif
}

bool ReadCounter(std::int64_t& counter) {
#if LEAPCHECK_HAS_TSC
  counter =
      static_cast<std::int64_t>(__rdtsc());  // wraps like QPC's LARGE_INTEGER
  return true;
#else
  return ReadClockNanoseconds(CLOCK_MONOTONIC_RAW, counter);
#endif
}

std::uint32_t ReadTickCount() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  const std::uint64_t milliseconds =
      static_cast<std::uint64_t>(now.tv_sec) * 1000U +
      static_cast<std::uint64_t>(now.tv_nsec) / 1000000U;
  return static_cast<std::uint32_t>(milliseconds);
}

int LastPlatformError() { return errno; }
