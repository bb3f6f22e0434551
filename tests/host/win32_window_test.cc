// In-process tests of Win32Window: what a test can only see from inside the
// process (message results, region, focus, class registration, theme
// requests).
#include "host/win32_window.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <vector>

#include "standins/engine/standin_control.h"

namespace {

constexpr wchar_t kThemeKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize";
constexpr wchar_t kThemeValue[] = L"AppsUseLightTheme";

struct DwmRequest {
  HWND window;
  DWORD attribute;
  BOOL value;
  DWORD size;
};
std::vector<DwmRequest> g_dwm_requests;

HRESULT WINAPI RecordDwmRequest(HWND window, DWORD attribute, LPCVOID value,
                                DWORD size) {
  BOOL flag = -1;
  if (size == sizeof(BOOL)) {
    flag = *static_cast<const BOOL*>(value);
  }
  g_dwm_requests.push_back({window, attribute, flag, size});
  return S_OK;
}

bool ClassIsRegistered() {
  WNDCLASSEXW info{};
  info.cbSize = sizeof(info);
  return GetClassInfoExW(GetModuleHandleW(nullptr), kWin32WindowClassName,
                         &info) != 0;
}

RECT WindowBounds(HWND window) {
  RECT bounds{};
  GetWindowRect(window, &bounds);
  return bounds;
}

LPARAM ScreenPoint(int x, int y) {
  return static_cast<LPARAM>(
      (static_cast<uint32_t>(static_cast<uint16_t>(y)) << 16) |
      static_cast<uint16_t>(x));
}

// The theme value of the test prefix's user, restored after each test.
class ThemeSetting {
 public:
  ThemeSetting() {
    DWORD size = sizeof(saved_);
    had_value_ = RegGetValueW(HKEY_CURRENT_USER, kThemeKey, kThemeValue,
                              RRF_RT_REG_DWORD, nullptr, &saved_,
                              &size) == ERROR_SUCCESS;
  }
  ~ThemeSetting() {
    if (had_value_) {
      Set(saved_);
    } else {
      Remove();
    }
  }
  static void Set(DWORD value) {
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, kThemeKey, kThemeValue,
                              REG_DWORD, &value, sizeof(value)),
              ERROR_SUCCESS);
  }
  static void SetText(const wchar_t* text) {
    ASSERT_EQ(RegSetKeyValueW(
                  HKEY_CURRENT_USER, kThemeKey, kThemeValue, REG_SZ, text,
                  static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
  }
  static void Remove() {
    RegDeleteKeyValueW(HKEY_CURRENT_USER, kThemeKey, kThemeValue);
  }

 private:
  DWORD saved_ = 0;
  bool had_value_ = false;
};

class Win32WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    StandinEngineResetControls();
    StandinEngineSetDpiOverride(96);
    g_dwm_requests.clear();
    Win32Window::SetDwmAttributeSetterForTesting(&RecordDwmRequest);
  }
  void TearDown() override {
    Win32Window::SetDwmAttributeSetterForTesting(nullptr);
    StandinEngineResetControls();
    // Nothing of one test may leak into the next through the thread's queue.
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
  }

  ThemeSetting theme_;
};

TEST_F(Win32WindowTest, CreatesHiddenCaptionlessPopupAtScaledBounds) {
  struct Case {
    UINT dpi;
    RECT expected;
  };
  // 144 DPI: everything times 1.5; 120 DPI: 10 * 1.25 = 12.5 truncates to 12.
  const Case cases[] = {{96, {10, 10, 1290, 730}},
                        {144, {15, 15, 1935, 1095}},
                        {120, {12, 12, 1612, 912}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dpi);
    StandinEngineSetDpiOverride(c.dpi);
    Win32Window window;
    ASSERT_TRUE(window.Create(L"quillon_pc", Win32Window::Point(10, 10),
                              Win32Window::Size(1280, 720)));
    HWND handle = window.GetHandle();
    ASSERT_NE(handle, nullptr);
    EXPECT_FALSE(IsWindowVisible(handle));

    const DWORD style = static_cast<DWORD>(GetWindowLongW(handle, GWL_STYLE));
    const DWORD wanted =
        WS_POPUP | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
    EXPECT_EQ(style & wanted, wanted);
    EXPECT_EQ(style & (WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_CHILD), 0u);
    EXPECT_EQ(GetParent(handle), nullptr);

    wchar_t text[64] = {};
    GetWindowTextW(handle, text, 64);
    EXPECT_STREQ(text, L"quillon_pc");
    GetClassNameW(handle, text, 64);
    EXPECT_STREQ(text, kWin32WindowClassName);

    const RECT bounds = WindowBounds(handle);
    EXPECT_EQ(bounds.left, c.expected.left);
    EXPECT_EQ(bounds.top, c.expected.top);
    EXPECT_EQ(bounds.right, c.expected.right);
    EXPECT_EQ(bounds.bottom, c.expected.bottom);
  }
}

