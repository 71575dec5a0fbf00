#include "pci_sysfs.h"

#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iterator>

#include "small_file.h"

namespace {

constexpr std::size_t PathCapacity = 512;

enum class ReadResult {
  Read,
  Gone,  // the device went away while the folder was read
  Bad,   // unreadable or malformed: the list cannot be trusted
};

// What the kernel answers for a device unplugged between the folder's
// listing and the read of its attributes.
ReadResult FailedRead(int error) {
  return error == ENOENT || error == ENODEV ? ReadResult::Gone
                                            : ReadResult::Bad;
}

// Reads a sysfs attribute such as "0x8086\n" that must not exceed `maximum`.
ReadResult ReadHexAttribute(const char* deviceDir, const char* attribute,
                            unsigned long maximum, unsigned long& value) {
  char path[PathCapacity];
  const int pathLength =
      std::snprintf(path, sizeof path, "%s/%s", deviceDir, attribute);
  if (pathLength < 0 || static_cast<std::size_t>(pathLength) >= sizeof path) {
    return ReadResult::Bad;
  }
  char text[32];
  int error = 0;
  const std::size_t length = ReadSmallFile(path, text, sizeof text - 1, error);
  if (error != 0) {
    return FailedRead(error);
  }
  if (length == 0) {
    return ReadResult::Bad;
  }
  text[length] = '\0';
  char* end = nullptr;
  errno = 0;
  value = std::strtoul(text, &end, 16);
  const bool atEnd = *end == '\0' || (*end == '\n' && end[1] == '\0');
  return errno == 0 && end != text && atEnd && value <= maximum
             ? ReadResult::Read
             : ReadResult::Bad;
}

ReadResult ReadHardwareId(const char* deviceDir, PciHardwareId& id) {
  struct Attribute {
    const char* name;
    unsigned long maximum;
  };
  static constexpr Attribute Attributes[] = {
      {"vendor", 0xFFFF},           {"device", 0xFFFF},
      {"subsystem_vendor", 0xFFFF}, {"subsystem_device", 0xFFFF},
      {"revision", 0xFF},
  };
  unsigned long values[std::size(Attributes)] = {};
  for (std::size_t i = 0; i < std::size(Attributes); ++i) {
    const ReadResult result = ReadHexAttribute(
        deviceDir, Attributes[i].name, Attributes[i].maximum, values[i]);
    if (result != ReadResult::Read) {
      return result;
    }
  }
  id.vendor = static_cast<std::uint16_t>(values[0]);
  id.device = static_cast<std::uint16_t>(values[1]);
  id.subsystemVendor = static_cast<std::uint16_t>(values[2]);
  id.subsystemDevice = static_cast<std::uint16_t>(values[3]);
  id.revision = static_cast<std::uint8_t>(values[4]);
  return ReadResult::Read;
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

// Keeps the list sorted and each ID once, so that identical devices in
// several slots (thousands of virtual functions) take one entry. False when
// a new ID finds the list full.
bool InsertDistinct(PciKeyList& list, const PciHardwareId& id) {
  PciHardwareId* const first = list.ids;
  PciHardwareId* const last = list.ids + list.count;
  PciHardwareId* const place = std::lower_bound(first, last, id, NameLess);
  if (place != last && SameHardwareId(*place, id)) {
    return true;
  }
  if (list.count == MaxPciKeys) {
    return false;
  }
  std::copy_backward(place, last, last + 1);
  *place = id;
  ++list.count;
  return true;
}

}  // namespace

bool ReadPciKeyList(const char* devicesDir, PciKeyList& list) {
  list.count = 0;
  list.incomplete = false;
  DIR* dir = opendir(devicesDir);
  if (dir == nullptr) {
    return false;
  }
  for (;;) {
    // readdir ends the folder and reports an error alike, by nullptr; only
    // errno tells a list cut short from a whole one.
    errno = 0;
    const dirent* entry = readdir(dir);
    if (entry == nullptr) {
      if (errno != 0) {
        list.incomplete = true;
      }
      break;
    }
    if (entry->d_name[0] == '.') {
      continue;  // ".", ".." and nothing else the kernel would put here
    }
    char deviceDir[PathCapacity];
    const int length = std::snprintf(deviceDir, sizeof deviceDir, "%s/%s",
                                     devicesDir, entry->d_name);
    PciHardwareId id{};
    const ReadResult result =
        length < 0 || static_cast<std::size_t>(length) >= sizeof deviceDir
            ? ReadResult::Bad
            : ReadHardwareId(deviceDir, id);
    if (result == ReadResult::Gone) {
      continue;  // as if unplugged a moment before the folder was listed
    }
    if (result == ReadResult::Bad || !InsertDistinct(list, id)) {
      list.incomplete = true;
    }
  }
  closedir(dir);
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
