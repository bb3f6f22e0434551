#include "platform/ui_task_queue.h"

#include <cstdio>
#include <exception>
#include <utility>

#include "platform/ui_task_queue_state.h"

namespace platform {

namespace {

// Runs |task|; what it throws ends here, reported, so that the tasks behind
// it still run and nothing unwinds into the system's message dispatch.
void RunReported(const UiTaskQueue::Task& task) {
  try {
    if (task) task();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "UI task failed: %s\n", error.what());
    std::fflush(stderr);
  } catch (...) {
    std::fprintf(stderr, "UI task failed: unknown exception\n");
    std::fflush(stderr);
  }
}

}  // namespace

bool UiTaskQueue::Poster::Post(Task task) const {
  if (!state_) return false;
  {
    MutexLock guard(state_->mutex);
    if (!state_->closed) {
      if (!state_->wake_pending) {
        if (!WakeThread(*state_)) return false;
        state_->wake_pending = true;
      }
      state_->tasks.push_back(std::move(task));
      return true;
    }
  }
  return false;  // |task| goes here, outside the lock
}

UiTaskQueue::UiTaskQueue() : state_(std::make_shared<UiTaskQueueState>()) {
  AttachToThread(this, *state_);
}

UiTaskQueue::~UiTaskQueue() {
  std::deque<Task> dropped;
  MutexLock guard(state_->mutex);
  state_->closed = true;
  dropped.swap(state_->tasks);
  DetachFromThread(this, *state_);
}

size_t UiTaskQueue::RunPending() {
  // A task may destroy this queue (its owner goes away): the state is kept
  // alive here, and the tasks still pending are then dropped unrun.
  const std::shared_ptr<UiTaskQueueState> state = state_;
  std::deque<Task> tasks;
  {
    MutexLock guard(state->mutex);
    tasks.swap(state->tasks);
    state->wake_pending = false;
  }
  size_t ran = 0;
  for (Task& task : tasks) {
    {
      MutexLock guard(state->mutex);
      if (state->closed) break;
    }
    RunReported(task);
    ++ran;
  }
  return ran;
}

}  // namespace platform
