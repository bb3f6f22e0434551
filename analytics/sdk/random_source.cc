#include "analytics/sdk/random_source.h"

#include <chrono>
#include <mutex>
#include <random>

namespace analytics {

namespace {

std::mt19937_64 MakeGenerator() {
  std::random_device device;
  const int on_stack = 0;
  std::seed_seq seed{
      device(),
      device(),
      device(),
      device(),
      static_cast<uint32_t>(
          std::chrono::high_resolution_clock::now().time_since_epoch().count()),
      static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&on_stack)),
      static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&on_stack) >> 32)};
  return std::mt19937_64(seed);
}

}  // namespace

uint32_t RandomBelow(uint32_t bound) {
  static std::mutex mutex;
  static std::mt19937_64 generator = MakeGenerator();
  std::uniform_int_distribution<uint32_t> draw(0, bound - 1);
  std::lock_guard<std::mutex> guard(mutex);
  return draw(generator);
}

}  // namespace analytics
