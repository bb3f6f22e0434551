#include <windows.h>
#include <time.h>

#include "platform/clock.h"

namespace platform {

int64_t SystemTimeAsFileTime() {
  FILETIME file_time;
  GetSystemTimeAsFileTime(&file_time);
  ULARGE_INTEGER value;
  value.LowPart = file_time.dwLowDateTime;
  value.HighPart = file_time.dwHighDateTime;
  return static_cast<int64_t>(value.QuadPart);
}

int64_t CurrentTimeSeconds() { return _time64(nullptr); }

}  // namespace platform
