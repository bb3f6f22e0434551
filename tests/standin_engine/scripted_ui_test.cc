// The scripted user interface, end to end: the probe host runs a scenario
// through the stand-in and the transcript is checked line by line.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr DWORD kProbeTimeoutMs = 60000;

std::string ToUtf8(const std::wstring& text) {
  if (text.empty()) {
    return std::string();
  }
  int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(),
                                 static_cast<int>(text.size()), nullptr, 0,
                                 nullptr, nullptr);
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                      &out[0], size, nullptr, nullptr);
  return out;
}

std::wstring ExecutableFolder() {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring text(path, length);
  return text.substr(0, text.find_last_of(L"\\/"));
}

std::wstring TempFile(const wchar_t* prefix) {
  wchar_t folder[MAX_PATH];
  wchar_t path[MAX_PATH];
  GetTempPathW(MAX_PATH, folder);
  GetTempFileNameW(folder, prefix, 0, path);
  return path;
}

void WriteText(const std::wstring& path, const std::string& text) {
  FILE* file = _wfopen(path.c_str(), L"wb");
  ASSERT_NE(file, nullptr);
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);
}

std::vector<std::string> ReadLines(const std::wstring& path) {
  std::vector<std::string> lines;
  FILE* file = _wfopen(path.c_str(), L"rb");
  if (file == nullptr) {
    return lines;
  }
  std::string text;
  char buffer[4096];
  size_t count;
  while ((count = std::fread(buffer, 1, sizeof(buffer), file)) > 0) {
    text.append(buffer, count);
  }
  std::fclose(file);
  size_t start = 0;
  size_t end;
  while ((end = text.find('\n', start)) != std::string::npos) {
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

// Sets an environment variable for the probes started in its scope.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const wchar_t* name, const std::wstring* value)
      : name_(name) {
    SetEnvironmentVariableW(name, value != nullptr ? value->c_str() : nullptr);
  }
  ~ScopedEnvironment() { SetEnvironmentVariableW(name_, nullptr); }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  const wchar_t* name_;
};

class Probe {
 public:
  explicit Probe(const std::wstring& arguments) {
    std::wstring command =
        L"\"" + ExecutableFolder() + L"\\standin_ui_probe.exe\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    started_ = CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0,
                              nullptr, nullptr, &startup, &process_) != 0;
  }
  ~Probe() {
    if (started_) {
      if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_.hProcess, 99);
      }
      CloseHandle(process_.hThread);
      CloseHandle(process_.hProcess);
    }
  }
  Probe(const Probe&) = delete;
  Probe& operator=(const Probe&) = delete;

  bool started() const { return started_; }
  DWORD process_id() const { return process_.dwProcessId; }

  // The exit code, or STILL_ACTIVE when it did not end in time.
  DWORD Wait(DWORD timeout_ms = kProbeTimeoutMs) {
    if (!started_ ||
        WaitForSingleObject(process_.hProcess, timeout_ms) != WAIT_OBJECT_0) {
      return STILL_ACTIVE;
    }
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process_.hProcess, &code);
    return code;
  }

 private:
  bool started_ = false;
  PROCESS_INFORMATION process_{};
};

// Compares a transcript line; "{ptr}" in `expected` stands for 16 hex digits.
::testing::AssertionResult LineMatches(const std::string& expected,
                                       const std::string& actual) {
  size_t hole = expected.find("{ptr}");
  if (hole == std::string::npos) {
    return expected == actual ? ::testing::AssertionSuccess()
                              : ::testing::AssertionFailure()
                                    << "expected [" << expected << "] got ["
                                    << actual << "]";
  }
  std::string prefix = expected.substr(0, hole);
  std::string suffix = expected.substr(hole + 5);
  bool ok =
      actual.size() == prefix.size() + 16 + suffix.size() &&
      actual.compare(0, prefix.size(), prefix) == 0 &&
      actual.compare(prefix.size() + 16, suffix.size(), suffix) == 0 &&
      actual.substr(prefix.size(), 16).find_first_not_of("0123456789abcdef") ==
          std::string::npos;
  return ok ? ::testing::AssertionSuccess()
            : ::testing::AssertionFailure()
                  << "expected [" << expected << "] got [" << actual << "]";
}