TEST_F(Win32WindowTest, WholeWindowIsClientArea) {
  Win32Window window;
  ASSERT_TRUE(window.Create(L"t", Win32Window::Point(20, 30),
                            Win32Window::Size(400, 300)));
  HWND handle = window.GetHandle();

  NCCALCSIZE_PARAMS params{};
  params.rgrc[0] = {100, 200, 500, 500};
  EXPECT_EQ(SendMessageW(handle, WM_NCCALCSIZE, TRUE,
                         reinterpret_cast<LPARAM>(&params)),
            0);
  EXPECT_EQ(params.rgrc[0].left, 100);
  EXPECT_EQ(params.rgrc[0].top, 200);
  EXPECT_EQ(params.rgrc[0].right, 500);
  EXPECT_EQ(params.rgrc[0].bottom, 500);

  // wparam 0 gets default processing: same answer as DefWindowProcW.
  RECT ours = {100, 200, 500, 500};
  RECT defaults = ours;
  EXPECT_EQ(SendMessageW(handle, WM_NCCALCSIZE, FALSE,
                         reinterpret_cast<LPARAM>(&ours)),
            DefWindowProcW(handle, WM_NCCALCSIZE, FALSE,
                           reinterpret_cast<LPARAM>(&defaults)));
  EXPECT_TRUE(EqualRect(&ours, &defaults));

  const RECT client = window.ClientArea();
  EXPECT_EQ(client.right - client.left, 400);
  EXPECT_EQ(client.bottom - client.top, 300);
}

TEST_F(Win32WindowTest, HitTestFindsEightPixelBordersAndCorners) {
  // A window left of and above the primary monitor's origin has negative
  // screen coordinates, which the hit test must read as signed.
  const Win32Window::Point origins[] = {Win32Window::Point(100, 50),
                                        Win32Window::Point(-300, -200)};
  for (const Win32Window::Point& origin : origins) {
    SCOPED_TRACE(origin.x);
    Win32Window window;
    ASSERT_TRUE(window.Create(L"t", origin, Win32Window::Size(400, 300)));
    HWND handle = window.GetHandle();
    const RECT r = WindowBounds(handle);
    ASSERT_EQ(r.left, origin.x);
    const int mid_x = (r.left + r.right) / 2;
    const int mid_y = (r.top + r.bottom) / 2;
    struct Probe {
      int x;
      int y;
      LRESULT expected;
    };
    const Probe probes[] = {
        {r.left + 3, r.top + 3, HTTOPLEFT},
        {r.right - 3, r.top + 3, HTTOPRIGHT},
        {r.left + 3, r.bottom - 3, HTBOTTOMLEFT},
        {r.right - 3, r.bottom - 3, HTBOTTOMRIGHT},
        {r.left, mid_y, HTLEFT},
        {r.left + 7, mid_y, HTLEFT},
        {r.left + 8, mid_y, HTCLIENT},
        {r.right, mid_y, HTRIGHT},
        {r.right - 7, mid_y, HTRIGHT},
        {r.right - 8, mid_y, HTCLIENT},
        {mid_x, r.top, HTTOP},
        {mid_x, r.top + 7, HTTOP},
        {mid_x, r.top + 8, HTCLIENT},
        {mid_x, r.bottom, HTBOTTOM},
        {mid_x, r.bottom - 7, HTBOTTOM},
        {mid_x, r.bottom - 8, HTCLIENT},
        {r.left + 7, r.top + 8, HTLEFT},
        {r.left + 8, r.top + 7, HTTOP},
        {mid_x, mid_y, HTCLIENT},
        // Outside the window: never a border.
        {r.left - 1, r.top + 3, HTCLIENT},
        {mid_x, r.bottom + 1, HTCLIENT},
    };
    for (const Probe& p : probes) {
      EXPECT_EQ(SendMessageW(handle, WM_NCHITTEST, 0, ScreenPoint(p.x, p.y)),
                p.expected)
          << "at " << p.x - r.left << "," << p.y - r.top;
    }
  }
}

