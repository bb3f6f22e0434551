// The stand-in's view window on Windows: class, size, creation parameter,
// adoption by a host window and its end.
#include <windows.h>

#include <string>
#include <vector>

#include "tests/standin_engine/standin_test_support.h"

namespace {

using standin_test::CreateEngine;

// What a thread hook saw of each window created while it was installed.
struct Created {
  HWND window;
  std::wstring class_name;  // empty when created by atom
  const void* parameter;
  int width;
  int height;
  LONG style;
};
std::vector<Created>* g_created = nullptr;

LRESULT CALLBACK CreationHook(int code, WPARAM wparam, LPARAM lparam) {
  if (code == HCBT_CREATEWND && g_created != nullptr) {
    const CREATESTRUCTW* create =
        reinterpret_cast<CBT_CREATEWNDW*>(lparam)->lpcs;
    std::wstring name =
        IS_INTRESOURCE(create->lpszClass) ? L"" : create->lpszClass;
    g_created->push_back({reinterpret_cast<HWND>(wparam), name,
                          create->lpCreateParams, create->cx, create->cy,
                          create->style});
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

constexpr wchar_t kHostClass[] = L"StandinViewTestHost";

HWND CreateHostWindow() {
  static const bool registered = [] {
    WNDCLASSEXW host{};
    host.cbSize = sizeof(host);
    host.lpfnWndProc = DefWindowProcW;
    host.hInstance = GetModuleHandleW(nullptr);
    host.lpszClassName = kHostClass;
    return RegisterClassExW(&host) != 0;
  }();
  EXPECT_TRUE(registered);
  return CreateWindowExW(0, kHostClass, L"host", WS_POPUP, 0, 0, 640, 480,
                         nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
}

class ViewWindowTest : public standin_test::StandinTest {
 protected:
  void SetUp() override {
    StandinTest::SetUp();
    g_created = &created_;
    HHOOK hook =
        SetWindowsHookExW(WH_CBT, CreationHook, nullptr, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    engine_ = CreateEngine();
    controller_ = FlutterDesktopViewControllerCreate(320, 240, engine_);
    UnhookWindowsHookEx(hook);
    g_created = nullptr;
    ASSERT_NE(controller_, nullptr);
    view_ = FlutterDesktopViewGetHWND(
        FlutterDesktopViewControllerGetView(controller_));
    ASSERT_NE(view_, nullptr);
  }
  void TearDown() override {
    if (controller_ != nullptr) {
      FlutterDesktopViewControllerDestroy(controller_);
    }
    StandinTest::TearDown();
  }

  std::vector<Created> created_;
  FlutterDesktopEngineRef engine_ = nullptr;
  FlutterDesktopViewControllerRef controller_ = nullptr;
  HWND view_ = nullptr;
};

TEST_F(ViewWindowTest, ViewIsAFlutterViewChildOfTheRequestedSize) {
  wchar_t class_name[32] = {};
  GetClassNameW(view_, class_name, 32);
  EXPECT_STREQ(class_name, L"FLUTTERVIEW");
  RECT client{};
  GetClientRect(view_, &client);
  EXPECT_EQ(client.right, 320);
  EXPECT_EQ(client.bottom, 240);
  EXPECT_NE(GetWindowLongPtrW(view_, GWL_STYLE) & WS_CHILD, 0);
  EXPECT_EQ(StandinEngineViewWindow(engine_), view_);

  // Creation as a host's hook sees it: by class name, with a non-null
  // creation parameter and the requested size.
  const Created* seen = nullptr;
  for (const Created& created : created_) {
    if (created.window == view_) {
      seen = &created;
    }
  }
  ASSERT_NE(seen, nullptr);
  EXPECT_EQ(seen->class_name, L"FLUTTERVIEW");
  EXPECT_NE(seen->parameter, nullptr);
  EXPECT_EQ(seen->width, 320);
  EXPECT_EQ(seen->height, 240);
  // The view's parent before adoption is no window a host could mistake for
  // its own: created without a creation parameter and never shown.
  HWND parking = GetParent(view_);
  ASSERT_NE(parking, nullptr);
  EXPECT_FALSE(IsWindowVisible(parking));
  for (const Created& created : created_) {
    if (created.window != view_) {
      EXPECT_EQ(created.parameter, nullptr);
    }
  }
}

TEST_F(ViewWindowTest, AdoptedViewEndsWithItsController) {
  HWND parking = GetParent(view_);
  HWND host = CreateHostWindow();
  ASSERT_NE(host, nullptr);
  SetParent(view_, host);
  EXPECT_EQ(GetAncestor(view_, GA_ROOT), host);

  FlutterDesktopViewControllerDestroy(controller_);
  controller_ = nullptr;
  EXPECT_FALSE(IsWindow(view_));
  EXPECT_FALSE(IsWindow(parking));
  EXPECT_TRUE(IsWindow(host));
  DestroyWindow(host);
}

TEST_F(ViewWindowTest, HostDestroyedFirstTakesTheViewAlong) {
  HWND host = CreateHostWindow();
  SetParent(view_, host);
  FlutterDesktopViewRef view = FlutterDesktopViewControllerGetView(controller_);
  DestroyWindow(host);
  EXPECT_FALSE(IsWindow(view_));
  EXPECT_EQ(FlutterDesktopViewGetHWND(view), nullptr);
  int64_t serial = StandinEngineSerial(engine_);
  FlutterDesktopViewControllerDestroy(controller_);
  controller_ = nullptr;
  EXPECT_EQ(standin_test::DetailsOf(kStandinEventEngineEnded, serial),
            std::vector<std::string>{"FlutterDesktopViewControllerDestroy"});
}

TEST_F(ViewWindowTest, MonitorDpiIsTheScreensUnlessOverridden) {
  HMONITOR monitor = MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
  HDC screen = GetDC(nullptr);
  UINT screen_dpi = static_cast<UINT>(GetDeviceCaps(screen, LOGPIXELSX));
  ReleaseDC(nullptr, screen);
  EXPECT_EQ(FlutterDesktopGetDpiForMonitor(monitor), screen_dpi);
  StandinEngineSetDpiOverride(120);
  EXPECT_EQ(FlutterDesktopGetDpiForMonitor(monitor), 120u);
}

}  // namespace
