#include "host/win32_window.h"

#include <dwmapi.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <exception>
#include <iostream>
#include <optional>
#include <vector>

#include "host/startup_marks.h"
#include "interfaces/flutter_windows.h"

namespace {

constexpr double kBaseDpi = 96.0;
constexpr UINT kDefaultDpi = 96;
// At 96 DPI; scaled with the window's DPI.
constexpr int kCornerEllipse = 16;
constexpr int kIconResourceId = 101;
// DWM attribute names and values; older SDK headers lack them.
constexpr DWORD kDwmUseImmersiveDarkMode = 20;
constexpr DWORD kDwmWindowCornerPreference = 33;
constexpr DWORD kDwmCornerRound = 2;
// The first Windows 11 build, the first whose DWM rounds window corners.
// Checked as well as the attribute's result, since a system without the
// attribute may still report success for it.
constexpr DWORD kFirstBuildWithDwmCorners = 22000;
// Pixels left free at the edge of an auto-hiding taskbar, so that moving the
// mouse there still reveals it.
constexpr int kAutoHideTaskbarGap = 2;
constexpr DWORD kWindowStyle =
    WS_POPUP | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;

// The WM_SETTINGCHANGE area that announces a switch of the light or dark
// app mode.
constexpr wchar_t kColorSetArea[] = L"ImmersiveColorSet";

constexpr wchar_t kThemeKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize";
constexpr wchar_t kThemeValue[] = L"AppsUseLightTheme";

// Shared by every Win32Window of the process; touched on the UI thread only.
int32_t g_live_window_count = 0;
bool g_class_registered = false;

Win32Window::DwmAttributeSetter g_dwm_attribute_setter = &DwmSetWindowAttribute;
Win32Window::DwmFrameExtender g_dwm_frame_extender =
    &DwmExtendFrameIntoClientArea;
DWORD g_windows_build_override = 0;
UINT AutoHideTaskbarEdges(const RECT& monitor);
Win32Window::AutoHideEdgesQuery g_auto_hide_edges_query = &AutoHideTaskbarEdges;

// The auto-hiding taskbar edges per monitor, asked once and forgotten when a
// setting or the display changes (a taskbar switched to auto-hide announces
// itself with WM_SETTINGCHANGE): SHAppBarMessage is a synchronous round trip
// to the shell, too slow for every WM_NCCALCSIZE of a maximised window.
struct AutoHideEdgesEntry {
  RECT monitor;
  UINT edges;
};
std::vector<AutoHideEdgesEntry> g_auto_hide_edges_cache;

UINT CachedAutoHideEdges(const RECT& monitor) {
  for (const AutoHideEdgesEntry& entry : g_auto_hide_edges_cache) {
    if (EqualRect(&entry.monitor, &monitor)) return entry.edges;
  }
  const UINT edges = g_auto_hide_edges_query(monitor);
  g_auto_hide_edges_cache.push_back({monitor, edges});
  return edges;
}

int Scale(int logical, double scale) {
  return static_cast<int>(logical * scale);
}

// Lets the system scale the (removed) non-client area on older Windows 10
// builds; absent elsewhere, which is fine.
void EnableNonClientDpiScalingIfAvailable(HWND window) {
  const platform::UniqueLibrary user32(LoadLibraryW(L"User32.dll"));
  if (user32 == nullptr) {
    return;
  }
  using EnableNonClientDpiScalingFunction = BOOL(WINAPI*)(HWND);
  auto enable = reinterpret_cast<EnableNonClientDpiScalingFunction>(
      reinterpret_cast<void*>(
          GetProcAddress(user32.get(), "EnableNonClientDpiScaling")));
  if (enable != nullptr) {
    enable(window);
  }
}

// The build number as the system has it; GetVersionExW would answer what
// the manifest's compatibility list allows instead.
DWORD WindowsBuild() {
  if (g_windows_build_override != 0) {
    return g_windows_build_override;
  }
  using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  auto get_version =
      ntdll == nullptr
          ? nullptr
          : reinterpret_cast<RtlGetVersionFunction>(reinterpret_cast<void*>(
                GetProcAddress(ntdll, "RtlGetVersion")));
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof(version);
  if (get_version == nullptr || get_version(&version) != 0) {
    return 0;
  }
  return version.dwBuildNumber;
}

UINT AutoHideTaskbarEdges(const RECT& monitor) {
  UINT edges = 0;
  for (UINT edge : {ABE_LEFT, ABE_TOP, ABE_RIGHT, ABE_BOTTOM}) {
    APPBARDATA bar{};
    bar.cbSize = sizeof(bar);
    bar.uEdge = edge;
    bar.rc = monitor;
    if (SHAppBarMessage(ABM_GETAUTOHIDEBAREX, &bar) != 0) {
      edges |= 1u << edge;
    }
  }
  return edges;
}

// The DPI of the monitor the window is on, which under per-monitor awareness
// is the window's own.
UINT WindowDpi(HWND window) {
  const UINT dpi = FlutterDesktopGetDpiForMonitor(
      MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST));
  return dpi != 0 ? dpi : kDefaultDpi;
}

