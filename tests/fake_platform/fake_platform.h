#pragma once

// A scripted platform for the tests: device key names with injectable
// failures, and counter and tick values read from queues. Everything it
// records lives in fixed arrays, so the calls under test allocate nothing.

#include <cstddef>
#include <cstdint>

constexpr std::size_t FakeMaxKeys = 64;
constexpr std::size_t FakeMaxCalls = 256;
constexpr std::size_t FakeMaxClockReads = 1024;

struct FakeRegistry {
  bool openFails;
  bool closeFails;
  int enumFailsAt;  // index whose enumeration fails; -1 for none
  const char16_t* names[FakeMaxKeys];
  std::size_t nameCount;

  // What the code under test did.
  int openCount;
  int closeCount;
  std::size_t enumCalls;
  std::uint32_t capacities[FakeMaxCalls];
  std::uint32_t indexes[FakeMaxCalls];
};

struct FakeClockRead {
  std::int64_t value;
  bool ok;
};

struct FakeClocks {
  bool frequencyOk;
  std::int64_t frequency;
  int errorNumber;  // what LastPlatformError reports

  // Counter reads come from the queue; once it is empty the counter steps by
  // `counterStep` from the last value.
  FakeClockRead counter[FakeMaxClockReads];
  std::size_t counterCount;
  std::size_t counterNext;
  std::int64_t lastCounter;
  std::int64_t counterStep;

  std::uint32_t ticks[FakeMaxClockReads];
  std::size_t tickCount;
  std::size_t tickNext;
  std::uint32_t lastTick;
  std::uint32_t tickStep;
  std::size_t counterReadsAtLastTick;  // where the last tick read came

  // For the entry's tests: end the process after this many counter reads
  // (0: never).
  std::size_t exitAfterCounterReads;
  std::size_t counterReads;
};

FakeRegistry& Registry();
FakeClocks& Clocks();

// Empty registry, frequency 1,000,000, clocks stepping 1000 counts and 1 ms.
void ResetFakePlatform();

void AddKey(const char16_t* name);
void QueueCounter(std::int64_t value, bool ok = true);
void QueueTick(std::uint32_t tick);