void ExpectTranscript(const std::vector<std::string>& expected,
                      const std::vector<std::string>& actual) {
  for (size_t i = 0; i < expected.size() && i < actual.size(); ++i) {
    EXPECT_TRUE(LineMatches(expected[i], actual[i])) << "line " << i + 1;
  }
  EXPECT_EQ(actual.size(), expected.size());
}

class ScriptedUiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scenario_path_ = TempFile(L"scn");
    transcript_path_ = TempFile(L"trn");
    DeleteFileW(transcript_path_.c_str());
  }
  void TearDown() override {
    DeleteFileW(scenario_path_.c_str());
    DeleteFileW(transcript_path_.c_str());
  }

  std::wstring scenario_path_;
  std::wstring transcript_path_;
};

TEST_F(ScriptedUiTest, RunsEveryStepAgainstTheHost) {
  const std::vector<std::string> scenario = {
      "# A scenario exercising every step.",
      "print-args",
      "echo marker one",
      "view",
      "show",
      "window",
      "send probe/echo 010203",
      "send probe/nobody 01",
      "send probe/later 0a0b",
      "send probe/empty",
      "reply-timeout 300",
      "send probe/silent 00",
      "call probe_api",
      "call no_such_export",
      "table probe_api public 0 bool()",
      "table probe_api public 1 ptr()",
      "table probe_api public 2 void(bool) true",
      "table probe_api public 3 void(i32,i32) -5 7",
      "table probe_api public 4 void(i32) 42",
      "table probe_api public 5 bool()",
      "table probe_api public 6 ptr()",
      "table probe_api private 0 bool()",
      "frame-move 20 30 500 400 0x14",
      "frame-title Gr\xC3\xBC\xC3\x9F"
      "e, probe",
      "post 0x401 7 -2",
      "wait 100",
      "table probe_api public 7 ptr()",
      "window",
      "view",
      "method probe/method add [2, 3]",
      "method probe/method fail {\"k\": [1L, 2.5]}",
      "method probe/method other \"x\"",
      "method probe/nobody ping",
      "method probe/method add [1",
      "bogus step",
      "destroy",
  };
  std::string text;
  for (const std::string& line : scenario) {
    text += line + "\r\n";
  }
  WriteText(scenario_path_, text);
  ScopedEnvironment scenario_variable(L"QUILLON_STANDIN_SCENARIO",
                                      &scenario_path_);
  ScopedEnvironment transcript_variable(L"QUILLON_STANDIN_TRANSCRIPT",
                                        &transcript_path_);
  Probe probe(L"one \"\" \"two words \u00fcn\u00ef\"");
  ASSERT_TRUE(probe.started());
  EXPECT_EQ(probe.Wait(), 0u);

  ExpectTranscript(
      {
          "scenario [" + ToUtf8(scenario_path_) + "]",
          "error line 35: unknown step: bogus",
          "args 3",
          "arg 0 [one]",
          "arg 1 []",
          "arg 2 [two words \xC3\xBCn\xC3\xAF]",
          "echo marker one",
          "view -> w=400 h=300 parent=top-level",
          "show -> visible=1",
          "window -> x=100 y=100 w=400 h=300 client=400x300 visible=1 "
          "title=[probe]",
          "send probe/echo 010203 -> 030201",
          "send probe/nobody 01 -> no-handler",
          "send probe/later 0a0b -> 0b0a",
          "send probe/empty -> empty",
          "reply-timeout 300 -> done",
          "send probe/silent 00 -> no-reply",
          "call probe_api -> 0x{ptr}",
          "call no_such_export -> missing",
          "table probe_api public 0 bool() -> true",
          "table probe_api public 1 ptr() -> 0x{ptr} top-level",
          "table probe_api public 2 void(bool) true -> done",
          "table probe_api public 3 void(i32,i32) -5 7 -> done",
          "table probe_api public 4 void(i32) 42 -> done",
          "table probe_api public 5 bool() -> null-entry",
          "table probe_api public 6 ptr() -> 0xfffffffb00000701",
          "table probe_api private 0 bool() -> true",
          "frame-move 20 30 500 400 0x14 -> 1",
          "frame-title Gr\xC3\xBC\xC3\x9F"
          "e, probe -> 1",
          "post 0x401 7 -2 -> 1",
          "wait 100 -> done",
          "table probe_api public 7 ptr() -> 0x00000007fffffffe",
          "window -> x=20 y=30 w=500 h=400 client=500x400 visible=1 "
          "title=[Gr\xC3\xBC\xC3\x9F"
          "e, probe]",
          "view -> w=500 h=400 parent=top-level",
          "method probe/method add [2, 3] -> success 5L",
          "method probe/method fail {\"k\": [1L, 2.5]} -> error \"E_FAIL\" "
          "\"it failed\" {\"k\": [1L, 2.5]}",
          "method probe/method other \"x\" -> not-implemented",
          "method probe/nobody ping -> no-handler",
          "method probe/method add [1 -> bad-value expected ']' at offset 2",
          "destroy -> 1",
          "end",
      },
      ReadLines(transcript_path_));
}

