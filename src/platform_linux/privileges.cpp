#include "privileges.h"

#include <grp.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>

namespace {

constexpr uid_t NobodyId = 65534;

struct Capabilities {
  __user_cap_data_struct sets[_LINUX_CAPABILITY_U32S_3];
};

bool ReadCapabilities(Capabilities& capabilities) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  capabilities = Capabilities{};
  return syscall(SYS_capget, &header, capabilities.sets) == 0;
}

bool HoldsAnyCapability() {
  Capabilities held{};
  if (!ReadCapabilities(held)) {
    return false;
  }
  std::uint32_t any = 0;
  for (const auto& set : held.sets) {
    any |= set.permitted | set.effective | set.inheritable;
  }
  return any != 0;
}

// Root's other rights: the group first, since once the user is not root
// it may not change it. Switching the user from root clears every
// capability.
void LeaveRoot() {
  if ((setgroups(0, nullptr) == 0 || getgroups(0, nullptr) == 0) &&
      setresgid(NobodyId, NobodyId, NobodyId) == 0) {
    setresuid(NobodyId, NobodyId, NobodyId);
  }
}

}  // namespace

bool HoldsCapability(unsigned capability) {
  Capabilities held{};
  return capability < 32U * _LINUX_CAPABILITY_U32S_3 &&
         ReadCapabilities(held) &&
         (held.sets[capability / 32U].effective & (1U << (capability % 32U))) !=
             0;
}

void GiveUpPrivileges() {
  if ((getuid() == 0 || geteuid() == 0) && HoldsCapability(CAP_SETGID) &&
      HoldsCapability(CAP_SETUID)) {
    LeaveRoot();
  }
  // A user that had some (file or ambient capabilities), or root that
  // could not switch, keeps none.
  if (HoldsAnyCapability()) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct none[_LINUX_CAPABILITY_U32S_3] = {};
    syscall(SYS_capset, &header, none);
  }
}
