#pragma once

// Gives up what a run as root no longer needs once its clocks are chosen:
// root itself (for user and group 65534), every capability, and the right
// to gain any again (no_new_privs). The HPET's mapping and the PM timer's
// port stay. Every call's result is looked at and the end state read back,
// as a program that opens a device as root and then leaves root must.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

// The capability sets, one word each of the kernel's two.
struct CapabilitySets {
  std::uint32_t effective[2];
  std::uint32_t permitted[2];
  std::uint32_t inheritable[2];
};

// The system calls the drop makes, so that the tests can refuse any of
// them. Each returns 0 or -1 with errno set, as the kernel's do.
struct PrivilegeCalls {
  int (*getresuid)(uid_t* real, uid_t* effective, uid_t* saved);
  int (*getresgid)(gid_t* real, gid_t* effective, gid_t* saved);
  int (*getgroups)(int size, gid_t* list);
  int (*setgroups)(std::size_t size, const gid_t* list);
  int (*setresgid)(gid_t real, gid_t effective, gid_t saved);
  int (*setresuid)(uid_t real, uid_t effective, uid_t saved);
  int (*capget)(CapabilitySets& sets);
  int (*capset)(const CapabilitySets& sets);
  int (*forbidNewPrivileges)();
};

// The kernel's own.
PrivilegeCalls SystemPrivilegeCalls();

enum class DropOutcome : std::uint8_t {
  Done,      // nothing of root's or any capability left, or never held
  KeptRoot,  // the switch was refused: still user 0, without capabilities
  Failed,    // a right could not be given up: the run must not go on
};

struct PrivilegeDrop {
  DropOutcome outcome;
  const char* call;  // what failed: a call, or a check of the end state
  int error;         // its errno; 0 for a check
};

PrivilegeDrop GiveUpPrivileges(const PrivilegeCalls& calls);

// The line on standard error for a drop that was not Done, without its
// newline; "" for one that was. Cut short to fit `capacity`.
void FormatPrivilegeLine(const PrivilegeDrop& drop, char* line,
                         std::size_t capacity);

// Whether the capability (linux/capability.h's number) is in effect. A
// call that a confined service may not make (its system call filter would
// end the program) is made only with the capability that it needs.
bool HoldsCapability(unsigned capability);
