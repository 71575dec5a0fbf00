#pragma once

#include <cstddef>

// Result of the chipset check; the entry turns it into the summary line.
enum class ChipsetStatus : int {
  Ok = 0,             // no listed device
  Broken = 1,         // at least one listed device
  RegistryError = 2,  // opening, enumerating or closing the PCI key failed
};

// A PCI ID as it stands in a device key name: up to four UTF-16 characters
// and the terminating NUL.
constexpr std::size_t PciIdTextSize = 5;
using PciIdText = char16_t[PciIdTextSize];

// Room for a key name, terminating NUL included. Names of the form
// VEN_vvvv&DEV_dddd&SUBSYS_ssssssss&REV_rr are 40 characters long; the
// platform allows up to 255.
constexpr std::size_t KeyNameCapacity = 256;

// True when the vendor and device IDs are one of the known-affected pairs.
bool IsBrokenChipset(const PciIdText& vendorId, const PciIdText& deviceId);

// Writes `text` as printable ASCII into `out` (room for `outSize` bytes,
// always terminated): every character outside 0x20..0x7E, a surrogate pair
// included, becomes one '?', so a name can neither break the line nor send
// escape sequences to a terminal.
void ToConsoleText(const char16_t* text, char* out, std::size_t outSize);

// Lists every PCI device key with its IDs and verdict, one line each.
ChipsetStatus CheckChipset();
