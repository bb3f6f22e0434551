// The creation hook's search for the top-level window and the view, as the
// process sees it from start-up on. The hook lives only until it has found
// both, so the whole search is one story.
#include <windows.h>

#include "frame/frame_api.h"
#include "frame/frame_state.h"
#include "frame/frame_window.h"
#include "gtest/gtest.h"
#include "tests/frame/frame_test_support.h"

namespace {

using frame::kAppWindowClassName;
using frame::kViewWindowClassName;
using frame_test::HasFrameSubclass;

constexpr DWORD kAppStyle =
    WS_POPUP | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;

int creation_parameter = 0;

// Faults inside a hook can be swallowed by the system on the way back from
// the window manager, so the test counts them where they are raised.
LONG access_violations = 0;
LONG CALLBACK CountAccessViolations(EXCEPTION_POINTERS* exception) {
  if (exception->ExceptionRecord->ExceptionCode == EXCEPTION_ACCESS_VIOLATION) {
    ++access_violations;
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

HWND CreateApp(const wchar_t* class_name, void* parameter) {
  return CreateWindowExW(0, class_name, L"quillon_pc", kAppStyle, 10, 10, 640,
                         480, nullptr, nullptr, GetModuleHandleW(nullptr),
                         parameter);
}

HWND CreateView(HWND parent, void* parameter) {
  return CreateWindowExW(0, kViewWindowClassName, L"", WS_CHILD | WS_VISIBLE, 0,
                         0, 100, 100, parent, nullptr,
                         GetModuleHandleW(nullptr), parameter);
}

bool LooksLikeFrameWindow(HWND window) {
  return HasFrameSubclass(window, &frame::FrameWindowProc) ||
         GetPropW(window, frame::kFrameWindowProperty) != nullptr;
}

TEST(FrameHookTest, FindsTheFirstWindowAndViewCreatedWithAParameter) {
  const ATOM app_class = frame_test::RegisterLoggingClass(kAppWindowClassName);
  ASSERT_NE(app_class, 0);
  ASSERT_NE(frame_test::RegisterLoggingClass(kViewWindowClassName), 0);
  const frame::PublicFrameTable& table = *frame_window_api()->public_table;

  // Not recognised: no creation parameter, a class atom instead of a name,
  // a name in other letter case (Windows finds the same class by it).
  void* fault_counter = AddVectoredExceptionHandler(1, &CountAccessViolations);
  HWND without_parameter = CreateApp(kAppWindowClassName, nullptr);
  HWND by_atom = CreateApp(MAKEINTATOM(app_class), &creation_parameter);
  HWND other_case =
      CreateApp(L"flutter_runner_win32_window", &creation_parameter);
  HWND view_without_parameter = CreateView(without_parameter, nullptr);
  for (HWND window : {without_parameter, by_atom, other_case}) {
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(LooksLikeFrameWindow(window));
  }
  RemoveVectoredExceptionHandler(fault_counter);
  EXPECT_EQ(access_violations, 0);
  ASSERT_NE(view_without_parameter, nullptr);
  EXPECT_FALSE(
      HasFrameSubclass(view_without_parameter, &frame::ViewWindowProc));
  EXPECT_EQ(table.get_app_window(), nullptr);
  EXPECT_EQ(frame::frame_state.view_window.load(), nullptr);
  EXPECT_NE(frame::frame_state.creation_hook.load(), nullptr);

  // The top-level window: recorded and subclassed; the hook keeps watching
  // for the view.
  HWND app = CreateApp(kAppWindowClassName, &creation_parameter);
  ASSERT_NE(app, nullptr);
  EXPECT_EQ(table.get_app_window(), app);
  EXPECT_TRUE(HasFrameSubclass(app, &frame::FrameWindowProc));
  EXPECT_EQ(GetPropW(app, frame::kFrameWindowProperty),
            reinterpret_cast<HANDLE>(1));
  EXPECT_NE(GetWindowLongPtrW(app, GWL_STYLE) & WS_CLIPCHILDREN, 0);
  EXPECT_NE(frame::frame_state.creation_hook.load(), nullptr);

  // The view: recorded, subclassed, and the hook is gone.
  HWND view = CreateView(app, &creation_parameter);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(frame::frame_state.view_window.load(), view);
  EXPECT_TRUE(HasFrameSubclass(view, &frame::ViewWindowProc));
  EXPECT_EQ(frame::frame_state.creation_hook.load(), nullptr);

  // Later windows of the same classes get none of this.
  HWND second_app = CreateApp(kAppWindowClassName, &creation_parameter);
  HWND second_view = CreateView(second_app, &creation_parameter);
  ASSERT_NE(second_app, nullptr);
  ASSERT_NE(second_view, nullptr);
  EXPECT_FALSE(LooksLikeFrameWindow(second_app));
  EXPECT_FALSE(HasFrameSubclass(second_view, &frame::ViewWindowProc));
  EXPECT_EQ(table.get_app_window(), app);
  EXPECT_EQ(frame::frame_state.view_window.load(), view);

  // Once destroyed, the windows are forgotten rather than left dangling.
  DestroyWindow(app);
  EXPECT_EQ(table.get_app_window(), nullptr);
  EXPECT_EQ(frame::frame_state.view_window.load(), nullptr);
  EXPECT_FALSE(frame_window_api()->private_table->drag_app_window());

  for (HWND window : {second_app, other_case, by_atom, without_parameter}) {
    DestroyWindow(window);
  }
}

}  // namespace
