// quillon_pc.exe as a black box: the stand-in engine's scripted user
// interface calls the "analytics_plugin" channel step by step while the local
// collection server receives the uploads.
#include <windows.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/analytics_plugin/end_to_end_fixture.h"
#include "tests/support/collection_server.h"
#include "tests/support/program_run.h"

namespace {

using analytics_e2e::Has;
using analytics_e2e::MethodReplies;
using analytics_e2e::MethodReply;
using test_support::ProgramRun;
using test_support::ReadText;

using AnalyticsEndToEndTest = analytics_e2e::EndToEndTest;

TEST_F(AnalyticsEndToEndTest, TheScriptedUiReachesTheCollectionServer) {
  // A record an earlier run left in the staging file goes out first.
  const std::string left_over =
      "{\"_track_id\":1,\"distinct_id\":\"old\",\"event\":\"left_over\","
      "\"properties\":{},\"time\":1,\"type\":\"track\"}";
  std::ofstream(StagingPath(), std::ios::binary) << left_over << "\n";
  const std::string transcript = Run(
      "reply-timeout 20000\n"
      "method analytics_plugin trackEvent {\"eventName\": \"too_early\"}\n" +
      InitializeStep() +
      "method analytics_plugin trackEvent {\"eventName\": \"purchase\", "
      "\"properties\": {\"price\": 9.5, \"vip\": true, \"name\": \"x\", "
      "\"big\": 1099511627776L, \"count\": 3, \"nested\": {\"a\": 1}, "
      "\"items\": [1, 2], \"tags\": [\"a\", \"b\"]}}\n"
      "method analytics_plugin setUserProfile {\"properties\": "
      "{\"city\": \"Oslo\", \"age\": 30L}}\n"
      "method analytics_plugin login {\"userId\": \"member-7\"}\n"
      "method analytics_plugin trackEvent {\"eventName\": \"as_member\"}\n"
      "method analytics_plugin logout\n"
      "method analytics_plugin trackEvent {\"eventName\": \"after_logout\"}\n"
      "method analytics_plugin flush\n"
      "method analytics_plugin Flush\n"
      "destroy\n");
  const std::vector<MethodReply> replies = MethodReplies(transcript);
  ASSERT_EQ(replies.size(), 10u) << transcript;
  EXPECT_EQ(replies[0].outcome,
            "error \"NOT_INITIALIZED\" \"Analytics not initialized\" null");
  for (size_t i = 1; i < 9; ++i) {
    EXPECT_EQ(replies[i].outcome, "success true") << replies[i].method;
  }
  EXPECT_EQ(replies[8].method, "flush");
  EXPECT_EQ(replies[9].outcome, "not-implemented");

  const std::vector<std::string> records = server_->Records();
  ASSERT_EQ(records.size(), 7u) << transcript;
  EXPECT_EQ(records[0], left_over);

  EXPECT_TRUE(Has(records[1], "\"event\":\"AppInstall\""));
  EXPECT_TRUE(Has(records[1], "\"distinct_id\":\"device-e2e\""));
  EXPECT_TRUE(Has(records[1], "\"$ios_install_source\":\"\""));

  EXPECT_TRUE(Has(records[2], "\"event\":\"purchase\""));
  EXPECT_TRUE(Has(records[2], "\"type\":\"track\""));
  EXPECT_TRUE(Has(records[2],
                  "\"properties\":{\"$lib\":\"cpp\",\"$lib_version\":\"1.1.1\","
                  "\"app_name\":\"quillon\",\"app_version\":\"1.2.7\","
                  "\"big\":1099511627776,\"channel\":\"e2e\",\"count\":3,"
                  "\"name\":\"x\",\"price\":9.5,\"tags\":[\"a\",\"b\"],"
                  "\"vip\":true}"))
      << records[2];

  EXPECT_TRUE(Has(records[3], "\"type\":\"profile_set\""));
  EXPECT_TRUE(Has(records[3], "\"properties\":{\"age\":30,\"city\":\"Oslo\"}"))
      << records[3];
  EXPECT_TRUE(Has(records[3], "\"distinct_id\":\"device-e2e\""));

  EXPECT_TRUE(Has(records[4], "\"distinct_id\":\"member-7\""));
  EXPECT_TRUE(Has(records[4], "\"event\":\"$SignUp\""));
  EXPECT_TRUE(Has(records[4], "\"original_id\":\"device-e2e\""));
  EXPECT_TRUE(Has(records[4], "\"type\":\"track_signup\""));

  EXPECT_TRUE(Has(records[5], "\"distinct_id\":\"member-7\""));
  EXPECT_TRUE(Has(records[5], "\"$is_login_id\":true"));
  EXPECT_TRUE(Has(records[6], "\"event\":\"after_logout\""));
  EXPECT_TRUE(Has(records[6], "\"distinct_id\":\"anonymous_user_"));
  EXPECT_FALSE(Has(records[6], "$is_login_id"));
  EXPECT_EQ(ReadText(StagingPath().wstring()), "")
      << "sent records leave the staging file";
}

TEST_F(AnalyticsEndToEndTest, AFailedBatchIsRetriedWithinTheFlush) {
  ASSERT_TRUE(server_->AnswerStatus(500, "busy", /*times=*/1));
  const std::string transcript =
      Run("reply-timeout 20000\n" + InitializeStep() +
          "method analytics_plugin trackEvent {\"eventName\": \"first\"}\n"
          "method analytics_plugin trackEvent {\"eventName\": \"second\"}\n"
          "method analytics_plugin flush\n"
          "method analytics_plugin flush\n"
          "destroy\n");
  const std::vector<MethodReply> replies = MethodReplies(transcript);
  ASSERT_EQ(replies.size(), 5u) << transcript;
  EXPECT_EQ(replies[3].outcome, "success true") << transcript;
  EXPECT_EQ(replies[4].outcome, "success true") << "nothing left to send";

  const std::vector<std::string> records = server_->Records();
  ASSERT_EQ(records.size(), 3u) << transcript;
  EXPECT_TRUE(Has(records[0], "\"event\":\"AppInstall\""));
  EXPECT_TRUE(Has(records[1], "\"event\":\"first\""));
  EXPECT_TRUE(Has(records[2], "\"event\":\"second\""));
  const test_support::UploadStats stats = server_->Stats();
  EXPECT_EQ(stats.uploads, 2);
  EXPECT_EQ(stats.refused, 1);
}

// Another process keeps asking the window for WM_NULL every 20 ms while a
// flush of 100 records waits 2 s for each answer of the server.
TEST_F(AnalyticsEndToEndTest, TheWindowAnswersWhileAFlushWaitsForTheServer) {
  ASSERT_TRUE(server_->Delay(2));
  std::string scenario = "reply-timeout 30000\n" + InitializeStep();
  for (int i = 0; i < 99; ++i) {
    scenario += "method analytics_plugin trackEvent {\"eventName\": \"e" +
                std::to_string(i) + "\"}\n";
  }
  scenario += "method analytics_plugin flush\ndestroy\n";
  ProgramRun run(Options(scenario));
  ASSERT_TRUE(run.started()) << run.start_error();
  HWND window = nullptr;
  for (int i = 0; i < 1000 && window == nullptr && run.Running(); ++i) {
    window = run.MainWindow();
    Sleep(10);
  }
  ASSERT_NE(window, nullptr);
  // Timed from the reply to the last "trackEvent" on, that is while the
  // flush runs.
  double slowest_ms = 0;
  int answered = 0;
  bool flushing = false;
  LARGE_INTEGER frequency, before, after;
  QueryPerformanceFrequency(&frequency);
  while (run.Running()) {
    DWORD_PTR ignored = 0;
    QueryPerformanceCounter(&before);
    if (SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000,
                            &ignored) == 0) {
      break;  // the window is gone
    }
    QueryPerformanceCounter(&after);
    if (flushing) {
      slowest_ms = std::max(slowest_ms, (after.QuadPart - before.QuadPart) *
                                            1000.0 / frequency.QuadPart);
      ++answered;
    } else {
      flushing = Has(ReadText(run.transcript_path()), "\"e98\"");
    }
    Sleep(20);
  }
  EXPECT_EQ(run.Wait(), 0);
  // The flush alone takes four answers of 2 s each.
  EXPECT_GE(answered, 150);
  EXPECT_LT(slowest_ms, 100.0);
  const std::vector<MethodReply> replies =
      MethodReplies(ReadText(run.transcript_path()));
  ASSERT_EQ(replies.size(), 101u);
  EXPECT_EQ(replies.back().method, "flush");
  EXPECT_EQ(replies.back().outcome, "success true");
  EXPECT_EQ(server_->Records().size(), 100u);
}

// The window closes while a batch is on its way to a server that would take
// 20 s to answer: the process ends at once and the batch stays staged.
TEST_F(AnalyticsEndToEndTest, ClosingDuringAnUploadEndsAtOnceAndKeepsTheBatch) {
  ASSERT_TRUE(server_->Delay(20, 1));
  const DWORD start = GetTickCount();
  const std::string transcript =
      Run("reply-timeout 20000\n" + InitializeStep() +
          "method analytics_plugin trackEvent {\"eventName\": \"in_flight\"}\n"
          "reply-timeout 500\n"
          "method analytics_plugin flush\n"
          "destroy\n");
  EXPECT_LT(GetTickCount() - start, 8000u) << transcript;
  EXPECT_TRUE(server_->Records().empty());
  const std::string staged = ReadText(StagingPath().wstring());
  EXPECT_TRUE(Has(staged, "\"event\":\"in_flight\"")) << staged;
  EXPECT_TRUE(Has(staged, "\"event\":\"AppInstall\"")) << staged;
}

}  // namespace
