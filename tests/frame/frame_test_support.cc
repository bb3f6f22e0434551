#include "tests/frame/frame_test_support.h"

#include <map>

#include "frame/frame_state.h"
#include "frame/frame_window.h"

namespace frame_test {

namespace {

std::map<HWND, WindowLog>& Logs() {
  static std::map<HWND, WindowLog> logs;
  return logs;
}

LRESULT CALLBACK LoggingProc(HWND window, UINT message, WPARAM wparam,
                             LPARAM lparam) {
  WindowLog& log = LogOf(window);
  log.messages.push_back(message);
  if (message == WM_SIZE) {
    log.sizes.push_back(SIZE{LOWORD(lparam), HIWORD(lparam)});
  } else if (message == frame::FRAME_ACTION_MESSAGE) {
    log.action_lparams.push_back(lparam);
  } else if (message == WM_GETMINMAXINFO) {
    // Marks the record, so a test can tell whether this procedure saw it.
    reinterpret_cast<MINMAXINFO*>(lparam)->ptReserved.x = 4242;
  } else if (message == WM_DPICHANGED) {
    // As the application's window does: it takes the suggested rectangle.
    const RECT* suggested = reinterpret_cast<const RECT*>(lparam);
    SetWindowPos(window, nullptr, suggested->left, suggested->top,
                 suggested->right - suggested->left,
                 suggested->bottom - suggested->top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

int tick_count = 0;
int ticks_in_size_move_count = 0;

VOID CALLBACK EndMoveLoop(HWND, UINT, UINT_PTR, DWORD) {
  ++tick_count;
  if (frame::frame_state.in_size_move.load() != 0) ++ticks_in_size_move_count;
  HWND capture = GetCapture();
  if (capture == nullptr) return;
  if (tick_count < 20) {
    PostMessageW(capture, WM_LBUTTONUP, 0, 0);
  } else {
    PostMessageW(capture, WM_KEYDOWN, VK_ESCAPE, 0);
  }
}

}  // namespace

bool WindowLog::Received(UINT message) const { return Count(message) > 0; }

int WindowLog::Count(UINT message) const {
  int count = 0;
  for (UINT m : messages) count += m == message ? 1 : 0;
  return count;
}

ATOM RegisterLoggingClass(const wchar_t* class_name) {
  WNDCLASSEXW existing = {};
  existing.cbSize = sizeof(existing);
  // Returns the class atom when the class exists.
  const BOOL atom =
      GetClassInfoExW(GetModuleHandleW(nullptr), class_name, &existing);
  if (atom != 0) return static_cast<ATOM>(atom);
  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = &LoggingProc;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.lpszClassName = class_name;
  return RegisterClassW(&window_class);
}

WindowLog& LogOf(HWND window) { return Logs()[window]; }

void ClearLogs() { Logs().clear(); }

bool HasFrameSubclass(HWND window, SUBCLASSPROC procedure) {
  // Exported by ordinal only on some systems, and missing from the import
  // library.
  using GetWindowSubclassFunction =
      BOOL(WINAPI*)(HWND, SUBCLASSPROC, UINT_PTR, DWORD_PTR*);
  HMODULE comctl32 = GetModuleHandleW(L"comctl32.dll");
  FARPROC found = GetProcAddress(comctl32, "GetWindowSubclass");
  if (found == nullptr) found = GetProcAddress(comctl32, MAKEINTRESOURCEA(411));
  if (found == nullptr) return false;
  auto get_window_subclass = reinterpret_cast<GetWindowSubclassFunction>(
      reinterpret_cast<void*>(found));
  DWORD_PTR ref_data = 99;
  return get_window_subclass(window, procedure, frame::kFrameSubclassId,
                             &ref_data) &&
         ref_data == 0;
}

void PumpMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

bool IsLiveHeapBlock(const void* block, std::size_t size) {
  HANDLE heap = GetProcessHeap();
  if (!HeapLock(heap)) return false;
  bool found = false;
  PROCESS_HEAP_ENTRY entry = {};
  while (HeapWalk(heap, &entry)) {
    if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0 &&
        entry.lpData == block && entry.cbData == size) {
      found = true;
      break;
    }
  }
  HeapUnlock(heap);
  return found;
}

void* HeapBlock(std::size_t size) {
  return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size);
}

MoveLoopEnder::MoveLoopEnder() {
  tick_count = 0;
  ticks_in_size_move_count = 0;
  timer_ = SetTimer(nullptr, 0, 50, &EndMoveLoop);
}

MoveLoopEnder::~MoveLoopEnder() { KillTimer(nullptr, timer_); }

int MoveLoopEnder::ticks_in_size_move() const {
  return ticks_in_size_move_count;
}

int MoveLoopEnder::ticks() const { return tick_count; }

namespace {

void SendButton(DWORD flags) {
  INPUT input = {};
  input.type = INPUT_MOUSE;
  input.mi.dwFlags = flags;
  SendInput(1, &input, sizeof(input));
}

}  // namespace

HeldButton::HeldButton(DWORD down, DWORD up) : up_(up) { SendButton(down); }

HeldButton::~HeldButton() { SendButton(up_); }

}  // namespace frame_test
