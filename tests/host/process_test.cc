// Black-box tests of quillon_pc.exe: the real executable started with a
// scenario for the stand-in engine's scripted user interface and a
// transcript to read back, as a user or the system would start it.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "tests/host/host_test_support.h"

namespace {

using host_test::Lines;
using host_test::PluginRecords;
using host_test::RecordNames;
using host_test::TempFile;

constexpr DWORD kTimeLimitMs = 30000;
constexpr wchar_t kWindowClass[] = L"FLUTTER_RUNNER_WIN32_WINDOW";

std::wstring ExecutablePath() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  folder.resize(folder.find_last_of(L"\\/") + 1);
  return folder + L"quillon_pc.exe";
}

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// One run of quillon_pc.exe. Its standard error goes to a file; a process
// still running when the object goes is killed, so no test leaves an
// instance holding the single-instance mutex.
class HostProcess {
 public:
  // |arguments| follow the quoted program path on the command line as they
  // are. The scenario is written to a file the stand-in engine reads.
  HostProcess(const std::wstring& arguments, const std::string& scenario) {
    scenario_.Write(scenario);
    SetEnvironmentVariableW(L"QUILLON_STANDIN_SCENARIO",
                            scenario_.path().c_str());
    SetEnvironmentVariableW(L"QUILLON_STANDIN_TRANSCRIPT",
                            transcript_.path().c_str());

    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    error_file_ = CreateFileW(errors_.path().c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = error_file_;
    startup.hStdError = error_file_;

    const std::wstring program = ExecutablePath();
    std::wstring command_line = L"\"" + program + L"\"";
    if (!arguments.empty()) {
      command_line += L" " + arguments;
    }
    std::wstring folder = program.substr(0, program.find_last_of(L"\\/"));
    started_ =
        CreateProcessW(program.c_str(), &command_line[0], nullptr, nullptr,
                       TRUE, 0, nullptr, folder.c_str(), &startup, &info_) != 0;
    SetEnvironmentVariableW(L"QUILLON_STANDIN_SCENARIO", nullptr);
    SetEnvironmentVariableW(L"QUILLON_STANDIN_TRANSCRIPT", nullptr);
  }

  ~HostProcess() {
    if (started_) {
      if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(info_.hProcess, 99);
        WaitForSingleObject(info_.hProcess, kTimeLimitMs);
      }
      CloseHandle(info_.hThread);
      CloseHandle(info_.hProcess);
    }
    if (error_file_ != INVALID_HANDLE_VALUE) {
      CloseHandle(error_file_);
    }
  }

  HostProcess(const HostProcess&) = delete;
  HostProcess& operator=(const HostProcess&) = delete;

  bool started() const { return started_; }
  DWORD id() const { return info_.dwProcessId; }

  // The exit code, or -1 when the process did not end within the limit.
  long Wait(DWORD limit_ms = kTimeLimitMs) {
    if (!started_ ||
        WaitForSingleObject(info_.hProcess, limit_ms) != WAIT_OBJECT_0) {
      return -1;
    }
    DWORD code = 0;
    GetExitCodeProcess(info_.hProcess, &code);
    return static_cast<long>(code);
  }

  bool Running() const {
    return started_ && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT;
  }

  std::vector<std::string> Transcript() const {
    return Lines(transcript_.Read());
  }
  std::string Errors() const { return errors_.Read(); }

  // Waits until the transcript holds |line|.
  bool WaitForLine(const std::string& line) const {
    for (DWORD waited = 0; waited < kTimeLimitMs; waited += 20) {
      if (Contains(Transcript(), line)) {
        return true;
      }
      if (!Running()) {
        return Contains(Transcript(), line);
      }
      Sleep(20);
    }
    return false;
  }

