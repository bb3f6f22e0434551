// The demo of tools/demo in short: quillon_pc.exe as a black box, driven by
// the stand-in engine's scripted user interface through the frame table,
// frame actions and both channels, uploading to the local collection server,
// and photographed before it ends.
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/support/collection_server.h"

namespace {

using test_support::CollectionServer;

constexpr DWORD kRunTimeoutMs = 90000;

struct HandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

std::filesystem::path ExecutableFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(),
                                            static_cast<DWORD>(path.size()));
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  return std::filesystem::path(path).parent_path();
}

// Sets an environment variable of this process, and so of the program it
// starts, while it lives.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const wchar_t* name, const std::wstring& value)
      : name_(name) {
    SetEnvironmentVariableW(name, value.c_str());
  }
  ~ScopedEnvironment() { SetEnvironmentVariableW(name_, nullptr); }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  const wchar_t* name_;
};

std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(),
                                       static_cast<int>(text.size()), nullptr,
                                       0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                      out.data(), size, nullptr, nullptr);
  return out;
}

// The result of the step written as |step| in the transcript: the text after
// "<step> -> " of its |occurrence|-th line.
std::string ResultOf(const std::vector<std::string>& lines,
                     const std::string& step, int occurrence = 0) {
  const std::string prefix = step + " -> ";
  for (const std::string& line : lines) {
    if (line.rfind(prefix, 0) == 0 && occurrence-- == 0) {
      return line.substr(prefix.size());
    }
  }
  return "(step not in transcript)";
}

bool Has(const std::string& record, const std::string& part) {
  return record.find(part) != std::string::npos;
}

// The screenshot step's file: a 24-bit bottom-up BMP. Width 0 when the file
// is not one.
struct Bmp {
  int width = 0;
  int height = 0;
  size_t offset = 0;
  std::string bytes;

  // The colour at (x, y), counted from the top-left corner.
  COLORREF At(int x, int y) const {
    const size_t row = (static_cast<size_t>(width) * 3 + 3) & ~size_t{3};
    const size_t at = offset + (height - 1 - y) * row + x * 3;
    return RGB(static_cast<uint8_t>(bytes[at + 2]),
               static_cast<uint8_t>(bytes[at + 1]),
               static_cast<uint8_t>(bytes[at]));
  }
};

Bmp ReadBmp(const std::filesystem::path& path) {
  Bmp bmp;
  bmp.bytes = ReadBytes(path);
  BITMAPFILEHEADER file{};
  BITMAPINFOHEADER info{};
  if (bmp.bytes.size() < sizeof(file) + sizeof(info)) return bmp;
  std::memcpy(&file, bmp.bytes.data(), sizeof(file));
  std::memcpy(&info, bmp.bytes.data() + sizeof(file), sizeof(info));
  const size_t row = (static_cast<size_t>(info.biWidth) * 3 + 3) & ~size_t{3};
  if (file.bfType != 0x4D42 || info.biBitCount != 24 ||
      info.biCompression != BI_RGB || info.biWidth <= 0 || info.biHeight <= 0 ||
      file.bfOffBits + row * info.biHeight > bmp.bytes.size()) {
    return bmp;
  }
  bmp.width = info.biWidth;
  bmp.height = info.biHeight;
  bmp.offset = file.bfOffBits;
  return bmp;
}

class DemoTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    server_ = CollectionServer::Start(&error);
    ASSERT_NE(server_, nullptr) << error;
    folder_ = std::filesystem::temp_directory_path() / "quillon_demo_test";
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_ / "temp");
  }

  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  // Runs quillon_pc.exe with |scenario| until it ends, with folder_/temp as
  // its temporary directory (a staging file of its own). Returns the
  // transcript lines of the scripted user interface.
  std::vector<std::string> Run(const std::string& scenario) {
    const std::filesystem::path scenario_file = folder_ / "scenario.txt";
    const std::filesystem::path transcript_file = folder_ / "transcript.txt";
    std::ofstream(scenario_file, std::ios::binary) << scenario;
    ScopedEnvironment scenario_variable(L"QUILLON_STANDIN_SCENARIO",
                                        scenario_file.wstring());
    ScopedEnvironment transcript_variable(L"QUILLON_STANDIN_TRANSCRIPT",
                                          transcript_file.wstring());
    ScopedEnvironment temp_variable(L"TMP", (folder_ / "temp").wstring());
    const std::filesystem::path program = ExecutableFolder() / "quillon_pc.exe";
    // The detached-window marker lets this run beside any other instance.
    std::wstring command_line =
        L"\"" + program.wstring() + L"\" --quillon-detached-window=demo-test";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr,
                        FALSE, 0, nullptr, ExecutableFolder().c_str(), &startup,
                        &process)) {
      ADD_FAILURE() << "cannot start " << program.string() << ": error "
                    << GetLastError();
      return {};
    }
    UniqueHandle process_handle(process.hProcess);
    UniqueHandle thread_handle(process.hThread);
    if (WaitForSingleObject(process.hProcess, kRunTimeoutMs) != WAIT_OBJECT_0) {
      TerminateProcess(process.hProcess, 99);
      WaitForSingleObject(process.hProcess, 5000);
      ADD_FAILURE() << "quillon_pc.exe did not end in time";
    }
    GetExitCodeProcess(process.hProcess, &exit_code_);

    std::vector<std::string> lines;
    std::istringstream text(ReadBytes(transcript_file));
    std::string line;
    while (std::getline(text, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      // The stand-in plugin libraries write their registrations here too.
      if (line.rfind("plugin ", 0) != 0) lines.push_back(line);
    }
    return lines;
  }

  std::unique_ptr<CollectionServer> server_;
  std::filesystem::path folder_;
  DWORD exit_code_ = 1;
};

