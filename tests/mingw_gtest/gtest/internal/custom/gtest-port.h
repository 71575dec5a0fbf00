#pragma once

// GoogleTest's customisation point, found ahead of its own empty one in the
// MinGW builds. Their GCC (Windows threads) has no std::mutex, which
// GoogleTest's Notification needs; it serves only GoogleTest's own
// threading checks, which these tests never start, so a flag does.

#include <atomic>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing {
namespace internal {

class Notification {
 public:
  void Notify() { notified_ = true; }
  void WaitForNotification() {
    while (!notified_) {
    }
  }

 private:
  std::atomic<bool> notified_{false};
};

}  // namespace internal
}  // namespace testing
