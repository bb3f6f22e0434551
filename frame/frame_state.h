// The frame module's process-wide state, shared by the exported function
// table, the window-creation hook, the subclass procedures and the
// "frame/window" channel.
#ifndef QUILLON_FRAME_FRAME_STATE_H_
#define QUILLON_FRAME_FRAME_STATE_H_

#include <windows.h>

#include <atomic>
#include <cstdint>

namespace frame {

// A size in units of 1/96 inch. A zero in either member means "no limit".
struct FrameSize {
  int32_t width;
  int32_t height;
};

// Matches User32's GetDpiForWindow, which replaces the default at start-up
// when the system has it.
using DpiForWindowFunction = UINT(WINAPI*)(HWND);

// Returns 96 for any window: the DPI used where the system cannot tell the
// DPI of a single window.
UINT WINAPI DefaultDpiForWindow(HWND window);

// The user interface calls the function table from its own thread while the
// window procedures read the same fields on the main thread, so every field is
// atomic. A size is one 64-bit value, so a reader never sees the width of one
// update with the height of another.
struct FrameState {
  std::atomic<int32_t> started{0};
  std::atomic<int32_t> per_window_dpi{0};
  std::atomic<DpiForWindowFunction> dpi_for_window{&DefaultDpiForWindow};
  std::atomic<HHOOK> creation_hook{nullptr};
  std::atomic<HWND> app_window{nullptr};
  std::atomic<HWND> view_window{nullptr};
  std::atomic<FrameSize> minimum_size{FrameSize{0, 0}};
  std::atomic<FrameSize> maximum_size{FrameSize{0, 0}};
  std::atomic<int32_t> minimising{0};
  std::atomic<int32_t> in_size_move{0};
  std::atomic<int32_t> dpi_changed_during_size_move{0};
};

static_assert(std::atomic<FrameSize>::is_always_lock_free,
              "a size must be readable and writable in one step");

// The single record. It is constant-initialised, so it holds its defaults
// before any static initialiser of the process runs.
extern FrameState frame_state;

}  // namespace frame

#endif  // QUILLON_FRAME_FRAME_STATE_H_
