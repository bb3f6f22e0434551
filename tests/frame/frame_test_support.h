// Windows, logs and heap checks shared by the frame tests.
#ifndef QUILLON_TESTS_FRAME_FRAME_TEST_SUPPORT_H_
#define QUILLON_TESTS_FRAME_FRAME_TEST_SUPPORT_H_

#include <windows.h>
// After windows.h, whose types it uses.
#include <commctrl.h>

#include <cstddef>
#include <vector>

namespace frame_test {

// What a window's own procedure (the one below every subclass) received.
struct WindowLog {
  std::vector<UINT> messages;
  std::vector<SIZE> sizes;             // client sizes of every WM_SIZE
  std::vector<LPARAM> action_lparams;  // lParam of every frame action
  bool Received(UINT message) const;
  int Count(UINT message) const;
};

// Registers (once) a window class whose procedure logs into LogOf().
ATOM RegisterLoggingClass(const wchar_t* class_name);

WindowLog& LogOf(HWND window);
void ClearLogs();

// True when `procedure` subclasses `window` with the frame's subclass id and
// reference data 0.
bool HasFrameSubclass(HWND window, SUBCLASSPROC procedure);

// Dispatches everything queued for this thread.
void PumpMessages();

// True when the process heap holds an allocated block of exactly `size`
// bytes at `block`. Walks the heap instead of touching the block, so it is
// safe to ask about freed memory.
bool IsLiveHeapBlock(const void* block, std::size_t size);

// A block of `size` bytes from the process heap, as the user interface
// allocates frame action records.
void* HeapBlock(std::size_t size);

// Ends any modal move or size loop of this thread from inside it: a timer
// that keeps posting a left-button release (and, should that not do, Esc) to
// the window holding the capture. Records whether the frame saw the loop.
class MoveLoopEnder {
 public:
  MoveLoopEnder();
  ~MoveLoopEnder();
  MoveLoopEnder(const MoveLoopEnder&) = delete;
  MoveLoopEnder& operator=(const MoveLoopEnder&) = delete;

  // Ticks during which FrameState's in-size/move flag was set.
  int ticks_in_size_move() const;
  int ticks() const;

 private:
  UINT_PTR timer_;
};

// Presses a mouse button through the system's input queue (SendInput with
// |down|) and lets it go (|up|) when the object goes.
class HeldButton {
 public:
  HeldButton(DWORD down, DWORD up);
  ~HeldButton();
  HeldButton(const HeldButton&) = delete;
  HeldButton& operator=(const HeldButton&) = delete;

 private:
  DWORD up_;
};

}  // namespace frame_test

#endif  // QUILLON_TESTS_FRAME_FRAME_TEST_SUPPORT_H_