TEST_F(Win32WindowTest, MaximisedWindowLeavesHitTestToTheSystem) {
  Win32Window window;
  ASSERT_TRUE(window.Create(L"t", Win32Window::Point(100, 50),
                            Win32Window::Size(400, 300)));
  HWND handle = window.GetHandle();
  ShowWindow(handle, SW_MAXIMIZE);
  ASSERT_TRUE(IsZoomed(handle));
  const RECT r = WindowBounds(handle);
  const LPARAM corner = ScreenPoint(r.left + 3, r.top + 3);
  const LRESULT ours = SendMessageW(handle, WM_NCHITTEST, 0, corner);
  EXPECT_EQ(ours, DefWindowProcW(handle, WM_NCHITTEST, 0, corner));
  EXPECT_NE(ours, HTTOPLEFT);
}

TEST_F(Win32WindowTest, WindowRegionHasRoundedCornersInEverySizeState) {
  Win32Window window;
  ASSERT_TRUE(window.Create(L"t", Win32Window::Point(100, 50),
                            Win32Window::Size(400, 300)));
  HWND handle = window.GetHandle();
  auto expect_region_for_window_size = [&](const char* when) {
    SCOPED_TRACE(when);
    const RECT bounds = WindowBounds(handle);
    HRGN region = CreateRectRgn(0, 0, 0, 0);
    ASSERT_NE(GetWindowRgn(handle, region), ERROR);
    RECT box{};
    GetRgnBox(region, &box);
    EXPECT_EQ(box.left, 0);
    EXPECT_EQ(box.top, 0);
    // A round-rectangle region leaves out its right and bottom edge, so the
    // one pixel added to each brings it to the window's full size.
    EXPECT_EQ(box.right, bounds.right - bounds.left);
    EXPECT_EQ(box.bottom, bounds.bottom - bounds.top);
    // Rounded: the very corner is cut off, a point a little inside is not.
    EXPECT_FALSE(PtInRegion(region, 0, 0));
    EXPECT_TRUE(PtInRegion(region, 8, 8));
    EXPECT_TRUE(PtInRegion(region, 0, (bounds.bottom - bounds.top) / 2));
    DeleteObject(region);
  };
  SetWindowPos(handle, nullptr, 0, 0, 500, 350,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  expect_region_for_window_size("after resize");
  ShowWindow(handle, SW_MAXIMIZE);
  expect_region_for_window_size("maximised");
}

TEST_F(Win32WindowTest, DpiChangeMovesToSuggestedRectangle) {
  Win32Window window;
  ASSERT_TRUE(window.Create(L"t", Win32Window::Point(100, 50),
                            Win32Window::Size(400, 300)));
  HWND handle = window.GetHandle();
  RECT suggested = {40, 60, 640, 510};
  EXPECT_EQ(SendMessageW(handle, WM_DPICHANGED, MAKEWPARAM(144, 144),
                         reinterpret_cast<LPARAM>(&suggested)),
            0);
  const RECT bounds = WindowBounds(handle);
  EXPECT_TRUE(EqualRect(&bounds, &suggested));
  HRGN region = CreateRectRgn(0, 0, 0, 0);
  ASSERT_NE(GetWindowRgn(handle, region), ERROR);
  RECT box{};
  GetRgnBox(region, &box);
  EXPECT_EQ(box.right, 600);
  EXPECT_EQ(box.bottom, 450);
  DeleteObject(region);
}

class ChildWindow {
 public:
  explicit ChildWindow(HWND parent) {
    handle_ =
        CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10,
                        parent, nullptr, GetModuleHandleW(nullptr), nullptr);
  }
  ~ChildWindow() {
    if (IsWindow(handle_)) DestroyWindow(handle_);
  }
  HWND get() const { return handle_; }

 private:
  HWND handle_;
};

