#include "pci_sysfs.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr std::size_t PathCapacity = 512;

// Reads a sysfs attribute such as "0x8086\n" that must not exceed `maximum`.
bool ReadHexAttribute(const char* deviceDir, const char* attribute,
                      unsigned long maximum, unsigned long& value) {
  char path[PathCapacity];
  const int pathLength =
      std::snprintf(path, sizeof path, "%s/%s", deviceDir, attribute);
  if (pathLength < 0 || static_cast<std::size_t>(pathLength) >= sizeof path) {
    return false;
  }
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  char text[32];
  const ssize_t length = read(fd, text, sizeof text - 1);
  close(fd);
  if (length <= 0) {
    return false;
  }
  text[length] = '\0';
  char* end = nullptr;
  errno = 0;
  value = std::strtoul(text, &end, 16);
  const bool atEnd = *end == '\0' || (*end == '\n' && end[1] == '\0');
  return errno == 0 && end != text && atEnd && value <= maximum;
}

bool ReadHardwareId(const char* deviceDir, PciHardwareId& id) {
  unsigned long vendor = 0;
  unsigned long device = 0;
  unsigned long subsystemVendor = 0;
  unsigned long subsystemDevice = 0;
  unsigned long revision = 0;
  if (!ReadHexAttribute(deviceDir, "vendor", 0xFFFF, vendor) ||
      !ReadHexAttribute(deviceDir, "device", 0xFFFF, device) ||
      !ReadHexAttribute(deviceDir, "subsystem_vendor", 0xFFFF,
                        subsystemVendor) ||
      !ReadHexAttribute(deviceDir, "subsystem_device", 0xFFFF,
                        subsystemDevice) ||
      !ReadHexAttribute(deviceDir, "revision", 0xFF, revision)) {
    return false;
  }
  id.vendor = static_cast<std::uint16_t>(vendor);
  id.device = static_cast<std::uint16_t>(device);
  id.subsystemVendor = static_cast<std::uint16_t>(subsystemVendor);
  id.subsystemDevice = static_cast<std::uint16_t>(subsystemDevice);
  id.revision = static_cast<std::uint8_t>(revision);
  return true;
}

// The order of the formatted names: every field is fixed-width hex, so
// comparing the numbers field by field in name order gives the same result.
std::uint64_t NameOrder(const PciHardwareId& id) {
  return (std::uint64_t{id.vendor} << 48) | (std::uint64_t{id.device} << 32) |
         (std::uint64_t{id.subsystemDevice} << 16) | id.subsystemVendor;
}

bool NameLess(const PciHardwareId& left, const PciHardwareId& right) {
  if (NameOrder(left) != NameOrder(right)) {
    return NameOrder(left) < NameOrder(right);
  }
  return left.revision < right.revision;
}

bool SameHardwareId(const PciHardwareId& left, const PciHardwareId& right) {
  return NameOrder(left) == NameOrder(right) && left.revision == right.revision;
}

}  // namespace

bool ReadPciKeyList(const char* devicesDir, PciKeyList& list) {
  list.count = 0;
  list.incomplete = false;
  DIR* dir = opendir(devicesDir);
  if (dir == nullptr) {
    return false;
  }
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') {
      continue;  // ".", ".." and nothing else the kernel would put here
    }
    char deviceDir[PathCapacity];
    const int length = std::snprintf(deviceDir, sizeof deviceDir, "%s/%s",
                                     devicesDir, entry->d_name);
    PciHardwareId id{};
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof deviceDir ||
        !ReadHardwareId(deviceDir, id)) {
      list.incomplete = true;
      continue;
    }
    if (list.count == MaxPciKeys) {
      list.incomplete = true;
      continue;
    }
    list.ids[list.count++] = id;
  }
  closedir(dir);

  PciHardwareId* const first = list.ids;
  PciHardwareId* const last = list.ids + list.count;
  std::sort(first, last, NameLess);
  // Identical devices in several slots share one key.
  list.count = static_cast<std::uint32_t>(
      std::unique(first, last, SameHardwareId) - first);
  return true;
}

bool FormatPciKeyName(const PciHardwareId& id, char16_t* name,
                      std::uint32_t capacity) {
  char text[64];
  const int length = std::snprintf(
      text, sizeof text, "VEN_%04X&DEV_%04X&SUBSYS_%04X%04X&REV_%02X",
      unsigned{id.vendor}, unsigned{id.device}, unsigned{id.subsystemDevice},
      unsigned{id.subsystemVendor}, unsigned{id.revision});
  if (length < 0 || static_cast<std::uint32_t>(length) >= capacity) {
    return false;
  }
  for (int i = 0; i <= length; ++i) {
    name[i] = static_cast<char16_t>(static_cast<unsigned char>(text[i]));
  }
  return true;
}
