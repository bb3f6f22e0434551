#include "platform/clock.h"

#ifdef _WIN32
#include <windows.h>
#include <time.h>
#else
#include <chrono>
#include <ctime>
#endif

namespace platform {

#ifdef _WIN32

int64_t SystemTimeAsFileTime() {
  FILETIME file_time;
  GetSystemTimeAsFileTime(&file_time);
  ULARGE_INTEGER value;
  value.LowPart = file_time.dwLowDateTime;
  value.HighPart = file_time.dwHighDateTime;
  return static_cast<int64_t>(value.QuadPart);
}

int64_t CurrentTimeSeconds() { return _time64(nullptr); }

#else

int64_t SystemTimeAsFileTime() {
  using FileTimeTicks = std::chrono::duration<int64_t, std::ratio<1, 10000000>>;
  const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
  return kUnixEpochAsFileTime +
         std::chrono::duration_cast<FileTimeTicks>(since_epoch).count();
}

int64_t CurrentTimeSeconds() {
  return static_cast<int64_t>(std::time(nullptr));
}

#endif

}  // namespace platform