TEST_F(Win32WindowTest, ContentFillsClientAreaAndTakesFocus) {
  Win32Window window;
  ASSERT_TRUE(window.Create(L"t", Win32Window::Point(100, 50),
                            Win32Window::Size(400, 300)));
  HWND handle = window.GetHandle();
  ShowWindow(handle, SW_SHOW);
  SetForegroundWindow(handle);

  // Made elsewhere first, as the engine makes its view.
  Win32Window other;
  ASSERT_TRUE(other.Create(L"other", Win32Window::Point(10, 10),
                           Win32Window::Size(50, 50)));
  ChildWindow child(other.GetHandle());
  ASSERT_NE(child.get(), nullptr);

  window.SetContent(child.get());
  EXPECT_EQ(GetParent(child.get()), handle);
  RECT child_bounds{};
  GetClientRect(child.get(), &child_bounds);
  EXPECT_EQ(child_bounds.right, 400);
  EXPECT_EQ(child_bounds.bottom, 300);
  EXPECT_EQ(GetFocus(), child.get());

  SetWindowPos(handle, nullptr, 0, 0, 520, 410,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  GetClientRect(child.get(), &child_bounds);
  EXPECT_EQ(child_bounds.right, 520);
  EXPECT_EQ(child_bounds.bottom, 410);

  // Focus goes back to the content on activation, deactivation included,
  // and on a mouse activation.
  SetFocus(handle);
  ASSERT_EQ(GetFocus(), handle);
  EXPECT_EQ(SendMessageW(handle, WM_ACTIVATE, WA_INACTIVE, 0), 0);
  EXPECT_EQ(GetFocus(), child.get());
  SetFocus(handle);
  EXPECT_EQ(
      SendMessageW(handle, WM_MOUSEACTIVATE, reinterpret_cast<WPARAM>(handle),
                   MAKELPARAM(HTCLIENT, WM_LBUTTONDOWN)),
      MA_ACTIVATE);
  EXPECT_EQ(GetFocus(), child.get());
}

TEST_F(Win32WindowTest, MouseActivateAnswersActivateWithoutContent) {
  Win32Window window;
  ASSERT_TRUE(window.Create(L"t", Win32Window::Point(100, 50),
                            Win32Window::Size(400, 300)));
  EXPECT_EQ(SendMessageW(window.GetHandle(), WM_MOUSEACTIVATE,
                         reinterpret_cast<WPARAM>(window.GetHandle()),
                         MAKELPARAM(HTCLIENT, WM_LBUTTONDOWN)),
            MA_ACTIVATE);
}

TEST_F(Win32WindowTest, WindowOfTheClassWithoutObjectGetsDefaultProcessing) {
  Win32Window owner;
  ASSERT_TRUE(owner.Create(L"t", Win32Window::Point(10, 10),
                           Win32Window::Size(100, 100)));
  HWND stray = CreateWindowExW(0, kWin32WindowClassName, L"stray", WS_POPUP, 0,
                               0, 100, 100, nullptr, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(stray, nullptr);
  EXPECT_EQ(SendMessageW(stray, WM_NCHITTEST, 0, ScreenPoint(2, 2)),
            DefWindowProcW(stray, WM_NCHITTEST, 0, ScreenPoint(2, 2)));
  EXPECT_NE(owner.GetHandle(), stray);
  DestroyWindow(stray);
}

bool TakeQuitMessage(WPARAM* code) {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      *code = message.wParam;
      return true;
    }
  }
  return false;
}

TEST_F(Win32WindowTest, DestroyingTheWindowQuitsOnlyWhenAsked) {
  WPARAM code = 99;
  {
    Win32Window window;
    ASSERT_TRUE(window.Create(L"t", Win32Window::Point(100, 50),
                              Win32Window::Size(400, 300)));
    DestroyWindow(window.GetHandle());
    EXPECT_EQ(window.GetHandle(), nullptr);
    EXPECT_FALSE(TakeQuitMessage(&code));
  }
  Win32Window window;
  ASSERT_TRUE(window.Create(L"t", Win32Window::Point(100, 50),
                            Win32Window::Size(400, 300)));
  window.SetQuitOnClose(true);
  HWND handle = window.GetHandle();
  DestroyWindow(handle);
  EXPECT_FALSE(IsWindow(handle));
  EXPECT_EQ(window.GetHandle(), nullptr);
  ASSERT_TRUE(TakeQuitMessage(&code));
  EXPECT_EQ(code, 0u);
}

TEST_F(Win32WindowTest, LastWindowObjectUnregistersTheSharedClass) {
  ASSERT_FALSE(ClassIsRegistered());
  auto first = std::make_unique<Win32Window>();
  auto second = std::make_unique<Win32Window>();
  ASSERT_TRUE(first->Create(L"a", Win32Window::Point(10, 10),
                            Win32Window::Size(100, 100)));
  ASSERT_TRUE(second->Create(L"b", Win32Window::Point(20, 20),
                             Win32Window::Size(100, 100)));
  EXPECT_TRUE(ClassIsRegistered());

  // One object gone: the other's window keeps the class.
  first.reset();
  EXPECT_TRUE(ClassIsRegistered());
  EXPECT_TRUE(IsWindow(second->GetHandle()));

  // The last object goes while its window still exists: the window is
  // destroyed and the class unregistered.
  HWND last = second->GetHandle();
  second.reset();
  EXPECT_FALSE(IsWindow(last));
  EXPECT_FALSE(ClassIsRegistered());

  // And it can be registered again afterwards.
  Win32Window again;
  ASSERT_TRUE(again.Create(L"c", Win32Window::Point(10, 10),
                           Win32Window::Size(100, 100)));
  EXPECT_TRUE(ClassIsRegistered());
}

