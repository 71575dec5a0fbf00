#pragma once

#include <cstdint>

// The counter rate to use: the processor's `stated` rate where it is within
// 0.5 % of the `measured` one, else the measured rate. A stated rate of 0
// or less is none.
std::int64_t ChooseCounterFrequency(std::int64_t stated, std::int64_t measured);
