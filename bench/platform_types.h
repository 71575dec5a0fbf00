#pragma once

// The benchmark's device keys come from a table in the program, not from
// the machine; the source only marks an open enumeration.
struct PciKeySource {
  bool open;
};
