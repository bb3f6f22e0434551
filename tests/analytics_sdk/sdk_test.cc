#include "analytics/sdk/sdk.h"

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
  bool InitAs(const std::string& distinct_id, bool is_login_id) {
    return Sdk::Init(folder_.File("staging.json"), kUnreachableUrl, distinct_id,
                     is_login_id, 1000);
  }
};

TEST_F(SdkOperationsTest, InitChecksTheDistinctIdLength) {
  StreamCapture capture;
  EXPECT_FALSE(InitAs("", false));
  EXPECT_FALSE(InitAs(std::string(256, 'd'), false));
  EXPECT_FALSE(SdkTestPeer::HasInstance());
  EXPECT_EQ(capture.err(),
            "The Distinct ID is empty.\n"
            "The Distinct ID is too long, max length is 255.\n");
  EXPECT_TRUE(InitAs(std::string(255, 'd'), false));
  EXPECT_TRUE(SdkTestPeer::HasInstance());
}

TEST_F(SdkOperationsTest, ASecondInitKeepsTheFirstSettings) {
  ASSERT_TRUE(Sdk::Init(folder_.File("first.json"), "http://127.0.0.1:9/first",
                        "first", false, 5));
  EXPECT_TRUE(Sdk::Init(folder_.File("second.json"),
                        "http://127.0.0.1:9/second", "second", true, 7));
  {
    StreamCapture capture;
    EXPECT_FALSE(Sdk::Init(folder_.File("third.json"), "x", "", true, 9));
    EXPECT_EQ(capture.err(), "The Distinct ID is empty.\n");
  }
  EXPECT_EQ(SdkTestPeer::distinct_id(), "first");
  EXPECT_FALSE(SdkTestPeer::is_login_id());
  StagingStore& store = SdkTestPeer::staging_store();
  EXPECT_EQ(store.staging_file_path(), folder_.File("first.json"));
  EXPECT_EQ(SdkTestPeer::server_url(), "http://127.0.0.1:9/first");
  EXPECT_EQ(store.capacity(), 5u);
  EXPECT_EQ(SdkTestPeer::super_properties().size(), 2u);
}

TEST_F(SdkOperationsTest, OperationsBeforeInitDoNothing) {
  StreamCapture capture;
  PropertiesNode properties;
  properties.SetInt("n", 1);
  Sdk::EnableLog(true);
  Sdk::RegisterSuperProperties(properties);
  Sdk::Track("before", properties);
  Sdk::TrackInstallation("AppInstall", properties);
  Sdk::ProfileSet(properties);
  Sdk::Login("someone");
  Sdk::Identify("someone", true);
  EXPECT_FALSE(Sdk::Flush());
  EXPECT_FALSE(SdkTestPeer::HasInstance());
  EXPECT_EQ(capture.out(), "Sdk Track: before\n");
  EXPECT_EQ(capture.err(), "");

  // The log switch given before Init is not remembered.
  ASSERT_TRUE(InitAs("u", false));
  EXPECT_FALSE(SdkTestPeer::staging_store().log_enabled());
  EXPECT_EQ(SdkTestPeer::super_properties().size(), 2u);
}

TEST_F(SdkOperationsTest, TrackPrintsTheNameAndPropertiesWhateverTheLogFlag) {
  ASSERT_TRUE(InitAs("u", false));
  PropertiesNode properties;
  properties.SetInt("n", 1);
  StreamCapture capture;
  Sdk::Track("clicked", properties);
  Sdk::Track("bad name", PropertiesNode());
  EXPECT_EQ(capture.out(),
            "Sdk Track: clicked\nSdk Track properties: {\"n\":1}\n"
            "Sdk Track: bad name\nSdk Track properties: {}\n");
  EXPECT_EQ(Queued().size(), 1u);
}

TEST_F(SdkOperationsTest, EnableLogAfterInitSwitchesTheStoreMessages) {
  ASSERT_TRUE(InitAs("u", false));
  Sdk::EnableLog(true);
  StreamCapture capture;
  Sdk::ProfileSet(PropertiesNode());
  ASSERT_EQ(Queued().size(), 1u);
  EXPECT_EQ(capture.out(), "add record:" + Queued()[0] + "\n");
}

TEST_F(SdkOperationsTest, LoginWithTheCurrentIdChangesNothing) {
  ASSERT_TRUE(InitAs("same", false));
  Sdk::Login("same");
  EXPECT_TRUE(Queued().empty());
  EXPECT_FALSE(SdkTestPeer::is_login_id());
}

