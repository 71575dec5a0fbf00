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

// Distinct hardware IDs, far more than any machine carries (identical
// devices, such as a card's virtual functions, share one); more are
// reported as a failed enumeration rather than dropped silently.
constexpr std::size_t MaxPciKeys = 4096;

struct PciKeyList {
  PciHardwareId ids[MaxPciKeys];
  std::uint32_t count;
  // The folder could not be read to its end, a device's attribute was
  // unreadable or malformed, or a distinct ID did not fit: the enumeration
  // ends in a failure after the keys that were read.
  bool incomplete;
};

// Reads every device below `devicesDir`; false when the folder itself cannot
// be opened. A device whose folder or attribute vanishes while it is read
// (ENOENT, ENODEV) is left out, as if it had been unplugged a moment
// earlier.
bool ReadPciKeyList(const char* devicesDir, PciKeyList& list);

// VEN_vvvv&DEV_dddd&SUBSYS_ssssssss&REV_rr, upper-case hex, where SUBSYS is
// the subsystem device ID followed by the subsystem vendor ID. Returns false
// when `capacity` is too small.
bool FormatPciKeyName(const PciHardwareId& id, char16_t* name,
                      std::uint32_t capacity);
