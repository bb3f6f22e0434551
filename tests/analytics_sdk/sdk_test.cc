#include "analytics/sdk/sdk.h"

#include <filesystem>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/analytics_sdk/sdk_test_util.h"
#include "tests/support/stream_capture.h"

namespace analytics {
namespace {

using test_support::StreamCapture;

class SdkOperationsTest : public SdkTest {
 protected:
  bool StartAs(const std::string& distinct_id, bool is_login_id) {
    return Start(folder_.File("staging.json"), kUnreachableUrl, distinct_id,
                 is_login_id, 1000);
  }
};

TEST_F(SdkOperationsTest, CreateChecksTheDistinctIdLength) {
  StreamCapture capture;
  EXPECT_FALSE(StartAs("", false));
  EXPECT_FALSE(StartAs(std::string(256, 'd'), false));
  EXPECT_EQ(capture.err(),
            "The Distinct ID is empty.\n"
            "The Distinct ID is too long, max length is 255.\n");
  EXPECT_TRUE(StartAs(std::string(255, 'd'), false));
}

TEST_F(SdkOperationsTest, ANewSdkHoldsItsSettingsWithTheStoreQuiet) {
  // A name outside ASCII reaches the store unchanged.
  const std::filesystem::path file =
      folder_.path() / std::filesystem::u8path(u8"\u00e9t\u00e9.json");
  ASSERT_TRUE(Start(file, "http://127.0.0.1:9/first", "first", true, 5));
  EXPECT_EQ(sdk_->staging_file_path(), file);
  EXPECT_EQ(sdk_->server_url(), "http://127.0.0.1:9/first");
  EXPECT_EQ(Peer().distinct_id(), "first");
  EXPECT_TRUE(Peer().is_login_id());
  StagingStore& store = Peer().staging_store();
  EXPECT_EQ(store.staging_file_path(), file);
  EXPECT_EQ(store.capacity(), 5u);
  EXPECT_FALSE(store.log_enabled());
  EXPECT_EQ(utils::ObjectNode::ToJsonString(Peer().super_properties()),
            "{\"$lib\":\"cpp\",\"$lib_version\":\"1.1.1\"}");
}

TEST_F(SdkOperationsTest, TrackPrintsTheNameAndPropertiesWhateverTheLogFlag) {
  ASSERT_TRUE(StartAs("u", false));
  PropertiesNode properties;
  properties.SetInt("n", 1);
  StreamCapture capture;
  sdk_->Track("clicked", properties);
  sdk_->Track("bad name", PropertiesNode());
  EXPECT_EQ(capture.out(),
            "Sdk Track: clicked\nSdk Track properties: {\"n\":1}\n"
            "Sdk Track: bad name\nSdk Track properties: {}\n");
  EXPECT_EQ(Queued().size(), 1u);
}

TEST_F(SdkOperationsTest, EnableLogAfterInitSwitchesTheStoreMessages) {
  ASSERT_TRUE(StartAs("u", false));
  sdk_->EnableLog(true);
  StreamCapture capture;
  sdk_->ProfileSet(PropertiesNode());
  ASSERT_EQ(Queued().size(), 1u);
  EXPECT_EQ(capture.out(), "add record:" + Queued()[0] + "\n");
}

TEST_F(SdkOperationsTest, LoginWithTheCurrentIdChangesNothing) {
  ASSERT_TRUE(StartAs("same", false));
  sdk_->Login("same");
  EXPECT_TRUE(Queued().empty());
  EXPECT_FALSE(Peer().is_login_id());
}

TEST_F(SdkOperationsTest, LoginStagesASignupAndMovesTheIdentity) {
  ASSERT_TRUE(StartAs("anon", false));
  sdk_->Login("member1");
  EXPECT_EQ(Peer().distinct_id(), "member1");
  EXPECT_TRUE(Peer().is_login_id());
  sdk_->Login("member2");
  const std::vector<std::string> queued = Queued();
  ASSERT_EQ(queued.size(), 2u);
  // The first signup was made while anonymous, so it has no login mark.
  EXPECT_EQ(Normalized(queued[0]),
            "{\"_track_id\":ID,\"distinct_id\":\"member1\","
            "\"event\":\"$SignUp\",\"lib\":{\"$lib\":\"cpp\","
            "\"$lib_method\":\"code\",\"$lib_version\":\"1.1.1\"},"
            "\"original_id\":\"anon\",\"properties\":{\"$lib\":\"cpp\","
            "\"$lib_version\":\"1.1.1\"},\"time\":TIME,"
            "\"type\":\"track_signup\"}");
  EXPECT_NE(queued[1].find("\"distinct_id\":\"member2\""), std::string::npos);
  EXPECT_NE(queued[1].find("\"original_id\":\"member1\""), std::string::npos);
  EXPECT_NE(queued[1].find("\"$is_login_id\":true"), std::string::npos);
}

TEST_F(SdkOperationsTest, LoginRefusesTooLongAndEmptyIds) {
  ASSERT_TRUE(StartAs("anon", false));
  const std::string too_long(256, 'L');
  StreamCapture capture;
  sdk_->Login(too_long);
  sdk_->Login("");
  EXPECT_EQ(capture.out(),
            "loginId:" + too_long + "is beyond the maximum length 255\n");
  EXPECT_EQ(capture.err(), "The Login ID is empty.\n");
  EXPECT_TRUE(Queued().empty());
  EXPECT_EQ(Peer().distinct_id(), "anon");
  EXPECT_FALSE(Peer().is_login_id());
  sdk_->Login(std::string(255, 'L'));
  EXPECT_EQ(Peer().distinct_id(), std::string(255, 'L'));
}

TEST_F(SdkOperationsTest, IdentifySetsTheIdentityWithoutARecord) {
  ASSERT_TRUE(StartAs("anon", true));
  sdk_->Identify("anon", true);
  EXPECT_TRUE(Peer().is_login_id());
  sdk_->Identify("anon", false);
  EXPECT_FALSE(Peer().is_login_id());
  sdk_->Identify("anonymous_user_1733457600", false);
  EXPECT_EQ(Peer().distinct_id(), "anonymous_user_1733457600");
  {
    StreamCapture capture;
    sdk_->Identify("", false);
    EXPECT_EQ(capture.err(), "The Distinct ID is empty.\n");
  }
  EXPECT_EQ(Peer().distinct_id(), "anonymous_user_1733457600");
  EXPECT_TRUE(Queued().empty());
}

TEST_F(SdkOperationsTest, TrackInstallationAddsAnInstallSourceCallersMayGive) {
  ASSERT_TRUE(StartAs("u", false));
  sdk_->TrackInstallation("AppInstall", PropertiesNode());
  PropertiesNode source;
  source.SetString("$ios_install_source", "store");
  sdk_->TrackInstallation("AppInstall", source);
  const std::vector<std::string> queued = Queued();
  ASSERT_EQ(queued.size(), 2u);
  EXPECT_NE(queued[0].find("\"properties\":{\"$ios_install_source\":\"\","),
            std::string::npos);
  EXPECT_NE(queued[1].find("\"$ios_install_source\":\"store\""),
            std::string::npos);
  EXPECT_NE(queued[0].find("\"type\":\"track\""), std::string::npos);
}

TEST_F(SdkOperationsTest, SuperPropertiesReachTrackButNotProfileRecords) {
  ASSERT_TRUE(StartAs("u", false));
  PropertiesNode common;
  common.SetString("channel", "beta");
  sdk_->RegisterSuperProperties(common);
  common.SetString("channel", "stable");
  common.SetInt("build", 7);
  sdk_->RegisterSuperProperties(common);
  StreamCapture quiet;
  sdk_->Track("e", PropertiesNode());
  sdk_->ProfileSet(PropertiesNode());
  const std::vector<std::string> queued = Queued();
  ASSERT_EQ(queued.size(), 2u);
  EXPECT_NE(queued[0].find("\"properties\":{\"$lib\":\"cpp\","
                           "\"$lib_version\":\"1.1.1\",\"build\":7,"
                           "\"channel\":\"stable\"}"),
            std::string::npos);
  EXPECT_NE(queued[1].find("\"properties\":{}"), std::string::npos);
}

TEST_F(SdkOperationsTest, FlushOfAnEmptyQueueSendsNothing) {
  ASSERT_TRUE(StartAs("u", false));
  StreamCapture capture;
  EXPECT_TRUE(sdk_->Flush());
  // The address is unreachable, so any request would have printed a failure.
  EXPECT_EQ(capture.err(), "");
}

TEST_F(SdkOperationsTest, FlushFailureKeepsTheRecordsInOrder) {
  ASSERT_TRUE(StartAs("u", false));
  for (int i = 0; i < 3; ++i) sdk_->ProfileSet(PropertiesNode());
  const std::vector<std::string> before = Queued();
  StreamCapture capture;
  EXPECT_FALSE(sdk_->Flush());
  EXPECT_EQ(capture.err().rfind("Analytics SDK send failed: ", 0), 0u);
  EXPECT_EQ(Queued(), before);
}

}  // namespace
}  // namespace analytics
