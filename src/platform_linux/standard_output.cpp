// Standard output unbuffered: the C library then never asks whether it is a
// terminal, an ioctl that it makes on a character device (systemd puts
// /dev/null there for StandardOutput=null, or where the journal cannot be
// reached) and that the service's system call filter refuses. Each printf
// still goes out in one write, and the program sends its lines on their way
// at once where it matters anyway.

#include <cstdio>

#include "platform.h"

void PrepareStandardOutput() {
  // Where this fails the output is merely buffered as usual.
  static_cast<void>(std::setvbuf(stdout, nullptr, _IONBF, 0));
}
