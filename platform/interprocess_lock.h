#ifndef QUILLON_PLATFORM_INTERPROCESS_LOCK_H_
#define QUILLON_PLATFORM_INTERPROCESS_LOCK_H_

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace platform {

// A lock on a file that every process of the logon session (and every
// thread) naming the same file shares, whatever path spells it: on Windows a
// named mutex whose name hashes the file's final path, case-folded (so a
// short name, another letter case or "/" for "\" find the same lock), made
// so that a normal process can open one an elevated process created; the
// system releases it when its owner dies. Elsewhere an advisory lock on
// "<file>.<role>lock" (".lock" for the empty role).
//
// With the lock comes a small block of memory shared by the same processes
// (zero at first), for counters that only the holder of the lock reads or
// writes.
class InterProcessLock {
 public:
  // |role| tells apart several locks on one file ("" or a word like "send").
  explicit InterProcessLock(const std::filesystem::path& file,
                            const std::string& role = std::string());
  ~InterProcessLock();
  InterProcessLock(const InterProcessLock&) = delete;
  InterProcessLock& operator=(const InterProcessLock&) = delete;

  // Waits at most |timeout_ms| milliseconds (negative: without limit).
  // True when the lock is now held by the caller; false on time-out or when
  // the operating system refused the lock object. Without
  // |wait_for_this_process|, a hold by another thread of this process ends
  // the attempt at once (only other processes are waited for).
  bool Acquire(int timeout_ms, bool wait_for_this_process = true);
  // Acquire, waiting in slices of at most 25 ms so that the wait ends soon
  // after *|stop| turns true (null: never).
  bool AcquireUnlessStopped(int timeout_ms, const std::atomic<bool>* stop,
                            bool wait_for_this_process = true);
  void Release();

  // The shared words (kSharedWords of them); null when the system refused
  // the shared memory. Read or write them only while holding the lock.
  static constexpr size_t kSharedWords = 2;
  uint64_t* shared_words();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Holds an InterProcessLock for a scope, if it could be taken.
class InterProcessLockGuard {
 public:
  InterProcessLockGuard(InterProcessLock& lock, int timeout_ms)
      : lock_(lock), held_(lock.Acquire(timeout_ms)) {}
  // Waits as InterProcessLock::AcquireUnlessStopped does.
  InterProcessLockGuard(InterProcessLock& lock, int timeout_ms,
                        const std::atomic<bool>* stop,
                        bool wait_for_this_process = true)
      : lock_(lock),
        held_(lock.AcquireUnlessStopped(timeout_ms, stop,
                                        wait_for_this_process)) {}
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
