#ifndef QUILLON_PLATFORM_UI_TASK_QUEUE_STATE_H_
#define QUILLON_PLATFORM_UI_TASK_QUEUE_STATE_H_

#include <deque>

#include "platform/mutex.h"
#include "platform/thread_annotations.h"
#include "platform/ui_task_queue.h"

namespace platform {

// Shared by a queue and its posters; private to the queue's sources.
struct UiTaskQueueState {
  Mutex mutex;
  std::deque<UiTaskQueue::Task> tasks QUILLON_GUARDED_BY(mutex);
  bool closed QUILLON_GUARDED_BY(mutex) = false;
  bool wake_pending QUILLON_GUARDED_BY(mutex) = false;
  // What wakes the thread's loop: the message-only window on Windows.
  void* wake_target QUILLON_GUARDED_BY(mutex) = nullptr;
};

// Per platform (ui_task_queue_win32.cc, ui_task_queue_posix.cc): ties a new
// queue to its thread's loop, unties it when it goes, and wakes the loop for
// a first pending task.
void AttachToThread(UiTaskQueue* queue, UiTaskQueueState& state)
    QUILLON_EXCLUDES(state.mutex);
void DetachFromThread(UiTaskQueue* queue, UiTaskQueueState& state)
    QUILLON_REQUIRES(state.mutex);
bool WakeThread(UiTaskQueueState& state) QUILLON_REQUIRES(state.mutex);

}  // namespace platform

#endif  // QUILLON_PLATFORM_UI_TASK_QUEUE_STATE_H_