TEST_F(DemoTest, ShortDemoReachesTheServerAndLeavesAPictureOfTheWindow) {
  const std::string picture_step =
      "screenshot " + Utf8((folder_ / "window.bmp").wstring());
  const std::string initialize =
      "method analytics_plugin initialize {\"serverUrl\": \"" +
      server_->UploadUrl() +
      "\", \"enableLog\": true, \"activate\": true, \"distinctId\": "
      "\"demo-device\", \"appName\": \"quillon_pc\", \"appVersion\": "
      "\"1.2.7\", \"channel\": \"demo-test\"}";
  const std::string track =
      "method analytics_plugin trackEvent {\"eventName\": \"demo_event\", "
      "\"properties\": {\"label\": \"short\", \"count64\": 5L, \"ratio\": "
      "0.25, "
      "\"ok\": true, \"small\": 7, \"nested\": {\"a\": 1}}}";
  const std::string profile =
      "method analytics_plugin setUserProfile {\"properties\": {\"plan\": "
      "\"pro\", \"seats\": 5L}}";
  const std::string login =
      "method analytics_plugin login {\"userId\": \"demo-user\"}";
  const std::string member_event =
      "method analytics_plugin trackEvent {\"eventName\": \"as_member\"}";
  const std::string flush = "method analytics_plugin flush";
  const std::vector<std::string> lines =
      Run("reply-timeout 20000\n"
          "table frame_window_api public 3 void(i32,i32) 640 400\n"
          "frame-move 100 80 300 200 0x14\n"
          "wait 100\n"
          "window\n"
          "frame-move 300 200 900 560 0x14\n"
          "frame-title quillon_pc demo test\n"
          "frame-refresh\n"
          "wait 100\n"
          "window\n"
          "show\n"
          "post 0x202 0 0\n"
          "method frame/window dragAppWindow\n" +
          initialize + "\n" + track + "\n" + profile + "\n" + login + "\n" +
          member_event + "\n" + flush + "\n" + "wait 300\n" + picture_step +
          "\n"
          "destroy\n");
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "end");
  EXPECT_EQ(exit_code_, 0u);

  // The minimum size set through the table clamps the first move.
  EXPECT_EQ(ResultOf(lines, "window").rfind("x=100 y=80 w=640 h=400 ", 0), 0u)
      << ResultOf(lines, "window");
  EXPECT_EQ(ResultOf(lines, "window", 1),
            "x=300 y=200 w=900 h=560 client=900x560 visible=0 "
            "title=[quillon_pc demo test]");
  EXPECT_EQ(ResultOf(lines, "method frame/window dragAppWindow"),
            "success null");
  for (const std::string& call :
       {initialize, track, profile, login, member_event, flush}) {
    EXPECT_EQ(ResultOf(lines, call), "success true") << call;
  }

  const std::vector<std::string> records = server_->Records();
  ASSERT_EQ(records.size(), 5u);
  EXPECT_TRUE(Has(records[0], "\"event\":\"AppInstall\""));
  EXPECT_TRUE(Has(records[0], "\"distinct_id\":\"demo-device\""));
  // Strings, 64-bit integers, doubles and bools arrive; a 32-bit integer and
  // a nested map are left out.
  EXPECT_TRUE(Has(records[1], "\"event\":\"demo_event\""));
  EXPECT_TRUE(Has(records[1],
                  "\"properties\":{\"$lib\":\"cpp\",\"$lib_version\":\"1.1.1\","
                  "\"app_name\":\"quillon_pc\",\"app_version\":\"1.2.7\","
                  "\"channel\":\"demo-test\",\"count64\":5,\"label\":\"short\","
                  "\"ok\":true,\"ratio\":0.25}"))
      << records[1];
  EXPECT_TRUE(Has(records[2], "\"type\":\"profile_set\""));
  EXPECT_TRUE(Has(records[2], "\"properties\":{\"plan\":\"pro\",\"seats\":5}"))
      << records[2];
  EXPECT_TRUE(Has(records[3], "\"event\":\"$SignUp\""));
  EXPECT_TRUE(Has(records[3], "\"distinct_id\":\"demo-user\""));
  EXPECT_TRUE(Has(records[3], "\"original_id\":\"demo-device\""));
  EXPECT_TRUE(Has(records[4], "\"event\":\"as_member\""));
  EXPECT_TRUE(Has(records[4], "\"$is_login_id\":true"));

  // The picture: the window's rectangle, the view's title band at the top,
  // its light background on the right margin, painted lines in between, and
  // corners cut off by the window's rounded region.
  EXPECT_EQ(ResultOf(lines, picture_step), "900x560");
  const Bmp bmp = ReadBmp(folder_ / "window.bmp");
  ASSERT_EQ(bmp.width, 900);
  ASSERT_EQ(bmp.height, 560);
  const COLORREF band = RGB(0x2B, 0x4C, 0x7E);
  const COLORREF background = RGB(0xF3, 0xF4, 0xF6);
  EXPECT_EQ(bmp.At(450, 10), band);
  EXPECT_EQ(bmp.At(897, 280), background);
  EXPECT_NE(bmp.At(0, 0), band);
  EXPECT_NE(bmp.At(899, 559), background);
  int painted = 0;
  for (int y = 70; y < 520; ++y) {
    for (int x = 0; x < 900; ++x) painted += bmp.At(x, y) != background;
  }
  EXPECT_GT(painted, 1000) << "the transcript lines are on the view";
}

}  // namespace