// A system metric at |dpi|; GetSystemMetricsForDpi is missing before
// Windows 10 1607, where the metric is scaled from the system DPI's.
int MetricForDpi(int index, UINT dpi) {
  using MetricForDpiFunction = int(WINAPI*)(int, UINT);
  static const MetricForDpiFunction metric_for_dpi =
      reinterpret_cast<MetricForDpiFunction>(
          reinterpret_cast<void*>(GetProcAddress(
              GetModuleHandleW(L"user32.dll"), "GetSystemMetricsForDpi")));
  if (metric_for_dpi != nullptr) {
    return metric_for_dpi(index, dpi);
  }
  return MulDiv(GetSystemMetrics(index), static_cast<int>(dpi),
                static_cast<int>(kDefaultDpi));
}

// The band along the edges in which the pointer resizes the window: the
// system's sizing frame at the window's DPI.
SIZE ResizeBand(HWND window) {
  const UINT dpi = WindowDpi(window);
  const int padding = MetricForDpi(SM_CXPADDEDBORDER, dpi);
  return SIZE{MetricForDpi(SM_CXSIZEFRAME, dpi) + padding,
              MetricForDpi(SM_CYSIZEFRAME, dpi) + padding};
}

// A maximised window's client area is what of the proposed rectangle lies in
// the work area of its monitor, so neither the taskbar nor the frame's
// overhang past the monitor hides any of it, and a window capped below the
// work area's size keeps its content inside itself; an auto-hiding taskbar
// keeps a gap at its edge to be revealed through.
void ClipToWorkArea(RECT* proposed) {
  HMONITOR monitor = MonitorFromRect(proposed, MONITOR_DEFAULTTONEAREST);
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  if (monitor == nullptr || !GetMonitorInfoW(monitor, &info)) {
    return;
  }
  RECT work = info.rcWork;
  const UINT edges = CachedAutoHideEdges(info.rcMonitor);
  if (edges & (1u << ABE_LEFT)) work.left += kAutoHideTaskbarGap;
  if (edges & (1u << ABE_TOP)) work.top += kAutoHideTaskbarGap;
  if (edges & (1u << ABE_RIGHT)) work.right -= kAutoHideTaskbarGap;
  if (edges & (1u << ABE_BOTTOM)) work.bottom -= kAutoHideTaskbarGap;
  RECT clipped{};
  // A window maximised entirely off its work area cannot happen; should it,
  // the work area is still better than nothing.
  *proposed = IntersectRect(&clipped, proposed, &work) ? clipped : work;
}

// The monitor the window opens on: the one under the mouse, where the user
// is looking (the frame centres the window there as well); the one nearest
// |origin| when the cursor cannot be read.
HMONITOR TargetMonitor(POINT origin) {
  POINT cursor{};
  if (GetCursorPos(&cursor)) {
    return MonitorFromPoint(cursor, MONITOR_DEFAULTTONEAREST);
  }
  return MonitorFromPoint(origin, MONITOR_DEFAULTTONEAREST);
}

