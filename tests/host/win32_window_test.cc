// In-process tests of Win32Window: what a test can only see from inside the
// process (message results, region, focus, class registration, theme
// requests).
#include "host/win32_window.h"

#include <windows.h>
#include <gtest/gtest.h>
// After windows.h, whose types it uses.
#include <shellapi.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <vector>

#include "standins/engine/standin_control.h"
#include "tests/support/program_run.h"

namespace {

using test_support::ClientOnScreen;
using test_support::PrimaryWorkArea;

constexpr wchar_t kThemeKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize";
constexpr wchar_t kThemeValue[] = L"AppsUseLightTheme";

constexpr DWORD kDarkModeAttribute = 20;
constexpr DWORD kCornerPreferenceAttribute = 33;
constexpr DWORD kWindows10Build = 19045;
constexpr DWORD kWindows11Build = 22631;

struct DwmRequest {
  HWND window;
  DWORD attribute;
  BOOL value;
  DWORD size;
};
std::vector<DwmRequest> g_dwm_requests;
// What the recorded setter answers for the corner preference: Windows 10
// refuses the attribute.
HRESULT g_corner_answer = E_INVALIDARG;
std::vector<MARGINS> g_frame_extensions;
UINT g_auto_hide_edges = 0;
int g_auto_hide_queries = 0;

HRESULT WINAPI RecordDwmRequest(HWND window, DWORD attribute, LPCVOID value,
                                DWORD size) {
  BOOL flag = -1;
  if (size == sizeof(BOOL)) {
    flag = *static_cast<const BOOL*>(value);
  }
  g_dwm_requests.push_back({window, attribute, flag, size});
  return attribute == kCornerPreferenceAttribute ? g_corner_answer : S_OK;
}

HRESULT WINAPI RecordFrameExtension(HWND, const MARGINS* margins) {
  g_frame_extensions.push_back(*margins);
  return S_OK;
}

UINT AutoHideEdges(const RECT&) {
  ++g_auto_hide_queries;
  return g_auto_hide_edges;
}

std::vector<DwmRequest> RequestsFor(DWORD attribute) {
  std::vector<DwmRequest> found;
  for (const DwmRequest& request : g_dwm_requests) {
    if (request.attribute == attribute) found.push_back(request);
  }
  return found;
}

bool ClassIsRegistered() {
  WNDCLASSEXW info{};
  info.cbSize = sizeof(info);
  return GetClassInfoExW(GetModuleHandleW(nullptr), kAppWindowClassName,
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

// The window most tests use: at (100, 50), 400 x 300 logical pixels.
bool CreateStandard(Win32Window& window) {
  return window.Create(L"t", Win32Window::Point(100, 50),
                       Win32Window::Size(400, 300));
}

class Win32WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    StandinEngineResetControls();
    StandinEngineSetDpiOverride(96);
    g_dwm_requests.clear();
    g_frame_extensions.clear();
    g_corner_answer = E_INVALIDARG;
    g_auto_hide_edges = 0;
    Win32Window::SetDwmAttributeSetterForTesting(&RecordDwmRequest);
    Win32Window::SetDwmFrameExtenderForTesting(&RecordFrameExtension);
    Win32Window::SetWindowsBuildForTesting(kWindows10Build);
    Win32Window::SetAutoHideEdgesQueryForTesting(&AutoHideEdges);
  }
  void TearDown() override {
    Win32Window::SetDwmAttributeSetterForTesting(nullptr);
    Win32Window::SetDwmFrameExtenderForTesting(nullptr);
    Win32Window::SetWindowsBuildForTesting(0);
    Win32Window::SetAutoHideEdgesQueryForTesting(nullptr);
    StandinEngineResetControls();
    // Nothing of one test may leak into the next through the thread's queue.
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
  }

  ThemeSetting theme_;
};

TEST_F(Win32WindowTest, CreatesHiddenCaptionlessPopupFittedToTheWorkArea) {
  // One monitor under Wine, with a taskbar: 1080 px do not fit its height.
  const RECT work = PrimaryWorkArea();
  const LONG work_width = work.right - work.left;
  const LONG work_height = work.bottom - work.top;
  ASSERT_LT(work_height, 1080);
  struct Case {
    UINT dpi;
    SIZE scaled;  // 1280 x 720 logical pixels at that DPI
  };
  const Case cases[] = {
      {96, {1280, 720}}, {144, {1920, 1080}}, {120, {1600, 900}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dpi);
    StandinEngineSetDpiOverride(c.dpi);
    Win32Window window;
    // The origin no longer places the window: it opens centred.
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
    EXPECT_STREQ(text, kAppWindowClassName);

    const RECT bounds = WindowBounds(handle);
    const LONG width = bounds.right - bounds.left;
    const LONG height = bounds.bottom - bounds.top;
    EXPECT_EQ(width, std::min(c.scaled.cx, work_width));
    EXPECT_EQ(height, std::min(c.scaled.cy, work_height));
    EXPECT_EQ(bounds.left - work.left, (work_width - width) / 2);
    EXPECT_EQ(bounds.top - work.top, (work_height - height) / 2);
    const RECT client = window.ClientArea();
    EXPECT_EQ(client.right, width);
    EXPECT_EQ(client.bottom, height);
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

// The sizing band the system gives a window at |dpi|.
SIZE SystemSizingBand(UINT dpi) {
  const int padding = GetSystemMetricsForDpi(SM_CXPADDEDBORDER, dpi);
  return SIZE{GetSystemMetricsForDpi(SM_CXSIZEFRAME, dpi) + padding,
              GetSystemMetricsForDpi(SM_CYSIZEFRAME, dpi) + padding};
}

TEST_F(Win32WindowTest, HitTestFindsTheSystemSizingBandAndCorners) {
  // The band follows the window's DPI, not a fixed number of pixels (Windows
  // gives 8 at 96 DPI and 16 at 192, Wine 4 and 5).
  ASSERT_GT(SystemSizingBand(192).cx, SystemSizingBand(96).cx);
  // A window left of and above the primary monitor's origin has negative
  // screen coordinates, which the hit test must read as signed.
  struct Case {
    POINT origin;
    UINT dpi;
  };
  const Case cases[] = {{{100, 50}, 96}, {{-300, -200}, 96}, {{40, 30}, 192}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.origin.x << " at " << c.dpi);
    StandinEngineSetDpiOverride(c.dpi);
    const SIZE band = SystemSizingBand(c.dpi);
    ASSERT_GE(band.cx, 4);
    ASSERT_GE(band.cy, 4);
    Win32Window window;
    ASSERT_TRUE(CreateStandard(window));
    HWND handle = window.GetHandle();
    SetWindowPos(handle, nullptr, c.origin.x, c.origin.y, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    const RECT r = WindowBounds(handle);
    // The first and last pixel of each direction; right and bottom are
    // exclusive.
    const int first_x = r.left, last_x = r.right - 1;
    const int first_y = r.top, last_y = r.bottom - 1;
    const int mid_x = (r.left + r.right) / 2;
    const int mid_y = (r.top + r.bottom) / 2;
    const auto hit = [handle](int x, int y) {
      return SendMessageW(handle, WM_NCHITTEST, 0, ScreenPoint(x, y));
    };
    // The same depth into the band from either side gives the same answer.
    for (int depth = 0; depth <= band.cx + 1; ++depth) {
      SCOPED_TRACE(depth);
      const bool in_band = depth < band.cx;
      EXPECT_EQ(hit(first_x + depth, mid_y), in_band ? HTLEFT : HTCLIENT);
      EXPECT_EQ(hit(last_x - depth, mid_y), in_band ? HTRIGHT : HTCLIENT);
      EXPECT_EQ(hit(mid_x, first_y + depth),
                depth < band.cy ? HTTOP : HTCLIENT);
      EXPECT_EQ(hit(mid_x, last_y - depth),
                depth < band.cy ? HTBOTTOM : HTCLIENT);
    }
    EXPECT_EQ(hit(first_x + 3, first_y + 3), HTTOPLEFT);
    EXPECT_EQ(hit(last_x - 3, first_y + 3), HTTOPRIGHT);
    EXPECT_EQ(hit(first_x + 3, last_y - 3), HTBOTTOMLEFT);
    EXPECT_EQ(hit(last_x - 3, last_y - 3), HTBOTTOMRIGHT);
    EXPECT_EQ(hit(first_x + band.cx - 1, first_y + band.cy), HTLEFT);
    EXPECT_EQ(hit(first_x + band.cx, first_y + band.cy - 1), HTTOP);
    EXPECT_EQ(hit(mid_x, mid_y), HTCLIENT);
    // Outside the window, one pixel past any edge or corner: never a border.
    for (const POINT outside :
         {POINT{first_x - 1, mid_y}, POINT{last_x + 1, mid_y},
          POINT{mid_x, first_y - 1}, POINT{mid_x, last_y + 1},
          POINT{first_x - 1, first_y - 1}, POINT{last_x + 1, last_y + 1},
          POINT{last_x + 1, first_y}, POINT{first_x, last_y + 1}}) {
      EXPECT_EQ(hit(outside.x, outside.y), HTCLIENT)
          << "at " << outside.x - r.left << "," << outside.y - r.top;
    }
  }
}

TEST_F(Win32WindowTest, MaximisedWindowLeavesHitTestToTheSystem) {
  Win32Window window;
  ASSERT_TRUE(CreateStandard(window));
  HWND handle = window.GetHandle();
  ShowWindow(handle, SW_MAXIMIZE);
  ASSERT_TRUE(IsZoomed(handle));
  const RECT r = WindowBounds(handle);
  const LPARAM corner = ScreenPoint(r.left + 3, r.top + 3);
  const LRESULT ours = SendMessageW(handle, WM_NCHITTEST, 0, corner);
  EXPECT_EQ(ours, DefWindowProcW(handle, WM_NCHITTEST, 0, corner));
  EXPECT_NE(ours, HTTOPLEFT);
}

// The window's region, or an empty box when it has none.
RECT RegionBox(HWND window, bool* has_region, HRGN* region_out = nullptr) {
  HRGN region = CreateRectRgn(0, 0, 0, 0);
  RECT box{};
  *has_region = GetWindowRgn(window, region) != ERROR;
  if (*has_region) GetRgnBox(region, &box);
  if (region_out != nullptr) {
    *region_out = region;
  } else {
    DeleteObject(region);
  }
  return box;
}

TEST_F(Win32WindowTest, RegionRoundsTheCornersWhereDwmDoesNot) {
  // Windows 10: DWM refuses the corner preference, the region rounds them.
  Win32Window window;
  ASSERT_TRUE(CreateStandard(window));
  HWND handle = window.GetHandle();
  EXPECT_TRUE(g_frame_extensions.empty());
  auto expect_rounded_region = [&](const char* when) {
    SCOPED_TRACE(when);
    const RECT bounds = WindowBounds(handle);
    bool has_region = false;
    HRGN region = nullptr;
    const RECT box = RegionBox(handle, &has_region, &region);
    ASSERT_TRUE(has_region);
    EXPECT_EQ(box.left, 0);
    EXPECT_EQ(box.top, 0);
    // A round-rectangle region leaves out its right and bottom edge, so the
    // one pixel added to each brings it to the window's full size.
    EXPECT_EQ(box.right, bounds.right - bounds.left);
    EXPECT_EQ(box.bottom, bounds.bottom - bounds.top);
    // Rounded: the very corner is cut off, a point a little inside is not.
    EXPECT_FALSE(PtInRegion(region, 0, 0));
    EXPECT_TRUE(PtInRegion(region, 3, 3));
    EXPECT_TRUE(PtInRegion(region, 0, (bounds.bottom - bounds.top) / 2));
    DeleteObject(region);
  };
  expect_rounded_region("created");
  SetWindowPos(handle, nullptr, 0, 0, 500, 350,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  expect_rounded_region("after resize");

  // Maximised, the edges meet the monitor's: square, no region at all.
  ShowWindow(handle, SW_MAXIMIZE);
  ASSERT_TRUE(IsZoomed(handle));
  bool has_region = true;
  RegionBox(handle, &has_region);
  EXPECT_FALSE(has_region);
  ShowWindow(handle, SW_RESTORE);
  expect_rounded_region("restored");
}

TEST_F(Win32WindowTest, RegionCornersGrowWithTheDpi) {
  // 16 px at 96 DPI are 24 px at 144 DPI: (3, 3) lies outside the corner.
  StandinEngineSetDpiOverride(144);
  Win32Window window;
  ASSERT_TRUE(CreateStandard(window));
  bool has_region = false;
  HRGN region = nullptr;
  RegionBox(window.GetHandle(), &has_region, &region);
  ASSERT_TRUE(has_region);
  EXPECT_FALSE(PtInRegion(region, 3, 3));
  EXPECT_TRUE(PtInRegion(region, 4, 4));
  DeleteObject(region);
}

TEST_F(Win32WindowTest, DwmRoundsTheCornersOnWindows11) {
  Win32Window::SetWindowsBuildForTesting(kWindows11Build);
  g_corner_answer = S_OK;
  Win32Window window;
  ASSERT_TRUE(CreateStandard(window));
  HWND handle = window.GetHandle();
  const std::vector<DwmRequest> corners =
      RequestsFor(kCornerPreferenceAttribute);
  ASSERT_EQ(corners.size(), 1u);
  EXPECT_EQ(corners[0].window, handle);
  EXPECT_EQ(corners[0].value, 2);  // DWMWCP_ROUND
  EXPECT_EQ(corners[0].size, 4u);
  // One pixel of frame brings DWM's shadow and border.
  ASSERT_EQ(g_frame_extensions.size(), 1u);
  EXPECT_EQ(g_frame_extensions[0].cxLeftWidth, 0);
  EXPECT_EQ(g_frame_extensions[0].cxRightWidth, 0);
  EXPECT_EQ(g_frame_extensions[0].cyTopHeight, 1);
  EXPECT_EQ(g_frame_extensions[0].cyBottomHeight, 0);

  // No region ever, whatever the size.
  bool has_region = true;
  RegionBox(handle, &has_region);
  EXPECT_FALSE(has_region);
  SetWindowPos(handle, nullptr, 0, 0, 500, 350,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  RECT suggested = {40, 60, 640, 510};
  SendMessageW(handle, WM_DPICHANGED, MAKEWPARAM(144, 144),
               reinterpret_cast<LPARAM>(&suggested));
  RegionBox(handle, &has_region);
  EXPECT_FALSE(has_region);
}

TEST_F(Win32WindowTest, RegionStaysWhereTheCornerRequestFailsOrWindowsIsOld) {
  struct Case {
    DWORD build;
    HRESULT answer;
  };
  // A system that reports success for an attribute it lacks must not lose
  // its corners: the build decides as well.
  for (const Case& c :
       {Case{kWindows11Build, E_INVALIDARG}, Case{kWindows10Build, S_OK}}) {
    SCOPED_TRACE(c.build);
    Win32Window::SetWindowsBuildForTesting(c.build);
    g_corner_answer = c.answer;
    g_frame_extensions.clear();
    Win32Window window;
    ASSERT_TRUE(CreateStandard(window));
    bool has_region = false;
    RegionBox(window.GetHandle(), &has_region);
    EXPECT_TRUE(has_region);
    EXPECT_TRUE(g_frame_extensions.empty());
  }
}

RECT WorkAreaOf(HWND window) {
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &info);
  return info.rcWork;
}

TEST_F(Win32WindowTest, MaximisedClientAreaIsTheWorkArea) {
  Win32Window window;
  ASSERT_TRUE(CreateStandard(window));
  HWND handle = window.GetHandle();
  ShowWindow(handle, SW_SHOWNORMAL);
  const RECT normal = WindowBounds(handle);

  ShowWindow(handle, SW_MAXIMIZE);
  ASSERT_TRUE(IsZoomed(handle));
  const RECT work = WorkAreaOf(handle);
  const RECT client = ClientOnScreen(handle);
  EXPECT_TRUE(EqualRect(&client, &work))
      << client.left << "," << client.top << "," << client.right << ","
      << client.bottom << " vs " << work.left << "," << work.top << ","
      << work.right << "," << work.bottom;
  // No sizing band while maximised.
  EXPECT_NE(SendMessageW(handle, WM_NCHITTEST, 0,
                         ScreenPoint(work.left + 2, work.top + 200)),
            HTLEFT);

  ShowWindow(handle, SW_RESTORE);
  const RECT restored = WindowBounds(handle);
  EXPECT_TRUE(EqualRect(&restored, &normal));
}

TEST_F(Win32WindowTest, MaximisedWindowLeavesAGapAtAnAutoHidingTaskbar) {
  const struct {
    UINT edge;
    RECT inset;  // how far each side of the client lies inside the work area
  } cases[] = {{ABE_BOTTOM, {0, 0, 0, 2}},
               {ABE_LEFT, {2, 0, 0, 0}},
               {ABE_TOP, {0, 2, 0, 0}},
               {ABE_RIGHT, {0, 0, 2, 0}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.edge);
    Win32Window window;
    ASSERT_TRUE(CreateStandard(window));
    HWND handle = window.GetHandle();
    // The taskbar moves to another edge, which the system announces.
    g_auto_hide_edges = 1u << c.edge;
    SendMessageW(handle, WM_SETTINGCHANGE, SPI_SETWORKAREA, 0);
    g_auto_hide_queries = 0;
    ShowWindow(handle, SW_MAXIMIZE);
    // Later size negotiations of the maximised window ask no more.
    for (int i = 0; i < 2; ++i) {
      SetWindowPos(handle, nullptr, 0, 0, 0, 0,
                   SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER |
                       SWP_NOACTIVATE);
    }
    EXPECT_EQ(g_auto_hide_queries, 1);
    const RECT work = WorkAreaOf(handle);
    const RECT client = ClientOnScreen(handle);
    EXPECT_EQ(client.left - work.left, c.inset.left);
    EXPECT_EQ(client.top - work.top, c.inset.top);
    EXPECT_EQ(work.right - client.right, c.inset.right);
    EXPECT_EQ(work.bottom - client.bottom, c.inset.bottom);
  }
}

TEST_F(Win32WindowTest, DpiChangeMovesToSuggestedRectangle) {
  Win32Window window;
  ASSERT_TRUE(CreateStandard(window));
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
  ASSERT_TRUE(CreateStandard(window));
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

TEST_F(Win32WindowTest, MinimisedWindowLeavesTheContentItsSize) {
  Win32Window window;
  ASSERT_TRUE(CreateStandard(window));
  HWND handle = window.GetHandle();
  ShowWindow(handle, SW_SHOWNORMAL);
  ChildWindow child(handle);
  window.SetContent(child.get());
  // Minimised without a system command, as Win+Down or a program does it.
  ShowWindow(handle, SW_MINIMIZE);
  ASSERT_TRUE(IsIconic(handle));
  RECT child_bounds{};
  GetClientRect(child.get(), &child_bounds);
  EXPECT_EQ(child_bounds.right, 400);
  EXPECT_EQ(child_bounds.bottom, 300);
  ShowWindow(handle, SW_RESTORE);
  GetClientRect(child.get(), &child_bounds);
  EXPECT_EQ(child_bounds.right, 400);
  EXPECT_EQ(child_bounds.bottom, 300);
}

TEST_F(Win32WindowTest, MouseActivateAnswersActivateWithoutContent) {
  Win32Window window;
  ASSERT_TRUE(CreateStandard(window));
  EXPECT_EQ(SendMessageW(window.GetHandle(), WM_MOUSEACTIVATE,
                         reinterpret_cast<WPARAM>(window.GetHandle()),
                         MAKELPARAM(HTCLIENT, WM_LBUTTONDOWN)),
            MA_ACTIVATE);
}

TEST_F(Win32WindowTest, WindowOfTheClassWithoutObjectGetsDefaultProcessing) {
  Win32Window owner;
  ASSERT_TRUE(owner.Create(L"t", Win32Window::Point(10, 10),
                           Win32Window::Size(100, 100)));
  HWND stray = CreateWindowExW(0, kAppWindowClassName, L"stray", WS_POPUP, 0, 0,
                               100, 100, nullptr, nullptr,
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
    ASSERT_TRUE(CreateStandard(window));
    DestroyWindow(window.GetHandle());
    EXPECT_EQ(window.GetHandle(), nullptr);
    EXPECT_FALSE(TakeQuitMessage(&code));
  }
  Win32Window window;
  ASSERT_TRUE(CreateStandard(window));
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

// Counts OnDestroy and notes whether the window was still there for it.
class CountingWindow : public Win32Window {
 public:
  int destroyed = 0;
  bool had_window = false;

 protected:
  void OnDestroy() override {
    ++destroyed;
    had_window = IsWindow(GetHandle()) != FALSE;
  }
};

TEST_F(Win32WindowTest, OnDestroyRunsOncePerWindowWhoeverDestroysIt) {
  CountingWindow ours;
  ASSERT_TRUE(ours.Create(L"a", Win32Window::Point(10, 10),
                          Win32Window::Size(100, 100)));
  HWND first = ours.GetHandle();
  ours.Destroy();  // its WM_DESTROY comes back through the window procedure
  ours.Destroy();
  EXPECT_EQ(ours.destroyed, 1);
  EXPECT_TRUE(ours.had_window);
  EXPECT_FALSE(IsWindow(first));

  CountingWindow theirs;
  ASSERT_TRUE(theirs.Create(L"b", Win32Window::Point(10, 10),
                            Win32Window::Size(100, 100)));
  ASSERT_TRUE(DestroyWindow(theirs.GetHandle()));
  EXPECT_EQ(theirs.destroyed, 1);
  EXPECT_EQ(theirs.GetHandle(), nullptr);
  theirs.Destroy();
  EXPECT_EQ(theirs.destroyed, 1);
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
  std::vector<DwmRequest> dark = RequestsFor(kDarkModeAttribute);
  ASSERT_EQ(dark.size(), 1u);
  EXPECT_EQ(dark[0].window, handle);
  EXPECT_EQ(dark[0].value, TRUE);
  EXPECT_EQ(dark[0].size, 4u);

  // A colorisation change or the app mode's own announcement reads the
  // setting again; other settings do not.
  ThemeSetting::Set(1);
  SendMessageW(handle, WM_SIZE, SIZE_RESTORED, MAKELPARAM(100, 100));
  SendMessageW(handle, WM_SETTINGCHANGE, 0,
               reinterpret_cast<LPARAM>(L"Policy"));
  SendMessageW(handle, WM_SETTINGCHANGE, SPI_SETWORKAREA, 0);
  EXPECT_EQ(RequestsFor(kDarkModeAttribute).size(), 1u);
  EXPECT_EQ(SendMessageW(handle, WM_DWMCOLORIZATIONCOLORCHANGED, 0, 0), 0);
  dark = RequestsFor(kDarkModeAttribute);
  ASSERT_EQ(dark.size(), 2u);
  EXPECT_EQ(dark[1].value, FALSE);
  ThemeSetting::Set(0);
  SendMessageW(handle, WM_SETTINGCHANGE, 0,
               reinterpret_cast<LPARAM>(L"ImmersiveColorSet"));
  dark = RequestsFor(kDarkModeAttribute);
  ASSERT_EQ(dark.size(), 3u);
  EXPECT_EQ(dark[2].window, handle);
  EXPECT_EQ(dark[2].value, TRUE);
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
  EXPECT_TRUE(RequestsFor(kDarkModeAttribute).empty());
}

}  // namespace
