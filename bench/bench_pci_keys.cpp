// A thousand device keys for the benchmark, with every tenth one listed as
// broken, so that the chipset check's cost per key can be measured apart
// from the machine's own device list.

#include "bench_pci_keys.h"

#include <cstdio>

#include "platform.h"

namespace {

constexpr std::uint32_t NameLength =
    40;  // VEN_vvvv&DEV_dddd&SUBSYS_ssssssss&REV_rr

struct KeyTable {
  char16_t names[BenchKeyCount][NameLength + 1];
};

const KeyTable& Keys() {
  static const KeyTable table = [] {
    KeyTable built{};
    for (std::uint32_t i = 0; i < BenchKeyCount; ++i) {
      char text[NameLength + 1];
      if (i % 10 == 0) {
        std::snprintf(text, sizeof text, "VEN_8086&DEV_7110&SUBSYS_%08X&REV_02",
                      static_cast<unsigned>(i));
      } else {
        std::snprintf(text, sizeof text,
                      "VEN_1AF4&DEV_%04X&SUBSYS_11001AF4&REV_01",
                      static_cast<unsigned>(i));
      }
      for (std::uint32_t c = 0; c <= NameLength; ++c) {
        built.names[i][c] = static_cast<char16_t>(text[c]);
      }
    }
    return built;
  }();
  return table;
}

}  // namespace

void PrepareBenchKeys() { Keys(); }

bool OpenPciKeys(PciKeySource& source) {
  source.open = true;
  return true;
}

PciKeyResult EnumPciKey(PciKeySource& /*source*/, std::uint32_t index,
                        char16_t* name, std::uint32_t capacity) {
  if (index >= BenchKeyCount) {
    return PciKeyResult::NoMoreItems;
  }
  if (capacity <= NameLength) {
    return PciKeyResult::Failed;
  }
  const char16_t* text = Keys().names[index];
  for (std::uint32_t c = 0; c <= NameLength; ++c) {
    name[c] = text[c];
  }
  return PciKeyResult::Found;
}

bool ClosePciKeys(PciKeySource& source) {
  source.open = false;
  return true;
}
