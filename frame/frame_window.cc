#include "frame/frame_window.h"

#include <windows.h>
// After windows.h, whose types it uses.
#include <commctrl.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <optional>

#include "frame/frame_state.h"

namespace frame {

namespace {

void RecogniseWindow(HWND window, const CBT_CREATEWNDW& creation) {
  const CREATESTRUCTW* create = creation.lpcs;
  if (create == nullptr || create->lpCreateParams == nullptr) return;
  // A window created by class atom carries the atom, not a string.
  if (IS_INTRESOURCE(create->lpszClass)) return;
  if (std::wcscmp(create->lpszClass, kAppWindowClassName) == 0) {
    frame_state.app_window.store(window);
    SetWindowSubclass(window, &FrameWindowProc, kFrameSubclassId, 0);
  } else if (std::wcscmp(create->lpszClass, kViewWindowClassName) == 0) {
    frame_state.view_window.store(window);
    SetWindowSubclass(window, &ViewWindowProc, kFrameSubclassId, 0);
  }
}

// Scales a size from 1/96 inch to pixels, truncating toward zero; clamped so
// that absurd limits cannot overflow.
LONG ScaleToPixels(int32_t value, double scale) {
  const double pixels = value * scale;
  if (pixels >= static_cast<double>(LONG_MAX)) return LONG_MAX;
  if (pixels <= static_cast<double>(LONG_MIN)) return LONG_MIN;
  return static_cast<LONG>(pixels);
}

// A minimum larger than the whole desktop could never be met; it is cut to
// the virtual screen. A maximum below the minimum is raised to it.
void ApplySizeLimits(HWND window, MINMAXINFO* info) {
  const FrameSize minimum = frame_state.minimum_size.load();
  const FrameSize maximum = frame_state.maximum_size.load();
  const bool has_minimum = minimum.width != 0 && minimum.height != 0;
  const bool has_maximum = maximum.width != 0 && maximum.height != 0;
  if (!has_minimum && !has_maximum) return;
  const double scale = frame_state.dpi_for_window.load()(window) / 96.0;
  POINT min_size{};
  if (has_minimum) {
    const LONG screen_width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
    const LONG screen_height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    min_size.x = ScaleToPixels(minimum.width, scale);
    min_size.y = ScaleToPixels(minimum.height, scale);
    if (screen_width > 0) min_size.x = std::min(min_size.x, screen_width);
    if (screen_height > 0) min_size.y = std::min(min_size.y, screen_height);
    info->ptMinTrackSize = min_size;
  }
  if (has_maximum) {
    info->ptMaxTrackSize.x =
        std::max(ScaleToPixels(maximum.width, scale), min_size.x);
    info->ptMaxTrackSize.y =
        std::max(ScaleToPixels(maximum.height, scale), min_size.y);
  }
}

// Centres the window on the work area of the monitor under the mouse, which
// is where the user is looking, whatever position the window asked for.
void CentreOnCursorMonitor(HWND window, const CREATESTRUCTW& create) {
  POINT cursor;
  if (!GetCursorPos(&cursor)) return;
  HMONITOR monitor = MonitorFromPoint(cursor, MONITOR_DEFAULTTONEAREST);
  MONITORINFO info = {};
  info.cbSize = sizeof(info);
  if (monitor == nullptr || !GetMonitorInfoW(monitor, &info)) return;
  const RECT& work = info.rcWork;
  // 64-bit, so no requested size can overflow; the division truncates toward
  // zero, and the results always fit in 32 bits again.
  const int64_t x =
      work.left + (int64_t{work.right} - work.left - create.cx) / 2;
  const int64_t y =
      work.top + (int64_t{work.bottom} - work.top - create.cy) / 2;
  SetWindowPos(window, nullptr, static_cast<int>(x), static_cast<int>(y), 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void LogIgnoredAction(WPARAM action, const char* reason) {
  std::fprintf(stderr, "Frame action %llu ignored: %s\n",
               static_cast<unsigned long long>(action), reason);
  std::fflush(stderr);
}

// The size of |block| when it is a live block of the process heap, else 0.
// Any program can post the message with any number in lParam; only what
// passes this is read or freed.
SIZE_T LiveHeapBlockSize(const void* block) {
  if (!MayBeHeapBlock(block)) return 0;
  HANDLE heap = GetProcessHeap();
  if (!HeapValidate(heap, 0, block)) return 0;
  const SIZE_T size = HeapSize(heap, 0, block);
  return size == static_cast<SIZE_T>(-1) ? 0 : size;
}

// |lparam| as the record of |action| when it is a live heap block of at
// least the record's size; null, with a line saying so, otherwise.
template <typename Record>
Record* ActionRecord(WPARAM action, LPARAM lparam) {
  auto* record = reinterpret_cast<Record*>(lparam);
  if (LiveHeapBlockSize(record) >= sizeof(Record)) return record;
  LogIgnoredAction(action, "the record is not a live heap block of its size");
  return nullptr;
}

bool MoveResizeAction(HWND window, LPARAM lparam) {
  auto* record =
      ActionRecord<FrameMoveResizeRecord>(kFrameActionMoveResize, lparam);
  if (record == nullptr) return false;
  SetWindowPos(window, nullptr, record->x, record->y, record->width,
               record->height, static_cast<UINT>(record->flags));
  HeapFree(GetProcessHeap(), 0, record);
  return true;
}

bool SetTitleAction(HWND window, LPARAM lparam) {
  auto* record = ActionRecord<FrameTitleRecord>(kFrameActionSetTitle, lparam);
  if (record == nullptr) return false;
  wchar_t* title = record->title;
  // Both blocks are freed below; a title that is the record would be freed
  // twice.
  if (static_cast<void*>(title) == static_cast<void*>(record)) {
    LogIgnoredAction(kFrameActionSetTitle, "the title points at its record");
    return false;
  }
  // Read no further than the title's own block.
  const size_t capacity = LiveHeapBlockSize(title) / sizeof(wchar_t);
  if (title != nullptr && std::wmemchr(title, L'\0', capacity) == nullptr) {
    LogIgnoredAction(kFrameActionSetTitle,
                     "the title is not a terminated text in a live heap block");
    return false;
  }
  SetWindowTextW(window, title);
  HANDLE heap = GetProcessHeap();
  if (title != nullptr) HeapFree(heap, 0, title);
  HeapFree(heap, 0, record);
  return true;
}

// Carries out a frame action; returns true when it freed the record.
bool RunFrameAction(HWND window, WPARAM action, LPARAM lparam) {
  switch (action) {
    case kFrameActionMoveResize:
      return MoveResizeAction(window, lparam);
    case kFrameActionSetTitle:
      return SetTitleAction(window, lparam);
    case kFrameActionRefreshView:
      RefreshViewSize();
      return false;
    default:
      return false;
  }
}

// A move starts only while the primary button is down: one started after
// the button went up would leave the window stuck to the cursor until the
// next click. The key state is the physical button's, so with swapped
// buttons the primary one is the right.
bool PrimaryButtonDown() {
  const int primary =
      GetSystemMetrics(SM_SWAPBUTTON) != 0 ? VK_RBUTTON : VK_LBUTTON;
  return (GetAsyncKeyState(primary) & 0x8000) != 0;
}

// SC_MOVE plus HTCAPTION: the system moves the window as if its caption were
// dragged, in a modal loop that ends with the mouse button going up.
void RunMoveLoop(HWND window) {
  ReleaseCapture();
  SendMessageW(window, WM_SYSCOMMAND, SC_MOVE | HTCAPTION, 0);
}

void StartDragIfButtonDown(HWND window) {
  if (PrimaryButtonDown()) RunMoveLoop(window);
}

// The declared maximise button. Main thread only: the channel handler that
// declares it and the window procedures that use it both run there.
struct MaximizeButton {
  bool declared = false;
  MaximizeButtonBounds bounds{};
  bool hovered = false;
  bool pressed = false;
  bool tracking = false;
  MaximizeButtonListener listener = nullptr;
};
MaximizeButton maximize_button;

void SetMaximizeButtonState(bool hovered, bool pressed) {
  MaximizeButton& button = maximize_button;
  if (button.hovered == hovered && button.pressed == pressed) return;
  button.hovered = hovered;
  button.pressed = pressed;
  if (button.listener != nullptr) button.listener(hovered, pressed);
}

// The button on the screen at the window's current DPI; false when none is
// declared. Edges round outwards, so the button's every pixel is inside.
bool MaximizeButtonOnScreen(RECT* rect) {
  const MaximizeButton& button = maximize_button;
  HWND app = frame_state.app_window.load();
  if (!button.declared || app == nullptr) return false;
  HWND view = frame_state.view_window.load();
  POINT origin{0, 0};
  if (!ClientToScreen(view != nullptr ? view : app, &origin)) return false;
  const double scale = frame_state.dpi_for_window.load()(app) / 96.0;
  const MaximizeButtonBounds& b = button.bounds;
  rect->left = origin.x + static_cast<LONG>(std::floor(b.left * scale));
  rect->top = origin.y + static_cast<LONG>(std::floor(b.top * scale));
  rect->right =
      origin.x + static_cast<LONG>(std::ceil((b.left + b.width) * scale));
  rect->bottom =
      origin.y + static_cast<LONG>(std::ceil((b.top + b.height) * scale));
  return true;
}

bool OverMaximizeButton(LPARAM lparam) {
  RECT rect;
  if (!MaximizeButtonOnScreen(&rect)) return false;
  // Signed screen coordinates.
  const POINT point{
      static_cast<int16_t>(static_cast<uint16_t>(lparam & 0xFFFF)),
      static_cast<int16_t>(static_cast<uint16_t>((lparam >> 16) & 0xFFFF))};
  return PtInRect(&rect, point) != FALSE;
}

// Over the declared button the view steps aside, so the system asks the
// top-level window, which answers HTMAXBUTTON.
bool ViewStepsAsideForMaximizeButton(HWND view, LPARAM lparam) {
  HWND app = frame_state.app_window.load();
  return app != nullptr && GetParent(view) == app && OverMaximizeButton(lparam);
}

bool IsSizingHitCode(LRESULT code) {
  return code >= HTLEFT && code <= HTBOTTOMRIGHT;
}

// The view covers the whole client area, so the top-level window's sizing
// hit test would never be asked. Where the top-level window answers a sizing
// code for the point, the view steps aside (HTTRANSPARENT) and the system asks
// the window beneath it; the rest of the view stays the view's. A maximised
// window has no sizing band.
LRESULT HitTestView(HWND view, WPARAM wparam, LPARAM lparam) {
  if (ViewStepsAsideForMaximizeButton(view, lparam)) return HTTRANSPARENT;
  HWND app = frame_state.app_window.load();
  if (app != nullptr && GetParent(view) == app && !IsZoomed(app) &&
      IsSizingHitCode(SendMessageW(app, WM_NCHITTEST, 0, lparam))) {
    return HTTRANSPARENT;
  }
  return DefSubclassProc(view, WM_NCHITTEST, wparam, lparam);
}

}  // namespace

LRESULT CALLBACK WindowCreationHook(int code, WPARAM wparam, LPARAM lparam) {
  if (code == HCBT_CREATEWND && lparam != 0) {
    RecogniseWindow(reinterpret_cast<HWND>(wparam),
                    *reinterpret_cast<const CBT_CREATEWNDW*>(lparam));
  }
  // Hooks further down the chain (including other programs' global hooks)
  // still get to see the window.
  const LRESULT result = CallNextHookEx(nullptr, code, wparam, lparam);
  if (frame_state.app_window.load() != nullptr &&
      frame_state.view_window.load() != nullptr) {
    HHOOK hook = frame_state.creation_hook.exchange(nullptr);
    if (hook != nullptr) UnhookWindowsHookEx(hook);
  }
  return result;
}

UINT DragRequestMessage() {
  // Registration fails only when the system's atom table is full; a private
  // number of the window then does the same job.
  static const UINT registered =
      RegisterWindowMessageW(L"quillon_pc.frame.drag_request");
  return registered != 0 ? registered : WM_APP + 0x3FE;
}

bool DragAppWindowToEnd() {
  HWND window = frame_state.app_window.load();
  if (window == nullptr || !PrimaryButtonDown()) return false;
  RunMoveLoop(window);
  return true;
}

void SetMaximizeButtonBounds(const MaximizeButtonBounds* bounds) {
  maximize_button.declared = bounds != nullptr;
  if (bounds != nullptr) {
    maximize_button.bounds = *bounds;
  } else {
    SetMaximizeButtonState(false, false);
  }
}

void SetMaximizeButtonListener(MaximizeButtonListener listener) {
  maximize_button.listener = listener;
}

bool MayBeHeapBlock(const void* block) {
  const auto address = reinterpret_cast<uintptr_t>(block);
  if (address == 0 || address % MEMORY_ALLOCATION_ALIGNMENT != 0) return false;
  MEMORY_BASIC_INFORMATION info{};
  if (VirtualQuery(block, &info, sizeof(info)) != sizeof(info)) return false;
  return info.State == MEM_COMMIT && info.Type == MEM_PRIVATE &&
         info.Protect == PAGE_READWRITE;
}

void RefreshViewSize() {
  HWND view = frame_state.view_window.load();
  if (view == nullptr) return;
  RECT client;
  if (!GetClientRect(frame_state.app_window.load(), &client)) return;
  const int width = client.right - client.left;
  const int height = client.bottom - client.top;
  // Two changes in a row, so the view lays itself out even when its size was
  // already right.
  SetWindowPos(view, nullptr, 0, 0, width + 1, height + 1,
               SWP_NOMOVE | SWP_NOACTIVATE);
  SetWindowPos(view, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOACTIVATE);
}

LRESULT CALLBACK ViewWindowProc(HWND window, UINT message, WPARAM wparam,
                                LPARAM lparam, UINT_PTR /*subclass_id*/,
                                DWORD_PTR /*ref_data*/) {
  switch (message) {
    case WM_CREATE: {
      const LRESULT result = DefSubclassProc(window, message, wparam, lparam);
      SendMessageW(window, WM_DPICHANGED_BEFOREPARENT, 0, 0);
      RefreshViewSize();
      return result;
    }
    case WM_NCHITTEST:
      return HitTestView(window, wparam, lparam);
    case WM_NCDESTROY: {
      // Nothing may refer to the window once it is gone.
      HWND expected = window;
      frame_state.view_window.compare_exchange_strong(expected, nullptr);
      RemoveWindowSubclass(window, &ViewWindowProc, kFrameSubclassId);
      break;
    }
    default:
      break;
  }
  return DefSubclassProc(window, message, wparam, lparam);
}

namespace {

// One handler per message the frame handles. A handler that returns no value
// lets the message go on to the window's own procedure, with the parameters
// as the handler left them.
using FrameAnswer = std::optional<LRESULT>;
using FrameHandler = FrameAnswer (*)(HWND window, UINT message, WPARAM wparam,
                                     LPARAM& lparam);

FrameAnswer OnNcCreate(HWND window, UINT, WPARAM, LPARAM&) {
  frame_state.app_window.store(window);
  SetWindowLongPtrW(window, GWL_STYLE,
                    GetWindowLongPtrW(window, GWL_STYLE) | WS_CLIPCHILDREN);
  SetPropW(window, kFrameWindowProperty, reinterpret_cast<HANDLE>(1));
  return std::nullopt;
}

FrameAnswer OnCreate(HWND window, UINT message, WPARAM wparam, LPARAM& lparam) {
  const LRESULT result = DefSubclassProc(window, message, wparam, lparam);
  CentreOnCursorMonitor(window, *reinterpret_cast<CREATESTRUCTW*>(lparam));
  RefreshViewSize();
  return result;
}

// The view keeps its size while the window is being minimised.
FrameAnswer OnSize(HWND, UINT, WPARAM, LPARAM&) {
  if (frame_state.minimising.load() != 0) return 0;
  return std::nullopt;
}

FrameAnswer OnEraseBackground(HWND, UINT, WPARAM, LPARAM&) { return 1; }

FrameAnswer OnGetMinMaxInfo(HWND window, UINT, WPARAM, LPARAM& lparam) {
  ApplySizeLimits(window, reinterpret_cast<MINMAXINFO*>(lparam));
  return 0;
}

FrameAnswer OnSysCommand(HWND window, UINT message, WPARAM wparam,
                         LPARAM& lparam) {
  if (wparam != SC_MINIMIZE) return std::nullopt;
  frame_state.minimising.store(1);
  const LRESULT result = DefSubclassProc(window, message, wparam, lparam);
  frame_state.minimising.store(0);
  return result;
}

FrameAnswer OnEnterSizeMove(HWND, UINT, WPARAM, LPARAM&) {
  frame_state.in_size_move.store(1);
  return std::nullopt;
}

FrameAnswer OnExitSizeMove(HWND, UINT, WPARAM, LPARAM&) {
  frame_state.in_size_move.store(0);
  if (frame_state.dpi_changed_during_size_move.exchange(0) != 0) {
    RefreshViewSize();
  }
  return std::nullopt;
}

// Sizes the view to the client area of the top-level window unless it has
// that size already: at most one resize.
void FitViewToClient() {
  HWND view = frame_state.view_window.load();
  RECT client;
  RECT current;
  if (view == nullptr ||
      !GetClientRect(frame_state.app_window.load(), &client) ||
      !GetClientRect(view, &current) || EqualRect(&client, &current)) {
    return;
  }
  SetWindowPos(view, nullptr, 0, 0, client.right, client.bottom,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

FrameAnswer OnDpiChanged(HWND window, UINT message, WPARAM wparam,
                         LPARAM& lparam) {
  if (frame_state.in_size_move.load() != 0) {
    frame_state.dpi_changed_during_size_move.store(1);
  }
  // The window's own procedure moves to the suggested rectangle; the view is
  // laid out for the size that results, not the one before, and only once
  // (the window's procedure may have sized it already; the view hears of the
  // new DPI from the system itself).
  const LRESULT result = DefSubclassProc(window, message, wparam, lparam);
  FitViewToClient();
  return result;
}

// A freed record is not handed on.
FrameAnswer OnFrameAction(HWND window, UINT, WPARAM wparam, LPARAM& lparam) {
  if (RunFrameAction(window, wparam, lparam)) lparam = 0;
  return std::nullopt;
}

// The declared maximise button answers as the system's own would, except
// where a sizing band lies over it.
FrameAnswer OnNcHitTest(HWND window, UINT message, WPARAM wparam,
                        LPARAM& lparam) {
  const LRESULT code = DefSubclassProc(window, message, wparam, lparam);
  if (!IsSizingHitCode(code) && OverMaximizeButton(lparam)) return HTMAXBUTTON;
  return code;
}

// Non-client tracking reports the pointer leaving the button for the view,
// which the non-client messages alone never would.
void TrackNonClientLeave(HWND window) {
  if (maximize_button.tracking) return;
  TRACKMOUSEEVENT track{};
  track.cbSize = sizeof(track);
  track.dwFlags = TME_LEAVE | TME_NONCLIENT;
  track.hwndTrack = window;
  maximize_button.tracking = TrackMouseEvent(&track) != FALSE;
}

FrameAnswer OnNcMouseMove(HWND window, UINT, WPARAM wparam, LPARAM&) {
  if (wparam != HTMAXBUTTON) {
    SetMaximizeButtonState(false, false);
    return std::nullopt;
  }
  TrackNonClientLeave(window);
  SetMaximizeButtonState(true, maximize_button.pressed);
  return 0;
}

FrameAnswer OnNcMouseLeave(HWND, UINT, WPARAM, LPARAM&) {
  maximize_button.tracking = false;
  SetMaximizeButtonState(false, false);
  return std::nullopt;
}

// Not passed on: the default handling would track and paint a button of its
// own. Pressed is all it becomes; the release acts.
FrameAnswer OnNcButtonDown(HWND window, UINT, WPARAM wparam, LPARAM&) {
  if (wparam != HTMAXBUTTON) return std::nullopt;
  TrackNonClientLeave(window);
  SetMaximizeButtonState(true, true);
  return 0;
}

FrameAnswer OnNcButtonUp(HWND window, UINT, WPARAM wparam, LPARAM&) {
  if (wparam != HTMAXBUTTON) return std::nullopt;
  const bool was_pressed = maximize_button.pressed;
  SetMaximizeButtonState(true, false);
  if (was_pressed) {
    SendMessageW(window, WM_SYSCOMMAND,
                 IsZoomed(window) ? SC_RESTORE : SC_MAXIMIZE, 0);
  }
  return 0;
}

FrameAnswer OnNcDestroy(HWND window, UINT, WPARAM, LPARAM&) {
  HWND expected = window;
  frame_state.app_window.compare_exchange_strong(expected, nullptr);
  RemovePropW(window, kFrameWindowProperty);
  RemoveWindowSubclass(window, &FrameWindowProc, kFrameSubclassId);
  return std::nullopt;
}

struct FrameRoute {
  UINT message;
  FrameHandler handle;
};

constexpr FrameRoute kFrameRoutes[] = {
    {WM_NCCREATE, &OnNcCreate},
    {WM_CREATE, &OnCreate},
    {WM_SIZE, &OnSize},
    {WM_ERASEBKGND, &OnEraseBackground},
    {WM_GETMINMAXINFO, &OnGetMinMaxInfo},
    {WM_SYSCOMMAND, &OnSysCommand},
    {WM_ENTERSIZEMOVE, &OnEnterSizeMove},
    {WM_EXITSIZEMOVE, &OnExitSizeMove},
    {WM_DPICHANGED, &OnDpiChanged},
    {FRAME_ACTION_MESSAGE, &OnFrameAction},
    {WM_NCDESTROY, &OnNcDestroy},
    {WM_NCHITTEST, &OnNcHitTest},
    {WM_NCMOUSEMOVE, &OnNcMouseMove},
    {WM_NCMOUSELEAVE, &OnNcMouseLeave},
    {WM_NCLBUTTONDOWN, &OnNcButtonDown},
    {WM_NCLBUTTONDBLCLK, &OnNcButtonDown},
    {WM_NCLBUTTONUP, &OnNcButtonUp},
};

}  // namespace

LRESULT CALLBACK FrameWindowProc(HWND window, UINT message, WPARAM wparam,
                                 LPARAM lparam, UINT_PTR /*subclass_id*/,
                                 DWORD_PTR /*ref_data*/) {
  // The drag request's number is only known at run time.
  if (message == DragRequestMessage()) {
    StartDragIfButtonDown(window);
    return 0;
  }
  for (const FrameRoute& route : kFrameRoutes) {
    if (route.message != message) continue;
    const FrameAnswer answer = route.handle(window, message, wparam, lparam);
    if (answer.has_value()) return *answer;
    break;
  }
  return DefSubclassProc(window, message, wparam, lparam);
}

}  // namespace frame
