#include "small_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

std::size_t ReadSmallFile(const char* path, char* buffer, std::size_t capacity,
                          int& error) {
  error = 0;
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = errno;
    return 0;
  }
  // Bounded: every read that goes on fills the buffer further.
  std::size_t size = 0;
  while (size < capacity) {
    const ssize_t got = read(fd, buffer + size, capacity - size);
    if (got <= 0) {
      error = got < 0 ? errno : 0;
      break;
    }
    size += static_cast<std::size_t>(got);
  }
  close(fd);
  return size;
}
