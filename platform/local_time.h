#ifndef QUILLON_PLATFORM_LOCAL_TIME_H_
#define QUILLON_PLATFORM_LOCAL_TIME_H_

#include <cstdint>
#include <ctime>

namespace platform {

// Converts seconds since the Unix epoch to broken-down local time with the
// machine's time-zone rules (_localtime64_s on Windows, localtime_r
// elsewhere). Returns false, with every field of *out set to zero, when the
// runtime cannot convert the value (on Windows, for example, any time before
// 1970).
bool ToLocalTime(int64_t seconds_since_epoch, std::tm* out);

}  // namespace platform

#endif  // QUILLON_PLATFORM_LOCAL_TIME_H_
