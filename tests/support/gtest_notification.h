// GoogleTest's Notification, for compilers whose C++ library has no
// std::mutex: GCC 12 with the win32 thread model, which the programs are
// built with so that no winpthreads import keeps them off Windows XP.
// Force-included ahead of GoogleTest, which then uses this one instead of
// its own (GTEST_HAS_NOTIFICATION_). It only lets a thread that GoogleTest
// starts wait for its go, a wait of milliseconds, so polling is enough.
#ifndef KAVLA_GTEST_NOTIFICATION_H
#define KAVLA_GTEST_NOTIFICATION_H
#ifdef __cplusplus
#include <atomic>

// Declared as <windows.h> declares it, without all that header brings along.
extern "C" __declspec(dllimport) void __stdcall Sleep(unsigned long dwMilliseconds);

namespace testing {
namespace internal {

class Notification {
 public:
  Notification() : notified_(false) {}
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;
  void Notify() { notified_.store(true, std::memory_order_release); }
  void WaitForNotification() {
    while (!notified_.load(std::memory_order_acquire)) Sleep(1);
  }

 private:
  std::atomic<bool> notified_;
};

}  // namespace internal
}  // namespace testing

#define GTEST_HAS_NOTIFICATION_ 1
#endif  // __cplusplus
#endif  // KAVLA_GTEST_NOTIFICATION_H
