#include "frame/frame_api.h"

#include <cstdio>

#include "frame/frame_state.h"
#include "frame/frame_window.h"

namespace frame {

bool IsStarted() { return frame_state.started.load() != 0; }

HWND GetAppWindow() { return frame_state.app_window.load(); }

// Kept for the table's layout; the window's visibility is the user
// interface's business alone.
void SetShowAllowed(bool /*allowed*/) {}

namespace {

// A negative size means nothing sensible; kept, it would shrink or stretch
// every later move and resize to it. It counts as "no limit" instead.
FrameSize UsableLimit(const char* which, int32_t width, int32_t height) {
  if (width >= 0 && height >= 0) return FrameSize{width, height};
  std::fprintf(stderr,
               "Frame %s size %d x %d ignored: sizes cannot be negative\n",
               which, static_cast<int>(width), static_cast<int>(height));
  std::fflush(stderr);
  return FrameSize{0, 0};
}

}  // namespace

void SetMinimumSize(int32_t width, int32_t height) {
  frame_state.minimum_size.store(UsableLimit("minimum", width, height));
}

void SetMaximumSize(int32_t width, int32_t height) {
  frame_state.maximum_size.store(UsableLimit("maximum", width, height));
}

// Kept for the table's layout; maximised windows need no inset here.
void SetMaximizedInset(int32_t /*inset*/) {}

bool HasPerWindowDpi() { return frame_state.per_window_dpi.load() != 0; }

bool dragAppWindow() {
  HWND window = frame_state.app_window.load();
  if (window == nullptr) return false;
  // Posted, not sent: the caller (any thread) is not held for the whole
  // move, and the window's thread, which owns the mouse capture, decides
  // whether a button is still down when it gets there.
  return PostMessageW(window, DragRequestMessage(), 0, 0) != FALSE;
}

namespace {

constexpr PublicFrameTable kPublicFrameTable = {
    &IsStarted,      &GetAppWindow,      &SetShowAllowed,  &SetMinimumSize,
    &SetMaximumSize, &SetMaximizedInset, &HasPerWindowDpi,
};

constexpr PrivateFrameTable kPrivateFrameTable = {&dragAppWindow};

constexpr FrameApi kFrameApi = {&kPublicFrameTable, &kPrivateFrameTable};

}  // namespace

void FrameStartup() {
  if (frame_state.started.exchange(1) != 0) return;

  // Stays loaded: the function found in it is used for the life of the
  // process.
  HMODULE user32 = LoadLibraryW(L"User32.dll");
  if (user32 != nullptr) {
    auto get_dpi_for_window = reinterpret_cast<DpiForWindowFunction>(
        reinterpret_cast<void*>(GetProcAddress(user32, "GetDpiForWindow")));
    if (get_dpi_for_window != nullptr) {
      frame_state.per_window_dpi.store(1);
      frame_state.dpi_for_window.store(get_dpi_for_window);
    }
  }

  HHOOK hook = SetWindowsHookExW(WH_CBT, &WindowCreationHook, nullptr,
                                 GetCurrentThreadId());
  if (hook == nullptr) {
    std::fputs("Could not install the window creation hook\n", stderr);
    std::fflush(stderr);
  }
  frame_state.creation_hook.store(hook);
}

namespace {

// Runs FrameStartup during static initialisation and, should the windows
// never be found, removes the hook again when the process winds down.
struct FrameStartupRunner {
  FrameStartupRunner() { FrameStartup(); }
  ~FrameStartupRunner() {
    HHOOK hook = frame_state.creation_hook.exchange(nullptr);
    if (hook != nullptr) UnhookWindowsHookEx(hook);
  }
  FrameStartupRunner(const FrameStartupRunner&) = delete;
  FrameStartupRunner& operator=(const FrameStartupRunner&) = delete;
};

// Defined in this order, so FrameStartup runs before the address is kept.
FrameStartupRunner frame_startup_runner;
const FrameApi* const kKeptFrameApi = frame_window_api();

}  // namespace

const FrameApi* KeptFrameApi() { return kKeptFrameApi; }

}  // namespace frame

extern "C" const frame::FrameApi* frame_window_api() {
  return &frame::kFrameApi;
}
