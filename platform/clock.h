#ifndef QUILLON_PLATFORM_CLOCK_H_
#define QUILLON_PLATFORM_CLOCK_H_

#include <cstdint>

namespace platform {

// 1970-01-01 00:00 UTC as a Windows file time.
constexpr int64_t kUnixEpochAsFileTime = 116444736000000000;

// The wall clock as a Windows file time: 100-nanosecond intervals since
// 1601-01-01 00:00 UTC. On Windows this is GetSystemTimeAsFileTime; elsewhere
// the system clock, truncated to the same unit and origin.
int64_t SystemTimeAsFileTime();

// The wall clock in whole seconds since the Unix epoch, as _time64 reports it.
int64_t CurrentTimeSeconds();

}  // namespace platform

#endif  // QUILLON_PLATFORM_CLOCK_H_