  // The process's top-level window of the main class, or null.
  HWND MainWindow() const {
    struct Search {
      DWORD process;
      HWND found;
    } search{info_.dwProcessId, nullptr};
    EnumWindows(
        [](HWND window, LPARAM parameter) -> BOOL {
          auto* s = reinterpret_cast<Search*>(parameter);
          DWORD owner = 0;
          GetWindowThreadProcessId(window, &owner);
          wchar_t name[64] = {};
          GetClassNameW(window, name, 64);
          if (owner == s->process && wcscmp(name, kWindowClass) == 0) {
            s->found = window;
            return FALSE;
          }
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
  }

  // Ends the instance as a user closing its window would.
  long Close() {
    HWND window = MainWindow();
    if (window == nullptr) {
      return -1;
    }
    PostMessageW(window, WM_CLOSE, 0, 0);
    return Wait();
  }

 private:
  TempFile scenario_{L"hsc"};
  TempFile transcript_{L"htr"};
  TempFile errors_{L"her"};
  HANDLE error_file_ = INVALID_HANDLE_VALUE;
  PROCESS_INFORMATION info_{};
  bool started_ = false;
};

// Keeps running until closed: the scenario only says it is up.
constexpr char kIdleScenario[] = "echo ready\n";

TEST(QuillonPcTest, ScenarioRunRegistersPluginsInOrderAndQuitsWithZero) {
  HostProcess run(L"",
                  "print-args\n"
                  "window\n"
                  "view\n"
                  "method mixin.one/flutter_multi_window createWindow null\n"
                  "destroy\n");
  ASSERT_TRUE(run.started());
  EXPECT_EQ(run.Wait(), 0) << run.Errors();

  const std::vector<std::string> lines = run.Transcript();
  EXPECT_EQ(RecordNames(PluginRecords(lines)),
            (std::vector<std::string>{
                "register connectivity_plus_plugin",
                "register desktop_drop_plugin",
                "register desktop_multi_window_plugin",
                "register fvp_plugin",
                "register screen_retriever_windows_plugin",
                "register url_launcher_windows_plugin",
                "register webview_windows_plugin",
                "register window_manager_plugin",
                "callback desktop_multi_window_plugin",
                "sub-window desktop_multi_window_plugin",
                "register screen_retriever_windows_plugin",
                "register webview_windows_plugin",
                "register window_manager_plugin",
            }));
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
  EXPECT_TRUE(Contains(lines, "destroy -> 1"));
}

// Sets an environment variable of this process, which a started program
// inherits, for the life of the object.
class ScopedVariable {
 public:
  ScopedVariable(const wchar_t* name, const wchar_t* value) : name_(name) {
    SetEnvironmentVariableW(name, value);
  }
  ~ScopedVariable() { SetEnvironmentVariableW(name_, nullptr); }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  const wchar_t* name_;
};

TEST(QuillonPcTest, RefusedViewControllerEndsTheProgramWithOne) {
  ScopedVariable refuse(L"QUILLON_STANDIN_REFUSE_VIEW_CONTROLLERS", L"1");
  HostProcess run(L"", "echo never\n");
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
  ScopedVariable dpi(L"QUILLON_STANDIN_DPI", L"144");
  HostProcess run(L"", "window\nview\ndestroy\n");
  ASSERT_TRUE(run.started());
  EXPECT_EQ(run.Wait(), 0) << run.Errors();
  const std::vector<std::string> lines = run.Transcript();
  // 1280 x 720 logical pixels at 150 %; the frame module centres it.
  const auto window_line =
      std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
        return line.compare(0, 10, "window -> ") == 0;
      });
  ASSERT_NE(window_line, lines.end());
  EXPECT_NE(window_line->find(" w=1920 h=1080 client=1920x1080 visible=0 "),
            std::string::npos)
      << *window_line;
  EXPECT_TRUE(Contains(lines, "view -> w=1920 h=1080 parent=top-level"));
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
    HostProcess run(c.arguments, "print-args\ndestroy\n");
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
  HostProcess first(L"", kIdleScenario);
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
    HostProcess second(L"", kIdleScenario);
    ASSERT_TRUE(second.started());
    EXPECT_EQ(second.Wait(), 0);
    EXPECT_TRUE(second.Transcript().empty());
    EXPECT_FALSE(IsWindowVisible(window));
  }

  ShowWindow(window, SW_MINIMIZE);
  ASSERT_TRUE(IsIconic(window));
  {
    HostProcess third(L"some argument", kIdleScenario);
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

TEST(QuillonPcTest, DetachedMarkerRunsAFullInstanceBesideTheFirst) {
  HostProcess first(L"", kIdleScenario);
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
    HostProcess detached(c.arguments, "print-args\necho up\n");
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
