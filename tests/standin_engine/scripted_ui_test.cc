// The scripted user interface, end to end: the probe host runs a scenario
// through the stand-in and the transcript is checked line by line.
#include <windows.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/program_run.h"

namespace {

using test_support::Bmp;
using test_support::ProgramFolder;
using test_support::ProgramOptions;
using test_support::ProgramPath;
using test_support::ProgramRun;
using test_support::ReadBmp;
using test_support::TempFile;
using test_support::Utf8;

constexpr DWORD kProbeTimeoutMs = 60000;

// A run of the probe host with |arguments|; the test adds the scenario.
ProgramOptions Probe(const std::wstring& arguments) {
  ProgramOptions options;
  options.program = ProgramPath(L"standin_ui_probe.exe");
  options.arguments = arguments;
  options.time_limit_ms = kProbeTimeoutMs;
  options.window_class = L"StandinProbeWindow";
  return options;
}

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

TEST(ScriptedUiTest, RunsEveryStepAgainstTheHost) {
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
  ProgramOptions options = Probe(L"one \"\" \"two words \u00fcn\u00ef\"");
  options.scenario = text;
  ProgramRun probe(std::move(options));
  ASSERT_TRUE(probe.started());
  EXPECT_EQ(probe.Wait(), 0);

  ExpectTranscript(
      {
          "scenario [" + Utf8(probe.scenario_path()) + "]",
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
      probe.Transcript());
}

TEST(ScriptedUiTest, ReadsScenarioFromTheAssetsFolderByDefault) {
  // A folder of this test's own, so parallel runs do not meet.
  std::wstring relative = L"standin_probe_assets_" +
                          std::to_wstring(GetCurrentProcessId()) +
                          L"\\flutter_assets";
  std::wstring base =
      ProgramFolder() + L"\\" + relative.substr(0, relative.find(L'\\'));
  std::wstring assets = ProgramFolder() + L"\\" + relative;
  ASSERT_TRUE(CreateDirectoryW(base.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(assets.c_str(), nullptr));
  std::wstring scenario = assets + L"\\scenario.txt";
  ASSERT_TRUE(test_support::WriteText(scenario, "print-args\ndestroy\n"));
  // No scenario of its own: the probe looks in its assets folder.
  ProgramRun probe(Probe(L"--assets=" + relative + L" only"));
  ASSERT_TRUE(probe.started());
  EXPECT_EQ(probe.Wait(), 0);
  ExpectTranscript({"scenario [" + Utf8(scenario) + "]", "args 1",
                    "arg 0 [only]", "destroy -> 1", "end"},
                   probe.Transcript());
  DeleteFileW(scenario.c_str());
  RemoveDirectoryW(assets.c_str());
  RemoveDirectoryW(base.c_str());
}

TEST(ScriptedUiTest, ScreenshotWritesWhatTheScreenShowsOfTheWindow) {
  const TempFile picture(L"shot");
  const std::wstring unwritable = picture.path() + L".missing\\shot.bmp";
  ProgramOptions options = Probe(L"");
  options.scenario = "show\nwait 300\nscreenshot " + Utf8(picture.path()) +
                     "\nscreenshot " + Utf8(unwritable) + "\ndestroy\n";
  ProgramRun probe(std::move(options));
  ASSERT_TRUE(probe.started());
  EXPECT_EQ(probe.Wait(), 0);
  ExpectTranscript(
      {"scenario [" + Utf8(probe.scenario_path()) + "]", "show -> visible=1",
       "wait 300 -> done", "screenshot " + Utf8(picture.path()) + " -> 400x300",
       "screenshot " + Utf8(unwritable) + " -> failed cannot-write",
       "destroy -> 1", "end"},
      probe.Transcript());

  // The probe's window is the view, 400 x 300, at (100, 100): the title
  // band across the top, the light background below it, and text on it.
  const Bmp bmp = ReadBmp(picture.path());
  picture.Remove();
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

TEST(ScriptedUiTest, WithoutScenarioShowsTheWindowAndIdles) {
  const TempFile missing(L"scn");
  missing.Remove();
  ProgramOptions options = Probe(L"");
  options.environment = {{L"QUILLON_STANDIN_SCENARIO", missing.path()}};
  ProgramRun probe(std::move(options));
  ASSERT_TRUE(probe.started());
  const std::vector<std::string> expected = {
      "scenario-missing [" + Utf8(missing.path()) + "]", "show -> visible=1",
      "end"};
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (probe.Transcript().size() < expected.size() &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ExpectTranscript(expected, probe.Transcript());
  // Still running, window shown; closing the window ends it normally.
  EXPECT_EQ(probe.Wait(200), -1);
  const HWND window = probe.MainWindow();
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(IsWindowVisible(window));
  PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(probe.Wait(), 0);
}

}  // namespace
