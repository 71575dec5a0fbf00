#pragma once

// The leap test's loop of passes runs for ever: compiled for speed wherever
// it is called from, and kept apart from its callers (not inlined, cloned or
// specialised for the arguments of a call), so that the program and the
// timing programs run the very same machine code. The report is its rare
// exit, kept out of the loop's way. GCC has noipa; clang has neither it nor
// noclone, and without whole-program optimisation (which the build asks
// only of GCC) it sees no caller's arguments. The one header of the shared
// code that tests the compiler: these attributes have no standard spelling.
#if defined(_MSC_VER)
#define LEAPCHECK_HOT_PATH __declspec(noinline)
#define LEAPCHECK_COLD_PATH __declspec(noinline)
#elif __has_attribute(noipa)
#define LEAPCHECK_HOT_PATH __attribute__((hot, noipa))
#define LEAPCHECK_COLD_PATH __attribute__((cold, noinline))
#elif __has_attribute(noclone)
#define LEAPCHECK_HOT_PATH __attribute__((hot, noinline, noclone))
#define LEAPCHECK_COLD_PATH __attribute__((cold, noinline))
#else
#define LEAPCHECK_HOT_PATH __attribute__((hot, noinline))
#define LEAPCHECK_COLD_PATH __attribute__((cold, noinline))
#endif
