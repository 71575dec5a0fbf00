// Windows: the registry's PCI device keys, the performance counter and the
// tick count.

#include <cstddef>

#include "platform.h"
#include "platform_clocks.h"

namespace {

// A registry key name has at most 255 characters, plus the terminating NUL.
constexpr DWORD MaxKeyNameChars = 256;

static_assert(sizeof(wchar_t) == sizeof(char16_t),
              "key names are copied unit for unit from UTF-16");

}  // namespace

// The C runtime's own buffering, as it comes.
void PrepareStandardOutput() {}

bool OpenPciKeys(PciKeySource& source) {
  source.key = nullptr;
  return RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                       L"SYSTEM\\CurrentControlSet\\Enum\\PCI", 0, KEY_READ,
                       &source.key) == ERROR_SUCCESS;
}

PciKeyResult EnumPciKey(PciKeySource& source, std::uint32_t index,
                        char16_t* name, std::uint32_t capacity) {
  wchar_t buffer[MaxKeyNameChars] = {};
  // Set before every call: the call overwrites it with the name's length.
  DWORD length = capacity < MaxKeyNameChars ? capacity : MaxKeyNameChars;
  const LSTATUS result = RegEnumKeyExW(source.key, index, buffer, &length,
                                       nullptr, nullptr, nullptr, nullptr);
  if (result == ERROR_NO_MORE_ITEMS) {
    return PciKeyResult::NoMoreItems;
  }
  if (result != ERROR_SUCCESS) {
    return PciKeyResult::Failed;
  }
  // The buffer was cleared and the call terminates the name, so copying up
  // to the first NUL stays within both buffers.
  std::size_t i = 0;
  for (; i + 1 < capacity && i + 1 < MaxKeyNameChars && buffer[i] != L'\0';
       ++i) {
    name[i] = static_cast<char16_t>(buffer[i]);
  }
  if (capacity > 0) {
    name[i] = u'\0';
  }
  return PciKeyResult::Found;
}

bool ClosePciKeys(PciKeySource& source) {
  return RegCloseKey(source.key) == ERROR_SUCCESS;
}

// The tick count is the system's, from the timer interrupt: nothing to
// choose or keep.
bool StartClocks(std::int64_t& frequency, TickClock& tick, int& error) {
  tick = TickClock{};
  LARGE_INTEGER value;
  if (QueryPerformanceFrequency(&value) == 0) {
    error = static_cast<int>(GetLastError());
    return false;
  }
  frequency = value.QuadPart;
  return true;
}

bool ReadCounter(std::int64_t& counter) {
  LARGE_INTEGER value;
  if (QueryPerformanceCounter(&value) == 0) {
    return false;  // the caller keeps its previous reading
  }
  counter = value.QuadPart;
  return true;
}

std::uint32_t ReadTickCount(TickClock& /*tick*/) { return GetTickCount(); }

// Called right after the failed call, before anything else can overwrite
// the thread's last error.
int LastPlatformError() { return static_cast<int>(GetLastError()); }
