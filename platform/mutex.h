// A mutex and its scoped lock as clang's thread-safety analysis sees them
// (the standard library's carry no annotations).
#ifndef QUILLON_PLATFORM_MUTEX_H_
#define QUILLON_PLATFORM_MUTEX_H_

#include <mutex>

#include "platform/thread_annotations.h"

namespace platform {

// Non-recursive. Lockable, so std::condition_variable_any waits on it
// directly: `while (!ready) condition.wait(mutex);` under a MutexLock.
class QUILLON_CAPABILITY("mutex") Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void lock() QUILLON_ACQUIRE() { mutex_.lock(); }
  void unlock() QUILLON_RELEASE() { mutex_.unlock(); }
  bool try_lock() QUILLON_TRY_ACQUIRE(true) { return mutex_.try_lock(); }

 private:
  std::mutex mutex_;
};

// Holds a Mutex for its scope.
class QUILLON_SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) QUILLON_ACQUIRE(mutex) : mutex_(mutex) {
    mutex_.lock();
  }
  ~MutexLock() QUILLON_RELEASE() { mutex_.unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex& mutex_;
};

}  // namespace platform

#endif  // QUILLON_PLATFORM_MUTEX_H_
