#ifndef QUILLON_ANALYTICS_SDK_RANDOM_SOURCE_H_
#define QUILLON_ANALYTICS_SDK_RANDOM_SOURCE_H_

#include <cstdint>

namespace analytics {

// A uniformly drawn number from 0 to |bound| - 1 (|bound| > 0), from a
// generator of this process seeded once with the system's entropy source,
// the clock and the address layout, so that processes started together
// draw different sequences. Any thread.
uint32_t RandomBelow(uint32_t bound);

}  // namespace analytics

#endif  // QUILLON_ANALYTICS_SDK_RANDOM_SOURCE_H_
