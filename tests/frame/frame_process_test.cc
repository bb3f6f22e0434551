// quillon_pc.exe as a black box: the stand-in engine's scripted user
// interface calls the exported table, posts frame actions and calls the
// "frame/window" channel, and the transcript it writes is read back.
#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "gtest/gtest.h"
#include "tests/support/program_run.h"

namespace {

using test_support::ClientOnScreen;
using test_support::PrimaryWorkArea;
using test_support::ProgramOptions;
using test_support::ProgramPath;
using test_support::ProgramRun;
using test_support::ResultOf;

ProgramOptions WithScenario(const std::string& scenario) {
  ProgramOptions options;
  options.scenario = scenario;
  return options;
}

// Runs quillon_pc.exe once with |scenario| and returns the scripted user
// interface's transcript lines, plugin records left out. The program is
// killed if it outlives the time limit, so no run can hang the test.
std::vector<std::string> RunScenario(const std::string& scenario) {
  ProgramRun run(WithScenario(scenario));
  EXPECT_TRUE(run.started());
  if (run.started()) {
    const long exit_code = run.Wait();
    EXPECT_NE(exit_code, -1) << "quillon_pc.exe did not end in time";
    EXPECT_EQ(exit_code, 0);
  }
  return run.StepLines();
}

struct WindowLine {
  int x = 0, y = 0, w = 0, h = 0;
};

WindowLine ParseWindow(const std::string& result) {
  WindowLine window;
  EXPECT_EQ(std::sscanf(result.c_str(), "x=%d y=%d w=%d h=%d", &window.x,
                        &window.y, &window.w, &window.h),
            4)
      << result;
  return window;
}

// The export directory of a 64-bit image file: the functions (filled slots
// of the address table; lld leaves the slot of ordinal 0 empty) and the
// names. Read from the file, so that nothing of the program runs.
struct Exports {
  DWORD functions = 0;
  std::vector<std::string> names;
};

Exports ReadExports(const std::wstring& path) {
  std::ifstream file(std::filesystem::path(path), std::ios::binary);
  const std::string image((std::istreambuf_iterator<char>(file)),
                          std::istreambuf_iterator<char>());
  Exports exports;
  const auto at = [&image](size_t offset, size_t size) -> const char* {
    return offset + size <= image.size() ? image.data() + offset : nullptr;
  };
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(
      at(0, sizeof(IMAGE_DOS_HEADER)));
  if (dos == nullptr || dos->e_magic != IMAGE_DOS_SIGNATURE) return exports;
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(
      at(dos->e_lfanew, sizeof(IMAGE_NT_HEADERS64)));
  if (nt == nullptr || nt->Signature != IMAGE_NT_SIGNATURE ||
      nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
    return exports;
  }
  const IMAGE_DATA_DIRECTORY& directory =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  if (directory.Size == 0) return exports;
  const auto* sections = reinterpret_cast<const IMAGE_SECTION_HEADER*>(
      at(dos->e_lfanew + offsetof(IMAGE_NT_HEADERS64, OptionalHeader) +
             nt->FileHeader.SizeOfOptionalHeader,
         nt->FileHeader.NumberOfSections * sizeof(IMAGE_SECTION_HEADER)));
  if (sections == nullptr) return exports;
  const auto file_offset = [&](DWORD rva) -> size_t {
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
      const IMAGE_SECTION_HEADER& section = sections[i];
      if (rva >= section.VirtualAddress &&
          rva < section.VirtualAddress + section.SizeOfRawData) {
        return section.PointerToRawData + (rva - section.VirtualAddress);
      }
    }
    return image.size();
  };
  const auto* table = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(at(
      file_offset(directory.VirtualAddress), sizeof(IMAGE_EXPORT_DIRECTORY)));
  if (table == nullptr) return exports;
  const auto* function_rvas = reinterpret_cast<const DWORD*>(
      at(file_offset(table->AddressOfFunctions),
         table->NumberOfFunctions * sizeof(DWORD)));
  for (DWORD i = 0; function_rvas != nullptr && i < table->NumberOfFunctions;
       ++i) {
    if (function_rvas[i] != 0) ++exports.functions;
  }
  const auto* name_rvas =
      reinterpret_cast<const DWORD*>(at(file_offset(table->AddressOfNames),
                                        table->NumberOfNames * sizeof(DWORD)));
  for (DWORD i = 0; name_rvas != nullptr && i < table->NumberOfNames; ++i) {
    const size_t offset = file_offset(name_rvas[i]);
    if (offset >= image.size()) break;
    exports.names.emplace_back(image.c_str() + offset);
  }
  return exports;
}