// The window's first rectangle: |size| at the DPI of the monitor it opens
// on, shrunk to that monitor's work area and centred in it, so that its top
// edge, where the user interface draws its title bar, is on screen at every
// scale. The system still raises it to the minimum tracking size.
RECT FirstPlacement(POINT origin, SIZE size) {
  HMONITOR monitor = TargetMonitor(origin);
  const UINT dpi = FlutterDesktopGetDpiForMonitor(monitor);
  const double scale = (dpi != 0 ? dpi : kDefaultDpi) / kBaseDpi;
  LONG width = Scale(size.cx, scale);
  LONG height = Scale(size.cy, scale);
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  if (monitor == nullptr || !GetMonitorInfoW(monitor, &info)) {
    const LONG x = Scale(origin.x, scale);
    const LONG y = Scale(origin.y, scale);
    return RECT{x, y, x + width, y + height};
  }
  const RECT& work = info.rcWork;
  width = std::min(width, work.right - work.left);
  height = std::min(height, work.bottom - work.top);
  const LONG x = work.left + (work.right - work.left - width) / 2;
  const LONG y = work.top + (work.bottom - work.top - height) / 2;
  return RECT{x, y, x + width, y + height};
}

}  // namespace

Win32Window::Win32Window() { ++g_live_window_count; }

Win32Window::~Win32Window() {
  --g_live_window_count;
  Destroy();
}

bool Win32Window::Create(const std::wstring& title, const Point& origin,
                         const Size& size) {
  Destroy();

  HINSTANCE instance = GetModuleHandleW(nullptr);
  if (!g_class_registered) {
    WNDCLASSW window_class{};
    window_class.style = CS_HREDRAW | CS_VREDRAW;
    window_class.lpfnWndProc = &Win32Window::WindowProcedure;
    window_class.hInstance = instance;
    window_class.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(kIconResourceId));
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.lpszClassName = kAppWindowClassName;
    // A failed registration shows up as a failed CreateWindowExW below.
    RegisterClassW(&window_class);
    g_class_registered = true;
  }

  const RECT placement =
      FirstPlacement(POINT{origin.x, origin.y}, SIZE{size.width, size.height});
  HWND window = CreateWindowExW(
      0, kAppWindowClassName, title.c_str(), kWindowStyle, placement.left,
      placement.top, placement.right - placement.left,
      placement.bottom - placement.top, nullptr, nullptr, instance, this);
  if (window == nullptr) {
    return false;
  }
  startup_marks::Mark(startup_marks::Phase::kWindow);

  ApplySystemTheme(window);
  dwm_corners_ = RequestDwmCorners(window);
  if (dwm_corners_) {
    // The first WM_SIZE came before DWM was asked; the window is hidden, so
    // nothing needs repainting.
    SetWindowRgn(window, nullptr, FALSE);
  } else {
    RECT bounds{};
    GetWindowRect(window, &bounds);
    UpdateWindowRegion(window, bounds.right - bounds.left,
                       bounds.bottom - bounds.top, WindowDpi(window));
  }
  // The client area is computed anew with the window's own WM_NCCALCSIZE now
  // that everything it depends on is in place, rather than as a side effect
  // of the region.
  SetWindowPos(window, nullptr, 0, 0, 0, 0,
               SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER |
                   SWP_NOACTIVATE);
  return OnCreate();
}

void Win32Window::Destroy() {
  if (window_handle_ != nullptr) {
    OnDestroy();
    // Released before it goes: the WM_DESTROY this sends finds no window
    // left to let go, so OnDestroy ran once.
    platform::UniqueWindow window(window_handle_.release());
  }
  UnregisterClassIfUnused();
}

void Win32Window::UnregisterClassIfUnused() {
  if (g_live_window_count == 0 && g_class_registered) {
    // Fails while a window of the class still exists (a nested Destroy during
    // that window's WM_DESTROY); the outer Destroy then unregisters it.
    if (UnregisterClassW(kAppWindowClassName, nullptr)) {
      g_class_registered = false;
    }
  }
}

void Win32Window::SetContent(HWND content) {
  child_content_ = content;
  SetParent(content, window_handle_.get());
  const RECT frame = ClientArea();
  MoveWindow(content, frame.left, frame.top, frame.right - frame.left,
             frame.bottom - frame.top, TRUE);
  SetFocus(child_content_);
}

