#ifndef QUILLON_PLATFORM_THREAD_GATE_H_
#define QUILLON_PLATFORM_THREAD_GATE_H_

#include <chrono>
#include <mutex>

namespace platform {

// The part of an InterProcessLock that keeps one thread of this process at
// a time: locks |gate| within |timeout_ms| (negative: without limit), or,
// without |wait|, only when it is free now.
inline bool EnterThreadGate(std::timed_mutex& gate, int timeout_ms, bool wait) {
  if (!wait) return gate.try_lock();
  if (timeout_ms < 0) {
    gate.lock();
    return true;
  }
  return gate.try_lock_for(std::chrono::milliseconds(timeout_ms));
}

}  // namespace platform

#endif  // QUILLON_PLATFORM_THREAD_GATE_H_
