// The ACPI PM timer found as the kernel finds it and read from its port.
// Nothing is ever written to the port.

#include "pm_timer.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "privileges.h"
#include "small_file.h"

#if defined(__x86_64__) || defined(__i386__)
#include <sys/io.h>
#define LEAPCHECK_PORT_IO 1
#else
#define LEAPCHECK_PORT_IO 0
#endif

namespace {

// Offsets in the FADT (ACPI's Fixed ACPI Description Table).
constexpr std::size_t TableLengthOffset = 4;
constexpr std::size_t PmTimerBlockOffset = 76;   // PM_TMR_BLK, 32 bits
constexpr std::size_t PmTimerLengthOffset = 91;  // PM_TMR_LEN, a byte
constexpr std::size_t FlagsOffset = 112;
constexpr std::size_t ExtendedBlockOffset = 208;  // X_PM_TMR_BLK, 12 bytes
constexpr std::size_t GasAddressOffset = 4;       // within the 12 bytes
constexpr std::uint32_t TimerValueExtendedFlag = 1U << 8U;  // TMR_VAL_EXT
constexpr std::uint32_t HardwareReducedFlag = 1U << 20U;    // HW_REDUCED_ACPI
constexpr unsigned char SystemMemorySpace = 0;
constexpr unsigned char SystemIoSpace = 1;
constexpr std::uint64_t LastPortOfFour = 0xFFFC;  // four bytes fit below 64 Ki

std::uint64_t LittleEndian(const unsigned char* bytes, std::size_t count) {
  std::uint64_t value = 0;
  for (std::size_t i = count; i > 0; --i) {
    value = (value << 8U) | bytes[i - 1];
  }
  return value;
}

// 0 to 15 for a hexadecimal digit, 16 for anything else (':' to '@', say).
unsigned HexDigit(char c) {
  if (c >= '0' && c <= '9') {
    return static_cast<unsigned>(c - '0');
  }
  if (c >= 'a' && c <= 'f') {
    return static_cast<unsigned>(c - 'a' + 10);
  }
  if (c >= 'A' && c <= 'F') {
    return static_cast<unsigned>(c - 'A' + 10);
  }
  return 16;
}

bool FitsFourBytePort(std::uint64_t address) {
  return address != 0 && address <= LastPortOfFour;
}

// X_PM_TMR_BLK, where the table is long enough and the block set: the
// kernel prefers it to the old field.
bool ParseExtendedBlock(const unsigned char* table, std::size_t length,
                        PmTimerPort& timer, TimerRefusal& refusal,
                        bool& present) {
  present = false;
  if (length < ExtendedBlockOffset + 12) {
    return false;
  }
  const unsigned char* block = table + ExtendedBlockOffset;
  const std::uint64_t address = LittleEndian(block + GasAddressOffset, 8);
  if (address == 0) {
    return false;
  }
  present = true;
  if (block[0] == SystemMemorySpace) {
    refusal = TimerRefusal::MemorySpace;
    return false;
  }
  if (block[0] != SystemIoSpace || !FitsFourBytePort(address)) {
    refusal = TimerRefusal::Unreadable;
    return false;
  }
  timer.port = static_cast<std::uint16_t>(address);
  return true;
}

bool FindPmTimer(const char* fadtPath, const char* ioportsPath,
                 PmTimerPort& timer, TimerRefusal& refusal) {
  constexpr std::size_t FadtCapacity = 1024;  // 276 bytes in ACPI 6
  unsigned char fadt[FadtCapacity];
  int error = 0;
  const std::size_t size = ReadSmallFile(
      fadtPath, reinterpret_cast<char*>(fadt), FadtCapacity, error);
  if (error != ENOENT) {
    if (error != 0) {
      refusal = RefusalOfError(error);
      return false;
    }
    return ParseFadtPmTimer(fadt, size, timer, refusal);
  }
  constexpr std::size_t IoportsCapacity = 16384;
  char ioports[IoportsCapacity];
  const std::size_t length =
      ReadSmallFile(ioportsPath, ioports, IoportsCapacity - 1, error);
  if (error != 0) {
    refusal = RefusalOfError(error);
    return false;
  }
  ioports[length] = '\0';
  return ParseIoportsPmTimer(ioports, timer, refusal);
}

#if LEAPCHECK_PORT_IO
bool AllowPorts(std::uint16_t port, bool allow) {
  return ioperm(port, 4, allow ? 1 : 0) == 0;
}

std::uint32_t ReadPort(std::uint16_t port) { return inl(port); }
#else
bool AllowPorts(std::uint16_t /*port*/, bool /*allow*/) {
  errno = ENOSYS;
  return false;
}

std::uint32_t ReadPort(std::uint16_t /*port*/) { return 0; }
#endif

}  // namespace