RECT Win32Window::ClientArea() const {
  RECT frame{};
  GetClientRect(window_handle_.get(), &frame);
  return frame;
}

void Win32Window::ApplySystemTheme(HWND window) {
  DWORD light_mode = 0;
  DWORD light_mode_size = sizeof(light_mode);
  const LSTATUS status =
      RegGetValueW(HKEY_CURRENT_USER, kThemeKey, kThemeValue, RRF_RT_REG_DWORD,
                   nullptr, &light_mode, &light_mode_size);
  if (status != ERROR_SUCCESS) {
    return;
  }
  const BOOL enable_dark_mode = light_mode == 0;
  g_dwm_attribute_setter(window, kDwmUseImmersiveDarkMode, &enable_dark_mode,
                         sizeof(enable_dark_mode));
}

void Win32Window::SetDwmAttributeSetterForTesting(DwmAttributeSetter setter) {
  g_dwm_attribute_setter = setter != nullptr ? setter : &DwmSetWindowAttribute;
}

void Win32Window::SetDwmFrameExtenderForTesting(DwmFrameExtender extender) {
  g_dwm_frame_extender =
      extender != nullptr ? extender : &DwmExtendFrameIntoClientArea;
}

void Win32Window::SetWindowsBuildForTesting(DWORD build) {
  g_windows_build_override = build;
}

void Win32Window::SetAutoHideEdgesQueryForTesting(AutoHideEdgesQuery query) {
  g_auto_hide_edges_query = query != nullptr ? query : &AutoHideTaskbarEdges;
  g_auto_hide_edges_cache.clear();
}

bool Win32Window::RequestDwmCorners(HWND window) {
  if (WindowsBuild() < kFirstBuildWithDwmCorners) {
    return false;
  }
  const DWORD preference = kDwmCornerRound;
  if (FAILED(g_dwm_attribute_setter(window, kDwmWindowCornerPreference,
                                    &preference, sizeof(preference)))) {
    return false;
  }
  // One pixel of frame inside the client area brings back DWM's shadow and
  // thin border, which a window without a caption otherwise lacks.
  const MARGINS margins{0, 0, 1, 0};
  g_dwm_frame_extender(window, &margins);
  return true;
}

