#ifndef QUILLON_PLATFORM_INTERPROCESS_LOCK_H_
#define QUILLON_PLATFORM_INTERPROCESS_LOCK_H_

#include <memory>
#include <string>

namespace platform {

// A lock that every process of the logon session (and every thread) naming
// the same key shares: on Windows a named mutex whose name is derived from
// the key (the system releases it when its owner dies); elsewhere an
// advisory lock on the file "<key>.lock". A process that is killed while
// holding the lock never blocks the others.
class InterProcessLock {
 public:
  explicit InterProcessLock(const std::string& key);
  ~InterProcessLock();
  InterProcessLock(const InterProcessLock&) = delete;
  InterProcessLock& operator=(const InterProcessLock&) = delete;

  // Waits at most |timeout_ms| milliseconds (negative: without limit).
  // True when the lock is now held by the caller; false on time-out or when
  // the operating system refused the lock object.
  bool Acquire(int timeout_ms);
  void Release();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Holds an InterProcessLock for a scope, if it could be taken.
class InterProcessLockGuard {
 public:
  InterProcessLockGuard(InterProcessLock& lock, int timeout_ms)
      : lock_(lock), held_(lock.Acquire(timeout_ms)) {}
  ~InterProcessLockGuard() {
    if (held_) lock_.Release();
  }
  InterProcessLockGuard(const InterProcessLockGuard&) = delete;
  InterProcessLockGuard& operator=(const InterProcessLockGuard&) = delete;

  bool held() const { return held_; }

 private:
  InterProcessLock& lock_;
  bool held_;
};

}  // namespace platform

#endif  // QUILLON_PLATFORM_INTERPROCESS_LOCK_H_
