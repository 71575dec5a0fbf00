// Giving up root through calls the test answers: every refusal is told
// apart, and the end state is read back rather than assumed.

#include "privileges.h"

#include <gtest/gtest.h>
#include <linux/capability.h>

#include <cerrno>
#include <string>

namespace {

// A process as the fake kernel holds it; one at a time.
struct FakeProcess {
  uid_t uid;
  gid_t gid;
  int groups;
  CapabilitySets caps;
  int failSetresgid;  // errno to fail with; 0 to succeed
  int failSetresuid;
  int failCapset;
  bool switchIgnored;  // setresuid "succeeds" but changes nothing
  bool noNewPrivs;
  int capsetCalls;
};

FakeProcess& Process() {
  static FakeProcess process{};
  return process;
}

int Fail(int error) {
  errno = error;
  return -1;
}

PrivilegeCalls FakeCalls() {
  PrivilegeCalls calls{};
  calls.getresuid = [](uid_t* r, uid_t* e, uid_t* s) {
    *r = *e = *s = Process().uid;
    return 0;
  };
  calls.getresgid = [](gid_t* r, gid_t* e, gid_t* s) {
    *r = *e = *s = Process().gid;
    return 0;
  };
  calls.getgroups = [](int, gid_t*) { return Process().groups; };
  calls.setgroups = [](std::size_t size, const gid_t*) {
    Process().groups = static_cast<int>(size);
    return 0;
  };
  calls.setresgid = [](gid_t g, gid_t, gid_t) {
    if (Process().failSetresgid != 0) {
      return Fail(Process().failSetresgid);
    }
    Process().gid = g;
    return 0;
  };
  calls.setresuid = [](uid_t u, uid_t, uid_t) {
    FakeProcess& p = Process();
    if (p.failSetresuid != 0) {
      return Fail(p.failSetresuid);
    }
    if (!p.switchIgnored) {
      p.uid = u;
      p.caps.effective[0] = p.caps.effective[1] = 0;  // as the kernel does
      p.caps.permitted[0] = p.caps.permitted[1] = 0;
    }
    return 0;
  };
  calls.capget = [](CapabilitySets& sets) {
    sets = Process().caps;
    return 0;
  };
  calls.capset = [](const CapabilitySets& sets) {
    FakeProcess& p = Process();
    ++p.capsetCalls;
    if (p.failCapset != 0) {
      return Fail(p.failCapset);
    }
    p.caps = sets;
    return 0;
  };
  calls.forbidNewPrivileges = [] {
    Process().noNewPrivs = true;
    return 0;
  };
  return calls;
}

// Root as a service starts it: the three capabilities it is bounded to, and
// the inheritable set systemd 257 leaves.
void StartAsRoot() {
  Process() = FakeProcess{};
  constexpr std::uint32_t Caps =
      (1U << CAP_SETGID) | (1U << CAP_SETUID) | (1U << CAP_SYS_RAWIO);
  Process().caps = CapabilitySets{{Caps, 0}, {Caps, 0}, {Caps, 0}};
  Process().groups = 1;
}

std::string Line(const PrivilegeDrop& drop) {
  char line[256];
  FormatPrivilegeLine(drop, line, sizeof line);
  return line;
}

TEST(PrivilegesTest, RootBecomesNobodyAndClearsTheInheritableSetLeft) {
  StartAsRoot();
  const PrivilegeDrop drop = GiveUpPrivileges(FakeCalls());
  EXPECT_EQ(DropOutcome::Done, drop.outcome);
  EXPECT_EQ("", Line(drop));
  EXPECT_EQ(65534U, Process().uid);
  EXPECT_EQ(65534U, Process().gid);
  EXPECT_EQ(0, Process().groups);
  EXPECT_EQ(1, Process().capsetCalls);
  EXPECT_EQ(0U, Process().caps.inheritable[0]);
  EXPECT_TRUE(Process().noNewPrivs);

  // Nothing left after the switch: no capset, which a filter may refuse.
  StartAsRoot();
  Process().caps.inheritable[0] = 0;
  EXPECT_EQ(DropOutcome::Done, GiveUpPrivileges(FakeCalls()).outcome);
  EXPECT_EQ(0, Process().capsetCalls);
}

TEST(PrivilegesTest, ARefusedSwitchKeepsRootWithoutCapabilitiesAndSaysWhy) {
  StartAsRoot();
  Process().failSetresgid = EINVAL;  // 65534 unmapped, as under unshare -r
  PrivilegeDrop drop = GiveUpPrivileges(FakeCalls());
  EXPECT_EQ(DropOutcome::KeptRoot, drop.outcome);
  EXPECT_EQ(
      "leapcheck: still user 0 (root), without capabilities: setresgid: "
      "Invalid argument",
      Line(drop));
  EXPECT_EQ(0U, Process().caps.permitted[0]);
  EXPECT_TRUE(Process().noNewPrivs);

  StartAsRoot();
  Process().failSetresuid = EPERM;
  drop = GiveUpPrivileges(FakeCalls());
  EXPECT_EQ(DropOutcome::KeptRoot, drop.outcome);
  EXPECT_EQ(
      "leapcheck: still user 0 (root), without capabilities: setresuid: "
      "Operation not permitted",
      Line(drop));

  StartAsRoot();
  Process().caps.effective[0] = 1U << CAP_SYS_RAWIO;
  drop = GiveUpPrivileges(FakeCalls());
  EXPECT_EQ(
      "leapcheck: still user 0 (root), without capabilities: no CAP_SETUID "
      "and CAP_SETGID to become user 65534",
      Line(drop));
  EXPECT_EQ(0U, Process().uid);
}

TEST(PrivilegesTest, ARightThatStaysStopsTheRun) {
  StartAsRoot();
  Process().failCapset = EPERM;
  PrivilegeDrop drop = GiveUpPrivileges(FakeCalls());
  EXPECT_EQ(DropOutcome::Failed, drop.outcome);
  EXPECT_EQ("leapcheck: cannot give up root: capset: Operation not permitted",
            Line(drop));

  // A switch the kernel reported done but did not make.
  StartAsRoot();
  Process().switchIgnored = true;
  Process().failCapset = 0;
  drop = GiveUpPrivileges(FakeCalls());
  EXPECT_EQ(DropOutcome::Failed, drop.outcome);
  EXPECT_EQ("leapcheck: cannot give up root: still a user or group of root's",
            Line(drop));
}

TEST(PrivilegesTest, AnOrdinaryUserChangesNothing) {
  Process() = FakeProcess{};
  Process().uid = Process().gid = 1000;
  Process().groups = 3;
  const PrivilegeDrop drop = GiveUpPrivileges(FakeCalls());
  EXPECT_EQ(DropOutcome::Done, drop.outcome);
  EXPECT_EQ(1000U, Process().uid);
  EXPECT_EQ(3, Process().groups);
  EXPECT_EQ(0, Process().capsetCalls);
  EXPECT_TRUE(Process().noNewPrivs);
}

}  // namespace
