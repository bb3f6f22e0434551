#include "analytics/sdk/event_assembly.h"

#include <string>
#include <vector>

#include "analytics/sdk/sdk.h"
#include "gtest/gtest.h"
#include "tests/analytics_sdk/sdk_test_util.h"
#include "tests/support/stream_capture.h"

namespace analytics {
namespace {

using test_support::StreamCapture;

TEST(IsValidNameTest, LengthAndCharacterRules) {
  EXPECT_TRUE(IsValidName("a"));
  EXPECT_TRUE(IsValidName("$a1"));
  EXPECT_TRUE(IsValidName("_x9$"));
  EXPECT_TRUE(IsValidName("Z"));
  EXPECT_TRUE(IsValidName(std::string(100, 'n')));
  EXPECT_FALSE(IsValidName(""));
  EXPECT_FALSE(IsValidName(std::string(101, 'n')));
  EXPECT_FALSE(IsValidName("1abc"));
  EXPECT_FALSE(IsValidName("a-b"));
  EXPECT_FALSE(IsValidName("a b"));
  EXPECT_FALSE(IsValidName("a\xC3\xA9"));
  EXPECT_FALSE(IsValidName("\xC3\xA9"));
  EXPECT_FALSE(IsValidName("a@"));
  EXPECT_FALSE(IsValidName(std::string("a\0b", 3)));
}

TEST(MakeTrackIdTest, NeverNegativeNorLongerThanNineDigits) {
  for (int i = 0; i < 5000; ++i) {
    const int32_t id = MakeTrackId();
    ASSERT_GE(id, 0);
    ASSERT_LE(id, 989989999);
  }
}

using AddEventTest = SdkTest;

TEST_F(AddEventTest, InstallRecordHasTheDocumentedLayout) {
  ASSERT_TRUE(Start(folder_.File("analytics_data.json"), kUnreachableUrl,
                    "anonymous_user_1733457600", false, 1000));
  PropertiesNode app;
  app.SetString("app_name", "");
  app.SetString("app_version", "");
  app.SetString("channel", "");
  sdk_->RegisterSuperProperties(app);
  const int64_t before = NowMillis();
  sdk_->TrackInstallation("AppInstall", PropertiesNode());
  const int64_t after = NowMillis();
  const std::vector<std::string> queued = Queued();
  ASSERT_EQ(queued.size(), 1u);
  EXPECT_EQ(Normalized(queued[0]),
            "{\"_track_id\":ID,\"distinct_id\":\"anonymous_user_1733457600\","
            "\"event\":\"AppInstall\",\"lib\":{\"$lib\":\"cpp\","
            "\"$lib_method\":\"code\",\"$lib_version\":\"1.1.1\"},"
            "\"properties\":{\"$ios_install_source\":\"\",\"$lib\":\"cpp\","
            "\"$lib_version\":\"1.1.1\",\"app_name\":\"\","
            "\"app_version\":\"\",\"channel\":\"\"},\"time\":TIME,"
            "\"type\":\"track\"}");
  const long long time = IntField(queued[0], "time");
  EXPECT_GE(time, before);
  EXPECT_LE(time, after);
}

TEST_F(AddEventTest, EventNameLengthAndRuleMessagesHaveNoLineEnd) {
  ASSERT_TRUE(Start(folder_.File("s.json"), kUnreachableUrl, "u", false, 1000));
  StreamCapture capture;
  EXPECT_TRUE(Peer().AddEvent("track", std::string(100, 'e'), PropertiesNode(),
                              "u", ""));
  EXPECT_FALSE(Peer().AddEvent("track", std::string(101, 'e'), PropertiesNode(),
                               "u", ""));
  EXPECT_FALSE(Peer().AddEvent("track", "", PropertiesNode(), "u", ""));
  EXPECT_FALSE(Peer().AddEvent("track", "9lives", PropertiesNode(), "u", ""));
  EXPECT_FALSE(Peer().AddEvent("track", "a-b", PropertiesNode(), "u", ""));
  EXPECT_EQ(capture.err(),
            "The Event Name is empty or too long, max length is 100"
            "The Event Name is empty or too long, max length is 100"
            "The Event Name need to be a valid variable name."
            "The Event Name need to be a valid variable name.");
  EXPECT_EQ(Queued().size(), 1u);
}

TEST_F(AddEventTest, PropertyKeysAreCheckedBeforeTheEventName) {
  ASSERT_TRUE(Start(folder_.File("s.json"), kUnreachableUrl, "u", false, 1000));
  StreamCapture capture;
  PropertiesNode long_key;
  long_key.SetInt(std::string(101, 'k'), 1);
  EXPECT_FALSE(Peer().AddEvent("track", "bad name", long_key, "u", ""));
  PropertiesNode bad_key;
  bad_key.SetInt("ok", 1);
  bad_key.SetInt("not ok", 2);
  EXPECT_FALSE(Peer().AddEvent("track", "fine", bad_key, "u", ""));
  PropertiesNode empty_key;
  empty_key.SetInt("", 1);
  EXPECT_FALSE(Peer().AddEvent("profile_set", "", empty_key, "u", ""));
  EXPECT_EQ(capture.err(),
            "The Property Key is empty or too long, max length is 100"
            "The Property Key need to be a valid variable name."
            "The Property Key is empty or too long, max length is 100");
  EXPECT_TRUE(Queued().empty());
}

TEST_F(AddEventTest, ReservedKeysMustHoldTheirKinds) {
  ASSERT_TRUE(Start(folder_.File("s.json"), kUnreachableUrl, "u", false, 1000));
  StreamCapture capture;
  PropertiesNode time_as_text;
  time_as_text.SetString("$time", "2025-01-01");
  EXPECT_FALSE(Peer().AddEvent("track", "e", time_as_text, "u", ""));
  PropertiesNode project_as_int;
  project_as_int.SetInt("$project", 5);
  EXPECT_FALSE(Peer().AddEvent("track", "e", project_as_int, "u", ""));
  EXPECT_EQ(capture.err(),
            "The property '$time' should be DateTime type."
            "The property '$project' should be String type.");
  EXPECT_TRUE(Queued().empty());
}

TEST_F(AddEventTest, TimeAndProjectAreLiftedOutOfTheProperties) {
  ASSERT_TRUE(Start(folder_.File("s.json"), kUnreachableUrl, "u", false, 1000));
  PropertiesNode properties;
  properties.SetDateTime("$time", 1700000000, 250);
  properties.SetString("$project", "proj");
  properties.SetInt("x", 1);
  ASSERT_TRUE(Peer().AddEvent("track", "e", properties, "u", ""));
  PropertiesNode negative_ms;
  negative_ms.SetDateTime("$time", 10, -5);
  negative_ms.SetString("$project", "");
  ASSERT_TRUE(Peer().AddEvent("track", "e", negative_ms, "u", ""));
  const std::vector<std::string> queued = Queued();
  ASSERT_EQ(queued.size(), 2u);
  EXPECT_EQ(Normalized(queued[0]),
            "{\"_track_id\":ID,\"distinct_id\":\"u\",\"event\":\"e\","
            "\"lib\":{\"$lib\":\"cpp\",\"$lib_method\":\"code\","
            "\"$lib_version\":\"1.1.1\"},\"project\":\"proj\","
            "\"properties\":{\"$lib\":\"cpp\",\"$lib_version\":\"1.1.1\","
            "\"x\":1},\"time\":TIME,\"type\":\"track\"}");
  EXPECT_EQ(IntField(queued[0], "time"), 1700000000250LL);
  EXPECT_EQ(IntField(queued[1], "time"), 9995);
  EXPECT_EQ(queued[1].find("project"), std::string::npos);
}

TEST_F(AddEventTest, ProfileSetHasNoEventNorCommonPropertiesButTheLoginMark) {
  ASSERT_TRUE(
      Start(folder_.File("s.json"), kUnreachableUrl, "member", true, 1000));
  PropertiesNode properties;
  properties.SetString("city", "Z");
  sdk_->ProfileSet(properties);
  const std::vector<std::string> queued = Queued();
  ASSERT_EQ(queued.size(), 1u);
  EXPECT_EQ(Normalized(queued[0]),
            "{\"_track_id\":ID,\"distinct_id\":\"member\","
            "\"lib\":{\"$lib\":\"cpp\",\"$lib_method\":\"code\","
            "\"$lib_version\":\"1.1.1\"},\"properties\":{"
            "\"$is_login_id\":true,\"city\":\"Z\"},\"time\":TIME,"
            "\"type\":\"profile_set\"}");
}

TEST_F(AddEventTest, SignupOriginalIdLimits) {
  ASSERT_TRUE(Start(folder_.File("s.json"), kUnreachableUrl, "u", false, 1000));
  StreamCapture capture;
  const std::string id255(255, 'o');
  EXPECT_TRUE(Peer().AddEvent("track_signup", "$SignUp", PropertiesNode(),
                              "new", id255));
  EXPECT_FALSE(Peer().AddEvent("track_signup", "$SignUp", PropertiesNode(),
                               "new", id255 + "o"));
  EXPECT_FALSE(
      Peer().AddEvent("track_signup", "$SignUp", PropertiesNode(), "new", ""));
  EXPECT_EQ(capture.err(),
            "The Original ID is too long, max length is 255.\n"
            "The Original ID is empty.\n");
  const std::vector<std::string> queued = Queued();
  ASSERT_EQ(queued.size(), 1u);
  EXPECT_NE(queued[0].find("\"original_id\":\"" + id255 + "\""),
            std::string::npos);
  EXPECT_NE(queued[0].find("\"event\":\"$SignUp\""), std::string::npos);
}

TEST_F(AddEventTest, CallerPropertiesWinOverCommonOnesButNotOverLib) {
  ASSERT_TRUE(Start(folder_.File("s.json"), kUnreachableUrl, "u", false, 1000));
  StreamCapture quiet;
  PropertiesNode properties;
  properties.SetString("$lib", "dart");
  properties.SetBool("$is_login_id", false);
  properties.SetString("distinct_id", "inner");  // not reserved
  sdk_->Track("e", properties);
  sdk_->Identify("u", true);
  sdk_->Track("e", properties);
  const std::vector<std::string> queued = Queued();
  ASSERT_EQ(queued.size(), 2u);
  const std::string lib =
      "\"lib\":{\"$lib\":\"cpp\",\"$lib_method\":\"code\","
      "\"$lib_version\":\"1.1.1\"}";
  EXPECT_NE(queued[0].find(lib), std::string::npos);
  EXPECT_NE(queued[0].find("\"properties\":{\"$is_login_id\":false,"
                           "\"$lib\":\"dart\",\"$lib_version\":\"1.1.1\","
                           "\"distinct_id\":\"inner\"}"),
            std::string::npos)
      << queued[0];
  EXPECT_NE(queued[1].find("\"$is_login_id\":true"), std::string::npos);
}

TEST_F(AddEventTest, InvalidDistinctIdIsLeftOutButTheRecordIsStaged) {
  ASSERT_TRUE(Start(folder_.File("s.json"), kUnreachableUrl, "u", false, 1000));
  sdk_->Identify("bad\xFF", false);
  StreamCapture capture;
  EXPECT_TRUE(Peer().AddEvent("track", "e", PropertiesNode(), "bad\xFF", ""));
  EXPECT_EQ(capture.err(),
            "String property 'distinct_id' is not valid UTF-8 string, value: "
            "bad\xFF\n");
  const std::vector<std::string> queued = Queued();
  ASSERT_EQ(queued.size(), 1u);
  EXPECT_EQ(queued[0].find("distinct_id"), std::string::npos);
}

TEST_F(AddEventTest, CommonPropertiesAreNotCheckedButCannotMisplaceTheTime) {
  ASSERT_TRUE(Start(folder_.File("s.json"), kUnreachableUrl, "u", false, 1000));
  PropertiesNode common;
  common.SetString("$time", "not a date");
  common.SetInt("$project", 3);
  common.SetInt("odd key", 1);
  sdk_->RegisterSuperProperties(common);
  const int64_t before = NowMillis();
  ASSERT_TRUE(Peer().AddEvent("track", "e", PropertiesNode(), "u", ""));
  const std::vector<std::string> queued = Queued();
  ASSERT_EQ(queued.size(), 1u);
  EXPECT_GE(IntField(queued[0], "time"), before);
  EXPECT_EQ(queued[0].find("$time"), std::string::npos);
  EXPECT_EQ(queued[0].find("project"), std::string::npos);
  EXPECT_NE(queued[0].find("\"odd key\":1"), std::string::npos);
}

}  // namespace
}  // namespace analytics
