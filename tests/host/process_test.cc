// Black-box tests of quillon_pc.exe: the real executable started with a
// scenario for the stand-in engine's scripted user interface and a
// transcript to read back, as a user or the system would start it.
#include <windows.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/host/host_test_support.h"
#include "tests/support/program_run.h"

namespace {

using host_test::MainWindowRecordNames;
using host_test::PluginRecords;
using host_test::RecordNames;
using test_support::ClientOnScreen;
using test_support::PrimaryWorkArea;
using test_support::ProgramOptions;
using test_support::ProgramRun;
using test_support::ScopedEnvironment;

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// One run of quillon_pc.exe: |arguments| follow the quoted program path on
// the command line as they are, |scenario| drives the scripted user
// interface. A run still going when its object goes is killed, so no test
// leaves an instance holding the single-instance mutex.
ProgramOptions QuillonPc(const std::wstring& arguments,
                         const std::string& scenario) {
  ProgramOptions options;
  options.arguments = arguments;
  options.scenario = scenario;
  return options;
}

// Keeps running until closed: the scenario only says it is up.
constexpr char kIdleScenario[] = "echo ready\n";

TEST(QuillonPcTest, ScenarioRunRegistersPluginsInOrderAndQuitsWithZero) {
  ProgramRun run(
      QuillonPc(L"",
                "print-args\n"
                "window\n"
                "view\n"
                "method mixin.one/flutter_multi_window createWindow null\n"
                "method nobody/listens hello {\"a\": 1}\n"
                "destroy\n"));
  ASSERT_TRUE(run.started());
  EXPECT_EQ(run.Wait(), 0) << run.Errors();

  const std::vector<std::string> lines = run.Transcript();
  // The main window's plugins, then a sub-window with exactly its three.
  std::vector<std::string> expected = MainWindowRecordNames();
  expected.insert(expected.end(), {"sub-window desktop_multi_window_plugin",
                                   "register screen_retriever_windows_plugin",
                                   "register webview_windows_plugin",
                                   "register window_manager_plugin"});
  EXPECT_EQ(RecordNames(PluginRecords(lines)), expected);
  EXPECT_TRUE(Contains(lines, "args 0"));
  // Hidden and 1280 x 720 at 96 DPI, wherever the frame module put it.
  const auto window_line =
      std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
        return line.compare(0, 10, "window -> ") == 0;
      });
  ASSERT_NE(window_line, lines.end());
  EXPECT_NE(window_line->find(" w=1280 h=720 client=1280x720 visible=0 "
                              "title=[quillon_pc]"),
            std::string::npos)
      << *window_line;
  EXPECT_TRUE(Contains(lines, "view -> w=1280 h=720 parent=top-level"));
  EXPECT_TRUE(Contains(
      lines,
      "method mixin.one/flutter_multi_window createWindow null -> success 1L"));
  // A channel nothing on the native side handles gets the empty reply.
  EXPECT_TRUE(
      Contains(lines, "method nobody/listens hello {\"a\": 1} -> no-handler"));
  EXPECT_TRUE(Contains(lines, "destroy -> 1"));
}

TEST(QuillonPcTest, RefusedViewControllerEndsTheProgramWithOne) {
  ScopedEnvironment refuse(L"QUILLON_STANDIN_REFUSE_VIEW_CONTROLLERS", L"1");
  ProgramRun run(QuillonPc(L"", "echo never\n"));
  ASSERT_TRUE(run.started());
  EXPECT_EQ(run.Wait(), 1);
  EXPECT_NE(run.Errors().find("Failed to create view controller."),
            std::string::npos)
      << run.Errors();
  // No plugin was registered and no user interface ran.
  EXPECT_TRUE(PluginRecords(run.Transcript()).empty());
  EXPECT_FALSE(Contains(run.Transcript(), "echo never -> never"));
}

TEST(QuillonPcTest, WindowIsScaledByTheMonitorDpi) {
  ScopedEnvironment dpi(L"QUILLON_STANDIN_DPI", L"144");
  ProgramRun run(QuillonPc(L"", "window\nview\ndestroy\n"));
  ASSERT_TRUE(run.started());
  EXPECT_EQ(run.Wait(), 0) << run.Errors();
  const std::vector<std::string> lines = run.Transcript();
  // 1280 x 720 logical pixels at 150 %, 1920 x 1080, shrunk to the height of
  // the work area below the session's taskbar and centred there.
  const RECT work = PrimaryWorkArea();
  ASSERT_EQ(work.right - work.left, 1920);
  ASSERT_LT(work.bottom - work.top, 1080);
  const std::string height = std::to_string(work.bottom - work.top);
  const std::string placed = "window -> x=" + std::to_string(work.left) +
                             " y=" + std::to_string(work.top) +
                             " w=1920 h=" + height + " client=1920x" + height +
                             " visible=0 title=[quillon_pc]";
  EXPECT_TRUE(Contains(lines, placed)) << placed;
  EXPECT_TRUE(
      Contains(lines, "view -> w=1920 h=" + height + " parent=top-level"));
}

