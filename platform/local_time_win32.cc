#include <time.h>

#include "platform/local_time.h"

namespace platform {

bool ToLocalTime(int64_t seconds_since_epoch, std::tm* out) {
  const __time64_t seconds = seconds_since_epoch;
  if (_localtime64_s(out, &seconds) == 0) return true;
  *out = std::tm();
  return false;
}

}  // namespace platform
