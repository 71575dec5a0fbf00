#pragma once

#include "pci_sysfs.h"

// The device keys are read whole when the source is opened.
struct PciKeySource {
  PciKeyList keys;
};
