// The application's top-level window: a captionless, resizable popup with
// rounded corners (drawn by DWM where the system offers it), scaled to the
// monitor's DPI, that maximises to the monitor's work area, keeps one content
// child filling its client area and follows the system's light or dark app
// mode.
#ifndef QUILLON_HOST_WIN32_WINDOW_H_
#define QUILLON_HOST_WIN32_WINDOW_H_

#include <windows.h>
// After windows.h, whose types it uses.
#include <dwmapi.h>

#include <string>

#include "interfaces/app_window_identity.h"
#include "platform/win32_handles.h"

class Win32Window {
 public:
  // Logical (96 DPI) pixels.
  struct Point {
    Point(int x, int y) : x(x), y(y) {}
    int x;
    int y;
  };
  struct Size {
    Size(int width, int height) : width(width), height(height) {}
    int width;
    int height;
  };

  // Sets a DWM window attribute; the same signature as DwmSetWindowAttribute.
  using DwmAttributeSetter = HRESULT(WINAPI*)(HWND, DWORD, LPCVOID, DWORD);
  // The same signature as DwmExtendFrameIntoClientArea.
  using DwmFrameExtender = HRESULT(WINAPI*)(HWND, const MARGINS*);
  // The edges (bit 1 << ABE_LEFT, ABE_TOP, ...) of |monitor| (its full
  // rectangle) on which an auto-hiding taskbar sits.
  using AutoHideEdgesQuery = UINT (*)(const RECT& monitor);

  Win32Window();
  virtual ~Win32Window();

  Win32Window(const Win32Window&) = delete;
  Win32Window& operator=(const Win32Window&) = delete;

  // Creates the native window, hidden, on the monitor under the mouse (the
  // one nearest |origin| when the cursor cannot be read): |size| scaled by
  // that monitor's DPI, shrunk to its work area and centred there. Returns
  // false when the window could not be created or OnCreate refused it.
  bool Create(const std::wstring& title, const Point& origin, const Size& size);

  // When there is a native window: runs OnDestroy, then destroys it; once
  // per window, also when the window's own WM_DESTROY comes back here.
  // Unregisters the window class once no Win32Window object is left.
  void Destroy();

  // Adopts |content| as the child that fills the client area and has focus.
  void SetContent(HWND content);

  HWND GetHandle() const { return window_handle_.get(); }

  // When set, destroying the window posts WM_QUIT (exit code 0).
  void SetQuitOnClose(bool quit_on_close) { quit_on_close_ = quit_on_close; }

  RECT ClientArea() const;

  // Turns DWM's dark mode on or off for |window| from the user's
  // "AppsUseLightTheme" setting; leaves it alone when the setting is absent.
  static void ApplySystemTheme(HWND window);

  // Replaces the DWM call that ApplySystemTheme makes (null restores the
  // system's), so tests can see requests that Wine does not report back.
  static void SetDwmAttributeSetterForTesting(DwmAttributeSetter setter);
  // The same for the DWM frame extension, the Windows build number that
  // tells whether DWM rounds corners (0 restores the system's), and the
  // auto-hiding taskbar query.
  static void SetDwmFrameExtenderForTesting(DwmFrameExtender extender);
  static void SetWindowsBuildForTesting(DWORD build);
  static void SetAutoHideEdgesQueryForTesting(AutoHideEdgesQuery query);

 protected:
  // Per-window message handler; derived windows pass on what they do not
  // handle.
  virtual LRESULT HandleMessage(HWND window, UINT message, WPARAM wparam,
                                LPARAM lparam);

  // Runs at the end of Create; returning false makes Create fail.
  virtual bool OnCreate();

  // Runs once per native window, before it goes: from Destroy, or when the
  // window is destroyed otherwise (WM_DESTROY).
  virtual void OnDestroy();

 private:
  // The handlers HandleMessage routes messages to (in the source file).
  struct MessageHandlers;

  static LRESULT CALLBACK WindowProcedure(HWND window, UINT message,
                                          WPARAM wparam,
                                          LPARAM lparam) noexcept;

  LRESULT HitTestBorders(HWND window, LPARAM lparam) const;
  // Rounds the corners with a region where DWM does not; no region while
  // maximised.
  void UpdateWindowRegion(HWND window, int width, int height, UINT dpi) const;
  // Asks DWM for rounded corners, its shadow and thin border; false where
  // the system does not offer rounded corners.
  static bool RequestDwmCorners(HWND window);
  // The class goes when no Win32Window object is left.
  static void UnregisterClassIfUnused();

  bool quit_on_close_ = false;
  // DWM draws the rounded corners: no region is ever applied.
  bool dwm_corners_ = false;
  // Released (not destroyed again) when the window is destroyed by others.
  platform::UniqueWindow window_handle_;
  // The content's owner destroys it.
  HWND child_content_ = nullptr;
};

#endif  // QUILLON_HOST_WIN32_WINDOW_H_
