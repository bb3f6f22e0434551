#include "platform/lock.h"

#include <thread>
#include <vector>

#include "gtest/gtest.h"

namespace platform {
namespace {

TEST(LockTest, GuardsAPlainCounterAcrossThreads) {
  Lock lock;
  long counter = 0;  // deliberately not atomic: only the lock protects it
  constexpr int kThreads = 4;
  constexpr int kIncrements = 20000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kIncrements; ++i) {
        LockGuard guard(lock);
        const long seen = counter;
        std::this_thread::yield();
        counter = seen + 1;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(counter, static_cast<long>(kThreads) * kIncrements);
}

}  // namespace
}  // namespace platform
