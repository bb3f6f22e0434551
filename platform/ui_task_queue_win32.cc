#include <windows.h>

#include "platform/ui_task_queue.h"
#include "platform/ui_task_queue_state.h"

namespace platform {

namespace {

constexpr wchar_t kWindowClass[] = L"QuillonUiTaskQueue";
constexpr UINT kWakeMessage = WM_APP + 0x2A;

// RunPending() lets no exception out, so none reaches the message dispatch.
LRESULT CALLBACK QueueWindowProc(HWND window, UINT message, WPARAM wparam,
                                 LPARAM lparam) {
  if (message == kWakeMessage) {
    auto* queue = reinterpret_cast<UiTaskQueue*>(
        GetWindowLongPtrW(window, GWLP_USERDATA));
    if (queue != nullptr) queue->RunPending();
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

}  // namespace

void AttachToThread(UiTaskQueue* queue, UiTaskQueueState& state) {
  if (!RegisterQueueWindowClass()) return;
  HWND window =
      CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                      nullptr, GetModuleHandleW(nullptr), nullptr);
  if (window == nullptr) return;
  SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(queue));
  MutexLock guard(state.mutex);
  state.wake_target = window;
}

void DetachFromThread(UiTaskQueue* /*queue*/, UiTaskQueueState& state) {
  if (state.wake_target != nullptr) {
    DestroyWindow(static_cast<HWND>(state.wake_target));
  }
  state.wake_target = nullptr;
}

bool WakeThread(UiTaskQueueState& state) {
  return state.wake_target != nullptr &&
         PostMessageW(static_cast<HWND>(state.wake_target), kWakeMessage, 0,
                      0) != 0;
}

size_t RunPendingUiTasks() {
  size_t handled = 0;
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
  return handled;
}

}  // namespace platform
