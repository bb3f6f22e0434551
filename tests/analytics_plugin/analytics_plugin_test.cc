// The analytics plugin through the stand-in engine's messenger: replies,
// error codes, what reaches the SDK and what is logged.
#include "analytics/plugin/analytics_plugin.h"

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "analytics/sdk/properties_node.h"
#include "analytics/sdk/testing/sdk_test_peer.h"
#include "gtest/gtest.h"
#include "platform/clock.h"
#include "tests/analytics_plugin/plugin_test_support.h"

namespace analytics_plugin_test {
namespace {

// A value of another type than required is answered with the standard
// variant-access exception's text; MSVC's and libstdc++'s read the same.
const std::string kWrongTypeText = "bad variant access";

// The plugin's own lines of |out|: the SDK's messages left out.
std::vector<std::string> PluginLines(const std::string& out) {
  std::vector<std::string> lines;
  for (const std::string& line : Lines(out)) {
    if (line.rfind("Sdk Track", 0) == 0 || line.rfind("add record:", 0) == 0 ||
        line.rfind("flush record : ", 0) == 0) {
      continue;
    }
    lines.push_back(line);
  }
  return lines;
}

std::string SuperPropertiesText(const analytics::SdkTestPeer& sdk) {
  return analytics::utils::ObjectNode::ToJsonString(sdk.super_properties());
}

// The number after |prefix| in |id|, or -1.
int64_t SecondsOf(const std::string& id, const std::string& prefix) {
  if (id.rfind(prefix, 0) != 0 || id.size() == prefix.size()) return -1;
  const std::string digits = id.substr(prefix.size());
  if (digits.find_first_not_of("0123456789") != std::string::npos) return -1;
  return std::stoll(digits);
}

// Builds a map from string keys.
EncodableValue Args(
    std::initializer_list<std::pair<const EncodableValue, EncodableValue>>
        entries) {
  return EncodableValue(EncodableMap(entries));
}

const std::string kCommonProperties =
    "\"$lib\":\"cpp\",\"$lib_version\":\"1.1.1\",\"app_name\":\"\","
    "\"app_version\":\"\",\"channel\":\"\"";

TEST_F(AnalyticsPluginTest,
       RegistrationInstallsTheChannelAndSkipsANullRegistrar) {
  EXPECT_EQ(StandinEngineHasChannelCallback(handle_, "analytics_plugin"), 1);
  analytics::AnalyticsPlugin::RegisterWithRegistrar(nullptr);
  // Unknown names, a different letter case included, are not implemented.
  EXPECT_EQ(Call("Initialize", Args({})).kind, Reply::Kind::kNotImplemented);
  EXPECT_EQ(Call("track", Args({})).kind, Reply::Kind::kNotImplemented);
  EXPECT_EQ(plugin_->sdk(), nullptr);
}

TEST_F(AnalyticsPluginTest, EndedRegistrarLeavesNoCallbackForQueuedMessages) {
  flutter::MethodCall call("flush", nullptr);
  const std::unique_ptr<std::vector<uint8_t>> message =
      flutter::StandardMethodCodec::GetInstance().EncodeMethodCall(call);
  Reply reply;
  ASSERT_EQ(
      StandinEngineDeliverMessage(handle_, "analytics_plugin", message->data(),
                                  message->size(), &OnReply, &reply),
      1);
  // The plugin goes with its registrar while the message waits for the
  // engine's turn; the engine must then find no callback into it.
  ASSERT_EQ(StandinEngineEndRegistrars(handle_), 1);
  EXPECT_EQ(StandinEngineHasChannelCallback(handle_, "analytics_plugin"), 0);
  StandinEngineRunTasks();
  EXPECT_EQ(reply.answers, 1);
  EXPECT_EQ(reply.kind, Reply::Kind::kNotImplemented);
}

TEST_F(AnalyticsPluginTest,
       OtherMethodsAnswerNotInitializedBeforeAndAfterAFailure) {
  const EncodableValue track =
      Args({{"eventName", "opened"}, {"properties", Args({{"a", "b"}})}});
  auto expect_guarded = [&](const char* when) {
    for (const char* method :
         {"trackEvent", "setUserProfile", "login", "logout", "flush"}) {
      const Reply reply = Call(method, track);
      EXPECT_TRUE(reply.IsError("NOT_INITIALIZED")) << method << " " << when;
      EXPECT_EQ(reply.message, "Analytics not initialized");
    }
  };
  expect_guarded("before initialize");

  StreamCapture capture;
  const Reply failed =
      Initialize(EncodableMap{{"distinctId", std::string(256, 'd')}});
  EXPECT_TRUE(failed.IsError("SDK_INIT_FAILED")) << failed;
  EXPECT_EQ(failed.message, "分析SDK初始化失败");
  EXPECT_EQ(capture.err(), "The Distinct ID is too long, max length is 255.\n");
  expect_guarded("after a failed initialize");
  EXPECT_EQ(plugin_->sdk(), nullptr);
}

TEST_F(AnalyticsPluginTest, InitializeNeedsAMapOfCorrectlyTypedSettings) {
  for (const auto& arguments :
       {std::optional<EncodableValue>(),
        std::optional<EncodableValue>(EncodableList{EncodableValue(1)}),
        std::optional<EncodableValue>(EncodableValue("serverUrl"))}) {
    const Reply reply = Call("initialize", arguments);
    EXPECT_TRUE(reply.IsError("INVALID_ARGUMENTS")) << reply;
    EXPECT_EQ(reply.message, "Arguments must be a map");
  }
  for (const char* key : {"serverUrl", "enableLog", "activate", "appName",
                          "appVersion", "channel"}) {
    // A number is the wrong type for every one of them.
    const Reply reply = Call("initialize", Args({{key, 1}}));
    EXPECT_TRUE(reply.IsError("INITIALIZATION_ERROR")) << key << ": " << reply;
    EXPECT_EQ(reply.message, kWrongTypeText);
  }
  EXPECT_EQ(plugin_->sdk(), nullptr);
}

TEST_F(AnalyticsPluginTest, SettingsReadBeforeAWrongTypeStaySet) {
  EXPECT_TRUE(Call("initialize", Args({{"serverUrl", "http://kept.test/c"},
                                       {"enableLog", true},
                                       {"activate", "yes"}}))
                  .IsError("INITIALIZATION_ERROR"));
  StreamCapture capture;
  EXPECT_TRUE(Call("initialize", Args({{"distinctId", "u"}}))
                  .IsSuccess(EncodableValue(true)));
  EXPECT_EQ(plugin_->sdk()->server_url(), "http://kept.test/c");
  const std::vector<std::string> lines = PluginLines(capture.out());
  ASSERT_EQ(lines.size(), 4u) << capture.out();
  EXPECT_EQ(lines[1], "服务器地址: http://kept.test/c");
}

TEST_F(AnalyticsPluginTest, AnEmptyMapInitializesAnAnonymousUserQuietly) {
  StreamCapture capture;
  const int64_t before = platform::CurrentTimeSeconds();
  const Reply reply = Call("initialize", Args({}));
  const int64_t after = platform::CurrentTimeSeconds();
  ASSERT_TRUE(reply.IsSuccess(EncodableValue(true))) << reply;

  const int64_t seconds = SecondsOf(Peer().distinct_id(), "anonymous_user_");
  EXPECT_GE(seconds, before) << Peer().distinct_id();
  EXPECT_LE(seconds, after);
  EXPECT_FALSE(Peer().is_login_id());
  EXPECT_EQ(plugin_->sdk()->server_url(), "");
  EXPECT_EQ(Peer().staging_store().staging_file_path(),
            scratch_ / "analytics_data.json");
  EXPECT_EQ(Peer().staging_store().capacity(), 1000u);
  EXPECT_EQ(SuperPropertiesText(Peer()), "{" + kCommonProperties + "}");
  EXPECT_TRUE(Queued().empty()) << "no install event without activate";
  EXPECT_FALSE(Peer().staging_store().log_enabled());
  EXPECT_EQ(capture.out(), "");
}

TEST_F(AnalyticsPluginTest, IdentityArgumentsOfAnotherTypeAreIgnored) {
  const Reply reply =
      Initialize(EncodableMap{{"distinctId", 42}, {"isLoginId", "true"}});
  ASSERT_TRUE(reply.IsSuccess(EncodableValue(true))) << reply;
  EXPECT_GE(SecondsOf(Peer().distinct_id(), "anonymous_user_"), 0);
  EXPECT_FALSE(Peer().is_login_id());
}

TEST_F(AnalyticsPluginTest, ADistinctIdOf255BytesIsTheLongestAccepted) {
  StreamCapture capture;
  EXPECT_TRUE(Initialize(EncodableMap{{"distinctId", std::string(256, 'x')}})
                  .IsError("SDK_INIT_FAILED"));
  const Reply reply = Initialize(
      EncodableMap{{"distinctId", std::string(255, 'x')}, {"isLoginId", true}});
  ASSERT_TRUE(reply.IsSuccess(EncodableValue(true))) << reply;
  EXPECT_EQ(Peer().distinct_id(), std::string(255, 'x'));
  EXPECT_TRUE(Peer().is_login_id());
}

TEST_F(AnalyticsPluginTest, AFailingTemporaryDirectoryAnswersSdkInitError) {
  ScopedTempDirectory missing(scratch_ / "does-not-exist");
  const Reply reply = Initialize(EncodableMap{{"distinctId", "u"}});
  EXPECT_TRUE(reply.IsError("SDK_INIT_ERROR")) << reply;
  EXPECT_EQ(reply.message.rfind("SDK初始化异常: ", 0), 0u) << reply.message;
  EXPECT_GT(reply.message.size(), std::string("SDK初始化异常: ").size());
  EXPECT_EQ(plugin_->sdk(), nullptr);
  EXPECT_TRUE(Call("flush").IsError("NOT_INITIALIZED"));
}

TEST_F(AnalyticsPluginTest, LoggingShowsTheInstallEventBeforeTheSettings) {
  StreamCapture capture;
  const Reply reply = Initialize(EncodableMap{
      {"enableLog", true}, {"activate", true}, {"distinctId", "user-1"}});
  ASSERT_TRUE(reply.IsSuccess(EncodableValue(true))) << reply;
  const std::string staging = (scratch_ / "analytics_data.json").u8string();
  const std::vector<std::string> lines = PluginLines(capture.out());
  ASSERT_EQ(lines.size(), 5u) << capture.out();
  EXPECT_EQ(lines[0], "TrackInstallation(AppInstall) sent");
  EXPECT_EQ(lines[1], "分析SDK初始化成功!");
  // The settings the SDK runs with: the server, the file and the id.
  EXPECT_EQ(lines[2], "服务器地址: " + server_url_);
  EXPECT_EQ(lines[3], "数据暂存文件: " + staging);
  EXPECT_EQ(lines[4], "默认用户ID: user-1");
  const std::vector<std::string> queued = Queued();
  ASSERT_EQ(queued.size(), 1u);
  EXPECT_NE(queued[0].find("\"event\":\"AppInstall\""), std::string::npos);
  EXPECT_NE(queued[0].find("\"type\":\"track\""), std::string::npos);
  EXPECT_EQ(PropertiesOf(queued[0]),
            "{\"$ios_install_source\":\"\"," + kCommonProperties + "}");
}

TEST_F(AnalyticsPluginTest, ASecondInitializeKeepsTheFirstSdk) {
  ASSERT_TRUE(Initialize(EncodableMap{{"distinctId", "first"},
                                      {"appName", "one"},
                                      {"appVersion", "1.0"},
                                      {"channel", "beta"}})
                  .IsSuccess(EncodableValue(true)));
  const analytics::Sdk* first = plugin_->sdk();
  const std::string staging = (scratch_ / "analytics_data.json").u8string();
  // Another temporary directory by now: the staging file stays where it was.
  std::filesystem::create_directories(scratch_ / "later");
  ScopedTempDirectory later(scratch_ / "later");
  StreamCapture capture;
  const Reply reply =
      Call("initialize", Args({{"serverUrl", "http://second.test/c"},
                               {"distinctId", "second"},
                               {"enableLog", true},
                               {"activate", true},
                               {"appName", "two"}}));
  ASSERT_TRUE(reply.IsSuccess(EncodableValue(true))) << reply;
  EXPECT_EQ(plugin_->sdk(), first);
  // The log names the server the SDK kept, never the one just given.
  EXPECT_EQ(capture.out().find("http://second.test/c"), std::string::npos);
  // The SDK keeps its first identity, server and file; common properties and
  // the store's logging follow the latest call.
  EXPECT_EQ(Peer().distinct_id(), "first");
  EXPECT_EQ(plugin_->sdk()->server_url(), server_url_);
  EXPECT_EQ(Peer().staging_store().staging_file_path(), staging);
  EXPECT_TRUE(Peer().staging_store().log_enabled());
  EXPECT_EQ(SuperPropertiesText(Peer()),
            "{\"$lib\":\"cpp\",\"$lib_version\":\"1.1.1\",\"app_name\":\"two\","
            "\"app_version\":\"\",\"channel\":\"\"}");
  const std::vector<std::string> queued = Queued();
  ASSERT_EQ(queued.size(), 1u);
  EXPECT_NE(queued[0].find("\"distinct_id\":\"first\""), std::string::npos);

  // The first server given again: nothing to point out.
  StreamCapture again;
  ASSERT_TRUE(Initialize(EncodableMap{{"enableLog", true}, {"activate", false}})
                  .IsSuccess(EncodableValue(true)));
  const std::vector<std::string> same = PluginLines(again.out());
  ASSERT_EQ(same.size(), 4u) << again.out();
  EXPECT_EQ(same[1], "服务器地址: " + server_url_);
}

TEST_F(AnalyticsPluginTest, TrackEventArgumentErrors) {
  ASSERT_TRUE(Initialize().IsSuccess(EncodableValue(true)));
  for (const auto& arguments :
       {std::optional<EncodableValue>(),
        std::optional<EncodableValue>(EncodableList{EncodableValue("e")})}) {
    const Reply reply = Call("trackEvent", arguments);
    EXPECT_TRUE(reply.IsError("INVALID_ARGUMENTS")) << reply;
    EXPECT_EQ(reply.message, "Arguments must be a map");
  }
  const Reply missing =
      Call("trackEvent", Args({{"properties", Args({{"a", "b"}})}}));
  EXPECT_TRUE(missing.IsError("MISSING_EVENT_NAME")) << missing;
  EXPECT_EQ(missing.message, "eventName is required");

  StreamCapture capture;
  const Reply numeric = Call("trackEvent", Args({{"eventName", 7}}));
  EXPECT_TRUE(numeric.IsError("TRACK_EVENT_ERROR")) << numeric;
  EXPECT_EQ(numeric.message, kWrongTypeText);
  EXPECT_EQ(capture.out(), "") << "the SDK was not reached";
  EXPECT_TRUE(Queued().empty());
}

TEST_F(AnalyticsPluginTest, TrackEventKeepsScalarsAndListsOfGoodStringsOnly) {
  ASSERT_TRUE(Initialize().IsSuccess(EncodableValue(true)));
  StreamCapture capture;
  const Reply reply = Call(
      "trackEvent",
      Args({{"eventName", "purchase"},
            {"properties",
             Args({{"price", 9.5},
                   {"vip", true},
                   {"name", "x"},
                   {"big", int64_t{1} << 40},
                   {"debt", int64_t{-5}},
                   {"count", 3},
                   {"low", int32_t{-2147483647 - 1}},
                   {"nested", Args({{"k", "v"}})},
                   {"items", EncodableList{EncodableValue("a")}},
                   {"none", EncodableList{}},
                   {"mixed",
                    EncodableList{EncodableValue("a"), EncodableValue(1)}},
                   {"broken",
                    EncodableList{EncodableValue("a"), EncodableValue("\xC3")}},
                   {"long",
                    EncodableList{EncodableValue(std::string(8193, 'n'))}},
                   {"bytes", std::vector<uint8_t>{1, 2}},
                   {"nothing", EncodableValue()}})}}));
  ASSERT_TRUE(reply.IsSuccess(EncodableValue(true))) << reply;
  const std::vector<std::string> queued = Queued();
  ASSERT_EQ(queued.size(), 1u);
  EXPECT_NE(queued[0].find("\"event\":\"purchase\""), std::string::npos);
  EXPECT_EQ(PropertiesOf(queued[0]),
            "{\"$lib\":\"cpp\",\"$lib_version\":\"1.1.1\",\"app_name\":\"\","
            "\"app_version\":\"\",\"big\":1099511627776,\"channel\":\"\","
            "\"count\":3,\"debt\":-5,\"items\":[\"a\"],\"low\":-2147483648,"
            "\"name\":\"x\",\"none\":[],\"price\":9.5,\"vip\":true}");

  // Properties that are not a map count as none.
  ASSERT_TRUE(Call("trackEvent",
                   Args({{"eventName", "bare"}, {"properties", "price=9.5"}}))
                  .IsSuccess(EncodableValue(true)));
  ASSERT_EQ(Queued().size(), 2u);
  EXPECT_EQ(PropertiesOf(Queued()[1]), "{" + kCommonProperties + "}");
}

TEST_F(AnalyticsPluginTest, ANonStringKeyDropsTheWholeEventButAnswersTrue) {
  ASSERT_TRUE(InitializeQuietly(EncodableMap{{"enableLog", true}})
                  .IsSuccess(EncodableValue(true)));
  StreamCapture capture;
  // Map order puts string keys before list keys, so "a" is converted first.
  const Reply late =
      Call("trackEvent",
           Args({{"eventName", "e"},
                 {"properties", Args({{"a", "x"}, {EncodableList{}, "y"}})}}));
  EXPECT_TRUE(late.IsSuccess(EncodableValue(true))) << late;
  const Reply first = Call(
      "trackEvent",
      Args({{"eventName", "e"}, {"properties", Args({{1, "y"}, {"a", "x"}})}}));
  EXPECT_TRUE(first.IsSuccess(EncodableValue(true))) << first;
  EXPECT_TRUE(Queued().empty());
  const std::string failure = "分析事件追踪失败: " + kWrongTypeText;
  EXPECT_EQ(PluginLines(capture.out()),
            (std::vector<std::string>{"属性: a = x", failure, failure}));
  EXPECT_EQ(capture.out().find("Sdk Track"), std::string::npos);
}

TEST_F(AnalyticsPluginTest, TrackEventLogsEveryEntryInMapOrder) {
  ASSERT_TRUE(InitializeQuietly(EncodableMap{{"enableLog", true}})
                  .IsSuccess(EncodableValue(true)));
  StreamCapture capture;
  ASSERT_TRUE(
      Call("trackEvent",
           Args({{"eventName", "purchase"},
                 {"properties",
                  Args({{"count", 3},
                        {"pi", 3.14159265},
                        {"vip", false},
                        {"name", std::string(8193, 'n')},
                        {"big", int64_t{1} << 40},
                        {"nested", Args({})},
                        {"tags", EncodableList{EncodableValue("a"),
                                               EncodableValue("b")}},
                        {"mixed",
                         EncodableList{EncodableValue("a"), EncodableValue(1)}},
                        {"broken", EncodableList{EncodableValue("a"),
                                                 EncodableValue("\xC3")}}})}}))
          .IsSuccess(EncodableValue(true)));
  // One line per entry in map order, skipped ones too; a double with six
  // significant digits, nothing for a value of no property kind.
  std::vector<std::string> entries;
  for (const std::string& line : PluginLines(capture.out())) {
    if (line.rfind("属性: ", 0) == 0) entries.push_back(line);
  }
  EXPECT_EQ(entries,
            (std::vector<std::string>{
                "属性: big = 1099511627776", "属性: broken = [a, \xC3]",
                "属性: count = 3",
                "属性: mixed = ", "属性: name = " + std::string(8193, 'n'),
                "属性: nested = ", "属性: pi = 3.14159", "属性: tags = [a, b]",
                "属性: vip = false"}));
  EXPECT_EQ(PluginLines(capture.out()).back(), "分析事件追踪成功: purchase");
  // The over-long string was refused by the property model alone.
  EXPECT_NE(capture.err().find("String property 'name' is too long"),
            std::string::npos);
  ASSERT_EQ(Queued().size(), 1u);
  EXPECT_EQ(Queued()[0].find("\"name\""), std::string::npos);
  EXPECT_NE(Queued()[0].find("\"pi\":3.14159265"), std::string::npos);
  EXPECT_NE(Queued()[0].find("\"count\":3,"), std::string::npos);
  EXPECT_NE(Queued()[0].find("\"tags\":[\"a\",\"b\"]"), std::string::npos);
  EXPECT_EQ(Queued()[0].find("\"broken\""), std::string::npos);
  EXPECT_EQ(Queued()[0].find("\"mixed\""), std::string::npos);
}

TEST_F(AnalyticsPluginTest, NothingOfThePluginIsLoggedWhileLoggingIsOff) {
  StreamCapture capture;
  ASSERT_TRUE(Initialize(EncodableMap{{"activate", true}})
                  .IsSuccess(EncodableValue(true)));
  Call("trackEvent",
       Args({{"eventName", "e"}, {"properties", Args({{"a", 1}})}}));
  Call("trackEvent",
       Args({{"eventName", "e"}, {"properties", Args({{1, 1}})}}));
  Call("setUserProfile", Args({{"properties", Args({{"a", "b"}})}}));
  Call("login", Args({{"userId", 5}}));
  Call("login", Args({{"userId", "member"}}));
  Call("logout");
  Call("flush");
  EXPECT_EQ(PluginLines(capture.out()), std::vector<std::string>());
}

TEST_F(AnalyticsPluginTest, SetUserProfileRecordsConvertedPropertiesWhenItCan) {
  ASSERT_TRUE(InitializeQuietly(EncodableMap{{"enableLog", true}})
                  .IsSuccess(EncodableValue(true)));
  StreamCapture capture;
  for (const auto& arguments :
       {std::optional<EncodableValue>(),
        std::optional<EncodableValue>(EncodableList{}),
        std::optional<EncodableValue>(Args({})),
        std::optional<EncodableValue>(Args({{"properties", "age=30"}}))}) {
    const Reply reply = Call("setUserProfile", arguments);
    EXPECT_TRUE(reply.IsSuccess(EncodableValue(true))) << reply;
  }
  EXPECT_TRUE(Queued().empty());
  EXPECT_EQ(PluginLines(capture.out()), std::vector<std::string>());

  EXPECT_TRUE(
      Call("setUserProfile", Args({{"properties", Args({{"age", int64_t{30}},
                                                        {"small", 1},
                                                        {"nested", Args({})},
                                                        {"vip", true},
                                                        {"city", "Oslo"},
                                                        {"score", 0.25}})}}))
          .IsSuccess(EncodableValue(true)));
  EXPECT_TRUE(Call("setUserProfile",
                   Args({{"properties", Args({{"a", "b"}, {2.5, "c"}})}}))
                  .IsSuccess(EncodableValue(true)));
  const std::vector<std::string> queued = Queued();
  ASSERT_EQ(queued.size(), 1u);
  EXPECT_NE(queued[0].find("\"type\":\"profile_set\""), std::string::npos);
  EXPECT_EQ(PropertiesOf(queued[0]),
            "{\"age\":30,\"city\":\"Oslo\",\"score\":0.25,\"small\":1,"
            "\"vip\":true}");
  EXPECT_EQ(
      PluginLines(capture.out()),
      (std::vector<std::string>{
          "属性已跳过: nested (unsupported value type map)",
          "分析用户属性设置成功", "分析用户属性设置失败: " + kWrongTypeText}));
}

TEST_F(AnalyticsPluginTest, LoginAndLogoutMoveTheIdentity) {
  ASSERT_TRUE(InitializeQuietly(
                  EncodableMap{{"distinctId", "anon"}, {"enableLog", true}})
                  .IsSuccess(EncodableValue(true)));
  StreamCapture capture;
  for (const auto& arguments :
       {std::optional<EncodableValue>(),
        std::optional<EncodableValue>(Args({})),
        std::optional<EncodableValue>(Args({{"userId", 42}}))}) {
    const Reply reply = Call("login", arguments);
    EXPECT_TRUE(reply.IsSuccess(EncodableValue(true))) << reply;
  }
  EXPECT_EQ(Peer().distinct_id(), "anon");
  EXPECT_TRUE(Queued().empty());

  EXPECT_TRUE(Call("login", Args({{"userId", "member"}}))
                  .IsSuccess(EncodableValue(true)));
  EXPECT_EQ(Peer().distinct_id(), "member");
  EXPECT_TRUE(Peer().is_login_id());
  const std::vector<std::string> queued = Queued();
  ASSERT_EQ(queued.size(), 1u);
  EXPECT_NE(queued[0].find("\"distinct_id\":\"member\",\"event\":\"$SignUp\""),
            std::string::npos)
      << queued[0];
  EXPECT_NE(queued[0].find("\"original_id\":\"anon\""), std::string::npos);
  EXPECT_NE(queued[0].find("\"type\":\"track_signup\""), std::string::npos);

  const int64_t before = platform::CurrentTimeSeconds();
  EXPECT_TRUE(
      Call("logout", Args({{"ignored", 1}})).IsSuccess(EncodableValue(true)));
  const int64_t after = platform::CurrentTimeSeconds();
  const std::string anonymous = Peer().distinct_id();
  EXPECT_GE(SecondsOf(anonymous, "anonymous_user_"), before) << anonymous;
  EXPECT_LE(SecondsOf(anonymous, "anonymous_user_"), after);
  EXPECT_FALSE(Peer().is_login_id());
  EXPECT_EQ(Queued().size(), 1u) << "logout makes no record";

  EXPECT_EQ(
      PluginLines(capture.out()),
      (std::vector<std::string>{
          "分析用户登录失败: " + kWrongTypeText, "分析用户登录成功: member",
          "分析用户登出成功，切换为匿名用户: " + anonymous}));
}

TEST_F(AnalyticsPluginTest, FlushAnswersWhetherTheQueueWasEmptied) {
  ASSERT_TRUE(InitializeQuietly(EncodableMap{{"enableLog", true}})
                  .IsSuccess(EncodableValue(true)));
  StreamCapture capture;
  EXPECT_TRUE(Call("flush").IsSuccess(EncodableValue(true)));
  Call("trackEvent", Args({{"eventName", "kept"}}));
  // Nothing listens at the server address.
  EXPECT_TRUE(Call("flush").IsSuccess(EncodableValue(false)));
  EXPECT_EQ(Queued().size(), 1u);
  EXPECT_EQ(
      PluginLines(capture.out()),
      (std::vector<std::string>{"分析数据上报成功", "分析事件追踪成功: kept",
                                "分析数据上报失败"}));
}

// A result whose success answer fails, as an encoder out of memory would.
class FailingResult : public flutter::MethodResult {
 public:
  explicit FailingResult(Reply* reply, bool standard = true)
      : reply_(reply), standard_(standard) {}