TEST(FrameProcessTest, ExecutableExportsOnlyTheFrameTable) {
  const Exports exports = ReadExports(ProgramPath(L"quillon_pc.exe"));
  EXPECT_EQ(exports.functions, 1u);
  EXPECT_EQ(exports.names, std::vector<std::string>{"frame_window_api"});
  // The reader does see longer tables: the engine library's.
  const Exports engine = ReadExports(ProgramPath(L"flutter_windows.dll"));
  EXPECT_NE(std::find(engine.names.begin(), engine.names.end(),
                      "FlutterDesktopEngineCreate"),
            engine.names.end());
}

TEST(FrameProcessTest, ExportedTableServesTheWindowAndItsLimits) {
  const std::vector<std::string> lines = RunScenario(
      "call frame_window_api\n"
      "call frame_window_api\n"
      "window\n"
      "table frame_window_api public 0 bool()\n"
      "table frame_window_api public 1 ptr()\n"
      "table frame_window_api public 3 void(i32,i32) 400 300\n"
      "table frame_window_api public 4 void(i32,i32) 600 0\n"
      "frame-move 5 6 100 100 0x14\n"
      "wait 100\n"
      "window\n"
      "destroy\n");
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "end");

  // Found by name, the same record every time.
  const std::string api = ResultOf(lines, "call frame_window_api");
  EXPECT_EQ(api.size(), 18u) << api;
  EXPECT_NE(api, "0x0000000000000000");
  EXPECT_EQ(ResultOf(lines, "call frame_window_api", 1), api);

  // Centred on the work area (there is one monitor under Wine).
  const WindowLine created = ParseWindow(ResultOf(lines, "window"));
  const RECT work = PrimaryWorkArea();
  EXPECT_EQ(created.x, work.left + (work.right - work.left - created.w) / 2);
  EXPECT_EQ(created.y, work.top + (work.bottom - work.top - created.h) / 2);

  EXPECT_EQ(ResultOf(lines, "table frame_window_api public 0 bool()"), "true");
  const std::string app_window =
      ResultOf(lines, "table frame_window_api public 1 ptr()");
  EXPECT_NE(app_window.find(" top-level"), std::string::npos) << app_window;

  // The minimum applies at the next size negotiation; a maximum with a zero
  // imposes nothing. The window runs at 96 DPI here.
  const WindowLine limited = ParseWindow(ResultOf(lines, "window", 1));
  EXPECT_EQ(limited.x, 5);
  EXPECT_EQ(limited.y, 6);
  EXPECT_EQ(limited.w, 400);
  EXPECT_EQ(limited.h, 300);
}

constexpr char kDragFailedReply[] =
    "error \"ERROR_DRAG_APP_WINDOW_FAILED\" \"Could not drag app window\" "
    "null";

