// Behaviour of the frame's subclass procedures on a top-level window and its
// view. The windows here are of test classes, subclassed by a hook of the
// test in the same way the frame's own hook does it, so that every test gets
// fresh windows; the frame's hook itself is covered by frame_hook_test.
#include "frame/frame_window.h"

#include <windows.h>
// After windows.h, whose types it uses.
#include <commctrl.h>

#include <cstring>
#include <cwchar>
#include <iterator>
#include <string>
#include <utility>

#include "frame/frame_api.h"
#include "frame/frame_state.h"
#include "gtest/gtest.h"
#include "tests/frame/frame_test_support.h"

namespace {

using frame::FRAME_ACTION_MESSAGE;
using frame::frame_state;
using frame_test::HeapBlock;
using frame_test::IsLiveHeapBlock;
using frame_test::LogOf;

constexpr wchar_t kTestAppClass[] = L"FrameWindowTestApp";
constexpr wchar_t kTestViewClass[] = L"FrameWindowTestView";
constexpr DWORD kAppStyle =
    WS_POPUP | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;

UINT test_dpi = 96;
UINT WINAPI TestDpi(HWND) { return test_dpi; }

LRESULT CALLBACK SubclassingHook(int code, WPARAM wparam, LPARAM lparam) {
  if (code == HCBT_CREATEWND) {
    const CREATESTRUCTW* create =
        reinterpret_cast<CBT_CREATEWNDW*>(lparam)->lpcs;
    HWND window = reinterpret_cast<HWND>(wparam);
    if (!IS_INTRESOURCE(create->lpszClass)) {
      if (std::wcscmp(create->lpszClass, kTestAppClass) == 0) {
        SetWindowSubclass(window, &frame::FrameWindowProc, 1, 0);
      } else if (std::wcscmp(create->lpszClass, kTestViewClass) == 0) {
        frame_state.view_window.store(window);
        SetWindowSubclass(window, &frame::ViewWindowProc, 1, 0);
      }
    }
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

SIZE ClientSize(HWND window) {
  RECT client;
  GetClientRect(window, &client);
  return SIZE{client.right - client.left, client.bottom - client.top};
}

RECT WorkAreaUnderCursor() {
  POINT cursor;
  GetCursorPos(&cursor);
  MONITORINFO info = {};
  info.cbSize = sizeof(info);
  GetMonitorInfoW(MonitorFromPoint(cursor, MONITOR_DEFAULTTONEAREST), &info);
  return info.rcWork;
}

std::pair<LONG, LONG> Dim(const SIZE& size) { return {size.cx, size.cy}; }

class FrameWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(frame_test::RegisterLoggingClass(kTestAppClass), 0);
    ASSERT_NE(frame_test::RegisterLoggingClass(kTestViewClass), 0);
    frame_test::ClearLogs();
    frame_state.dpi_for_window.store(&TestDpi);
    test_dpi = 96;
    table_.set_minimum_size(0, 0);
    table_.set_maximum_size(0, 0);
    hook_ = SetWindowsHookExW(WH_CBT, &SubclassingHook, nullptr,
                              GetCurrentThreadId());
    ASSERT_NE(hook_, nullptr);
  }

  void TearDown() override {
    if (view_ != nullptr) DestroyWindow(view_);
    if (app_ != nullptr) DestroyWindow(app_);
    UnhookWindowsHookEx(hook_);
    table_.set_minimum_size(0, 0);
    table_.set_maximum_size(0, 0);
    frame_state.dpi_for_window.store(&frame::DefaultDpiForWindow);
    frame_test::PumpMessages();
  }

  HWND CreateApp(int width, int height) {
    app_ = CreateWindowExW(0, kTestAppClass, L"quillon_pc", kAppStyle, 10, 10,
                           width, height, nullptr, nullptr,
                           GetModuleHandleW(nullptr), this);
    return app_;
  }

  HWND CreateView() {
    view_ =
        CreateWindowExW(0, kTestViewClass, L"", WS_CHILD | WS_VISIBLE, 0, 0, 50,
                        50, app_, nullptr, GetModuleHandleW(nullptr), this);
    return view_;
  }

  void CreateBoth() {
    ASSERT_NE(CreateApp(640, 480), nullptr);
    ASSERT_NE(CreateView(), nullptr);
  }

  // The view's last re-layout went through a size one pixel larger to the
  // client size of the top-level window, and the view has that size now.
  void ExpectRelaidOut() {
    const SIZE client = ClientSize(app_);
    const auto& sizes = LogOf(view_).sizes;
    size_t larger = sizes.size();
    for (size_t i = 0; i < sizes.size(); ++i) {
      if (Dim(sizes[i]) == Dim(SIZE{client.cx + 1, client.cy + 1})) larger = i;
    }
    ASSERT_LT(larger + 1, sizes.size()) << "no re-layout seen";
    EXPECT_EQ(Dim(sizes[larger + 1]), Dim(client));
    EXPECT_EQ(Dim(ClientSize(view_)), Dim(client));
  }

  const frame::PublicFrameTable& table_ = *frame_window_api()->public_table;
  HHOOK hook_ = nullptr;
  HWND app_ = nullptr;
  HWND view_ = nullptr;
};

TEST_F(FrameWindowTest, WindowIsCentredOnTheWorkAreaUnderTheCursor) {
  SetCursorPos(200, 150);
  const RECT work = WorkAreaUnderCursor();
  const LONG work_width = work.right - work.left;
  const LONG work_height = work.bottom - work.top;
  // Odd leftovers: the extra pixel goes to the right and the bottom.
  ASSERT_NE(CreateApp(work_width - 201, work_height - 101), nullptr);
  EXPECT_EQ(frame::GetAppWindow(), app_);
  RECT rect;
  GetWindowRect(app_, &rect);
  EXPECT_EQ(rect.left - work.left, 100);
  EXPECT_EQ(work.right - rect.right, 101);
  EXPECT_EQ(rect.top - work.top, 50);
  EXPECT_EQ(work.bottom - rect.bottom, 51);
}

TEST_F(FrameWindowTest, OversizedWindowOverlapsBothEdgesAlmostEqually) {
  SetCursorPos(200, 150);
  const RECT work = WorkAreaUnderCursor();
  // Without a maximum the system would cut the window to the screen first.
  table_.set_maximum_size(30000, 30000);
  ASSERT_NE(CreateApp(work.right - work.left + 81, work.bottom - work.top + 41),
            nullptr);
  RECT rect;
  GetWindowRect(app_, &rect);
  // The halving truncates toward zero: the smaller overlap is on the left.
  EXPECT_EQ(work.left - rect.left, 40);
  EXPECT_EQ(rect.right - work.right, 41);
  EXPECT_EQ(work.top - rect.top, 20);
  EXPECT_EQ(rect.bottom - work.bottom, 21);
}

TEST_F(FrameWindowTest, NewViewIsToldOfItsDpiAndFillsTheClientArea) {
  CreateBoth();
  EXPECT_TRUE(LogOf(view_).Received(WM_DPICHANGED_BEFOREPARENT));
  ExpectRelaidOut();
}

TEST_F(FrameWindowTest, SizeLimitsAreScaledByTheWindowDpi) {
  CreateBoth();
  struct Case {
    UINT dpi;
    int32_t width, height;
    LONG expected_width, expected_height;
  };
  for (const Case& c : {Case{144, 400, 300, 600, 450},
                        Case{120, 401, 301, 501, 376}, Case{96, 1, 1, 1, 1}}) {
    test_dpi = c.dpi;
    table_.set_minimum_size(c.width, c.height);
    table_.set_maximum_size(c.width * 3, c.height * 3);
    MINMAXINFO info = {};
    EXPECT_EQ(SendMessageW(app_, WM_GETMINMAXINFO, 0,
                           reinterpret_cast<LPARAM>(&info)),
              0);
    EXPECT_EQ(info.ptMinTrackSize.x, c.expected_width) << c.dpi;
    EXPECT_EQ(info.ptMinTrackSize.y, c.expected_height) << c.dpi;
    EXPECT_EQ(info.ptMaxTrackSize.x,
              static_cast<LONG>(c.width * 3 * (c.dpi / 96.0)));
    EXPECT_EQ(info.ptMaxTrackSize.y,
              static_cast<LONG>(c.height * 3 * (c.dpi / 96.0)));
    // Never handed to the window's own procedure.
    EXPECT_EQ(info.ptReserved.x, 0);
  }
}

TEST_F(FrameWindowTest, LimitWithAZeroImposesNothing) {
  CreateBoth();
  test_dpi = 144;
  table_.set_minimum_size(800, 0);
  table_.set_maximum_size(0, 900);
  MINMAXINFO info = {};
  info.ptMinTrackSize = POINT{7, 8};
  info.ptMaxTrackSize = POINT{9000, 9001};
  SendMessageW(app_, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
  EXPECT_EQ(info.ptMinTrackSize.x, 7);
  EXPECT_EQ(info.ptMinTrackSize.y, 8);
  EXPECT_EQ(info.ptMaxTrackSize.x, 9000);
  EXPECT_EQ(info.ptMaxTrackSize.y, 9001);
  EXPECT_EQ(info.ptReserved.x, 0);
}

TEST_F(FrameWindowTest, SystemKeepsTheWindowWithinTheLimits) {
  CreateBoth();
  test_dpi = 144;
  table_.set_minimum_size(400, 300);
  table_.set_maximum_size(500, 400);
  SetWindowPos(app_, nullptr, 0, 0, 100, 100, SWP_NOMOVE | SWP_NOZORDER);
  RECT rect;
  GetWindowRect(app_, &rect);
  EXPECT_EQ(rect.right - rect.left, 600);
  EXPECT_EQ(rect.bottom - rect.top, 450);
  SetWindowPos(app_, nullptr, 0, 0, 2000, 2000, SWP_NOMOVE | SWP_NOZORDER);
  GetWindowRect(app_, &rect);
  EXPECT_EQ(rect.right - rect.left, 750);
  EXPECT_EQ(rect.bottom - rect.top, 600);
}

TEST_F(FrameWindowTest, MinimiseCommandSendsNoSizeToTheWindow) {
  CreateBoth();
  ShowWindow(app_, SW_SHOWNORMAL);
  const SIZE view_size = ClientSize(view_);
  const auto sizes_before = LogOf(app_).sizes.size();

  SendMessageW(app_, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  EXPECT_TRUE(IsIconic(app_));
  EXPECT_EQ(LogOf(app_).sizes.size(), sizes_before);
  EXPECT_EQ(Dim(ClientSize(view_)), Dim(view_size));
  EXPECT_EQ(frame_state.minimising.load(), 0);

  SendMessageW(app_, WM_SYSCOMMAND, SC_RESTORE, 0);
  EXPECT_FALSE(IsIconic(app_));
  EXPECT_GT(LogOf(app_).sizes.size(), sizes_before);
}

TEST_F(FrameWindowTest, MinimiseWithLowBitsSetIsNotTreatedAsAMinimise) {
  CreateBoth();
  ShowWindow(app_, SW_SHOWNORMAL);
  const auto sizes_before = LogOf(app_).sizes.size();
  // The system ignores the low four bits and minimises all the same.
  SendMessageW(app_, WM_SYSCOMMAND, SC_MINIMIZE | 1, 0);
  EXPECT_TRUE(IsIconic(app_));
  EXPECT_GT(LogOf(app_).sizes.size(), sizes_before);
}

TEST_F(FrameWindowTest, DpiChangeDuringAMoveRelaysOutAgainAtItsEnd) {
  CreateBoth();
  RECT rect;
  GetWindowRect(app_, &rect);
  const auto layouts = [this] { return LogOf(view_).sizes.size(); };

  // Outside a move: one layout for the new size, none at the move's end.
  size_t before = layouts();
  RECT larger = {rect.left, rect.top, rect.right + 40, rect.bottom + 30};
  SendMessageW(app_, WM_DPICHANGED, MAKEWPARAM(120, 120),
               reinterpret_cast<LPARAM>(&larger));
  EXPECT_EQ(layouts(), before + 1);
  EXPECT_EQ(Dim(ClientSize(view_)), Dim(ClientSize(app_)));
  SendMessageW(app_, WM_EXITSIZEMOVE, 0, 0);
  EXPECT_EQ(layouts(), before + 1);

  SendMessageW(app_, WM_ENTERSIZEMOVE, 0, 0);
  EXPECT_EQ(frame_state.in_size_move.load(), 1);
  before = layouts();
  SendMessageW(app_, WM_DPICHANGED, MAKEWPARAM(144, 144),
               reinterpret_cast<LPARAM>(&rect));
  EXPECT_EQ(layouts(), before + 1);
  SendMessageW(app_, WM_EXITSIZEMOVE, 0, 0);
  EXPECT_EQ(layouts(), before + 3);
  ExpectRelaidOut();
  EXPECT_EQ(frame_state.in_size_move.load(), 0);

  // The flag does not outlive the move it belonged to.
  before = layouts();
  SendMessageW(app_, WM_ENTERSIZEMOVE, 0, 0);
  SendMessageW(app_, WM_EXITSIZEMOVE, 0, 0);
  EXPECT_EQ(layouts(), before);
  // Each message still reached the window's own procedure.
  EXPECT_EQ(LogOf(app_).Count(WM_DPICHANGED), 2);
  EXPECT_EQ(LogOf(app_).Count(WM_EXITSIZEMOVE), 3);
}

TEST_F(FrameWindowTest, MoveResizeActionPlacesTheWindowAndFreesItsRecord) {
  CreateBoth();
  // Odd block sizes, so a freed block is not mistaken for a new one.
  constexpr size_t kBlockSize = sizeof(frame::FrameMoveResizeRecord) + 7;
  auto* record =
      static_cast<frame::FrameMoveResizeRecord*>(HeapBlock(kBlockSize));
  *record = {30, 40, 700, 500, SWP_NOZORDER | SWP_NOACTIVATE};
  PostMessageW(app_, FRAME_ACTION_MESSAGE, frame::kFrameActionMoveResize,
               reinterpret_cast<LPARAM>(record));
  frame_test::PumpMessages();

  RECT rect;
  GetWindowRect(app_, &rect);
  EXPECT_EQ(rect.left, 30);
  EXPECT_EQ(rect.top, 40);
  EXPECT_EQ(rect.right - rect.left, 700);
  EXPECT_EQ(rect.bottom - rect.top, 500);
  EXPECT_FALSE(IsLiveHeapBlock(record, kBlockSize));
  // Passed on, but without the freed record.
  ASSERT_EQ(LogOf(app_).action_lparams.size(), 1u);
  EXPECT_EQ(LogOf(app_).action_lparams[0], 0);
}

TEST_F(FrameWindowTest, TitleActionSetsTheTitleAndFreesBothBlocks) {
  CreateBoth();
  const std::wstring title = L"Quillon \u00fc\u4e2d \U0001F600";
  const size_t text_bytes = (title.size() + 1) * sizeof(wchar_t);
  auto* text = static_cast<wchar_t*>(HeapBlock(text_bytes + 3));
  std::wmemcpy(text, title.c_str(), title.size() + 1);
  auto* record = static_cast<frame::FrameTitleRecord*>(HeapBlock(13));
  record->title = text;
  PostMessageW(app_, FRAME_ACTION_MESSAGE, frame::kFrameActionSetTitle,
               reinterpret_cast<LPARAM>(record));
  frame_test::PumpMessages();

  wchar_t read_back[64] = {};
  GetWindowTextW(app_, read_back, 64);
  EXPECT_EQ(std::wstring(read_back), title);
  EXPECT_FALSE(IsLiveHeapBlock(text, text_bytes + 3));
  EXPECT_FALSE(IsLiveHeapBlock(record, 13));
}

TEST_F(FrameWindowTest, RefreshActionRelaysOutTheViewAndFreesNothing) {
  CreateBoth();
  SetWindowPos(view_, nullptr, 0, 0, 10, 10, SWP_NOMOVE | SWP_NOZORDER);
  SetWindowPos(app_, nullptr, 0, 0, 500, 400, SWP_NOMOVE | SWP_NOZORDER);
  void* unused = HeapBlock(29);
  PostMessageW(app_, FRAME_ACTION_MESSAGE, frame::kFrameActionRefreshView,
               reinterpret_cast<LPARAM>(unused));
  frame_test::PumpMessages();
  ExpectRelaidOut();
  EXPECT_EQ(Dim(ClientSize(view_)), Dim(ClientSize(app_)));
  EXPECT_TRUE(IsLiveHeapBlock(unused, 29));
  HeapFree(GetProcessHeap(), 0, unused);
}

TEST_F(FrameWindowTest, UnknownActionsFreeNothingAndEmptyRecordsAreIgnored) {
  CreateBoth();
  RECT before;
  GetWindowRect(app_, &before);
  void* block = HeapBlock(31);
  for (WPARAM action : {WPARAM{0}, WPARAM{4}, WPARAM{0x10001}}) {
    SendMessageW(app_, FRAME_ACTION_MESSAGE, action,
                 reinterpret_cast<LPARAM>(block));
  }
  EXPECT_TRUE(IsLiveHeapBlock(block, 31));
  HeapFree(GetProcessHeap(), 0, block);
  // No record at all: nothing to do, nothing to free, no crash.
  testing::internal::CaptureStderr();
  SendMessageW(app_, FRAME_ACTION_MESSAGE, frame::kFrameActionMoveResize, 0);
  SendMessageW(app_, FRAME_ACTION_MESSAGE, frame::kFrameActionSetTitle, 0);
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_NE(log.find("Frame action 1 ignored"), std::string::npos) << log;
  EXPECT_NE(log.find("Frame action 2 ignored"), std::string::npos) << log;
  RECT after;
  GetWindowRect(app_, &after);
  EXPECT_TRUE(EqualRect(&before, &after));
  EXPECT_EQ(LogOf(app_).action_lparams.size(), 5u);
}

TEST_F(FrameWindowTest, RecordsThatAreNotLiveHeapBlocksAreNeitherReadNorFreed) {
  CreateBoth();
  RECT before;
  GetWindowRect(app_, &before);
  wchar_t title_before[64] = {};
  GetWindowTextW(app_, title_before, 64);

  // A move record one byte short, a pointer inside a block, a number that
  // points nowhere, a freed block.
  void* short_block = HeapBlock(sizeof(frame::FrameMoveResizeRecord) - 1);
  auto* host_block = static_cast<char*>(HeapBlock(64));
  void* freed = HeapBlock(40);
  HeapFree(GetProcessHeap(), 0, freed);
  // Title records whose text is unreachable or has no end in its block.
  auto* unterminated = static_cast<wchar_t*>(HeapBlock(8 * sizeof(wchar_t)));
  std::wmemset(unterminated, L'A', 8);
  auto* to_nowhere = static_cast<frame::FrameTitleRecord*>(HeapBlock(8));
  to_nowhere->title = reinterpret_cast<wchar_t*>(0x1000);
  auto* to_unterminated = static_cast<frame::FrameTitleRecord*>(HeapBlock(8));
  to_unterminated->title = unterminated;
  // A title that is its own record, terminated inside it: both frees would
  // hit the one block.
  auto* to_itself = static_cast<frame::FrameTitleRecord*>(HeapBlock(16));
  std::memset(to_itself, 0, 16);
  to_itself->title = reinterpret_cast<wchar_t*>(to_itself);

  const std::pair<WPARAM, LPARAM> posts[] = {
      {frame::kFrameActionMoveResize, reinterpret_cast<LPARAM>(short_block)},
      {frame::kFrameActionMoveResize,
       reinterpret_cast<LPARAM>(host_block + 16)},
      {frame::kFrameActionMoveResize, 0x1000},
      {frame::kFrameActionSetTitle, 0x1000},
      {frame::kFrameActionSetTitle, reinterpret_cast<LPARAM>(freed)},
      {frame::kFrameActionSetTitle, reinterpret_cast<LPARAM>(to_nowhere)},
      {frame::kFrameActionSetTitle, reinterpret_cast<LPARAM>(to_unterminated)},
      {frame::kFrameActionSetTitle, reinterpret_cast<LPARAM>(to_itself)},
  };
  testing::internal::CaptureStderr();
  for (const auto& post : posts) {
    PostMessageW(app_, FRAME_ACTION_MESSAGE, post.first, post.second);
  }
  frame_test::PumpMessages();
  const std::string log = testing::internal::GetCapturedStderr();

  RECT after;
  GetWindowRect(app_, &after);
  EXPECT_TRUE(EqualRect(&before, &after));
  wchar_t title_after[64] = {};
  GetWindowTextW(app_, title_after, 64);
  EXPECT_STREQ(title_after, title_before);
  // Every block is still there; nothing was freed.
  EXPECT_TRUE(IsLiveHeapBlock(short_block, 19));
  EXPECT_TRUE(IsLiveHeapBlock(host_block, 64));
  EXPECT_TRUE(IsLiveHeapBlock(unterminated, 16));
  EXPECT_TRUE(IsLiveHeapBlock(to_nowhere, 8));
  EXPECT_TRUE(IsLiveHeapBlock(to_unterminated, 8));
  EXPECT_TRUE(IsLiveHeapBlock(to_itself, 16));
  // One line for each.
  size_t lines = 0;
  for (size_t at = log.find("Frame action "); at != std::string::npos;
       at = log.find("Frame action ", at + 1)) {
    ++lines;
  }
  EXPECT_EQ(lines, std::size(posts)) << log;
  EXPECT_NE(log.find("Frame action 2 ignored: the title is not a terminated"),
            std::string::npos)
      << log;
  for (void* block :
       {short_block, static_cast<void*>(host_block),
        static_cast<void*>(unterminated), static_cast<void*>(to_nowhere),
        static_cast<void*>(to_unterminated), static_cast<void*>(to_itself)}) {
    HeapFree(GetProcessHeap(), 0, block);
  }
}

// Memory that cannot be a heap block is turned away before HeapValidate,
// which stops in a debugger or a checked heap when asked about it.
TEST(FrameHeapCheckTest, OnlyAlignedPrivateReadWriteMemoryMayBeAHeapBlock) {
  void* block = HeapBlock(32);
  alignas(16) static int64_t in_image[2] = {1, 2};
  const auto region = [](DWORD protection) {
    return VirtualAlloc(nullptr, 4096, MEM_RESERVE | MEM_COMMIT, protection);
  };
  void* read_only = region(PAGE_READONLY);
  void* writable = region(PAGE_READWRITE);
  EXPECT_TRUE(frame::MayBeHeapBlock(block));
  EXPECT_FALSE(frame::MayBeHeapBlock(static_cast<char*>(block) + 8));
  EXPECT_FALSE(frame::MayBeHeapBlock(in_image));
  EXPECT_FALSE(frame::MayBeHeapBlock(read_only));
  // Passes the cheap checks; HeapValidate has the last word.
  EXPECT_TRUE(frame::MayBeHeapBlock(writable));
  VirtualFree(read_only, 0, MEM_RELEASE);
  VirtualFree(writable, 0, MEM_RELEASE);
  HeapFree(GetProcessHeap(), 0, block);
}

TEST_F(FrameWindowTest, TitleRecordWithoutTextClearsTheTitleAndFreesIt) {
  CreateBoth();
  auto* record = static_cast<frame::FrameTitleRecord*>(HeapBlock(8));
  record->title = nullptr;
  PostMessageW(app_, FRAME_ACTION_MESSAGE, frame::kFrameActionSetTitle,
               reinterpret_cast<LPARAM>(record));
  frame_test::PumpMessages();
  EXPECT_EQ(GetWindowTextLengthW(app_), 0);
  EXPECT_FALSE(IsLiveHeapBlock(record, 8));
}

TEST_F(FrameWindowTest, AbsurdSizeLimitsCannotPinTheWindow) {
  CreateBoth();
  test_dpi = 96;
  testing::internal::CaptureStderr();
  // Negative: no limit at all, and a line saying so.
  table_.set_minimum_size(-400, 300);
  table_.set_maximum_size(500, -1);
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_NE(log.find("Frame minimum size -400 x 300 ignored"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("Frame maximum size 500 x -1 ignored"), std::string::npos)
      << log;
  SetWindowPos(app_, nullptr, 0, 0, 321, 234, SWP_NOMOVE | SWP_NOZORDER);
  RECT rect;
  GetWindowRect(app_, &rect);
  EXPECT_EQ(rect.right - rect.left, 321);
  EXPECT_EQ(rect.bottom - rect.top, 234);

  // A minimum beyond the whole desktop is cut to it; a maximum below the
  // minimum is raised to it.
  const LONG screen_width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
  const LONG screen_height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
  table_.set_minimum_size(100000, 200);
  table_.set_maximum_size(150, 150);
  MINMAXINFO info = {};
  SendMessageW(app_, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
  EXPECT_EQ(info.ptMinTrackSize.x, screen_width);
  EXPECT_EQ(info.ptMinTrackSize.y, 200);
  EXPECT_EQ(info.ptMaxTrackSize.x, screen_width);
  EXPECT_EQ(info.ptMaxTrackSize.y, 200);
  table_.set_minimum_size(300, 2000000);
  table_.set_maximum_size(0, 0);
  info = {};
  SendMessageW(app_, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
  EXPECT_EQ(info.ptMinTrackSize.y, screen_height);
}

TEST_F(FrameWindowTest, ViewStepsAsideWhereTheWindowAnswersASizingCode) {
  CreateBoth();
  ShowWindow(app_, SW_SHOWNORMAL);
  RECT window;
  GetWindowRect(app_, &window);
  RECT client;
  GetClientRect(app_, &client);
  MapWindowPoints(app_, nullptr, reinterpret_cast<POINT*>(&client), 2);
  const auto at = [](LONG x, LONG y) { return MAKELPARAM(x, y); };
  const LONG mid_x = (window.left + window.right) / 2;
  const LONG mid_y = (window.top + window.bottom) / 2;
  // The test window's own procedure answers the default codes: sizing codes
  // on its frame, the client area inside.
  for (const LPARAM point :
       {at(window.left + 1, mid_y), at(window.right - 2, mid_y),
        at(mid_x, window.top + 1), at(mid_x, window.bottom - 2),
        at(window.left + 1, window.top + 1),
        at(window.right - 2, window.bottom - 2)}) {
    const LRESULT own = DefWindowProcW(app_, WM_NCHITTEST, 0, point);
    ASSERT_GE(own, HTLEFT);
    ASSERT_LE(own, HTBOTTOMRIGHT);
    EXPECT_EQ(SendMessageW(view_, WM_NCHITTEST, 0, point), HTTRANSPARENT);
  }
  EXPECT_EQ(SendMessageW(view_, WM_NCHITTEST, 0, at(mid_x, mid_y)), HTCLIENT);

  // Maximised there is no sizing band, whatever the window answers.
  ShowWindow(app_, SW_MAXIMIZE);
  GetWindowRect(app_, &window);
  for (const LPARAM point :
       {at(window.left + 1, (window.top + window.bottom) / 2),
        at((window.left + window.right) / 2, window.top + 1)}) {
    EXPECT_NE(SendMessageW(view_, WM_NCHITTEST, 0, point), HTTRANSPARENT);
  }
}

TEST_F(FrameWindowTest, ViewIsLaidOutForTheSizeADpiChangeLeavesBehind) {
  CreateBoth();
  RECT rect;
  GetWindowRect(app_, &rect);
  RECT suggested = {rect.left, rect.top, rect.left + 960, rect.top + 720};
  const size_t before = LogOf(view_).sizes.size();
  SendMessageW(app_, WM_DPICHANGED, MAKEWPARAM(144, 144),
               reinterpret_cast<LPARAM>(&suggested));
  GetWindowRect(app_, &rect);
  EXPECT_TRUE(EqualRect(&rect, &suggested));
  // Resized once, straight to the new client size.
  const auto& sizes = LogOf(view_).sizes;
  ASSERT_EQ(sizes.size(), before + 1);
  EXPECT_EQ(Dim(sizes.back()), Dim(ClientSize(app_)));
  EXPECT_EQ(Dim(ClientSize(view_)), Dim(ClientSize(app_)));
}

class SwappedButtons {
 public:
  SwappedButtons() { was_swapped_ = SwapMouseButton(TRUE) != FALSE; }
  ~SwappedButtons() { SwapMouseButton(was_swapped_); }
  SwappedButtons(const SwappedButtons&) = delete;
  SwappedButtons& operator=(const SwappedButtons&) = delete;

 private:
  bool was_swapped_ = false;
};

TEST_F(FrameWindowTest, DragWithoutAButtonDownDoesNotStartAMove) {
  CreateBoth();
  ShowWindow(app_, SW_SHOWNORMAL);
  frame_test::MoveLoopEnder ender;
  EXPECT_TRUE(frame_window_api()->private_table->drag_app_window());
  frame_test::PumpMessages();
  // The system's move loop would wait for a button-up that never comes.
  EXPECT_FALSE(LogOf(app_).Received(WM_ENTERSIZEMOVE));
  EXPECT_EQ(ender.ticks_in_size_move(), 0);
}

TEST_F(FrameWindowTest, DragFromAnotherThreadReturnsAtOnceAndMovesOnThisOne) {
  CreateBoth();
  ShowWindow(app_, SW_SHOWNORMAL);
  frame_test::HeldButton button(MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP);
  struct Call {
    bool result = false;
    ULONGLONG elapsed_ms = 0;
  } call;
  HANDLE thread = CreateThread(
      nullptr, 0,
      [](void* parameter) -> DWORD {
        auto* call = static_cast<Call*>(parameter);
        const ULONGLONG start = GetTickCount64();
        call->result = frame_window_api()->private_table->drag_app_window();
        call->elapsed_ms = GetTickCount64() - start;
        return 0;
      },
      &call, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  // This thread handles no message meanwhile: a caller that waited for the
  // move would never come back.
  ASSERT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
  CloseHandle(thread);
  EXPECT_TRUE(call.result);
  EXPECT_LT(call.elapsed_ms, 100u);
  EXPECT_FALSE(LogOf(app_).Received(WM_ENTERSIZEMOVE));

  // The window's own thread runs the move once it gets to the request.
  frame_test::MoveLoopEnder ender;
  frame_test::PumpMessages();
  EXPECT_GT(ender.ticks_in_size_move(), 0);
  EXPECT_TRUE(LogOf(app_).Received(WM_ENTERSIZEMOVE));
  EXPECT_TRUE(LogOf(app_).Received(WM_EXITSIZEMOVE));
  EXPECT_EQ(frame_state.in_size_move.load(), 0);
}

TEST_F(FrameWindowTest, DragHonoursSwappedMouseButtons) {
  CreateBoth();
  ShowWindow(app_, SW_SHOWNORMAL);
  SwappedButtons swapped;
  {
    // The physical left button is the secondary one now.
    frame_test::HeldButton left(MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP);
    EXPECT_TRUE(frame_window_api()->private_table->drag_app_window());
    frame_test::PumpMessages();
    EXPECT_FALSE(LogOf(app_).Received(WM_ENTERSIZEMOVE));
  }
  frame_test::HeldButton right(MOUSEEVENTF_RIGHTDOWN, MOUSEEVENTF_RIGHTUP);
  frame_test::MoveLoopEnder ender;
  EXPECT_TRUE(frame_window_api()->private_table->drag_app_window());
  frame_test::PumpMessages();
  EXPECT_TRUE(LogOf(app_).Received(WM_ENTERSIZEMOVE));
}

}  // namespace