TEST_F(SdkOperationsTest, LoginStagesASignupAndMovesTheIdentity) {
  ASSERT_TRUE(InitAs("anon", false));
  Sdk::Login("member1");
  EXPECT_EQ(SdkTestPeer::distinct_id(), "member1");
  EXPECT_TRUE(SdkTestPeer::is_login_id());
  Sdk::Login("member2");
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
  ASSERT_TRUE(InitAs("anon", false));
  const std::string too_long(256, 'L');
  StreamCapture capture;
  Sdk::Login(too_long);
  Sdk::Login("");
  EXPECT_EQ(capture.out(),
            "loginId:" + too_long + "is beyond the maximum length 255\n");
  EXPECT_EQ(capture.err(), "The Login ID is empty.\n");
  EXPECT_TRUE(Queued().empty());
  EXPECT_EQ(SdkTestPeer::distinct_id(), "anon");
  EXPECT_FALSE(SdkTestPeer::is_login_id());
  Sdk::Login(std::string(255, 'L'));
  EXPECT_EQ(SdkTestPeer::distinct_id(), std::string(255, 'L'));
}

TEST_F(SdkOperationsTest, IdentifySetsTheIdentityWithoutARecord) {
  ASSERT_TRUE(InitAs("anon", true));
  Sdk::Identify("anon", true);
  EXPECT_TRUE(SdkTestPeer::is_login_id());
  Sdk::Identify("anon", false);
  EXPECT_FALSE(SdkTestPeer::is_login_id());
  Sdk::Identify("anonymous_user_1733457600", false);
  EXPECT_EQ(SdkTestPeer::distinct_id(), "anonymous_user_1733457600");
  {
    StreamCapture capture;
    Sdk::Identify("", false);
    EXPECT_EQ(capture.err(), "The Distinct ID is empty.\n");
  }
  EXPECT_EQ(SdkTestPeer::distinct_id(), "anonymous_user_1733457600");
  EXPECT_TRUE(Queued().empty());
}

TEST_F(SdkOperationsTest, TrackInstallationAddsAnInstallSourceCallersMayGive) {
  ASSERT_TRUE(InitAs("u", false));
  Sdk::TrackInstallation("AppInstall", PropertiesNode());
  PropertiesNode source;
  source.SetString("$ios_install_source", "store");
  Sdk::TrackInstallation("AppInstall", source);
  const std::vector<std::string> queued = Queued();
  ASSERT_EQ(queued.size(), 2u);
  EXPECT_NE(queued[0].find("\"properties\":{\"$ios_install_source\":\"\","),
            std::string::npos);
  EXPECT_NE(queued[1].find("\"$ios_install_source\":\"store\""),
            std::string::npos);
  EXPECT_NE(queued[0].find("\"type\":\"track\""), std::string::npos);
}

TEST_F(SdkOperationsTest, SuperPropertiesReachTrackButNotProfileRecords) {
  ASSERT_TRUE(InitAs("u", false));
  PropertiesNode common;
  common.SetString("channel", "beta");
  Sdk::RegisterSuperProperties(common);
  common.SetString("channel", "stable");
  common.SetInt("build", 7);
  Sdk::RegisterSuperProperties(common);
  StreamCapture quiet;
  Sdk::Track("e", PropertiesNode());
  Sdk::ProfileSet(PropertiesNode());
  const std::vector<std::string> queued = Queued();
  ASSERT_EQ(queued.size(), 2u);
  EXPECT_NE(queued[0].find("\"properties\":{\"$lib\":\"cpp\","
                           "\"$lib_version\":\"1.1.1\",\"build\":7,"
                           "\"channel\":\"stable\"}"),
            std::string::npos);
  EXPECT_NE(queued[1].find("\"properties\":{}"), std::string::npos);
}

TEST_F(SdkOperationsTest, FlushOfAnEmptyQueueSendsNothing) {
  ASSERT_TRUE(InitAs("u", false));
  StreamCapture capture;
  EXPECT_TRUE(Sdk::Flush());
  // The address is unreachable, so any request would have printed a failure.
  EXPECT_EQ(capture.err(), "");
}

TEST_F(SdkOperationsTest, FlushFailureKeepsTheRecordsInOrder) {
  ASSERT_TRUE(InitAs("u", false));
  for (int i = 0; i < 3; ++i) Sdk::ProfileSet(PropertiesNode());
  const std::vector<std::string> before = Queued();
  StreamCapture capture;
  EXPECT_FALSE(Sdk::Flush());
  EXPECT_EQ(capture.err().rfind("Analytics SDK send failed: ", 0), 0u);
  EXPECT_EQ(Queued(), before);
}

}  // namespace
}  // namespace analytics
