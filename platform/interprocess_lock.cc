#include "platform/interprocess_lock.h"

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace platform {

namespace {

// How often a wait for the lock looks at its stop flag.
constexpr int64_t kSliceMs = 25;

}  // namespace

bool InterProcessLock::AcquireUnlessStopped(int timeout_ms,
                                            const std::atomic<bool>* stop,
                                            bool wait_for_this_process) {
  using Clock = std::chrono::steady_clock;
  const auto until = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    const int64_t left = std::chrono::duration_cast<std::chrono::milliseconds>(
                             until - Clock::now())
                             .count();
    const int64_t slice =
        std::max<int64_t>(0, stop != nullptr ? std::min(left, kSliceMs) : left);
    if (Acquire(static_cast<int>(slice), wait_for_this_process)) return true;
    // A hold by this process ends the attempt without waiting; trying
    // again at once would spin.
    if (left <= slice || !wait_for_this_process || (stop != nullptr && *stop)) {
      return false;
    }
  }
}

}  // namespace platform
