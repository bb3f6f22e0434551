#include <time.h>

#include "platform/local_time.h"

namespace platform {

bool ToLocalTime(int64_t seconds_since_epoch, std::tm* out) {
  const time_t seconds = static_cast<time_t>(seconds_since_epoch);
  if (localtime_r(&seconds, out) != nullptr) return true;
  *out = std::tm();
  return false;
}

}  // namespace platform
