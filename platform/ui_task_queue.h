#ifndef QUILLON_PLATFORM_UI_TASK_QUEUE_H_
#define QUILLON_PLATFORM_UI_TASK_QUEUE_H_

#include <functional>
#include <memory>

namespace platform {

// What the queue and its posters share (ui_task_queue_state.h).
struct UiTaskQueueState;

// Runs tasks, posted from any thread, on the thread that created the queue
// (the UI thread), in posting order. On Windows a hidden message-only window
// of that thread is woken by a posted message, so the thread's ordinary
// message loop runs the tasks; elsewhere RunPendingUiTasks() stands in for
// the message loop.
//
// Destroying the queue (on its own thread) destroys the tasks still pending
// without running them; posts after that are refused.
class UiTaskQueue {
 public:
  using Task = std::function<void()>;

  // A handle for other threads; it stays safe to use after the queue is gone.
  class Poster {
   public:
    Poster() = default;
    // False, with |task| destroyed unrun on the calling thread, when the
    // queue is gone or cannot be woken.
    bool Post(Task task) const;

   private:
    friend class UiTaskQueue;
    explicit Poster(std::shared_ptr<UiTaskQueueState> state)
        : state_(std::move(state)) {}
    std::shared_ptr<UiTaskQueueState> state_;
  };

  UiTaskQueue();
  ~UiTaskQueue();
  UiTaskQueue(const UiTaskQueue&) = delete;
  UiTaskQueue& operator=(const UiTaskQueue&) = delete;

  Poster poster() const { return Poster(state_); }

  // Runs the tasks pending now (tasks they post wait for the next turn).
  // Returns how many ran. Call on the queue's thread. A task that throws is
  // reported on standard error and the rest still run: the tasks are
  // independent (often answers someone waits for), so one failure must not
  // silently drop the others.
  size_t RunPending();

 private:
  std::shared_ptr<UiTaskQueueState> state_;
};

// Lets the calling thread handle what is pending for it: on Windows every
// queued window message (which runs the tasks of its queues), elsewhere the
// tasks of every queue created on this thread. Returns how many tasks or
// messages were handled. For tests and tools that have no message loop.
size_t RunPendingUiTasks();

}  // namespace platform

#endif  // QUILLON_PLATFORM_UI_TASK_QUEUE_H_