TEST(FrameProcessTest, FrameActionsAndTheChannelReachTheWindow) {
  const std::vector<std::string> lines = RunScenario(
      "frame-title Fenster \xC3\xBC \xE4\xB8\xAD\n"
      "frame-move 20 30 500 400 0x14\n"
      "wait 100\n"
      "window\n"
      "view\n"
      "frame-action 9\n"
      "frame-refresh\n"
      "wait 50\n"
      "view\n"
      "method frame/window DragAppWindow\n"
      "method frame/window dragAppWindowX\n"
      "method frame/window dragAppWindow\n"
      "show\n"
      "method frame/window dragAppWindow {\"any\": [1, 2]}\n"
      "window\n"
      "destroy\n");
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "end");

  EXPECT_EQ(ResultOf(lines, "window"),
            "x=20 y=30 w=500 h=400 client=500x400 visible=0 "
            "title=[Fenster \xC3\xBC \xE4\xB8\xAD]");
  EXPECT_EQ(ResultOf(lines, "view"), "w=500 h=400 parent=top-level");
  EXPECT_EQ(ResultOf(lines, "view", 1), "w=500 h=400 parent=top-level");

  EXPECT_EQ(ResultOf(lines, "method frame/window DragAppWindow"),
            "not-implemented");
  EXPECT_EQ(ResultOf(lines, "method frame/window dragAppWindowX"),
            "not-implemented");
  // No button is down: nothing to drag, whatever the arguments.
  EXPECT_EQ(ResultOf(lines, "method frame/window dragAppWindow"),
            kDragFailedReply);
  EXPECT_EQ(
      ResultOf(lines, "method frame/window dragAppWindow {\"any\": [1, 2]}"),
      kDragFailedReply);
  EXPECT_EQ(ResultOf(lines, "window", 1).find("x=20 y=30 w=500 h=400"), 0u);
}

TEST(FrameProcessTest, MinimisedWindowLeavesTheViewItsSize) {
  const std::vector<std::string> lines = RunScenario(
      "frame-move 20 30 500 400 0x14\n"
      "show\n"
      "wait 100\n"
      "post 0x112 0xF020 0\n"
      "wait 200\n"
      "window\n"
      "view\n"
      "post 0x112 0xF120 0\n"
      "wait 200\n"
      "window\n"
      "view\n"
      "destroy\n");
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "end");
  const WindowLine minimised = ParseWindow(ResultOf(lines, "window"));
  EXPECT_LT(minimised.w, 500);
  EXPECT_EQ(ResultOf(lines, "view"), "w=500 h=400 parent=top-level");
  EXPECT_EQ(ResultOf(lines, "window", 1).find("x=20 y=30 w=500 h=400"), 0u);
  EXPECT_EQ(ResultOf(lines, "view", 1), "w=500 h=400 parent=top-level");
}

// Shows the window at a known place and size, then idles until closed.
constexpr char kShownWindowScenario[] =
    "frame-move 300 200 600 400 0x14\n"
    "show\n"
    "wait 300\n"
    "echo ready\n";

struct ShownWindow {
  HWND window = nullptr;
  HWND view = nullptr;
  RECT bounds{};
};

ShownWindow WaitForShownWindow(const ProgramRun& run) {
  ShownWindow shown;
  EXPECT_TRUE(run.WaitForLine("echo ready")) << run.Errors();
  shown.window = run.MainWindow();
  if (shown.window != nullptr) {
    shown.view = FindWindowExW(shown.window, nullptr, L"FLUTTERVIEW", nullptr);
    GetWindowRect(shown.window, &shown.bounds);
  }
  return shown;
}

LPARAM ScreenPoint(LONG x, LONG y) {
  return static_cast<LPARAM>(
      (static_cast<uint32_t>(static_cast<uint16_t>(y)) << 16) |
      static_cast<uint16_t>(x));
}

// The prefix's display scale (HKCU\Control Panel\Desktop, LogPixels) for
// the programs started while the object lives; the earlier setting comes back
// afterwards. A program reads it once, as it starts, and these tests run
// alone, so no other program sees it.
class ScopedLogPixels {
 public:
  explicit ScopedLogPixels(DWORD dpi) {
    DWORD size = sizeof(saved_);
    had_value_ = RegGetValueW(HKEY_CURRENT_USER, kKey, kValue, RRF_RT_REG_DWORD,
                              nullptr, &saved_, &size) == ERROR_SUCCESS;
    set_ = RegSetKeyValueW(HKEY_CURRENT_USER, kKey, kValue, REG_DWORD, &dpi,
                           sizeof(dpi)) == ERROR_SUCCESS;
  }
  ~ScopedLogPixels() {
    if (had_value_) {
      RegSetKeyValueW(HKEY_CURRENT_USER, kKey, kValue, REG_DWORD, &saved_,
                      sizeof(saved_));
    } else {
      RegDeleteKeyValueW(HKEY_CURRENT_USER, kKey, kValue);
    }
  }
  ScopedLogPixels(const ScopedLogPixels&) = delete;
  ScopedLogPixels& operator=(const ScopedLogPixels&) = delete;
  bool set() const { return set_; }

