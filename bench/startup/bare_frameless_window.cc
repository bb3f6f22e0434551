// The floor quillon_pc.exe's start-up is measured against: a frameless
// window of the same kind (class, styles, placement, theme and corner
// requests, rounded region, frame recalculation, manifest) with no engine,
// no plugins and nothing else. It shows itself at once and runs until it is
// closed, and marks its phases as the product does.
#include <windows.h>
#include <dwmapi.h>

#include "host/startup_marks.h"

namespace {

constexpr wchar_t kClassName[] = L"QUILLON_BARE_FRAMELESS_WINDOW";
constexpr DWORD kStyle =
    WS_POPUP | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
constexpr DWORD kDwmUseImmersiveDarkMode = 20;
constexpr DWORD kDwmWindowCornerPreference = 33;
constexpr DWORD kDwmCornerRound = 2;
constexpr int kCornerEllipse = 16;

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wparam,
                                 LPARAM lparam) {
  switch (message) {
    case WM_NCCALCSIZE:
      if (wparam != 0) return 0;  // the whole window is client area
      break;
    case WM_SHOWWINDOW:
      if (wparam != FALSE) startup_marks::Mark(startup_marks::Phase::kShown);
      break;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

RECT CentredOnWorkArea(HMONITOR monitor, UINT dpi) {
  const LONG width = MulDiv(1280, static_cast<int>(dpi), 96);
  const LONG height = MulDiv(720, static_cast<int>(dpi), 96);
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  GetMonitorInfoW(monitor, &info);
  const RECT& work = info.rcWork;
  const LONG x = work.left + (work.right - work.left - width) / 2;
  const LONG y = work.top + (work.bottom - work.top - height) / 2;
  return RECT{x, y, x + width, y + height};
}

void RequestTheme(HWND window) {
  DWORD light_mode = 1;
  DWORD size = sizeof(light_mode);
  RegGetValueW(HKEY_CURRENT_USER,
               L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\"
               L"Personalize",
               L"AppsUseLightTheme", RRF_RT_REG_DWORD, nullptr, &light_mode,
               &size);
  const BOOL dark = light_mode == 0;
  DwmSetWindowAttribute(window, kDwmUseImmersiveDarkMode, &dark, sizeof(dark));
  const DWORD corners = kDwmCornerRound;
  DwmSetWindowAttribute(window, kDwmWindowCornerPreference, &corners,
                        sizeof(corners));
}

}  // namespace

int APIENTRY wWinMain(HINSTANCE instance, HINSTANCE, wchar_t*, int) {
  startup_marks::Mark(startup_marks::Phase::kEntry);
  WNDCLASSW window_class{};
  window_class.style = CS_HREDRAW | CS_VREDRAW;
  window_class.lpfnWndProc = &WindowProcedure;
  window_class.hInstance = instance;
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.lpszClassName = kClassName;
  if (RegisterClassW(&window_class) == 0) return 1;

  POINT origin{10, 10};
  HMONITOR monitor = MonitorFromPoint(origin, MONITOR_DEFAULTTOPRIMARY);
  const UINT dpi = GetDpiForSystem();
  const RECT place = CentredOnWorkArea(monitor, dpi);
  HWND window =
      CreateWindowExW(0, kClassName, L"bare", kStyle, place.left, place.top,
                      place.right - place.left, place.bottom - place.top,
                      nullptr, nullptr, instance, nullptr);
  if (window == nullptr) return 1;
  startup_marks::Mark(startup_marks::Phase::kWindow);
  RequestTheme(window);
  const int ellipse = MulDiv(kCornerEllipse, static_cast<int>(dpi), 96);
  SetWindowRgn(
      window,
      CreateRoundRectRgn(0, 0, place.right - place.left + 1,
                         place.bottom - place.top + 1, ellipse, ellipse),
      FALSE);
  SetWindowPos(window, nullptr, 0, 0, 0, 0,
               SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER |
                   SWP_NOACTIVATE);
  ShowWindow(window, SW_SHOW);

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}
