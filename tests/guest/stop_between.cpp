// Holds a running leap test between a pass's counter read and its tick
// read, as a debugger would: a breakpoint on the instruction after the
// counter read, the process kept stopped there for a while, then let go.
// A stop sent at a random moment lands there only by chance (an emulator
// takes interrupts only where a translated block begins); this one lands
// there every time, so that each gives exactly one report.
//   leapcheck_stop_between PID OFFSET MILLISECONDS
// OFFSET: the instruction's address in the program's file (objdump's),
// which the mapping of the file at offset 0 in /proc/PID/maps places.

#include <sys/ptrace.h>
#include <sys/user.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

int Fail(const char* what) {
  std::fprintf(stderr, "stop_between: %s: %s\n", what, std::strerror(errno));
  return 1;
}

// Where the program's image begins in the process: the mapping of its own
// file at offset 0 (the heap and others may come before it).
bool ImageBase(long pid, unsigned long& base) {
  char path[64];
  char exe[256] = {};
  std::snprintf(path, sizeof path, "/proc/%ld/exe", pid);
  if (readlink(path, exe, sizeof exe - 1) <= 0) {
    return false;
  }
  std::snprintf(path, sizeof path, "/proc/%ld/maps", pid);
  FILE* maps = std::fopen(path, "r");
  if (maps == nullptr) {
    return false;
  }
  char line[512];
  bool found = false;
  // start-end perms offset device inode path
  while (!found && std::fgets(line, sizeof line, maps) != nullptr) {
    char* saved = nullptr;
    const char* range = strtok_r(line, " ", &saved);
    strtok_r(nullptr, " ", &saved);
    const char* offset = strtok_r(nullptr, " ", &saved);
    strtok_r(nullptr, " ", &saved);
    strtok_r(nullptr, " ", &saved);
    const char* file = strtok_r(nullptr, " \n", &saved);
    found = file != nullptr && std::strcmp(file, exe) == 0 &&
            std::strtoul(offset, nullptr, 16) == 0;
    base = std::strtoul(range, nullptr, 16);
  }
  std::fclose(maps);
  return found;
}

// Waits for the next stop of the tracee; false if it ended instead.
bool WaitStop(long pid, int& signal) {
  int status = 0;
  if (waitpid(static_cast<pid_t>(pid), &status, __WALL) < 0 ||
      !WIFSTOPPED(status)) {
    return false;
  }
  signal = WSTOPSIG(status);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: leapcheck_stop_between PID OFFSET MS\n");
    return 2;
  }
  const long pid = std::strtol(argv[1], nullptr, 10);
  const unsigned long offset = std::strtoul(argv[2], nullptr, 16);
  const long milliseconds = std::strtol(argv[3], nullptr, 10);
  unsigned long base = 0;
  if (!ImageBase(pid, base)) {
    return Fail("reading the process's maps");
  }
  const unsigned long address = base + offset;
  if (ptrace(PTRACE_SEIZE, pid, nullptr, nullptr) != 0 ||
      ptrace(PTRACE_INTERRUPT, pid, nullptr, nullptr) != 0) {
    return Fail("attaching");
  }
  int signal = 0;
  if (!WaitStop(pid, signal)) {
    return Fail("waiting for the first stop");
  }
  errno = 0;
  const long word = ptrace(PTRACE_PEEKTEXT, pid, address, nullptr);
  if (errno != 0) {
    return Fail("reading the instruction");
  }
  const long trap =
      static_cast<long>((static_cast<unsigned long>(word) & ~0xFFUL) | 0xCCUL);
  if (ptrace(PTRACE_POKETEXT, pid, address, trap) != 0) {
    return Fail("setting the breakpoint");
  }
  // The loop comes by the breakpoint within a pass; other stops (none are
  // expected) are passed on, a bounded number of times.
  user_regs_struct registers{};
  for (int stops = 0;; ++stops) {
    if (stops == 100 ||
        ptrace(PTRACE_CONT, pid, nullptr, signal == SIGTRAP ? 0 : signal) !=
            0 ||
        !WaitStop(pid, signal)) {
      return Fail("running to the breakpoint");
    }
    if (signal == SIGTRAP &&
        ptrace(PTRACE_GETREGS, pid, nullptr, &registers) == 0 &&
        registers.rip == address + 1) {
      break;
    }
  }
  registers.rip = address;
  if (ptrace(PTRACE_POKETEXT, pid, address, word) != 0 ||
      ptrace(PTRACE_SETREGS, pid, nullptr, &registers) != 0) {
    return Fail("taking the breakpoint away");
  }
  const timespec hold{milliseconds / 1000, (milliseconds % 1000) * 1000000};
  nanosleep(&hold, nullptr);
  if (ptrace(PTRACE_DETACH, pid, nullptr, nullptr) != 0) {
    return Fail("letting go");
  }
  return 0;
}
