#include <algorithm>
#include <vector>

#include "platform/ui_task_queue.h"
#include "platform/ui_task_queue_state.h"

namespace platform {

namespace {

// The queues of this thread, for RunPendingUiTasks().
thread_local std::vector<UiTaskQueue*> thread_queues;

}  // namespace

void AttachToThread(UiTaskQueue* queue, UiTaskQueueState& /*state*/) {
  thread_queues.push_back(queue);
}

void DetachFromThread(UiTaskQueue* queue, UiTaskQueueState& /*state*/) {
  thread_queues.erase(
      std::remove(thread_queues.begin(), thread_queues.end(), queue),
      thread_queues.end());
}

// RunPendingUiTasks() finds the tasks without being woken.
bool WakeThread(UiTaskQueueState& /*state*/) { return true; }

size_t RunPendingUiTasks() {
  size_t handled = 0;
  // Copied: a task may create or destroy queues.
  const std::vector<UiTaskQueue*> queues = thread_queues;
  for (UiTaskQueue* queue : queues) {
    if (std::find(thread_queues.begin(), thread_queues.end(), queue) !=
        thread_queues.end()) {
      handled += queue->RunPending();
    }
  }
  return handled;
}

}  // namespace platform
