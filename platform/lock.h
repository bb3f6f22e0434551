#ifndef QUILLON_PLATFORM_LOCK_H_
#define QUILLON_PLATFORM_LOCK_H_

#include <memory>

namespace platform {

// A non-recursive mutual-exclusion lock: a critical section on Windows, a
// std::mutex elsewhere. The lock is ready as soon as it is constructed and
// must not be held when it is destroyed.
class Lock {
 public:
  Lock();
  ~Lock();
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

  void Acquire();
  void Release();

 private:
  // Keeps <windows.h> out of the headers of platform-neutral code.
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Holds a Lock from construction to destruction, so that no path out of a
// scope (early return, exception) leaves it held.
class LockGuard {
 public:
  explicit LockGuard(Lock& lock) : lock_(lock) { lock_.Acquire(); }
  ~LockGuard() { lock_.Release(); }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;

 private:
  Lock& lock_;
};

}  // namespace platform

#endif  // QUILLON_PLATFORM_LOCK_H_
