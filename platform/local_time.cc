#include "platform/local_time.h"

#include <time.h>

namespace platform {

bool ToLocalTime(int64_t seconds_since_epoch, std::tm* out) {
#ifdef _WIN32
  const __time64_t seconds = seconds_since_epoch;
  if (_localtime64_s(out, &seconds) == 0) return true;
#else
  const time_t seconds = static_cast<time_t>(seconds_since_epoch);
  if (localtime_r(&seconds, out) != nullptr) return true;
#endif
  *out = std::tm();
  return false;
}

}  // namespace platform
