#pragma once

// The narrow layer between the checks and the operating system (its
// clocks, for the leap test, in platform_clocks.h). Each target
// has its own implementation and its own platform_types.h, chosen by the
// build; the tests link a scripted fake.

#include <cstdint>

#include "platform_types.h"  // PciKeySource for this target

// Readies standard output before its first line, where the platform needs
// that; the bytes written stay the same.
void PrepareStandardOutput();

enum class PciKeyResult {
  Found,        // the name at this index was written
  NoMoreItems,  // the normal end of the enumeration
  Failed,       // the enumeration broke off
};

// Opens the source of PCI device key names for reading.
bool OpenPciKeys(PciKeySource& source);

// Writes the name of the key at `index` (counting from 0), NUL-terminated,
// into `name`, which holds `capacity` characters.
PciKeyResult EnumPciKey(PciKeySource& source, std::uint32_t index,
                        char16_t* name, std::uint32_t capacity);

bool ClosePciKeys(PciKeySource& source);
