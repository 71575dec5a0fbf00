#include "timer_refusal.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "small_file.h"

namespace {

// Without securityfs the kernel's lockdown cannot be told: none.
bool KernelLockedDown() {
  char text[128];
  int error = 0;
  const std::size_t length =
      ReadSmallFile(LockdownPath, text, sizeof text - 1, error);
  text[length] = '\0';
  return IsLockedDown(text);
}

}  // namespace

TimerRefusal RefusalOfDenial(bool root, bool lockedDown) {
  if (!root) {
    return TimerRefusal::NeedsRoot;
  }
  return lockedDown ? TimerRefusal::LockedDown : TimerRefusal::Confined;
}

bool IsLockedDown(const char* text) {
  const char* selected = std::strchr(text, '[');
  return selected != nullptr && std::strncmp(selected, "[none]", 6) != 0;
}

TimerRefusal RefusalOfError(int error) {
  switch (error) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
      return TimerRefusal::Missing;
    case EACCES:
    case EPERM:
      return RefusalOfDenial(geteuid() == 0, KernelLockedDown());
    case EBUSY:
      return TimerRefusal::Busy;
    default:
      return TimerRefusal::Unreadable;
  }
}
