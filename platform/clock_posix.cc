#include <chrono>
#include <ctime>

#include "platform/clock.h"

namespace platform {

int64_t SystemTimeAsFileTime() {
  using FileTimeTicks = std::chrono::duration<int64_t, std::ratio<1, 10000000>>;
  const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
  return kUnixEpochAsFileTime +
         std::chrono::duration_cast<FileTimeTicks>(since_epoch).count();
}

int64_t CurrentTimeSeconds() {
  return static_cast<int64_t>(std::time(nullptr));
}

}  // namespace platform
