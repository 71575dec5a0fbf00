#pragma once

// The fake keeps its script elsewhere; the source only marks an open key.
struct PciKeySource {
  bool open;
};
