// The HPET read as the kernel reads it: the main counter in 32-bit reads,
// extended across its wraps, which come every 2^32 counts (300 s at
// 14.318 MHz, 43 s at 100 MHz). Nothing is ever written to it.

#include "hpet.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "clocks_linux.h"
#include "hot_path.h"

namespace {

__extension__ typedef unsigned __int128 Uint128;

// Register offsets in 32-bit words: the period is the high half of the
// capabilities register at 0x000, the main counter is at 0x0F0.
constexpr int PeriodWord = 1;
constexpr int MainCounterWord = 0xF0 / 4;
constexpr std::size_t MappedBytes = 4096;  // the one page the kernel maps

constexpr std::uint64_t FemtosecondsPerMillisecond = 1000000000000;
constexpr std::uint64_t FemtosecondsPerNanosecond = 1000000;
constexpr std::uint64_t Wrap = std::uint64_t{1} << 32U;

// Rounded up, so that a whole number of milliseconds' counts gives that
// number; the excess is under 2^-64 ms a count, under 2^-8 ms after 2^56
// counts (22 years at 100 MHz).
std::uint64_t MillisecondsPerCountQ64(std::uint32_t periodFemtoseconds) {
  const Uint128 scaled = Uint128{periodFemtoseconds} << 64U;
  return static_cast<std::uint64_t>((scaled + FemtosecondsPerMillisecond - 1) /
                                    FemtosecondsPerMillisecond);
}

// The wraps missed between two reads `elapsedMs` apart, in which the low
// bits moved by `counts`: the kernel's time less the counter's, to the
// nearest wrap. Rare, and apart from the pass, which divides nowhere; it
// takes the clock's fields by value so that the pass may keep them in
// registers.
LEAPCHECK_COLD_PATH std::uint64_t MissedWraps(
    std::uint32_t counts, std::uint32_t elapsedMs,
    std::uint64_t millisecondsPerCountQ64, std::uint32_t wrapMilliseconds) {
  const std::uint64_t countsMs =
      HpetMilliseconds(counts, millisecondsPerCountQ64);
  const std::uint64_t half = wrapMilliseconds / 2U;
  // elapsedMs >= half and countsMs < one wrap: the sum is never negative.
  return (elapsedMs + half - countsMs) / wrapMilliseconds;
}

}  // namespace

bool IsValidHpetPeriod(std::uint32_t periodFemtoseconds) {
  return periodFemtoseconds > 0 &&
         periodFemtoseconds <= MaxHpetPeriodFemtoseconds;
}

const volatile std::uint32_t* MapHpet(const char* path,
                                      std::uint32_t& periodFemtoseconds) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return nullptr;
  }
  // A file in the device's place (a container's stand-in) maps too, but a
  // read past its end would fault: it must hold the whole page.
  struct stat status {};
  if (fstat(fd, &status) != 0 ||
      (S_ISREG(status.st_mode) &&
       status.st_size < static_cast<off_t>(MappedBytes))) {
    close(fd);
    return nullptr;
  }
  void* const mapped = mmap(nullptr, MappedBytes, PROT_READ, MAP_SHARED, fd, 0);
  close(fd);  // the mapping keeps the device (and its timer) open
  if (mapped == MAP_FAILED) {
    return nullptr;
  }
  const auto* registers = static_cast<const volatile std::uint32_t*>(mapped);
  periodFemtoseconds = registers[PeriodWord];
  if (!IsValidHpetPeriod(periodFemtoseconds)) {
    UnmapHpet(registers);
    return nullptr;
  }
  return registers;
}

void UnmapHpet(const volatile std::uint32_t* registers) {
  if (registers != nullptr) {
    // munmap takes a plain pointer; the mapping is never written.
    munmap(const_cast<std::uint32_t*>(registers), MappedBytes);
  }
}

std::uint32_t ReadHpetCounter(const volatile std::uint32_t* registers) {
  return registers[MainCounterWord];
}

bool HpetRateAgrees(std::uint32_t periodFemtoseconds, std::uint32_t counts,
                    std::int64_t nanoseconds) {
  if (nanoseconds <= 0 || !IsValidHpetPeriod(periodFemtoseconds)) {
    return false;
  }
  // Femtoseconds on both sides: under 2^64 for up to 5 hours of counts.
  const std::uint64_t counted = std::uint64_t{counts} * periodFemtoseconds;
  const std::uint64_t elapsed =
      static_cast<std::uint64_t>(nanoseconds) * FemtosecondsPerNanosecond;
  return AgreeWithinHalfPercent(counted, elapsed);
}

void UseHpetTick(TickClock& tick, const volatile std::uint32_t* registers,
                 std::uint32_t periodFemtoseconds, std::uint32_t low,
                 std::uint32_t systemTick) {
  tick.counter = registers + MainCounterWord;
  tick.count = low;
  tick.millisecondsPerCountQ64 = MillisecondsPerCountQ64(periodFemtoseconds);
  tick.wrapMilliseconds = HpetMilliseconds(Wrap, tick.millisecondsPerCountQ64);
  tick.guardTick = systemTick;
}

std::uint32_t HpetMilliseconds(std::uint64_t count,
                               std::uint64_t millisecondsPerCountQ64) {
  const Uint128 product = Uint128{count} * millisecondsPerCountQ64;
  return static_cast<std::uint32_t>(product >> 64U);
}

std::uint32_t AdvanceHpetTick(TickClock& tick, std::uint32_t low,
                              std::uint32_t systemTick) {
  const std::uint32_t counts = low - static_cast<std::uint32_t>(tick.count);
  const std::uint32_t elapsedMs = systemTick - tick.guardTick;
  tick.guardTick = systemTick;
  if (elapsedMs >= tick.wrapMilliseconds / 2U) {
    tick.count += MissedWraps(counts, elapsedMs, tick.millisecondsPerCountQ64,
                              tick.wrapMilliseconds) *
                  Wrap;
  }
  tick.count += counts;
  return HpetMilliseconds(tick.count, tick.millisecondsPerCountQ64);
}