LRESULT CALLBACK Win32Window::WindowProcedure(HWND window, UINT message,
                                              WPARAM wparam,
                                              LPARAM lparam) noexcept {
  if (message == WM_NCCREATE) {
    auto* create_struct = reinterpret_cast<CREATESTRUCTW*>(lparam);
    auto* that = static_cast<Win32Window*>(create_struct->lpCreateParams);
    // A window of the class made by anyone but Create has no object behind
    // it and gets default processing only.
    if (that != nullptr) {
      SetWindowLongPtrW(window, GWLP_USERDATA,
                        reinterpret_cast<LONG_PTR>(that));
      EnableNonClientDpiScalingIfAvailable(window);
      that->window_handle_.reset(window);
    }
    return DefWindowProcW(window, message, wparam, lparam);
  }

  auto* that =
      reinterpret_cast<Win32Window*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (that == nullptr) {
    return DefWindowProcW(window, message, wparam, lparam);
  }
  // Nothing may unwind into the system's dispatch code.
  try {
    return that->HandleMessage(window, message, wparam, lparam);
  } catch (const std::exception& error) {
    std::cerr << "Window message 0x" << std::hex << message << std::dec
              << " failed: " << error.what() << std::endl;
  } catch (...) {
    std::cerr << "Window message 0x" << std::hex << message << std::dec
              << " failed." << std::endl;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

// One handler per message the window answers itself. A handler that returns
// no value leaves the message to the default procedure.
struct Win32Window::MessageHandlers {
  using Answer = std::optional<LRESULT>;
  using Handler = Answer (*)(Win32Window& self, HWND window, WPARAM wparam,
                             LPARAM lparam);
  struct Route {
    UINT message;
    Handler handle;
  };

  static Answer Destroyed(Win32Window& self, HWND, WPARAM, LPARAM) {
    // Destroyed by others (Destroy released the handle before): the window
    // is going already, so it is only let go.
    if (self.window_handle_ != nullptr) {
      self.OnDestroy();
      static_cast<void>(self.window_handle_.release());
    }
    UnregisterClassIfUnused();
    if (self.quit_on_close_) PostQuitMessage(0);
    return 0;
  }

  // A minimised window's client area is a stub of the icon's size; the
  // content keeps the size it will have again when restored.
  static Answer Sized(Win32Window& self, HWND, WPARAM wparam, LPARAM) {
    if (self.window_handle_ == nullptr || wparam == SIZE_MINIMIZED) return 0;
    const RECT frame = self.ClientArea();
    if (self.child_content_ != nullptr) {
      MoveWindow(self.child_content_, frame.left, frame.top,
                 frame.right - frame.left, frame.bottom - frame.top, TRUE);
    }
    RECT bounds{};
    GetWindowRect(self.window_handle_.get(), &bounds);
    self.UpdateWindowRegion(
        self.window_handle_.get(), bounds.right - bounds.left,
        bounds.bottom - bounds.top, WindowDpi(self.window_handle_.get()));
    return 0;
  }

  static Answer Activated(Win32Window& self, HWND, WPARAM, LPARAM) {
    if (self.child_content_ != nullptr) SetFocus(self.child_content_);
    return 0;
  }

  static Answer MouseActivated(Win32Window& self, HWND window, WPARAM wparam,
                               LPARAM lparam) {
    Activated(self, window, wparam, lparam);
    return MA_ACTIVATE;
  }

  // The whole window is client area, except that a maximised window's
  // reaches no further than the work area.
  static Answer CalculateClientArea(Win32Window&, HWND window, WPARAM wparam,
                                    LPARAM lparam) {
    if (wparam == 0) return std::nullopt;
    if (IsZoomed(window)) {
      ClipToWorkArea(&reinterpret_cast<NCCALCSIZE_PARAMS*>(lparam)->rgrc[0]);
    }
    return 0;
  }

  static Answer HitTest(Win32Window& self, HWND window, WPARAM, LPARAM lparam) {
    if (IsZoomed(window)) return std::nullopt;
    return self.HitTestBorders(window, lparam);
  }

  static Answer DpiChanged(Win32Window& self, HWND window, WPARAM wparam,
                           LPARAM lparam) {
    const auto* suggested = reinterpret_cast<const RECT*>(lparam);
    const int width = suggested->right - suggested->left;
    const int height = suggested->bottom - suggested->top;
    SetWindowPos(window, nullptr, suggested->left, suggested->top, width,
                 height, SWP_NOZORDER | SWP_NOACTIVATE);
    self.UpdateWindowRegion(window, width, height, HIWORD(wparam));
    return 0;
  }

  static Answer ColorizationChanged(Win32Window&, HWND window, WPARAM, LPARAM) {
    ApplySystemTheme(window);
    return 0;
  }

  // A setting changed: the taskbar may have been switched to or from
  // auto-hide, and the app mode between light and dark.
  static Answer SettingChanged(Win32Window&, HWND window, WPARAM,
                               LPARAM lparam) {
    g_auto_hide_edges_cache.clear();
    const auto* area = reinterpret_cast<const wchar_t*>(lparam);
    if (area != nullptr && std::wcscmp(area, kColorSetArea) == 0) {
      ApplySystemTheme(window);
    }
    return std::nullopt;
  }

  static Answer Shown(Win32Window&, HWND, WPARAM wparam, LPARAM) {
    if (wparam != FALSE) startup_marks::Mark(startup_marks::Phase::kShown);
    return std::nullopt;
  }

  static Answer DisplayChanged(Win32Window&, HWND, WPARAM, LPARAM) {
    g_auto_hide_edges_cache.clear();
    return std::nullopt;
  }

  static constexpr Route kRoutes[] = {
      {WM_DESTROY, &Destroyed},
      {WM_SIZE, &Sized},
      {WM_ACTIVATE, &Activated},
      {WM_MOUSEACTIVATE, &MouseActivated},
      {WM_NCCALCSIZE, &CalculateClientArea},
      {WM_NCHITTEST, &HitTest},
      {WM_DPICHANGED, &DpiChanged},
      {WM_DWMCOLORIZATIONCOLORCHANGED, &ColorizationChanged},
      {WM_SETTINGCHANGE, &SettingChanged},
      {WM_DISPLAYCHANGE, &DisplayChanged},
      {WM_SHOWWINDOW, &Shown},
  };
};

LRESULT Win32Window::HandleMessage(HWND window, UINT message, WPARAM wparam,
                                   LPARAM lparam) {
  for (const MessageHandlers::Route& route : MessageHandlers::kRoutes) {
    if (route.message != message) continue;
    const MessageHandlers::Answer answer =
        route.handle(*this, window, wparam, lparam);
    if (answer.has_value()) return *answer;
    break;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

bool Win32Window::OnCreate() { return true; }

void Win32Window::OnDestroy() {}

LRESULT Win32Window::HitTestBorders(HWND window, LPARAM lparam) const {
  // Screen coordinates, signed: monitors left of or above the primary one
  // have negative coordinates.
  const int x = static_cast<int16_t>(static_cast<uint16_t>(lparam & 0xFFFF));
  const int y =
      static_cast<int16_t>(static_cast<uint16_t>((lparam >> 16) & 0xFFFF));
  RECT bounds{};
  GetWindowRect(window, &bounds);
  // The right and bottom edges are exclusive: the window's last pixel is one
  // short of them, and the band counts from there, as from the first pixel.
  if (x < bounds.left || x >= bounds.right || y < bounds.top ||
      y >= bounds.bottom) {
    return HTCLIENT;
  }

  const SIZE band = ResizeBand(window);
  const bool left = x < bounds.left + band.cx;
  const bool right = x >= bounds.right - band.cx;
  const bool top = y < bounds.top + band.cy;
  const bool bottom = y >= bounds.bottom - band.cy;
  if (left && top) return HTTOPLEFT;
  if (right && top) return HTTOPRIGHT;
  if (left && bottom) return HTBOTTOMLEFT;
  if (right && bottom) return HTBOTTOMRIGHT;
  if (left) return HTLEFT;
  if (right) return HTRIGHT;
  if (top) return HTTOP;
  if (bottom) return HTBOTTOM;
  return HTCLIENT;
}

void Win32Window::UpdateWindowRegion(HWND window, int width, int height,
                                     UINT dpi) const {
  if (dwm_corners_) {
    return;
  }
  if (IsZoomed(window)) {
    // Square and whole: a maximised window's edges meet the monitor's. A
    // change of state, not a step of a live resize: repainted whole.
    SetWindowRgn(window, nullptr, IsWindowVisible(window));
    return;
  }
  const int ellipse = MulDiv(kCornerEllipse, static_cast<int>(dpi),
                             static_cast<int>(kDefaultDpi));
  platform::UniqueRegion region(
      CreateRoundRectRgn(0, 0, width + 1, height + 1, ellipse, ellipse));
  if (region == nullptr) {
    return;
  }
  const platform::UniqueRegion changed(CreateRectRgn(0, 0, 0, 0));
  const bool had_region =
      changed != nullptr && GetWindowRgn(window, changed.get()) != ERROR;
  if (had_region) {
    CombineRgn(changed.get(), changed.get(), region.get(), RGN_XOR);
  }
  // From one rounded shape to the next (each step of a live resize), only
  // the pixels that joined or left the shape are repainted: a whole-window
  // redraw at every step flickers. Anything else is repainted whole.
  const bool visible = IsWindowVisible(window) != FALSE;
  // On success the system owns the region; otherwise it is still ours.
  if (SetWindowRgn(window, region.get(), visible && !had_region) == 0) return;
  static_cast<void>(region.release());
  if (visible && had_region) {
    RECT bounds{};
    GetWindowRect(window, &bounds);
    OffsetRgn(changed.get(), bounds.left, bounds.top);
    // On the desktop with all its windows: this window paints what joined,
    // the windows behind it what left.
    RedrawWindow(nullptr, nullptr, changed.get(),
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
  }
}
