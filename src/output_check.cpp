#include "output_check.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

void FlushOutputOrExit() {
  // ferror also holds a failure of a write the buffer made on its own,
  // before this flush.
  if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0) {
    return;
  }
  const int error = errno;
  std::fprintf(stderr, "leapcheck: cannot write standard output: %s\n",
               std::strerror(error));
  std::exit(EXIT_FAILURE);
}