TEST(QuillonPcTest, CommandLineArgumentsReachTheUserInterfaceAsUtf8) {
  struct Case {
    std::wstring arguments;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {L"", {"args 0"}},
      {L"\"with space\" plain",
       {"args 2", "arg 0 [with space]", "arg 1 [plain]"}},
      {L"h\u00e9 \u4e2d\u6587",
       {"args 2", "arg 0 [h\xc3\xa9]", "arg 1 [\xe4\xb8\xad\xe6\x96\x87]"}},
      // Not valid UTF-16: an empty argument in its place.
      {std::wstring(L"a") + wchar_t(0xD800) + L"b c",
       {"args 2", "arg 0 []", "arg 1 [c]"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected[0] + (c.expected.size() > 1 ? c.expected[1] : ""));
    ProgramRun run(QuillonPc(c.arguments, "print-args\ndestroy\n"));
    ASSERT_TRUE(run.started());
    EXPECT_EQ(run.Wait(), 0) << run.Errors();
    std::vector<std::string> args;
    for (const std::string& line : run.Transcript()) {
      if (line.compare(0, 4, "arg ") == 0 || line.compare(0, 5, "args ") == 0) {
        args.push_back(line);
      }
    }
    EXPECT_EQ(args, c.expected);
  }
}

TEST(QuillonPcTest, SecondStartHandsOffToTheRunningInstance) {
  ProgramRun first(QuillonPc(L"", kIdleScenario));
  ASSERT_TRUE(first.WaitForLine("echo ready")) << first.Errors();
  HWND window = first.MainWindow();
  ASSERT_NE(window, nullptr);

  // Created hidden, captionless and resizable, and nobody showed it.
  EXPECT_FALSE(IsWindowVisible(window));
  const DWORD style = static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE));
  EXPECT_EQ(style & (WS_POPUP | WS_THICKFRAME | WS_MINIMIZEBOX |
                     WS_MAXIMIZEBOX | WS_CAPTION | WS_SYSMENU),
            static_cast<DWORD>(WS_POPUP | WS_THICKFRAME | WS_MINIMIZEBOX |
                               WS_MAXIMIZEBOX));
  wchar_t title[32] = {};
  GetWindowTextW(window, title, 32);
  EXPECT_STREQ(title, L"quillon_pc");

  // A hidden window stays hidden: the hand-off restores only a minimised
  // one.
  {
    ProgramRun second(QuillonPc(L"", kIdleScenario));
    ASSERT_TRUE(second.started());
    EXPECT_EQ(second.Wait(), 0);
    EXPECT_TRUE(second.Transcript().empty());
    EXPECT_FALSE(IsWindowVisible(window));
  }

  ShowWindow(window, SW_MINIMIZE);
  ASSERT_TRUE(IsIconic(window));
  {
    ProgramRun third(QuillonPc(L"some argument", kIdleScenario));
    ASSERT_TRUE(third.started());
    EXPECT_EQ(third.Wait(), 0);
    // No engine, no window, no plugin: nothing reached the transcript.
    EXPECT_TRUE(third.Transcript().empty());
  }
  for (int i = 0; i < 100 && IsIconic(window); ++i) {
    Sleep(20);
  }
  EXPECT_FALSE(IsIconic(window));

  EXPECT_TRUE(first.Running());
  EXPECT_EQ(first.Close(), 0);
}

// A top-level window of this test process that looks like the running
// instance's to a search by class or title alone, shown minimised.
class DecoyWindow {
 public:
  DecoyWindow(const wchar_t* class_name, const wchar_t* title) {
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = &DefWindowProcW;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = class_name;
    RegisterClassW(&window_class);  // fails harmlessly the second time
    handle_ = CreateWindowExW(
        0, class_name, title, WS_OVERLAPPEDWINDOW | WS_VISIBLE | WS_MINIMIZE, 0,
        0, 300, 200, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  }
  ~DecoyWindow() { DestroyWindow(handle_); }
  DecoyWindow(const DecoyWindow&) = delete;
  DecoyWindow& operator=(const DecoyWindow&) = delete;
  HWND get() const { return handle_; }

 private:
  HWND handle_;
};

void PumpWhileRunning(const ProgramRun& run) {
  for (int i = 0; i < 1500 && run.Running(); ++i) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      DispatchMessageW(&message);
    }
    Sleep(10);
  }
}

