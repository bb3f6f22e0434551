#include "platform/ui_task_queue.h"

#include <algorithm>
#include <deque>
#include <mutex>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace platform {

struct UiTaskQueue::Poster::State {
  std::mutex mutex;
  std::deque<Task> tasks;  // guarded by mutex
  bool closed = false;     // guarded by mutex
#ifdef _WIN32
  HWND window = nullptr;      // guarded by mutex once published
  bool wake_pending = false;  // guarded by mutex
#endif
};

namespace {

#ifdef _WIN32

constexpr wchar_t kWindowClass[] = L"QuillonUiTaskQueue";
constexpr UINT kWakeMessage = WM_APP + 0x2A;

LRESULT CALLBACK QueueWindowProc(HWND window, UINT message, WPARAM wparam,
                                 LPARAM lparam) {
  if (message == kWakeMessage) {
    auto* queue = reinterpret_cast<UiTaskQueue*>(
        GetWindowLongPtrW(window, GWLP_USERDATA));
    // Nothing may unwind into the system's message dispatch.
    try {
      if (queue != nullptr) queue->RunPending();
    } catch (...) {
    }
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

bool RegisterQueueWindowClass() {
  static const bool registered = [] {
    WNDCLASSEXW window_class = {};
    window_class.cbSize = sizeof(window_class);
    window_class.lpfnWndProc = QueueWindowProc;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = kWindowClass;
    return RegisterClassExW(&window_class) != 0 ||
           GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  }();
  return registered;
}

#else

// The queues of this thread, for RunPendingUiTasks().
thread_local std::vector<UiTaskQueue*> thread_queues;

#endif

}  // namespace

bool UiTaskQueue::Poster::Post(Task task) const {
  if (!state_) return false;
  {
    std::lock_guard<std::mutex> guard(state_->mutex);
    if (!state_->closed) {
#ifdef _WIN32
      if (!state_->wake_pending) {
        if (state_->window == nullptr ||
            !PostMessageW(state_->window, kWakeMessage, 0, 0)) {
          return false;
        }
        state_->wake_pending = true;
      }
#endif
      state_->tasks.push_back(std::move(task));
      return true;
    }
  }
  return false;  // |task| goes here, outside the lock
}

UiTaskQueue::UiTaskQueue() : state_(std::make_shared<Poster::State>()) {
#ifdef _WIN32
  if (RegisterQueueWindowClass()) {
    HWND window =
        CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                        nullptr, GetModuleHandleW(nullptr), nullptr);
    if (window != nullptr) {
      SetWindowLongPtrW(window, GWLP_USERDATA,
                        reinterpret_cast<LONG_PTR>(this));
      std::lock_guard<std::mutex> guard(state_->mutex);
      state_->window = window;
    }
  }
#else
  thread_queues.push_back(this);
#endif
}

UiTaskQueue::~UiTaskQueue() {
  std::deque<Task> dropped;
  {
    std::lock_guard<std::mutex> guard(state_->mutex);
    state_->closed = true;
    dropped.swap(state_->tasks);
#ifdef _WIN32
    if (state_->window != nullptr) DestroyWindow(state_->window);
    state_->window = nullptr;
#endif
  }
#ifndef _WIN32
  thread_queues.erase(
      std::remove(thread_queues.begin(), thread_queues.end(), this),
      thread_queues.end());
#endif
}

size_t UiTaskQueue::RunPending() {
  // A task may destroy this queue (its owner goes away): the state is kept
  // alive here, and the tasks still pending are then dropped unrun.
  const std::shared_ptr<Poster::State> state = state_;
  std::deque<Task> tasks;
  {
    std::lock_guard<std::mutex> guard(state->mutex);
    tasks.swap(state->tasks);
#ifdef _WIN32
    state->wake_pending = false;
#endif
  }
  size_t ran = 0;
  for (Task& task : tasks) {
    {
      std::lock_guard<std::mutex> guard(state->mutex);
      if (state->closed) break;
    }
    if (task) task();
    ++ran;
  }
  return ran;
}

size_t RunPendingUiTasks() {
  size_t handled = 0;
#ifdef _WIN32
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(message.wParam));
      break;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
    ++handled;
  }
#else
  // Copied: a task may create or destroy queues.
  const std::vector<UiTaskQueue*> queues = thread_queues;
  for (UiTaskQueue* queue : queues) {
    if (std::find(thread_queues.begin(), thread_queues.end(), queue) !=
        thread_queues.end()) {
      handled += queue->RunPending();
    }
  }
#endif
  return handled;
}

}  // namespace platform