 private:
  static constexpr wchar_t kKey[] = L"Control Panel\\Desktop";
  static constexpr wchar_t kValue[] = L"LogPixels";
  DWORD saved_ = 0;
  bool had_value_ = false;
  bool set_ = false;
};

// What the top-level window answers 3 px inside each edge and corner,
// counted from its first and last pixel (right and bottom are exclusive),
// where the view steps aside for it; and 1 px outside, where it answers no
// sizing code.
void ExpectSizingBandOnEverySide(const ShownWindow& shown) {
  const RECT& r = shown.bounds;
  const LONG first_x = r.left, last_x = r.right - 1;
  const LONG first_y = r.top, last_y = r.bottom - 1;
  const LONG mid_x = (r.left + r.right) / 2;
  const LONG mid_y = (r.top + r.bottom) / 2;
  struct Probe {
    LONG x, y;
    LRESULT code;
  };
  const Probe inside[] = {
      {first_x + 3, mid_y, HTLEFT},
      {last_x - 3, mid_y, HTRIGHT},
      {mid_x, first_y + 3, HTTOP},
      {mid_x, last_y - 3, HTBOTTOM},
      {first_x + 3, first_y + 3, HTTOPLEFT},
      {last_x - 3, first_y + 3, HTTOPRIGHT},
      {first_x + 3, last_y - 3, HTBOTTOMLEFT},
      {last_x - 3, last_y - 3, HTBOTTOMRIGHT},
  };
  // The view covers the whole client area: the system asks it first, then,
  // where it steps aside, the top-level window.
  for (const Probe& p : inside) {
    SCOPED_TRACE(testing::Message() << p.x - r.left << "," << p.y - r.top);
    const LPARAM point = ScreenPoint(p.x, p.y);
    EXPECT_EQ(SendMessageW(shown.view, WM_NCHITTEST, 0, point), HTTRANSPARENT);
    EXPECT_EQ(SendMessageW(shown.window, WM_NCHITTEST, 0, point), p.code);
  }
  const POINT outside[] = {
      {first_x - 1, mid_y},       {last_x + 1, mid_y},
      {mid_x, first_y - 1},       {mid_x, last_y + 1},
      {first_x - 1, first_y - 1}, {last_x + 1, first_y - 1},
      {first_x - 1, last_y + 1},  {last_x + 1, last_y + 1},
  };
  for (const POINT& p : outside) {
    SCOPED_TRACE(testing::Message() << p.x - r.left << "," << p.y - r.top);
    const LRESULT code =
        SendMessageW(shown.window, WM_NCHITTEST, 0, ScreenPoint(p.x, p.y));
    EXPECT_FALSE(code >= HTLEFT && code <= HTBOTTOMRIGHT) << code;
  }
  EXPECT_EQ(
      SendMessageW(shown.view, WM_NCHITTEST, 0, ScreenPoint(mid_x, mid_y)),
      HTCLIENT);
}

TEST(FrameProcessTest, FirstPlacementAndSizingBandAtEachDisplayScale) {
  const RECT work = PrimaryWorkArea();
  for (const DWORD dpi : {96u, 144u}) {
    SCOPED_TRACE(dpi);
    ScopedLogPixels scale(dpi);
    ASSERT_TRUE(scale.set());
    ProgramRun run(
        WithScenario(std::string("window\n") + kShownWindowScenario));
    const ShownWindow shown = WaitForShownWindow(run);
    ASSERT_NE(shown.window, nullptr);
    ASSERT_NE(shown.view, nullptr);

    // 1280 x 720 logical pixels at the program's scale, which the width
    // shows (150 % of 1280 is the screen's width), shrunk to the work area
    // and centred in it: the top edge is on screen.
    const WindowLine first = ParseWindow(ResultOf(run.StepLines(), "window"));
    EXPECT_EQ(first.w, std::min<LONG>(1280 * dpi / 96, work.right - work.left));
    EXPECT_EQ(first.h, std::min<LONG>(720 * dpi / 96, work.bottom - work.top));
    EXPECT_EQ(first.x - work.left, (work.right - work.left - first.w) / 2);
    EXPECT_EQ(first.y - work.top, (work.bottom - work.top - first.h) / 2);
    EXPECT_GE(first.y, work.top);
    EXPECT_LE(first.y + first.h, work.bottom);

    ExpectSizingBandOnEverySide(shown);
    EXPECT_EQ(run.Close(), 0);
  }
}

