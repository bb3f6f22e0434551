#include "platform/lock.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <mutex>
#endif

namespace platform {

#ifdef _WIN32

struct Lock::Impl {
  Impl() { InitializeCriticalSection(&section); }
  ~Impl() { DeleteCriticalSection(&section); }
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  CRITICAL_SECTION section;
};

void Lock::Acquire() { EnterCriticalSection(&impl_->section); }
void Lock::Release() { LeaveCriticalSection(&impl_->section); }

#else

struct Lock::Impl {
  std::mutex mutex;
};

void Lock::Acquire() { impl_->mutex.lock(); }
void Lock::Release() { impl_->mutex.unlock(); }

#endif

Lock::Lock() : impl_(std::make_unique<Impl>()) {}
Lock::~Lock() = default;

}  // namespace platform
