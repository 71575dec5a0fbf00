#pragma once

// PCI device keys from the kernel's device folder (/sys/bus/pci/devices):
// one key per distinct hardware ID, as the registry keeps them, in sorted
// order.

#include <cstddef>
#include <cstdint>

struct PciHardwareId {
  std::uint16_t vendor;
  std::uint16_t device;
  std::uint16_t subsystemVendor;
  std::uint16_t subsystemDevice;
  std::uint8_t revision;
};

// Far more functions than any machine carries; more are reported as a
// failed enumeration rather than dropped silently.
constexpr std::size_t MaxPciKeys = 4096;

struct PciKeyList {
  PciHardwareId ids[MaxPciKeys];
  std::uint32_t count;
  // A device could not be read or did not fit: the enumeration ends in a
  // failure after the keys that were read.
  bool incomplete;
};

// Reads every device below `devicesDir`; false when the folder itself cannot
// be read.
bool ReadPciKeyList(const char* devicesDir, PciKeyList& list);

// VEN_vvvv&DEV_dddd&SUBSYS_ssssssss&REV_rr, upper-case hex, where SUBSYS is
// the subsystem device ID followed by the subsystem vendor ID. Returns false
// when `capacity` is too small.
bool FormatPciKeyName(const PciHardwareId& id, char16_t* name,
                      std::uint32_t capacity);