TEST_F(Win32WindowTest, CreateAgainReplacesTheWindow) {
  Win32Window window;
  ASSERT_TRUE(window.Create(L"a", Win32Window::Point(10, 10),
                            Win32Window::Size(100, 100)));
  HWND first = window.GetHandle();
  ASSERT_TRUE(window.Create(L"b", Win32Window::Point(10, 10),
                            Win32Window::Size(100, 100)));
  EXPECT_FALSE(IsWindow(first));
  EXPECT_TRUE(IsWindow(window.GetHandle()));
}

class RefusingWindow : public Win32Window {
 protected:
  bool OnCreate() override { return false; }
};

TEST_F(Win32WindowTest, RefusedOnCreateFailsCreateButKeepsWindowUntilDestroy) {
  HWND handle = nullptr;
  {
    RefusingWindow window;
    EXPECT_FALSE(window.Create(L"t", Win32Window::Point(10, 10),
                               Win32Window::Size(100, 100)));
    handle = window.GetHandle();
    EXPECT_TRUE(IsWindow(handle));
  }
  EXPECT_FALSE(IsWindow(handle));
  EXPECT_FALSE(ClassIsRegistered());
}

class ThrowingWindow : public Win32Window {
 protected:
  LRESULT HandleMessage(HWND window, UINT message, WPARAM wparam,
                        LPARAM lparam) override {
    if (message == WM_APP + 7) {
      throw std::runtime_error("handler failed");
    }
    return Win32Window::HandleMessage(window, message, wparam, lparam);
  }
};

TEST_F(Win32WindowTest, ExceptionInHandlerStopsAtTheWindowProcedure) {
  ThrowingWindow window;
  ASSERT_TRUE(window.Create(L"t", Win32Window::Point(10, 10),
                            Win32Window::Size(100, 100)));
  testing::internal::CaptureStderr();
  EXPECT_EQ(SendMessageW(window.GetHandle(), WM_APP + 7, 0, 0), 0);
  const std::string error = testing::internal::GetCapturedStderr();
  EXPECT_NE(error.find("handler failed"), std::string::npos) << error;
  EXPECT_TRUE(IsWindow(window.GetHandle()));
}

TEST_F(Win32WindowTest, ThemeFollowsAppsUseLightTheme) {
  ThemeSetting::Set(0);
  Win32Window window;
  ASSERT_TRUE(window.Create(L"t", Win32Window::Point(10, 10),
                            Win32Window::Size(100, 100)));
  HWND handle = window.GetHandle();
  ASSERT_EQ(g_dwm_requests.size(), 1u);
  EXPECT_EQ(g_dwm_requests[0].window, handle);
  EXPECT_EQ(g_dwm_requests[0].attribute, 20u);
  EXPECT_EQ(g_dwm_requests[0].value, TRUE);
  EXPECT_EQ(g_dwm_requests[0].size, 4u);

  // Only a colorisation change reads the setting again.
  ThemeSetting::Set(1);
  SendMessageW(handle, WM_SIZE, SIZE_RESTORED, MAKELPARAM(100, 100));
  EXPECT_EQ(g_dwm_requests.size(), 1u);
  EXPECT_EQ(SendMessageW(handle, WM_DWMCOLORIZATIONCOLORCHANGED, 0, 0), 0);
  ASSERT_EQ(g_dwm_requests.size(), 2u);
  EXPECT_EQ(g_dwm_requests[1].value, FALSE);
}

TEST_F(Win32WindowTest, ThemeLeftAloneWithoutAReadableSetting) {
  ThemeSetting::Remove();
  {
    Win32Window window;
    ASSERT_TRUE(window.Create(L"t", Win32Window::Point(10, 10),
                              Win32Window::Size(100, 100)));
    SendMessageW(window.GetHandle(), WM_DWMCOLORIZATIONCOLORCHANGED, 0, 0);
  }
  ThemeSetting::SetText(L"0");
  Win32Window window;
  ASSERT_TRUE(window.Create(L"t", Win32Window::Point(10, 10),
                            Win32Window::Size(100, 100)));
  EXPECT_TRUE(g_dwm_requests.empty());
}

}  // namespace
