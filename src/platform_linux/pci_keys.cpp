// Linux: the PCI device keys from sysfs. The clocks are in clocks_linux.cpp.

#include "platform.h"

namespace {

constexpr const char* PciDevicesDir = "/sys/bus/pci/devices";

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
