// quillon_pc.exe as a black box: the stand-in engine's scripted user
// interface calls the exported table, posts frame actions and calls the
// "frame/window" channel, and the transcript it writes is read back.
#include <windows.h>

#include <algorithm>
#include <cstddef>
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

using test_support::ProgramOptions;
using test_support::ProgramPath;
using test_support::ProgramRun;
using test_support::ResultOf;

// Runs quillon_pc.exe once with |scenario| and returns the scripted user
// interface's transcript lines, plugin records left out. The program is
// killed if it outlives the time limit, so no run can hang the test.
std::vector<std::string> RunScenario(const std::string& scenario) {
  ProgramOptions options;
  options.scenario = scenario;
  ProgramRun run(std::move(options));
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

RECT PrimaryWorkArea() {
  MONITORINFO info = {};
  info.cbSize = sizeof(info);
  GetMonitorInfoW(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY),
                  &info);
  return info.rcWork;
}

// The export directory of a 64-bit image file: the function count and the
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
  exports.functions = table->NumberOfFunctions;
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
      // Ends the modal move loop that the next call enters (no mouse button
      // is held in a scripted run): posted once the loop runs, since the
      // engine delivers the call on a later turn.
      "post-later 300 0x202 0 0\n"
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
  EXPECT_EQ(ResultOf(lines, "method frame/window dragAppWindow"),
            "success null");
  EXPECT_EQ(
      ResultOf(lines, "method frame/window dragAppWindow {\"any\": [1, 2]}"),
      "success null");
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

}  // namespace