TEST_F(ScriptedUiTest, ReadsScenarioFromTheAssetsFolderByDefault) {
  // A folder of this test's own, so parallel runs do not meet.
  std::wstring relative = L"standin_probe_assets_" +
                          std::to_wstring(GetCurrentProcessId()) +
                          L"\\flutter_assets";
  std::wstring base =
      ExecutableFolder() + L"\\" + relative.substr(0, relative.find(L'\\'));
  std::wstring assets = ExecutableFolder() + L"\\" + relative;
  ASSERT_TRUE(CreateDirectoryW(base.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(assets.c_str(), nullptr));
  std::wstring scenario = assets + L"\\scenario.txt";
  WriteText(scenario, "print-args\ndestroy\n");
  ScopedEnvironment no_scenario(L"QUILLON_STANDIN_SCENARIO", nullptr);
  ScopedEnvironment transcript_variable(L"QUILLON_STANDIN_TRANSCRIPT",
                                        &transcript_path_);
  Probe probe(L"--assets=" + relative + L" only");
  ASSERT_TRUE(probe.started());
  EXPECT_EQ(probe.Wait(), 0u);
  ExpectTranscript({"scenario [" + ToUtf8(scenario) + "]", "args 1",
                    "arg 0 [only]", "destroy -> 1", "end"},
                   ReadLines(transcript_path_));
  DeleteFileW(scenario.c_str());
  RemoveDirectoryW(assets.c_str());
  RemoveDirectoryW(base.c_str());
}

// A 24-bit bottom-up BMP as the screenshot step writes it; width 0 when the
// file is not one.
struct Bmp {
  int width = 0;
  int height = 0;
  std::string bytes;
  uint32_t offset = 0;

  // The colour at (x, y), counted from the top-left corner.
  COLORREF At(int x, int y) const {
    const size_t row = (static_cast<size_t>(width) * 3 + 3) & ~size_t{3};
    const size_t at = offset + (height - 1 - y) * row + x * 3;
    return RGB(static_cast<uint8_t>(bytes[at + 2]),
               static_cast<uint8_t>(bytes[at + 1]),
               static_cast<uint8_t>(bytes[at]));
  }
};

Bmp ReadBmp(const std::wstring& path) {
  Bmp bmp;
  FILE* file = _wfopen(path.c_str(), L"rb");
  if (file == nullptr) {
    return bmp;
  }
  char buffer[65536];
  size_t count;
  while ((count = std::fread(buffer, 1, sizeof(buffer), file)) > 0) {
    bmp.bytes.append(buffer, count);
  }
  std::fclose(file);
  BITMAPFILEHEADER file_header{};
  BITMAPINFOHEADER info{};
  if (bmp.bytes.size() < sizeof(file_header) + sizeof(info)) {
    return bmp;
  }
  std::memcpy(&file_header, bmp.bytes.data(), sizeof(file_header));
  std::memcpy(&info, bmp.bytes.data() + sizeof(file_header), sizeof(info));
  const size_t row = (static_cast<size_t>(info.biWidth) * 3 + 3) & ~size_t{3};
  if (file_header.bfType != 0x4D42 || info.biBitCount != 24 ||
      info.biCompression != BI_RGB || info.biWidth <= 0 || info.biHeight <= 0 ||
      file_header.bfOffBits + row * info.biHeight > bmp.bytes.size()) {
    return bmp;
  }
  bmp.width = info.biWidth;
  bmp.height = info.biHeight;
  bmp.offset = file_header.bfOffBits;
  return bmp;
}

TEST_F(ScriptedUiTest, ScreenshotWritesWhatTheScreenShowsOfTheWindow) {
  const std::wstring picture = TempFile(L"shot");
  const std::wstring unwritable = picture + L".missing\\shot.bmp";
  WriteText(scenario_path_, "show\nwait 300\nscreenshot " + ToUtf8(picture) +
                                "\nscreenshot " + ToUtf8(unwritable) +
                                "\ndestroy\n");
  ScopedEnvironment scenario_variable(L"QUILLON_STANDIN_SCENARIO",
                                      &scenario_path_);
  ScopedEnvironment transcript_variable(L"QUILLON_STANDIN_TRANSCRIPT",
                                        &transcript_path_);
  Probe probe(L"");
  ASSERT_TRUE(probe.started());
  EXPECT_EQ(probe.Wait(), 0u);
  ExpectTranscript(
      {"scenario [" + ToUtf8(scenario_path_) + "]", "show -> visible=1",
       "wait 300 -> done", "screenshot " + ToUtf8(picture) + " -> 400x300",
       "screenshot " + ToUtf8(unwritable) + " -> failed cannot-write",
       "destroy -> 1", "end"},
      ReadLines(transcript_path_));

  // The probe's window is the view, 400 x 300, at (100, 100): the title
  // band across the top, the light background below it, and text on it.
  const Bmp bmp = ReadBmp(picture);
  DeleteFileW(picture.c_str());
  ASSERT_EQ(bmp.width, 400);
  ASSERT_EQ(bmp.height, 300);
  const COLORREF band = RGB(0x2B, 0x4C, 0x7E);
  const COLORREF background = RGB(0xF3, 0xF4, 0xF6);
  EXPECT_EQ(bmp.At(2, 2), band);
  EXPECT_EQ(bmp.At(399, 40), band);
  EXPECT_EQ(bmp.At(2, 150), background);
  int text_pixels = 0;
  for (int y = 60; y < 270; ++y) {
    for (int x = 0; x < 400; ++x) {
      text_pixels += bmp.At(x, y) != background;
    }
  }
  EXPECT_GT(text_pixels, 200) << "the transcript lines are painted";
}

struct FindProbeWindow {
  DWORD process_id;
  HWND found = nullptr;
};

BOOL CALLBACK FindWindowOfProcess(HWND window, LPARAM lparam) {
  auto* search = reinterpret_cast<FindProbeWindow*>(lparam);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  wchar_t class_name[64] = {};
  GetClassNameW(window, class_name, 64);
  if (owner == search->process_id &&
      std::wstring(class_name) == L"StandinProbeWindow") {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

TEST_F(ScriptedUiTest, WithoutScenarioShowsTheWindowAndIdles) {
  DeleteFileW(scenario_path_.c_str());
  ScopedEnvironment scenario_variable(L"QUILLON_STANDIN_SCENARIO",
                                      &scenario_path_);
  ScopedEnvironment transcript_variable(L"QUILLON_STANDIN_TRANSCRIPT",
                                        &transcript_path_);
  Probe probe(L"");
  ASSERT_TRUE(probe.started());
  const std::vector<std::string> expected = {
      "scenario-missing [" + ToUtf8(scenario_path_) + "]", "show -> visible=1",
      "end"};
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (ReadLines(transcript_path_).size() < expected.size() &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ExpectTranscript(expected, ReadLines(transcript_path_));
  // Still running, window shown; closing the window ends it normally.
  EXPECT_EQ(probe.Wait(200), static_cast<DWORD>(STILL_ACTIVE));
  FindProbeWindow search{probe.process_id()};
  EnumWindows(FindWindowOfProcess, reinterpret_cast<LPARAM>(&search));
  ASSERT_NE(search.found, nullptr);
  EXPECT_TRUE(IsWindowVisible(search.found));
  PostMessageW(search.found, WM_CLOSE, 0, 0);
  EXPECT_EQ(probe.Wait(), 0u);
}

}  // namespace