TEST(FrameProcessTest, CappedWindowMaximisedKeepsClientAndViewInsideItself) {
  ProgramRun run(
      WithScenario("table frame_window_api public 4 void(i32,i32) 600 400\n"
                   "frame-move 300 200 500 300 0x14\n"
                   "show\n"
                   "wait 300\n"
                   "echo ready\n"));
  const ShownWindow shown = WaitForShownWindow(run);
  ASSERT_NE(shown.window, nullptr);
  ASSERT_NE(shown.view, nullptr);
  PostMessageW(shown.window, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
  for (int i = 0; i < 100 && !IsZoomed(shown.window); ++i) Sleep(20);
  Sleep(200);
  ASSERT_TRUE(IsZoomed(shown.window));
  RECT bounds{};
  GetWindowRect(shown.window, &bounds);
  EXPECT_EQ(bounds.right - bounds.left, 600);
  EXPECT_EQ(bounds.bottom - bounds.top, 400);
  // What of the window lies in the work area, and the view covers just that.
  const RECT work = PrimaryWorkArea();
  RECT expected{};
  ASSERT_TRUE(IntersectRect(&expected, &bounds, &work));
  const RECT client = ClientOnScreen(shown.window);
  const RECT view = ClientOnScreen(shown.view);
  EXPECT_TRUE(EqualRect(&client, &expected))
      << client.left << "," << client.top << "," << client.right << ","
      << client.bottom;
  EXPECT_TRUE(EqualRect(&view, &expected))
      << view.left << "," << view.top << "," << view.right << ","
      << view.bottom;
  EXPECT_EQ(run.Close(), 0);
}

void MouseTo(LONG x, LONG y, DWORD buttons = 0) {
  // Absolute input runs from 0 to 65535 across the primary screen.
  const LONG width = GetSystemMetrics(SM_CXSCREEN);
  const LONG height = GetSystemMetrics(SM_CYSCREEN);
  INPUT input = {};
  input.type = INPUT_MOUSE;
  input.mi.dx = static_cast<LONG>((x * 65536 + width / 2) / width);
  input.mi.dy = static_cast<LONG>((y * 65536 + height / 2) / height);
  input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | buttons;
  SendInput(1, &input, sizeof(input));
  Sleep(30);
}

TEST(FrameProcessTest, RealDragOnTheRightBorderResizesTheWindow) {
  ProgramRun run(WithScenario(kShownWindowScenario));
  const ShownWindow shown = WaitForShownWindow(run);
  ASSERT_NE(shown.window, nullptr);
  const RECT& r = shown.bounds;
  const LONG y = (r.top + r.bottom) / 2;
  MouseTo(r.right - 3, y);
  MouseTo(r.right - 3, y, MOUSEEVENTF_LEFTDOWN);
  for (LONG step = 10; step <= 100; step += 10) {
    MouseTo(r.right - 3 + step, y);
  }
  MouseTo(r.right - 3 + 100, y, MOUSEEVENTF_LEFTUP);
  RECT after{};
  for (int i = 0; i < 50; ++i) {
    GetWindowRect(shown.window, &after);
    if (after.right - after.left != r.right - r.left) break;
    Sleep(20);
  }
  EXPECT_NEAR(after.right - after.left, r.right - r.left + 100, 1);
  EXPECT_EQ(after.left, r.left);
  EXPECT_EQ(after.bottom - after.top, r.bottom - r.top);
  // The view followed.
  RECT view{};
  GetClientRect(shown.view, &view);
  EXPECT_EQ(view.right, after.right - after.left);
  EXPECT_EQ(run.Close(), 0);
}

TEST(FrameProcessTest, BogusFrameActionFromAnotherProcessIsIgnored) {
  ProgramRun run(WithScenario(kShownWindowScenario));
  const ShownWindow shown = WaitForShownWindow(run);
  ASSERT_NE(shown.window, nullptr);
  // Addresses in this process mean nothing in the program's.
  PostMessageW(shown.window, 0x7FFE, 2, 0x1000);
  PostMessageW(shown.window, 0x7FFE, 1, 0x1000);
  PostMessageW(shown.window, 0x7FFE, 2, reinterpret_cast<LPARAM>(&shown));
  DWORD_PTR result = 0;
  EXPECT_NE(SendMessageTimeoutW(shown.window, WM_NULL, 0, 0, SMTO_BLOCK, 5000,
                                &result),
            0);
  EXPECT_TRUE(run.Running());
  RECT after{};
  GetWindowRect(shown.window, &after);
  EXPECT_TRUE(EqualRect(&after, &shown.bounds));
  EXPECT_EQ(run.Close(), 0);
  const std::string errors = run.Errors();
  EXPECT_NE(errors.find("Frame action 2 ignored: the record is not a live "
                        "heap block of its size"),
            std::string::npos)
      << errors;
  EXPECT_NE(errors.find("Frame action 1 ignored"), std::string::npos) << errors;
}

// The transcript's lines that start with |prefix|.
std::vector<std::string> LinesStarting(const ProgramRun& run,
                                       const std::string& prefix) {
  std::vector<std::string> found;
  for (const std::string& line : run.Transcript()) {
    if (line.rfind(prefix, 0) == 0) found.push_back(line);
  }
  return found;
}

// With no button down the call is refused before the next step and the
// window stays; with the button down it is answered only once the user has
// let go.
TEST(FrameProcessTest, DragAnswersOnlyOnceTheButtonIsReleased) {
  ProgramRun run(
      WithScenario("frame-move 300 200 600 400 0x14\n"
                   "show\n"
                   "wait 300\n"
                   "method frame/window dragAppWindow null\n"
                   "window\n"
                   "echo ready\n"
                   "wait 600\n"
                   "method frame/window dragAppWindow\n"
                   "window\n"
                   "destroy\n"));
  const ShownWindow shown = WaitForShownWindow(run);
  ASSERT_NE(shown.window, nullptr);
  const LONG x = (shown.bounds.left + shown.bounds.right) / 2;
  const LONG y = (shown.bounds.top + shown.bounds.bottom) / 2;
  MouseTo(x, y);
  MouseTo(x, y, MOUSEEVENTF_LEFTDOWN);
  Sleep(1000);  // the call arrives while the button is down
  for (LONG step = 10; step <= 100; step += 10) MouseTo(x + step, y + step);
  Sleep(300);
  RECT moving{};
  GetWindowRect(shown.window, &moving);
  // The window follows the pointer, and the call is still unanswered.
  // Absolute input rounds to within a pixel.
  EXPECT_NEAR(moving.left, shown.bounds.left + 100, 1);
  EXPECT_NEAR(moving.top, shown.bounds.top + 100, 1);
  EXPECT_TRUE(
      LinesStarting(run, "method frame/window dragAppWindow ->").empty());
  MouseTo(x + 100, y + 100, MOUSEEVENTF_LEFTUP);
  EXPECT_EQ(run.Wait(), 0);
  const std::vector<std::string> lines = run.StepLines();
  EXPECT_EQ(ResultOf(lines, "method frame/window dragAppWindow null"),
            kDragFailedReply);
  EXPECT_EQ(ResultOf(lines, "window").find("x=300 y=200 w=600 h=400"), 0u);
  EXPECT_EQ(ResultOf(lines, "method frame/window dragAppWindow"),
            "success null");
  const WindowLine moved = ParseWindow(ResultOf(lines, "window", 1));
  EXPECT_EQ(moved.x, moving.left);
  EXPECT_EQ(moved.y, moving.top);
}

// A maximise button declared 500 px along the top of the shown window.
constexpr char kMaximizeButtonScenario[] =
    "frame-move 300 200 600 400 0x14\n"
    "show\n"
    "wait 300\n"
    "method frame/window setMaximizeButtonBounds {\"left\": 500, \"top\": 0, "
    "\"width\": 46.5, \"height\": 32L}\n"
    "echo ready\n";

POINT InView(HWND view, LONG x, LONG y) {
  POINT point{x, y};
  ClientToScreen(view, &point);
  return point;
}

// Clicks at |point|, then leaves for the middle of the view and waits until
// the user interface has heard all four states of the click.
bool ClickMaximizeButton(const ProgramRun& run, HWND window, HWND view,
                         POINT point, size_t heard) {
  const bool zoomed = IsZoomed(window) != FALSE;
  // Two moves over the button: one state change.
  MouseTo(point.x - 3, point.y);
  MouseTo(point.x, point.y);
  MouseTo(point.x, point.y, MOUSEEVENTF_LEFTDOWN);
  MouseTo(point.x, point.y, MOUSEEVENTF_LEFTUP);
  for (int i = 0; i < 100 && (IsZoomed(window) != FALSE) == zoomed; ++i) {
    Sleep(20);
  }
  RECT client{};
  GetClientRect(view, &client);
  const POINT middle = InView(view, client.right / 2, client.bottom / 2);
  MouseTo(middle.x, middle.y);
  for (int i = 0; i < 100 && LinesStarting(run, "incoming ").size() < heard + 4;
       ++i) {
    Sleep(20);
  }
  return (IsZoomed(window) != FALSE) != zoomed;
}

TEST(FrameProcessTest, DeclaredMaximizeButtonHitTestsAndMaximisesOnAClick) {
  ProgramRun run(WithScenario(kMaximizeButtonScenario));
  const ShownWindow shown = WaitForShownWindow(run);
  ASSERT_NE(shown.window, nullptr);
  ASSERT_NE(shown.view, nullptr);
  const std::vector<std::string> lines = run.StepLines();
  EXPECT_EQ(ResultOf(lines,
                     "method frame/window setMaximizeButtonBounds "
                     "{\"left\": 500, \"top\": 0, \"width\": 46.5, "
                     "\"height\": 32L}"),
            "success null");

  struct Probe {
    LONG x, y;
    LRESULT view_code, window_code;
  };
  // In view pixels: the button runs from 500 to 546.5, rounded out to 547.
  const Probe probes[] = {
      {520, 16, HTTRANSPARENT, HTMAXBUTTON},
      {546, 31, HTTRANSPARENT, HTMAXBUTTON},
      {547, 16, HTCLIENT, HTCLIENT},
      {520, 32, HTCLIENT, HTCLIENT},
      {520, 1, HTTRANSPARENT, HTTOP},  // the sizing band comes first
  };
  for (const Probe& p : probes) {
    SCOPED_TRACE(testing::Message() << p.x << "," << p.y);
    const POINT at = InView(shown.view, p.x, p.y);
    const LPARAM point = ScreenPoint(at.x, at.y);
    EXPECT_EQ(SendMessageW(shown.view, WM_NCHITTEST, 0, point), p.view_code);
    EXPECT_EQ(SendMessageW(shown.window, WM_NCHITTEST, 0, point),
              p.window_code);
  }

  EXPECT_TRUE(ClickMaximizeButton(run, shown.window, shown.view,
                                  InView(shown.view, 520, 16), 0));
  // Maximised, the button still answers: the second click restores.
  EXPECT_TRUE(ClickMaximizeButton(run, shown.window, shown.view,
                                  InView(shown.view, 520, 16), 4));
  RECT restored{};
  GetWindowRect(shown.window, &restored);
  EXPECT_TRUE(EqualRect(&restored, &shown.bounds));
  EXPECT_EQ(run.Close(), 0);

  // Hover, press, release, leave: once each per click, however many moves.
  const std::string call = "incoming frame/window maximizeButtonState ";
  const std::vector<std::string> click = {
      call + "{\"hovered\": true, \"pressed\": false}",
      call + "{\"hovered\": true, \"pressed\": true}",
      call + "{\"hovered\": true, \"pressed\": false}",
      call + "{\"hovered\": false, \"pressed\": false}",
  };
  std::vector<std::string> expected = click;
  expected.insert(expected.end(), click.begin(), click.end());
  EXPECT_EQ(LinesStarting(run, "incoming "), expected);
}

}  // namespace