TEST(QuillonPcTest, SecondStartFindsTheRunningInstanceNotALookAlike) {
  ProgramRun first(QuillonPc(L"", kIdleScenario));
  ASSERT_TRUE(first.WaitForLine("echo ready")) << first.Errors();
  HWND window = first.MainWindow();
  ASSERT_NE(window, nullptr);
  ShowWindow(window, SW_MINIMIZE);
  ASSERT_TRUE(IsIconic(window));

  // Made after the instance's window, so they come first in the z-order: a
  // window of another program of the same engine, even one carrying the
  // frame's marker, and one of another class with the same title (as a
  // folder window might have).
  DecoyWindow same_class(L"FLUTTER_RUNNER_WIN32_WINDOW", L"quillon_pc");
  ASSERT_TRUE(
      SetPropW(same_class.get(), L"FrameWindow", reinterpret_cast<HANDLE>(1)));
  DecoyWindow same_title(L"QuillonTestFolderWindow", L"quillon_pc");
  ASSERT_TRUE(IsIconic(same_class.get()));
  ASSERT_TRUE(IsIconic(same_title.get()));

  ProgramRun second(QuillonPc(L"", kIdleScenario));
  ASSERT_TRUE(second.started());
  // The decoys belong to this thread: it must answer should the search
  // wrongly pick one.
  PumpWhileRunning(second);
  EXPECT_EQ(second.Wait(0), 0);
  for (int i = 0; i < 100 && IsIconic(window); ++i) {
    Sleep(20);
  }
  EXPECT_FALSE(IsIconic(window));
  EXPECT_TRUE(IsIconic(same_class.get()));
  EXPECT_TRUE(IsIconic(same_title.get()));
  EXPECT_EQ(first.Close(), 0);
}

std::string Describe(const RECT& r) {
  return std::to_string(r.left) + "," + std::to_string(r.top) + " - " +
         std::to_string(r.right) + "," + std::to_string(r.bottom);
}

TEST(QuillonPcTest, MaximisedClientAreaIsTheWorkAreaAndRestoreReturns) {
  ProgramRun run(QuillonPc(L"", "show\nwait 200\necho ready\n"));
  ASSERT_TRUE(run.WaitForLine("echo ready")) << run.Errors();
  HWND window = run.MainWindow();
  ASSERT_NE(window, nullptr);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof(monitor);
  GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST),
                  &monitor);
  // The session's simulated taskbar: a work area short of the screen.
  ASSERT_LT(monitor.rcWork.bottom, monitor.rcMonitor.bottom);
  RECT normal{};
  GetWindowRect(window, &normal);

  PostMessageW(window, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
  RECT client{};
  for (int i = 0; i < 100; ++i) {
    client = ClientOnScreen(window);
    if (IsZoomed(window) && !EqualRect(&client, &normal)) break;
    Sleep(20);
  }
  Sleep(100);
  ASSERT_TRUE(IsZoomed(window));
  client = ClientOnScreen(window);
  RECT bounds{};
  GetWindowRect(window, &bounds);
  EXPECT_TRUE(EqualRect(&client, &monitor.rcWork))
      << Describe(client) << " vs work area " << Describe(monitor.rcWork)
      << ", window " << Describe(bounds);
  // The view fills it.
  HWND view = FindWindowExW(window, nullptr, L"FLUTTERVIEW", nullptr);
  ASSERT_NE(view, nullptr);
  const RECT view_rect = ClientOnScreen(view);
  EXPECT_TRUE(EqualRect(&view_rect, &monitor.rcWork)) << Describe(view_rect);

  // The style changes before the rectangle does, and this runs in another
  // process: wait for both.
  PostMessageW(window, WM_SYSCOMMAND, SC_RESTORE, 0);
  RECT restored{};
  for (int i = 0; i < 100; ++i) {
    GetWindowRect(window, &restored);
    if (!IsZoomed(window) && EqualRect(&restored, &normal)) break;
    Sleep(20);
  }
  EXPECT_TRUE(EqualRect(&restored, &normal))
      << Describe(restored) << " vs " << Describe(normal);
  EXPECT_EQ(run.Close(), 0);
}

TEST(QuillonPcTest, DetachedMarkerRunsAFullInstanceBesideTheFirst) {
  ProgramRun first(QuillonPc(L"", kIdleScenario));
  ASSERT_TRUE(first.WaitForLine("echo ready")) << first.Errors();

  struct Case {
    std::wstring arguments;
    std::string first_argument;
  };
  const Case cases[] = {
      {L"--quillon-detached-window=2 x", "arg 0 [--quillon-detached-window=2]"},
      // Found anywhere in the text, also inside a quoted argument.
      {L"\"note --quillon-detached-window=7\" x",
       "arg 0 [note --quillon-detached-window=7]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.first_argument);
    ProgramRun detached(QuillonPc(c.arguments, "print-args\necho up\n"));
    ASSERT_TRUE(detached.WaitForLine("echo up")) << detached.Errors();
    const std::vector<std::string> lines = detached.Transcript();
    EXPECT_TRUE(Contains(lines, "args 2"));
    EXPECT_TRUE(Contains(lines, c.first_argument));
    EXPECT_TRUE(Contains(lines, "arg 1 [x]"));
    EXPECT_EQ(PluginRecords(lines).size(), 9u);  // eight plugins, callback

    HWND own = detached.MainWindow();
    EXPECT_NE(own, nullptr);
    EXPECT_NE(own, first.MainWindow());
    EXPECT_EQ(detached.Close(), 0);
  }
  EXPECT_EQ(first.Close(), 0);
}

}  // namespace
