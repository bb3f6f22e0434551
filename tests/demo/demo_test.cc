// The demo of tools/demo in short: quillon_pc.exe as a black box, driven by
// the stand-in engine's scripted user interface through the frame table,
// frame actions and both channels, uploading to the local collection server,
// and photographed before it ends.
#include <windows.h>

#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "gtest/gtest.h"
#include "tests/support/collection_server.h"
#include "tests/support/program_run.h"

namespace {

using test_support::Bmp;
using test_support::CollectionServer;
using test_support::ProgramOptions;
using test_support::ProgramRun;
using test_support::ReadBmp;
using test_support::ResultOf;
using test_support::Utf8;

constexpr DWORD kRunTimeoutMs = 90000;

bool Has(const std::string& record, const std::string& part) {
  return record.find(part) != std::string::npos;
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
    ProgramOptions options;
    // The detached-window marker lets this run beside any other instance.
    options.arguments = L"--quillon-detached-window=demo-test";
    options.scenario = scenario;
    options.environment = {{L"TMP", (folder_ / "temp").wstring()}};
    options.time_limit_ms = kRunTimeoutMs;
    ProgramRun run(std::move(options));
    if (!run.started()) {
      ADD_FAILURE() << "cannot start quillon_pc.exe: error "
                    << run.start_error();
      return {};
    }
    exit_code_ = run.Wait();
    if (exit_code_ == -1) {
      ADD_FAILURE() << "quillon_pc.exe did not end in time";
    }
    // The stand-in plugin libraries write their registrations there too.
    return run.StepLines();
  }

  std::unique_ptr<CollectionServer> server_;
  std::filesystem::path folder_;
  long exit_code_ = 1;
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
          "method frame/window setMaximizeButtonBounds {\"left\": 850, "
          "\"top\": 0, \"width\": 46, \"height\": 32}\n" +
          initialize + "\n" + track + "\n" + profile + "\n" + login + "\n" +
          member_event + "\n" + flush + "\n" + "wait 300\n" + picture_step +
          "\n"
          "destroy\n");
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "end");
  EXPECT_EQ(exit_code_, 0);

  // The minimum size set through the table clamps the first move.
  EXPECT_EQ(ResultOf(lines, "window").rfind("x=100 y=80 w=640 h=400 ", 0), 0u)
      << ResultOf(lines, "window");
  EXPECT_EQ(ResultOf(lines, "window", 1),
            "x=300 y=200 w=900 h=560 client=900x560 visible=0 "
            "title=[quillon_pc demo test]");
  EXPECT_EQ(ResultOf(lines,
                     "method frame/window setMaximizeButtonBounds {\"left\": "
                     "850, \"top\": 0, \"width\": 46, \"height\": 32}"),
            "success null");
  for (const std::string& call :
       {initialize, track, profile, login, member_event, flush}) {
    EXPECT_EQ(ResultOf(lines, call), "success true") << call;
  }

  const std::vector<std::string> records = server_->Records();
  ASSERT_EQ(records.size(), 5u);
  EXPECT_TRUE(Has(records[0], "\"event\":\"AppInstall\""));
  EXPECT_TRUE(Has(records[0], "\"distinct_id\":\"demo-device\""));
  // Strings, integers of both widths, doubles and bools arrive; a nested map
  // is left out.
  EXPECT_TRUE(Has(records[1], "\"event\":\"demo_event\""));
  EXPECT_TRUE(Has(records[1],
                  "\"properties\":{\"$lib\":\"cpp\",\"$lib_version\":\"1.1.1\","
                  "\"app_name\":\"quillon_pc\",\"app_version\":\"1.2.7\","
                  "\"channel\":\"demo-test\",\"count64\":5,\"label\":\"short\","
                  "\"ok\":true,\"ratio\":0.25,\"small\":7}"))
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
  const Bmp bmp = ReadBmp((folder_ / "window.bmp").wstring());
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
