#include "fake_platform.h"

#include <cstdio>
#include <cstdlib>

#include "platform.h"
#include "platform_clocks.h"

FakeRegistry& Registry() {
  static FakeRegistry registry;
  return registry;
}

FakeClocks& Clocks() {
  static FakeClocks clocks;
  return clocks;
}

void ResetFakePlatform() {
  Registry() = FakeRegistry{};
  Registry().enumFailsAt = -1;
  Clocks() = FakeClocks{};
  Clocks().frequencyOk = true;
  Clocks().frequency = 1000000;
  Clocks().counterStep = 1000;
  Clocks().tickStep = 1;
}

void AddKey(const char16_t* name) {
  FakeRegistry& registry = Registry();
  if (registry.nameCount < FakeMaxKeys) {
    registry.names[registry.nameCount++] = name;
  }
}

void QueueCounter(std::int64_t value, bool ok) {
  FakeClocks& clocks = Clocks();
  if (clocks.counterCount < FakeMaxClockReads) {
    clocks.counter[clocks.counterCount++] = FakeClockRead{value, ok};
  }
}

void QueueTick(std::uint32_t tick) {
  FakeClocks& clocks = Clocks();
  if (clocks.tickCount < FakeMaxClockReads) {
    clocks.ticks[clocks.tickCount++] = tick;
  }
}

bool OpenPciKeys(PciKeySource& source) {
  ++Registry().openCount;
  source.open = !Registry().openFails;
  return source.open;
}

PciKeyResult EnumPciKey(PciKeySource& source, std::uint32_t index,
                        char16_t* name, std::uint32_t capacity) {
  FakeRegistry& registry = Registry();
  if (!source.open) {
    std::fprintf(stderr, "fake: enumeration of a key that is not open\n");
    std::abort();
  }
  if (registry.enumCalls < FakeMaxCalls) {
    registry.capacities[registry.enumCalls] = capacity;
    registry.indexes[registry.enumCalls] = index;
  }
  ++registry.enumCalls;
  if (registry.enumFailsAt >= 0 &&
      index == static_cast<std::uint32_t>(registry.enumFailsAt)) {
    return PciKeyResult::Failed;
  }
  if (index >= registry.nameCount) {
    return PciKeyResult::NoMoreItems;
  }
  // Like the registry: a name that does not fit, NUL included, is an error.
  const char16_t* text = registry.names[index];
  std::uint32_t length = 0;
  while (text[length] != u'\0') {
    ++length;
  }
  if (length >= capacity) {
    return PciKeyResult::Failed;
  }
  for (std::uint32_t i = 0; i <= length; ++i) {
    name[i] = text[i];
  }
  return PciKeyResult::Found;
}

void PrepareStandardOutput() {}

bool ClosePciKeys(PciKeySource& source) {
  ++Registry().closeCount;
  source.open = false;
  return !Registry().closeFails;
}

bool StartClocks(std::int64_t& frequency, TickClock& tick, int& error) {
  tick = TickClock{};
  if (!Clocks().frequencyOk) {
    error = Clocks().errorNumber;
    return false;
  }
  frequency = Clocks().frequency;
  return true;
}

bool ReadCounter(std::int64_t& counter) {
  FakeClocks& clocks = Clocks();
  ++clocks.counterReads;
  if (clocks.exitAfterCounterReads != 0 &&
      clocks.counterReads > clocks.exitAfterCounterReads) {
    std::fflush(stdout);
    std::_Exit(0);
  }
  FakeClockRead read{clocks.lastCounter + clocks.counterStep, true};
  if (clocks.counterNext < clocks.counterCount) {
    read = clocks.counter[clocks.counterNext++];
  }
  if (!read.ok) {
    return false;  // the counter keeps its last reading
  }
  clocks.lastCounter = read.value;
  counter = read.value;
  return true;
}

std::uint32_t ReadTickCount(TickClock& /*tick*/) {
  FakeClocks& clocks = Clocks();
  std::uint32_t tick = clocks.lastTick + clocks.tickStep;
  if (clocks.tickNext < clocks.tickCount) {
    tick = clocks.ticks[clocks.tickNext++];
  }
  clocks.lastTick = tick;
  clocks.counterReadsAtLastTick = clocks.counterReads;
  return tick;
}

int LastPlatformError() { return Clocks().errorNumber; }
