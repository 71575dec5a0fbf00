#include "privileges.h"

#include <grp.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr uid_t NobodyId = 65534;

int ReadCapabilitySets(CapabilitySets& sets) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (syscall(SYS_capget, &header, data) != 0) {
    return -1;
  }
  for (int i = 0; i < _LINUX_CAPABILITY_U32S_3; ++i) {
    sets.effective[i] = data[i].effective;
    sets.permitted[i] = data[i].permitted;
    sets.inheritable[i] = data[i].inheritable;
  }
  return 0;
}

int WriteCapabilitySets(const CapabilitySets& sets) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  for (int i = 0; i < _LINUX_CAPABILITY_U32S_3; ++i) {
    data[i] = {sets.effective[i], sets.permitted[i], sets.inheritable[i]};
  }
  return static_cast<int>(syscall(SYS_capset, &header, data));
}

int ForbidNewPrivileges() { return prctl(PR_SET_NO_NEW_PRIVS, 1L, 0L, 0L, 0L); }

int SetNoGroups(std::size_t size, const gid_t* list) {
  return setgroups(size, list);
}

bool IsEmpty(const CapabilitySets& sets) {
  std::uint32_t any = 0;
  for (int i = 0; i < 2; ++i) {
    any |= sets.effective[i] | sets.permitted[i] | sets.inheritable[i];
  }
  return any == 0;
}

bool InEffect(const CapabilitySets& sets, unsigned capability) {
  return (sets.effective[capability / 32U] & (1U << (capability % 32U))) != 0;
}

PrivilegeDrop Outcome(DropOutcome outcome, const char* call, int error) {
  return PrivilegeDrop{outcome, call, error};
}

// User and group 65534 alone: the groups first, since a user other than
// root may change none of them. Switching the user from root clears the
// permitted and effective capabilities; the inheritable ones stay.
PrivilegeDrop SwitchToNobody(const PrivilegeCalls& calls,
                             const CapabilitySets& held) {
  if (!InEffect(held, CAP_SETGID) || !InEffect(held, CAP_SETUID)) {
    return Outcome(DropOutcome::KeptRoot,
                   "no CAP_SETUID and CAP_SETGID to become user 65534", 0);
  }
  if (calls.setgroups(0, nullptr) != 0) {
    return Outcome(DropOutcome::KeptRoot, "setgroups", errno);
  }
  if (calls.setresgid(NobodyId, NobodyId, NobodyId) != 0) {
    return Outcome(DropOutcome::KeptRoot, "setresgid", errno);
  }
  if (calls.setresuid(NobodyId, NobodyId, NobodyId) != 0) {
    return Outcome(DropOutcome::KeptRoot, "setresuid", errno);
  }
  return Outcome(DropOutcome::Done, nullptr, 0);
}

// What the kernel says the process now is, against what the drop meant it
// to be.
PrivilegeDrop CheckEndState(const PrivilegeCalls& calls, bool switched) {
  uid_t users[3] = {};
  gid_t groups[3] = {};
  CapabilitySets held{};
  if (calls.capget(held) != 0) {
    return Outcome(DropOutcome::Failed, "capget", errno);
  }
  if (!IsEmpty(held)) {
    return Outcome(DropOutcome::Failed, "capabilities still held", 0);
  }
  if (!switched) {
    return Outcome(DropOutcome::Done, nullptr, 0);
  }
  if (calls.getresuid(&users[0], &users[1], &users[2]) != 0) {
    return Outcome(DropOutcome::Failed, "getresuid", errno);
  }
  if (calls.getresgid(&groups[0], &groups[1], &groups[2]) != 0) {
    return Outcome(DropOutcome::Failed, "getresgid", errno);
  }
  for (int i = 0; i < 3; ++i) {
    if (users[i] != NobodyId || groups[i] != NobodyId) {
      return Outcome(DropOutcome::Failed, "still a user or group of root's", 0);
    }
  }
  const int supplementary = calls.getgroups(0, nullptr);
  if (supplementary != 0) {
    return Outcome(DropOutcome::Failed, "supplementary groups still held",
                   supplementary < 0 ? errno : 0);
  }
  return Outcome(DropOutcome::Done, nullptr, 0);
}

}  // namespace

PrivilegeCalls SystemPrivilegeCalls() {
  return PrivilegeCalls{
      getresuid,          getresgid,           getgroups,
      SetNoGroups,        setresgid,           setresuid,
      ReadCapabilitySets, WriteCapabilitySets, ForbidNewPrivileges};
}

PrivilegeDrop GiveUpPrivileges(const PrivilegeCalls& calls) {
  uid_t users[3] = {};
  CapabilitySets held{};
  if (calls.getresuid(&users[0], &users[1], &users[2]) != 0) {
    return Outcome(DropOutcome::Failed, "getresuid", errno);
  }
  if (calls.capget(held) != 0) {
    return Outcome(DropOutcome::Failed, "capget", errno);
  }
  const bool root = users[0] == 0 || users[1] == 0 || users[2] == 0;
  if (!root && IsEmpty(held)) {
    // An ordinary user: nothing to give up. A kernel before 3.5 has no
    // no_new_privs, and the program starts nothing that could use it.
    calls.forbidNewPrivileges();
    return Outcome(DropOutcome::Done, nullptr, 0);
  }
  PrivilegeDrop drop = Outcome(DropOutcome::Done, nullptr, 0);
  if (root) {
    drop = SwitchToNobody(calls, held);
  }
  // Root that could not switch, or a user with file or ambient
  // capabilities, keeps none; after a switch the inheritable set may be
  // left (systemd and container runtimes leave it set for root).
  CapabilitySets now{};
  if (calls.capget(now) != 0) {
    return Outcome(DropOutcome::Failed, "capget", errno);
  }
  if (!IsEmpty(now) && calls.capset(CapabilitySets{}) != 0) {
    return Outcome(DropOutcome::Failed, "capset", errno);
  }
  if (calls.forbidNewPrivileges() != 0 && errno != EINVAL) {
    return Outcome(DropOutcome::Failed, "prctl(PR_SET_NO_NEW_PRIVS)", errno);
  }
  const PrivilegeDrop end =
      CheckEndState(calls, root && drop.outcome == DropOutcome::Done);
  return end.outcome == DropOutcome::Done ? drop : end;
}

void FormatPrivilegeLine(const PrivilegeDrop& drop, char* line,
                         std::size_t capacity) {
  if (capacity == 0) {
    return;
  }
  line[0] = '\0';
  if (drop.outcome == DropOutcome::Done) {
    return;
  }
  const char* what =
      drop.outcome == DropOutcome::KeptRoot
          ? "leapcheck: still user 0 (root), without capabilities: "
          : "leapcheck: cannot give up root: ";
  if (drop.error != 0) {
    std::snprintf(line, capacity, "%s%s: %s", what, drop.call,
                  std::strerror(drop.error));
  } else {
    std::snprintf(line, capacity, "%s%s", what, drop.call);
  }
}

bool HoldsCapability(unsigned capability) {
  CapabilitySets held{};
  return capability < 64U && ReadCapabilitySets(held) == 0 &&
         InEffect(held, capability);
}
