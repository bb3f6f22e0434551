#ifndef QUILLON_PLATFORM_UI_TASK_QUEUE_STATE_H_
#define QUILLON_PLATFORM_UI_TASK_QUEUE_STATE_H_

#include <deque>
#include <mutex>

#include "platform/ui_task_queue.h"

namespace platform {

// Shared by the queue and its posters; private to the queue's sources.
struct UiTaskQueue::Poster::State {
  std::mutex mutex;
  std::deque<Task> tasks;     // guarded by mutex
  bool closed = false;        // guarded by mutex
  bool wake_pending = false;  // guarded by mutex
  // What wakes the thread's loop: the message-only window on Windows.
  void* wake_target = nullptr;  // guarded by mutex once published
};

}  // namespace platform

#endif  // QUILLON_PLATFORM_UI_TASK_QUEUE_STATE_H_