 protected:
  void HandleSuccess(const EncodableValue*) override { Fail(); }
  void HandleError(const std::string& code, const std::string& message,
                   const EncodableValue* details) override {
    if (!standard_) Fail();
    ++reply_->answers;
    reply_->kind = Reply::Kind::kError;
    reply_->code = code;
    reply_->message = message;
    reply_->has_details = details != nullptr;
  }
  void HandleNotImplemented() override { Fail(); }

 private:
  void Fail() {
    if (standard_) throw std::runtime_error("reply failed");
    throw 7;  // not a standard exception
  }

  Reply* reply_;
  bool standard_;
};

TEST_F(AnalyticsPluginTest,
       EachHandlerAnswersItsOwnCodeWhenTheSuccessReplyFails) {
  analytics::AnalyticsPlugin plugin;
  auto call = [&](const std::string& method, EncodableValue arguments,
                  bool standard) {
    Reply reply;
    flutter::MethodCall method_call(
        method, std::make_unique<EncodableValue>(std::move(arguments)));
    EXPECT_NO_THROW(plugin.HandleMethodCall(
        method_call, std::make_unique<FailingResult>(&reply, standard)));
    // "flush" answers from the UI thread's pending work.
    if (method == "flush" && standard) PumpUntilAnswered(reply);
    EXPECT_NO_THROW(platform::RunPendingUiTasks());
    return reply;
  };
  StreamCapture capture;
  const struct {
    const char* method;
    EncodableValue arguments;
    const char* code;
  } cases[] = {
      // A scheme that is never used: the flush fails without retries.
      {"initialize", Args({{"serverUrl", "none:"}}), "INITIALIZATION_ERROR"},
      {"trackEvent", Args({{"eventName", "e"}}), "TRACK_EVENT_ERROR"},
      {"setUserProfile", Args({}), "SET_USER_PROFILE_ERROR"},
      {"login", Args({{"userId", "member"}}), "LOGIN_ERROR"},
      {"logout", EncodableValue(), "LOGOUT_ERROR"},
      {"flush", EncodableValue(), "FLUSH_ERROR"},
  };
  for (const auto& test_case : cases) {
    const Reply reply = call(test_case.method, test_case.arguments, true);
    EXPECT_EQ(reply.answers, 1) << test_case.method;
    EXPECT_TRUE(reply.IsError(test_case.code)) << reply;
    EXPECT_EQ(reply.message, "reply failed");
  }
  // Nothing at all leaves the handler, whatever the result throws.
  for (const auto& test_case : cases) {
    call(test_case.method, test_case.arguments, false);
  }
  call("unknown", EncodableValue(), false);
}

}  // namespace
}  // namespace analytics_plugin_test
