// The analytics road from channel calls to the local collection server, which
// decodes every upload and keeps the records it accepted.
#include <fstream>
#include <memory>
#include <string>
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
            "\"channel\":\"beta\",\"name\":\"x\",\"price\":9.5,\"vip\":true}");
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

TEST_F(AnalyticsPluginFlushTest, AFailedFlushKeepsItsRecordsForTheNextOne) {
  StreamCapture quiet;
  ASSERT_TRUE(Initialize(EncodableMap{{"distinctId", "u"}})
                  .IsSuccess(EncodableValue(true)));
  for (const char* name : {"first", "second", "third"}) {
    Call("trackEvent", Args({{"eventName", name}}));
  }
  ASSERT_TRUE(server_->AnswerStatus(500, "busy", 1));
  EXPECT_TRUE(Call("flush").IsSuccess(EncodableValue(false)));
  EXPECT_EQ(Queued().size(), 3u);
  EXPECT_TRUE(server_->Records().empty());

  EXPECT_TRUE(Call("flush").IsSuccess(EncodableValue(true)));
  const std::vector<std::string> records = server_->Records();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_TRUE(Has(records[0], "\"event\":\"first\""));
  EXPECT_TRUE(Has(records[2], "\"event\":\"third\""));
  EXPECT_EQ(server_->Stats().uploads, 2);
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
