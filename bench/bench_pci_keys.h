#pragma once

#include <cstdint>

constexpr std::uint32_t BenchKeyCount = 1000;

// Builds the key table ahead of the measurement.
void PrepareBenchKeys();
