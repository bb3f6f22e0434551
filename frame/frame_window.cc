#include "frame/frame_window.h"

#include <windows.h>
// After windows.h, whose types it uses.
#include <commctrl.h>

#include <climits>
#include <cwchar>

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

void ApplySizeLimits(HWND window, MINMAXINFO* info) {
  const FrameSize minimum = frame_state.minimum_size.load();
  const FrameSize maximum = frame_state.maximum_size.load();
  const bool has_minimum = minimum.width != 0 && minimum.height != 0;
  const bool has_maximum = maximum.width != 0 && maximum.height != 0;
  if (!has_minimum && !has_maximum) return;
  const double scale = frame_state.dpi_for_window.load()(window) / 96.0;
  if (has_minimum) {
    info->ptMinTrackSize.x = ScaleToPixels(minimum.width, scale);
    info->ptMinTrackSize.y = ScaleToPixels(minimum.height, scale);
  }
  if (has_maximum) {
    info->ptMaxTrackSize.x = ScaleToPixels(maximum.width, scale);
    info->ptMaxTrackSize.y = ScaleToPixels(maximum.height, scale);
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

// Carries out a frame action; returns true when it freed the record.
bool RunFrameAction(HWND window, WPARAM action, LPARAM lparam) {
  HANDLE heap = GetProcessHeap();
  switch (action) {
    case kFrameActionMoveResize: {
      auto* record = reinterpret_cast<FrameMoveResizeRecord*>(lparam);
      if (record == nullptr) return false;
      SetWindowPos(window, nullptr, record->x, record->y, record->width,
                   record->height, static_cast<UINT>(record->flags));
      HeapFree(heap, 0, record);
      return true;
    }
    case kFrameActionSetTitle: {
      auto* record = reinterpret_cast<FrameTitleRecord*>(lparam);
      if (record == nullptr) return false;
      SetWindowTextW(window, record->title);
      if (record->title != nullptr) HeapFree(heap, 0, record->title);
      HeapFree(heap, 0, record);
      return true;
    }
    case kFrameActionRefreshView:
      RefreshViewSize();
      return false;
    default:
      return false;
  }
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

LRESULT CALLBACK FrameWindowProc(HWND window, UINT message, WPARAM wparam,
                                 LPARAM lparam, UINT_PTR /*subclass_id*/,
                                 DWORD_PTR /*ref_data*/) {
  switch (message) {
    case WM_NCCREATE:
      frame_state.app_window.store(window);
      SetWindowLongPtrW(window, GWL_STYLE,
                        GetWindowLongPtrW(window, GWL_STYLE) | WS_CLIPCHILDREN);
      SetPropW(window, kFrameWindowProperty, reinterpret_cast<HANDLE>(1));
      break;
    case WM_CREATE: {
      const LRESULT result = DefSubclassProc(window, message, wparam, lparam);
      CentreOnCursorMonitor(window, *reinterpret_cast<CREATESTRUCTW*>(lparam));
      RefreshViewSize();
      return result;
    }
    case WM_SIZE:
      // The view keeps its size while the window is being minimised.
      if (frame_state.minimising.load() != 0) return 0;
      break;
    case WM_ERASEBKGND:
      return 1;
    case WM_GETMINMAXINFO:
      ApplySizeLimits(window, reinterpret_cast<MINMAXINFO*>(lparam));
      return 0;
    case WM_SYSCOMMAND: {
      if (wparam != SC_MINIMIZE) break;
      frame_state.minimising.store(1);
      const LRESULT result = DefSubclassProc(window, message, wparam, lparam);
      frame_state.minimising.store(0);
      return result;
    }
    case WM_ENTERSIZEMOVE:
      frame_state.in_size_move.store(1);
      break;
    case WM_EXITSIZEMOVE:
      frame_state.in_size_move.store(0);
      if (frame_state.dpi_changed_during_size_move.load() != 0) {
        RefreshViewSize();
      }
      frame_state.dpi_changed_during_size_move.store(0);
      break;
    case WM_DPICHANGED:
      if (frame_state.in_size_move.load() != 0) {
        frame_state.dpi_changed_during_size_move.store(1);
      }
      RefreshViewSize();
      break;
    case FRAME_ACTION_MESSAGE:
      // A freed record is not handed on.
      if (RunFrameAction(window, wparam, lparam)) lparam = 0;
      break;
    case WM_NCDESTROY: {
      HWND expected = window;
      frame_state.app_window.compare_exchange_strong(expected, nullptr);
      RemovePropW(window, kFrameWindowProperty);
      RemoveWindowSubclass(window, &FrameWindowProc, kFrameSubclassId);
      break;
    }
    default:
      break;
  }
  return DefSubclassProc(window, message, wparam, lparam);
}

}  // namespace frame
