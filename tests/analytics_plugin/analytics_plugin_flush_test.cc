// The analytics road from channel calls to the local collection server, which
// decodes every upload and keeps the records it accepted.
#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "tests/analytics_plugin/plugin_test_support.h"
#include "tests/support/collection_server.h"

namespace analytics_plugin_test {
namespace {

using test_support::CollectionServer;

EncodableValue Args(
    std::initializer_list<std::pair<const EncodableValue, EncodableValue>>
        entries) {
  return EncodableValue(EncodableMap(entries));
}

bool Has(const std::string& record, const std::string& part) {
  return record.find(part) != std::string::npos;
}

class AnalyticsPluginFlushTest : public AnalyticsPluginTest {
 protected:
  void SetUp() override {
    std::string error;
    server_ = CollectionServer::Start(&error);
    ASSERT_NE(server_, nullptr) << error;
    AnalyticsPluginTest::SetUp();
    server_url_ = server_->UploadUrl();
  }

  std::unique_ptr<CollectionServer> server_;
};

TEST_F(AnalyticsPluginFlushTest, EveryKindOfRecordReachesTheServer) {
  StreamCapture quiet;
  ASSERT_TRUE(Initialize(EncodableMap{{"activate", true},
                                      {"distinctId", "device-1"},
                                      {"appName", "quillon"},
                                      {"appVersion", "1.2.7"},
                                      {"channel", "beta"}})
                  .IsSuccess(EncodableValue(true)));
  ASSERT_TRUE(
      Call("trackEvent", Args({{"eventName", "purchase"},
                               {"properties", Args({{"price", 9.5},
                                                    {"vip", true},
                                                    {"name", "x"},
                                                    {"big", int64_t{1} << 40},
                                                    {"count", 3}})}}))
          .IsSuccess(EncodableValue(true)));
  ASSERT_TRUE(
      Call("setUserProfile", Args({{"properties", Args({{"city", "Oslo"}})}}))
          .IsSuccess(EncodableValue(true)));
  ASSERT_TRUE(Call("login", Args({{"userId", "member-7"}}))
                  .IsSuccess(EncodableValue(true)));
  ASSERT_TRUE(Call("trackEvent", Args({{"eventName", "as_member"}}))
                  .IsSuccess(EncodableValue(true)));
  ASSERT_TRUE(Call("logout").IsSuccess(EncodableValue(true)));
  ASSERT_TRUE(Call("trackEvent", Args({{"eventName", "after_logout"}}))
                  .IsSuccess(EncodableValue(true)));
  EXPECT_TRUE(Call("flush").IsSuccess(EncodableValue(true)));
  EXPECT_TRUE(Queued().empty());

  const std::vector<std::string> records = server_->Records();
  ASSERT_EQ(records.size(), 6u);
  const std::string common =
      "\"app_name\":\"quillon\",\"app_version\":\"1.2.7\",\"channel\":\"beta\"";
  EXPECT_EQ(PropertiesOf(records[0]),
            "{\"$ios_install_source\":\"\",\"$lib\":\"cpp\","
            "\"$lib_version\":\"1.1.1\"," +
                common + "}");
  EXPECT_TRUE(Has(records[0], "\"event\":\"AppInstall\""));
  EXPECT_TRUE(Has(records[0], "\"distinct_id\":\"device-1\""));

  EXPECT_EQ(PropertiesOf(records[1]),
            "{\"$lib\":\"cpp\",\"$lib_version\":\"1.1.1\",\"app_name\":"
            "\"quillon\",\"app_version\":\"1.2.7\",\"big\":1099511627776,"
            "\"channel\":\"beta\",\"count\":3,\"name\":\"x\",\"price\":9.5,"
            "\"vip\":true}");
  EXPECT_TRUE(Has(records[1], "\"type\":\"track\""));

  EXPECT_EQ(PropertiesOf(records[2]), "{\"city\":\"Oslo\"}");
  EXPECT_TRUE(Has(records[2], "\"type\":\"profile_set\""));
  EXPECT_TRUE(Has(records[2], "\"distinct_id\":\"device-1\""));

  EXPECT_TRUE(Has(records[3], "\"distinct_id\":\"member-7\""));
  EXPECT_TRUE(Has(records[3], "\"event\":\"$SignUp\""));
  EXPECT_TRUE(Has(records[3], "\"original_id\":\"device-1\""));
  EXPECT_TRUE(Has(records[3], "\"type\":\"track_signup\""));

  EXPECT_TRUE(Has(records[4], "\"distinct_id\":\"member-7\""));
  EXPECT_TRUE(Has(records[4], "\"$is_login_id\":true"));
  EXPECT_TRUE(Has(records[5], "\"distinct_id\":\"anonymous_user_"));
  EXPECT_FALSE(Has(records[5], "$is_login_id"));
}

TEST_F(AnalyticsPluginFlushTest, SmallIntegersAndStringListsReachTheServer) {
  StreamCapture capture;
  ASSERT_TRUE(Initialize(EncodableMap{{"enableLog", true}})
                  .IsSuccess(EncodableValue(true)));
  ASSERT_TRUE(Call("trackEvent",
                   Args({{"eventName", "tagged"},
                         {"properties",
                          Args({{"count", 3},
                                {"tags", EncodableList{EncodableValue("a"),
                                                       EncodableValue("b")}},
                                {"nested", Args({{"x", 1}})}})}}))
                  .IsSuccess(EncodableValue(true)));
  EXPECT_TRUE(Call("flush").IsSuccess(EncodableValue(true)));

  const std::vector<std::string> records = server_->Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_TRUE(Has(records[0], "\"event\":\"tagged\"")) << records[0];
  EXPECT_TRUE(Has(records[0], "\"count\":3,")) << records[0];
  EXPECT_TRUE(Has(records[0], "\"tags\":[\"a\",\"b\"]")) << records[0];
  EXPECT_FALSE(Has(records[0], "nested")) << records[0];
  EXPECT_TRUE(Has(capture.out(), "属性已跳过: nested ")) << capture.out();
}

TEST_F(AnalyticsPluginFlushTest, AFailedBatchIsRetriedWithinOneFlush) {
  StreamCapture quiet;
  ASSERT_TRUE(Initialize(EncodableMap{{"distinctId", "u"}})
                  .IsSuccess(EncodableValue(true)));
  for (const char* name : {"first", "second", "third"}) {
    Call("trackEvent", Args({{"eventName", name}}));
  }
  ASSERT_TRUE(server_->AnswerStatus(500, "busy", 1));
  EXPECT_TRUE(Call("flush").IsSuccess(EncodableValue(true)));
  const std::vector<std::string> records = server_->Records();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_TRUE(Has(records[0], "\"event\":\"first\""));
  EXPECT_TRUE(Has(records[2], "\"event\":\"third\""));
  EXPECT_EQ(server_->Stats().uploads, 2);
  EXPECT_TRUE(Queued().empty());
}

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start)
      .count();
}

