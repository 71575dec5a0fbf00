// The chipset check and the leap test must never touch the heap. This
// program counts every allocation made while they run: the global operator
// new and delete are replaced, and on glibc without a sanitizer (which owns
// malloc itself) so are malloc and its kin, which catches the C library's
// allocations too.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <new>

#include "chipset_check.h"
#include "discarded_stdout.h"
#include "fake_platform.h"
#include "leap_test.h"

namespace {

struct AllocationCounter {
  bool armed;
  long count;
};

AllocationCounter& Allocations() {
  static AllocationCounter counter{false, 0};
  return counter;
}

void NoteAllocation() {
  if (Allocations().armed) {
    ++Allocations().count;
  }
}

}  // namespace

void* operator new(std::size_t size) {
  NoteAllocation();
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) {
    std::abort();  // no exceptions in this code base
  }
  return block;
}
void* operator new[](std::size_t size) { return operator new(size); }
// The nothrow forms too (GoogleTest 1.15 allocates with them): else the
// sanitizer's would allocate what the delete below frees, a mismatch.
void* operator new(std::size_t size, const std::nothrow_t& /*tag*/) noexcept {
  return operator new(size);
}
void* operator new[](std::size_t size, const std::nothrow_t& /*tag*/) noexcept {
  return operator new(size);
}
void operator delete(void* block, const std::nothrow_t& /*tag*/) noexcept {
  std::free(block);
}
void operator delete[](void* block, const std::nothrow_t& /*tag*/) noexcept {
  std::free(block);
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t /*size*/) noexcept {
  std::free(block);
}
void operator delete[](void* block, std::size_t /*size*/) noexcept {
  std::free(block);
}

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LEAPCHECK_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define LEAPCHECK_ASAN 1
#endif

#if defined(__GLIBC__) && !defined(LEAPCHECK_ASAN)
#define LEAPCHECK_COUNTS_MALLOC 1
// glibc's own entry points behind malloc and its kin, which these
// replacements forward to; names and parameters are glibc's.
// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp,readability-inconsistent-declaration-parameter-name)
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* block, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);

void* malloc(std::size_t size) {
  NoteAllocation();
  return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) {
  NoteAllocation();
  return __libc_calloc(count, size);
}
void* realloc(void* block, std::size_t size) {
  NoteAllocation();
  return __libc_realloc(block, size);
}
void* memalign(std::size_t alignment, std::size_t size) {
  NoteAllocation();
  return __libc_memalign(alignment, size);
}
void* aligned_alloc(std::size_t alignment, std::size_t size) {
  NoteAllocation();
  return __libc_memalign(alignment, size);
}
int posix_memalign(void** block, std::size_t alignment, std::size_t size) {
  NoteAllocation();
  *block = __libc_memalign(alignment, size);
  return *block == nullptr ? 12 : 0;  // ENOMEM
}
}
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp,readability-inconsistent-declaration-parameter-name)
#endif

namespace {

// The C library allocates the stream's buffer on first use: make that use
// before counting starts.
void WarmUpStdout() {
  std::printf("(output of the calls under test is discarded)\n");
  std::fflush(stdout);
}

TEST(NoHeapTest, CountingSeesAnAllocation) {
  // Through a volatile pointer, so the compiler cannot drop the pair.
  int* volatile value = nullptr;
  Allocations() = AllocationCounter{true, 0};
  value = new int(7);
  Allocations().armed = false;
  delete value;
  EXPECT_LE(1, Allocations().count);
#if LEAPCHECK_COUNTS_MALLOC
  Allocations() = AllocationCounter{true, 0};
  void* volatile block = std::malloc(16);
  Allocations().armed = false;
  std::free(block);
  EXPECT_LE(1, Allocations().count);
#endif
}

TEST(NoHeapTest, ChipsetCheckAndLeapTestAllocateNothing) {
  ResetFakePlatform();
  for (int i = 0; i < 32; ++i) {
    AddKey(i % 4 == 0 ? u"VEN_8086&DEV_7110&SUBSYS_00000000&REV_02"
                      : u"VEN_1AF4&DEV_1041&SUBSYS_11001AF4&REV_01\u00e9");
  }
  WarmUpStdout();
  DiscardedStdout discard;
  LeapTestState state{};
  Allocations() = AllocationCounter{true, 0};

  const ChipsetStatus status = CheckChipset();
  Registry().enumFailsAt = 5;
  const ChipsetStatus failed = CheckChipset();

  StartLeapTest(state);
  RunLeapTestPasses(state, 100000);  // quiet passes
  Clocks().counterStep = 600000;     // 600 ms of counts per 0 ms of ticks
  Clocks().tickStep = 0;
  RunLeapTestPasses(state, 1000);  // every pass a report
  Clocks().frequencyOk = false;
  Clocks().counter[0] = FakeClockRead{0, false};
  Clocks().counterCount = 1;
  Clocks().counterNext = 0;
  StartLeapTest(state);  // error lines too

  Allocations().armed = false;
  EXPECT_EQ(ChipsetStatus::Broken, status);
  EXPECT_EQ(ChipsetStatus::RegistryError, failed);
  EXPECT_GE(Clocks().counterReads, 100000U + 1000U * 10U);
  EXPECT_EQ(0, Allocations().count);
}

}  // namespace