bool ParseFadtPmTimer(const unsigned char* table, std::size_t size,
                      PmTimerPort& timer, TimerRefusal& refusal) {
  const std::size_t stated =
      size >= 8 ? LittleEndian(table + TableLengthOffset, 4) : 0;
  const std::size_t length = stated < size ? stated : size;
  if (length < FlagsOffset + 4) {
    refusal = TimerRefusal::Unreadable;
    return false;
  }
  const auto flags =
      static_cast<std::uint32_t>(LittleEndian(table + FlagsOffset, 4));
  if ((flags & HardwareReducedFlag) != 0) {
    refusal = TimerRefusal::HardwareReduced;
    return false;
  }
  timer.bits = (flags & TimerValueExtendedFlag) != 0 ? 32 : 24;
  bool extended = false;
  if (ParseExtendedBlock(table, length, timer, refusal, extended)) {
    return true;
  }
  if (extended) {
    return false;
  }
  const std::uint64_t port = LittleEndian(table + PmTimerBlockOffset, 4);
  if (table[PmTimerLengthOffset] != 4 || !FitsFourBytePort(port)) {
    refusal = TimerRefusal::Missing;
    return false;
  }
  timer.port = static_cast<std::uint16_t>(port);
  return true;
}

bool ParseIoportsPmTimer(const char* text, PmTimerPort& timer,
                         TimerRefusal& refusal) {
  const char* name = std::strstr(text, ": ACPI PM_TMR\n");
  if (name == nullptr) {
    refusal = TimerRefusal::Missing;
    return false;
  }
  const char* line = name;
  while (line > text && line[-1] != '\n') {
    --line;
  }
  std::uint64_t port = 0;
  for (; *line == ' '; ++line) {
  }
  for (; *line != '-' && line < name; ++line) {
    const unsigned digit = HexDigit(*line);
    if (digit > 15 || port > LastPortOfFour) {
      refusal = TimerRefusal::Unreadable;
      return false;
    }
    port = port * 16 + digit;
  }
  if (port == 0) {  // what a user other than root is shown
    refusal = TimerRefusal::NeedsRoot;
    return false;
  }
  if (!FitsFourBytePort(port)) {
    refusal = TimerRefusal::Unreadable;
    return false;
  }
  timer = PmTimerPort{static_cast<std::uint16_t>(port), 24};
  return true;
}

bool OpenPmTimer(const TimerPaths& paths, OpenTimer& timer,
                 TimerRefusal& refusal) {
  PmTimerPort found{};
  if (!LEAPCHECK_PORT_IO) {
    refusal = TimerRefusal::NotThisProcessor;
    return false;
  }
  if (!FindPmTimer(paths.fadt, paths.ioports, found, refusal)) {
    return false;
  }
  if (!HoldsCapability(CAP_SYS_RAWIO)) {
    refusal = RefusalOfDenial(geteuid() == 0, false);
    return false;
  }
  if (!AllowPorts(found.port, true)) {
    refusal = RefusalOfError(errno);
    return false;
  }
  timer = OpenTimer{nullptr, found.port, found.bits, PmTimerRate};
  return true;
}

void ClosePmTimer(const OpenTimer& timer) { AllowPorts(timer.port, false); }

bool ReadPmTimerChecked(const OpenTimer& timer, std::uint32_t& value) {
  const std::uint16_t port = timer.port;
  return ReadPmTimerInOrder([port] { return ReadPort(port); },
                            TimerMask(timer.bits), value);
}

std::uint32_t ReadPmTimerCount(const OpenTimer& timer) {
  return ReadPmTimer(timer.port, TimerMask(timer.bits));
}

// Firmware sets TMR_VAL_EXT on 24-bit timers too, which the kernel never
// reads past 24 bits: 32 only where the timer showed a count beyond them.
unsigned ProvePmTimerBits(const OpenTimer& timer, std::uint32_t highest) {
  return ProvenPmTimerBits(timer.bits, highest > PmTimer24BitMask);
}

const char* PmTimerRefusalText(TimerRefusal refusal) {
  switch (refusal) {
    case TimerRefusal::Missing:
      return "none found";
    case TimerRefusal::Confined:
      return "root without CAP_SYS_RAWIO";
    case TimerRefusal::HardwareReduced:
      return "none (hardware-reduced ACPI)";
    case TimerRefusal::MemorySpace:
      return "in memory space, which is not read";
    default:
      return nullptr;
  }
}

// As ReadPmTimerInOrder, in the plain loop the pass inlines.
std::uint32_t ReadPmTimer(std::uint16_t port, std::uint32_t mask) {
  std::uint32_t first = 0;
  std::uint32_t second = 0;
  std::uint32_t third = 0;
  int tries = PmTimerReadTries;
  do {
    first = ReadPort(port) & mask;
    second = ReadPort(port) & mask;
    third = ReadPort(port) & mask;
  } while (!InOrder(first, second, third) && --tries > 0);
  return second;
}