// The UI thread hands "flush" over and stays free: other calls are answered
// at once while the server takes 2 s per batch, and the flush's own answer
// comes later on this (the UI) thread.
TEST_F(AnalyticsPluginFlushTest, TheUiThreadNeverWaitsForASlowServer) {
  StreamCapture quiet;
  ASSERT_TRUE(Initialize().IsSuccess(EncodableValue(true)));
  for (int i = 0; i < 40; ++i) Call("trackEvent", Args({{"eventName", "e"}}));
  ASSERT_TRUE(server_->Delay(2));
  Reply flush;
  Clock::time_point start = Clock::now();
  Send("flush", std::nullopt, &flush);
  EXPECT_LT(MillisecondsSince(start), 50);
  EXPECT_EQ(flush.answers, 0);
  for (int i = 0; i < 20; ++i) {
    platform::RunPendingUiTasks();
    start = Clock::now();
    EXPECT_TRUE(Call("trackEvent", Args({{"eventName", "during"}}))
                    .IsSuccess(EncodableValue(true)));
    EXPECT_LT(MillisecondsSince(start), 100);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(flush.answers, 0);
  PumpUntilAnswered(flush);
  EXPECT_TRUE(flush.IsSuccess(EncodableValue(true))) << flush;
  EXPECT_EQ(flush.answers, 1);
  // A round delivers the queue it found (a record tracked before the worker
  // read it may be in it); the later records wait for the next flush.
  EXPECT_GE(server_->Records().size(), 40u);
  EXPECT_EQ(server_->Records().size() + Queued().size(), 60u);
}

// The window closes while an upload is under way: the engine and the plugin
// go at once, the flush's answer is dropped, the batch stays staged.
TEST_F(AnalyticsPluginFlushTest, ClosingDuringAnUploadDropsTheAnswerQuickly) {
  StreamCapture quiet;
  ASSERT_TRUE(Initialize().IsSuccess(EncodableValue(true)));
  Call("trackEvent", Args({{"eventName", "in_flight"}}));
  const std::vector<std::string> staged = Queued();
  ASSERT_EQ(staged.size(), 1u);
  ASSERT_TRUE(server_->Delay(5, 1));
  Reply flush;
  Send("flush", std::nullopt, &flush);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const Clock::time_point start = Clock::now();
  engine_.reset();
  EXPECT_LT(MillisecondsSince(start), 500);
  for (int i = 0; i < 5; ++i) platform::RunPendingUiTasks();
  EXPECT_EQ(flush.answers, 0);
  // The SDK went with the plugin; its record stays in the staging file.
  std::ifstream file(scratch_ / "analytics_data.json", std::ios::binary);
  std::string line;
  std::vector<std::string> kept;
  while (std::getline(file, line)) kept.push_back(line);
  EXPECT_EQ(kept, staged);
  EXPECT_TRUE(server_->Records().empty());
}

TEST_F(AnalyticsPluginFlushTest, RecordsLeftInTheTemporaryDirectoryGoFirst) {
  // A record a previous run left in the staging file.
  const std::string left =
      "{\"_track_id\":1,\"distinct_id\":\"old\",\"event\":\"left_over\","
      "\"properties\":{},\"time\":1,\"type\":\"track\"}";
  std::ofstream((scratch_ / "analytics_data.json").string()) << left << "\n";
  StreamCapture quiet;
  ASSERT_TRUE(Initialize().IsSuccess(EncodableValue(true)));
  Call("trackEvent", Args({{"eventName", "fresh"}}));
  EXPECT_TRUE(Call("flush").IsSuccess(EncodableValue(true)));
  const std::vector<std::string> records = server_->Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0], left);
  EXPECT_TRUE(Has(records[1], "\"event\":\"fresh\""));
}

}  // namespace
}  // namespace analytics_plugin_test
