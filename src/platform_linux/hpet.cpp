// The HPET found as the kernel offers it to programs: one page of
// registers, mapped read-only. Nothing is ever written to it.

#include "hpet.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace {

// Register offsets in 32-bit words: the period is the high half of the
// capabilities register at 0x000, the main counter is at 0x0F0.
constexpr int PeriodWord = 1;
constexpr int MainCounterWord = 0xF0 / 4;
constexpr std::size_t MappedBytes = 4096;  // the one page the kernel maps

// Only x86-64 kernels offer the HPET to programs.
#if defined(__x86_64__)
constexpr bool ProgramsMayMapHpet = true;
#else
constexpr bool ProgramsMayMapHpet = false;
#endif

// The driver answers EBUSY where no HPET has a comparator left, and so
// also where the machine has none at all: the firmware's table tells them
// apart, and tells a missing driver (or a container's own /dev) from none.
TimerRefusal RefusalOfOpen(int error, const char* table) {
  const TimerRefusal refusal = RefusalOfError(error);
  struct stat status = {};
  const bool listed = stat(table, &status) == 0;
  if (refusal != TimerRefusal::Busy && refusal != TimerRefusal::Missing) {
    return refusal;
  }
  if (!listed) {
    return TimerRefusal::Missing;
  }
  return refusal == TimerRefusal::Missing ? TimerRefusal::NoDriver : refusal;
}

// The driver refuses a mapping with EACCES unless booted with hpet_mmap=1,
// and with ENOSYS where it was built without mappings or the registers
// share their page; the option helps only the first.
TimerRefusal RefusalOfMapping(int error) {
  return error == EACCES   ? TimerRefusal::MappingOff
         : error == ENOSYS ? TimerRefusal::MappingUnsupported
                           : TimerRefusal::Unreadable;
}

// A file in the device's place (a container's stand-in) maps too, but a
// read past its end would fault: it must hold the whole page.
bool HoldsAPage(int fd) {
  struct stat status = {};
  return fstat(fd, &status) == 0 &&
         !(S_ISREG(status.st_mode) &&
           status.st_size < static_cast<off_t>(MappedBytes));
}

void UnmapHpet(const volatile std::uint32_t* registers) {
  // munmap takes a plain pointer; the mapping is never written.
  munmap(const_cast<std::uint32_t*>(registers), MappedBytes);
}

// The registers mapped read-only, and the period they state; null and why
// where they cannot be had.
const volatile std::uint32_t* MapHpet(const char* device, const char* table,
                                      std::uint32_t& periodFemtoseconds,
                                      TimerRefusal& refusal) {
  // Not blocking: a device node that is no HPET must not hold the start.
  const int fd = open(device, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    refusal = RefusalOfOpen(errno, table);
    return nullptr;
  }
  if (!HoldsAPage(fd)) {
    close(fd);
    refusal = TimerRefusal::Unreadable;
    return nullptr;
  }
  void* const mapped = mmap(nullptr, MappedBytes, PROT_READ, MAP_SHARED, fd, 0);
  const int error = errno;
  close(fd);  // the mapping keeps the device (and its timer) open
  if (mapped == MAP_FAILED) {
    refusal = RefusalOfMapping(error);
    return nullptr;
  }
  const auto* registers = static_cast<const volatile std::uint32_t*>(mapped);
  periodFemtoseconds = registers[PeriodWord];
  if (!IsValidHpetPeriod(periodFemtoseconds)) {
    UnmapHpet(registers);
    refusal = TimerRefusal::WrongRate;
    return nullptr;
  }
  return registers;
}

}  // namespace

bool IsValidHpetPeriod(std::uint32_t periodFemtoseconds) {
  return periodFemtoseconds > 0 &&
         periodFemtoseconds <= MaxHpetPeriodFemtoseconds;
}

bool OpenHpet(const TimerPaths& paths, OpenTimer& timer,
              TimerRefusal& refusal) {
  if (!ProgramsMayMapHpet) {
    refusal = TimerRefusal::NotThisProcessor;
    return false;
  }
  std::uint32_t period = 0;
  const volatile std::uint32_t* const registers =
      MapHpet(paths.hpetDevice, paths.hpetTable, period, refusal);
  if (registers == nullptr) {
    return false;
  }
  timer = OpenTimer{registers + MainCounterWord, 0, HpetCounterBits,
                    HpetRate(period)};
  return true;
}

void CloseHpet(const OpenTimer& timer) {
  UnmapHpet(timer.counter - MainCounterWord);
}

// One load gives the whole count: there is nothing to read in order.
bool ReadHpetChecked(const OpenTimer& timer, std::uint32_t& low) {
  low = ReadHpet(timer);
  return true;
}

unsigned ProvenHpetBits(const OpenTimer& timer, std::uint32_t /*highest*/) {
  return timer.bits;
}

const char* HpetRefusalText(TimerRefusal refusal) {
  switch (refusal) {
    case TimerRefusal::Missing:
      return "none";
    case TimerRefusal::NoDriver:
      return "no /dev/hpet (no driver, or a container)";
    case TimerRefusal::Confined:
      return "root may not open /dev/hpet here";
    case TimerRefusal::Busy:
      return "in use by another run";
    case TimerRefusal::MappingOff:
      return "the kernel lets no program map it (boot with hpet_mmap=1)";
    case TimerRefusal::MappingUnsupported:
      return "this kernel maps it for no program";
    default:
      return nullptr;
  }
}
