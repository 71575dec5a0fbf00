#pragma once

// Sends standard output to /dev/null for the life of the object, so that
// what the calls under measurement print costs no terminal time and does
// not flood the log.

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

struct DiscardedStdout {
  DiscardedStdout() {
    std::fflush(stdout);
    saved = dup(1);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    close(null);
  }
  ~DiscardedStdout() {
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
  }
  DiscardedStdout(const DiscardedStdout&) = delete;
  DiscardedStdout& operator=(const DiscardedStdout&) = delete;

  int saved;
};
