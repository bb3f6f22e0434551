#include "platform/ui_task_queue.h"

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace platform {
namespace {

// Counts the tasks destroyed without having run.
struct Token {
  explicit Token(int* destroyed) : destroyed(destroyed) {}
  ~Token() { ++*destroyed; }
  int* destroyed;
};

TEST(UiTaskQueueTest, ATaskThatDestroysItsQueueDropsTheRestUnrun) {
  auto queue = std::make_unique<UiTaskQueue>();
  const UiTaskQueue::Poster poster = queue->poster();
  std::vector<std::string> ran;
  int destroyed = 0;
  auto token = std::make_shared<Token>(&destroyed);
  ASSERT_TRUE(poster.Post([&] {
    ran.push_back("first");
    queue.reset();
  }));
  ASSERT_TRUE(poster.Post([&ran, token] { ran.push_back("second"); }));
  token.reset();

  RunPendingUiTasks();
  EXPECT_EQ(ran, std::vector<std::string>{"first"});
  EXPECT_EQ(destroyed, 1);  // the second task went, unrun
  EXPECT_FALSE(poster.Post([] {}));
}

TEST(UiTaskQueueTest, APostAfterTheQueueIsGoneIsRefusedAndTheTaskDestroyed) {
  UiTaskQueue::Poster poster;
  EXPECT_FALSE(poster.Post([] {}));  // never tied to a queue
  int destroyed = 0;
  {
    UiTaskQueue queue;
    poster = queue.poster();
    auto pending = std::make_shared<Token>(&destroyed);
    ASSERT_TRUE(poster.Post([pending] {}));
  }
  EXPECT_EQ(destroyed, 1);  // pending at destruction: dropped unrun
  auto late = std::make_shared<Token>(&destroyed);
  EXPECT_FALSE(poster.Post([late] {}));
  late.reset();
  EXPECT_EQ(destroyed, 2);
  EXPECT_EQ(RunPendingUiTasks(), 0u);
}

TEST(UiTaskQueueTest, AThrowingTaskLeavesTheRestOfItsBatchToRun) {
  UiTaskQueue queue;
  std::vector<int> ran;
  ASSERT_TRUE(queue.poster().Post([&] { ran.push_back(1); }));
  ASSERT_TRUE(queue.poster().Post([] { throw std::runtime_error("boom"); }));
  ASSERT_TRUE(queue.poster().Post([] { throw 7; }));
  ASSERT_TRUE(queue.poster().Post([&] { ran.push_back(4); }));
  testing::internal::CaptureStderr();
  RunPendingUiTasks();
  const std::string errors = testing::internal::GetCapturedStderr();
  EXPECT_EQ(ran, (std::vector<int>{1, 4}));
  EXPECT_NE(errors.find("boom"), std::string::npos);
  // The queue still works after the failures.
  ASSERT_TRUE(queue.poster().Post([&] { ran.push_back(5); }));
  RunPendingUiTasks();
  EXPECT_EQ(ran, (std::vector<int>{1, 4, 5}));
}

}  // namespace
}  // namespace platform
