#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "platform/interprocess_lock.h"
#include "platform/thread_gate.h"

namespace platform {

namespace {

constexpr size_t kSharedBytes = InterProcessLock::kSharedWords * 8;

}  // namespace

// flock is shared by the threads of one opening, so |threads| keeps a hold
// exclusive within the process. The shared words live at the start of the
// lock file itself, mapped.
struct InterProcessLock::Impl {
  std::timed_mutex threads;
  int fd = -1;
  void* shared = nullptr;
};

InterProcessLock::InterProcessLock(const std::filesystem::path& file,
                                   const std::string& role)
    : impl_(std::make_unique<Impl>()) {
  const std::string suffix = role.empty() ? ".lock" : "." + role + ".lock";
  impl_->fd = open((file.native() + suffix).c_str(),
                   O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (impl_->fd < 0) return;
  struct stat info {};
  // Growing only: a file another process already grew keeps its words.
  if (fstat(impl_->fd, &info) == 0 &&
      (info.st_size >= static_cast<off_t>(kSharedBytes) ||
       ftruncate(impl_->fd, kSharedBytes) == 0)) {
    void* shared = mmap(nullptr, kSharedBytes, PROT_READ | PROT_WRITE,
                        MAP_SHARED, impl_->fd, 0);
    if (shared != MAP_FAILED) impl_->shared = shared;
  }
}

InterProcessLock::~InterProcessLock() {
  if (impl_->shared != nullptr) munmap(impl_->shared, kSharedBytes);
  if (impl_->fd >= 0) close(impl_->fd);
}

bool InterProcessLock::Acquire(int timeout_ms, bool wait_for_this_process) {
  if (impl_->fd < 0) return false;
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  if (!EnterThreadGate(impl_->threads, timeout_ms, wait_for_this_process)) {
    return false;
  }
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

uint64_t* InterProcessLock::shared_words() {
  return static_cast<uint64_t*>(impl_->shared);
}

}  // namespace platform
