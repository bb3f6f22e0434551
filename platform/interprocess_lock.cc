#include "platform/interprocess_lock.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

// Locks |mutex| within |timeout_ms| (negative: without limit).
bool LockWithin(std::timed_mutex& mutex, int timeout_ms) {
  if (timeout_ms < 0) {
    mutex.lock();
    return true;
  }
  return mutex.try_lock_for(std::chrono::milliseconds(timeout_ms));
}

}  // namespace

#ifdef _WIN32

namespace {

// Mutex names may not hold a backslash, and paths differ in letter case
// only on the way, so the name carries a hash of the lower-cased key.
std::wstring MutexName(const std::string& key) {
  uint64_t hash = 14695981039346656037ull;
  for (const char c : key) {
    const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
    hash = (hash ^ static_cast<unsigned char>(lower)) * 1099511628211ull;
  }
  wchar_t name[64];
  std::swprintf(name, 64, L"Local\\quillon_analytics_%016llx",
                static_cast<unsigned long long>(hash));
  return name;
}

}  // namespace

struct InterProcessLock::Impl {
  std::timed_mutex threads;  // keeps the owner thread's hold exclusive
  HANDLE mutex = nullptr;
};

InterProcessLock::InterProcessLock(const std::string& key)
    : impl_(std::make_unique<Impl>()) {
  impl_->mutex = CreateMutexW(nullptr, FALSE, MutexName(key).c_str());
}

InterProcessLock::~InterProcessLock() {
  if (impl_->mutex != nullptr) CloseHandle(impl_->mutex);
}

bool InterProcessLock::Acquire(int timeout_ms) {
  if (impl_->mutex == nullptr) return false;
  const auto start = Clock::now();
  if (!LockWithin(impl_->threads, timeout_ms)) return false;
  DWORD wait = INFINITE;
  if (timeout_ms >= 0) {
    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                           Clock::now() - start)
                           .count();
    wait = spent >= timeout_ms ? 0 : static_cast<DWORD>(timeout_ms - spent);
  }
  // An abandoned mutex is ours now: its owner died, which the files it
  // guards are written to survive.
  const DWORD result = WaitForSingleObject(impl_->mutex, wait);
  if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) return true;
  impl_->threads.unlock();
  return false;
}

void InterProcessLock::Release() {
  ReleaseMutex(impl_->mutex);
  impl_->threads.unlock();
}

#else

struct InterProcessLock::Impl {
  std::timed_mutex threads;  // flock is shared by the threads of one opening
  int fd = -1;
};

InterProcessLock::InterProcessLock(const std::string& key)
    : impl_(std::make_unique<Impl>()) {
  impl_->fd = open((key + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
}

InterProcessLock::~InterProcessLock() {
  if (impl_->fd >= 0) close(impl_->fd);
}

bool InterProcessLock::Acquire(int timeout_ms) {
  if (impl_->fd < 0) return false;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  if (!LockWithin(impl_->threads, timeout_ms)) return false;
  for (;;) {
    if (flock(impl_->fd, timeout_ms < 0 ? LOCK_EX : LOCK_EX | LOCK_NB) == 0) {
      return true;
    }
    if (timeout_ms >= 0 && Clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  impl_->threads.unlock();
  return false;
}

void InterProcessLock::Release() {
  flock(impl_->fd, LOCK_UN);
  impl_->threads.unlock();
}

#endif

}  // namespace platform
