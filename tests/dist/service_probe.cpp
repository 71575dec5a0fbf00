// Run by the service test in the program's place, under the unit's own
// confinement: opens each path it is given read-only and reads the resource
// limits of PID 1, a root process, printing what the kernel answered, then
// sends PID 1 the null signal. The unit's system call filter must end it
// there (SIGSYS), so the last line never comes. Static, as the program:
// the unit's root holds nothing else.
//   leapcheck_service_probe PATH...

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const int fd = open(argv[i], O_RDONLY | O_CLOEXEC);
    std::printf("%s: %s\n", argv[i], fd >= 0 ? "opened" : std::strerror(errno));
    if (fd >= 0) {
      close(fd);
    }
  }
  rlimit limit{};
  std::printf("limits of PID 1: %s\n",
              prlimit(1, RLIMIT_NOFILE, nullptr, &limit) == 0
                  ? "read"
                  : std::strerror(errno));
  std::fflush(stdout);
  const int result = kill(1, 0);
  std::printf("signal to PID 1: %s\n",
              result == 0 ? "sent" : std::strerror(errno));
  return 0;
}
