#include "analytics/plugin/analytics_plugin.h"

#include <cstdint>
#include <exception>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

#include "analytics/plugin/property_conversion.h"
#include "analytics/sdk/properties_node.h"
#include "analytics/sdk/sdk.h"
#include "embedding/method_channel.h"
#include "embedding/standard_codec.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/temp_directory.h"

namespace analytics {

namespace {

using flutter::EncodableMap;
using flutter::EncodableValue;
using flutter::MethodResult;

constexpr char kChannelName[] = "analytics_plugin";
constexpr char kStagingFileName[] = "analytics_data.json";
constexpr char kAnonymousIdPrefix[] = "anonymous_user_";
constexpr int32_t kMaxStagingRecords = 1000;
constexpr char kInstallEventName[] = "AppInstall";

constexpr char kNotInitializedCode[] = "NOT_INITIALIZED";
constexpr char kNotInitializedMessage[] = "Analytics not initialized";
constexpr char kInvalidArgumentsCode[] = "INVALID_ARGUMENTS";
constexpr char kInvalidArgumentsMessage[] = "Arguments must be a map";

// A value read from the arguments, or why it could not be read; neither for
// an absent key.
template <typename T>
struct Read {
  std::optional<T> value;
  std::string problem;
};

// The text std::get gives for a value of another alternative: wrong-type
// replies and log lines have always carried it.
const std::string& WrongTypeText() {
  static const std::string text = [] {
    try {
      static_cast<void>(std::get<bool>(EncodableValue()));
    } catch (const std::bad_variant_access& error) {
      return std::string(error.what());
    }
    return std::string("bad variant access");
  }();
  return text;
}

// The map held by |arguments|, or null when they are absent or not a map.
const EncodableMap* AsMap(const EncodableValue* arguments) {
  return arguments == nullptr ? nullptr : std::get_if<EncodableMap>(arguments);
}

// The value under the string key |key|, or null when there is none.
const EncodableValue* Find(const EncodableMap& map, const char* key) {
  auto entry = map.find(EncodableValue(std::string(key)));
  return entry == map.end() ? nullptr : &entry->second;
}

// |value| when it holds a T; otherwise the wrong-type problem.
template <typename T>
Read<T> AsRequired(const EncodableValue& value) {
  if (const T* typed = std::get_if<T>(&value)) return {*typed, std::string()};
  return {std::nullopt, WrongTypeText()};
}

// The value under |key|, which must hold a T when present.
template <typename T>
Read<T> ReadRequired(const EncodableMap& map, const char* key) {
  const EncodableValue* value = Find(map, key);
  return value == nullptr ? Read<T>() : AsRequired<T>(*value);
}

// The value under |key| when it is present and holds a T; null otherwise.
template <typename T>
const T* ReadOptional(const EncodableMap& map, const char* key) {
  const EncodableValue* value = Find(map, key);
  return value == nullptr ? nullptr : std::get_if<T>(value);
}

// Sets *field from |key| when present; why not when of another type.
template <typename T>
std::string Take(const EncodableMap& map, const char* key, T* field) {
  Read<T> read = ReadRequired<T>(map, key);
  if (read.value) *field = std::move(*read.value);
  return read.problem;
}

// Runs |step|, which returns nothing or why it failed. The SDK reports
// failures by standard exceptions: their text is the reason too.
template <typename Step>
std::optional<std::string> Attempt(const Step& step) {
  try {
    if constexpr (std::is_void_v<std::invoke_result_t<const Step&>>) {
      step();
      return std::nullopt;
    } else {
      return step();
    }
  } catch (const std::exception& error) {
    return std::string(error.what());
  }
}

std::string AnonymousId() {
  return kAnonymousIdPrefix + std::to_string(platform::CurrentTimeSeconds());
}

// The properties of |entries|, or why not: a key that is not a string. With
// |log|, writes a line per skipped value, and with |log_entries| a line per
// entry before it.
Read<PropertiesNode> ConvertProperties(const EncodableMap* entries, bool log,
                                       bool log_entries) {
  PropertiesNode properties;
  if (entries == nullptr) return {std::move(properties), std::string()};
  for (const auto& entry : *entries) {
    const auto* key = std::get_if<std::string>(&entry.first);
    if (key == nullptr) return {std::nullopt, WrongTypeText()};
    const std::string skipped = SetProperty(*key, entry.second, &properties);
    if (log && log_entries) LogProperty(*key, entry.second);
    if (log) LogSkipped(*key, skipped);
  }
  return {std::move(properties), std::string()};
}

// Reports a failure in |method| that no answer can carry.
void ReportUnexpected(const std::string& method) {
  std::cerr << "analytics_plugin: unexpected exception in " << method
            << std::endl;
}

// Answers |code| with |message| after a standard exception; a failure of
// that reply too is only reported.
void AnswerFailure(MethodResult& result, const char* code,
                   const std::string& message, const std::string& method) {
  try {
    result.Error(code, message);
  } catch (...) {
    ReportUnexpected(method);
  }
}

// Sends the result of a flush; runs as a task of the UI thread's message
// loop, so nothing may leave it.
void AnswerFlush(MethodResult& result, bool flushed, bool log) {
  try {
    if (log) {
      std::cout << (flushed ? "分析数据上报成功" : "分析数据上报失败")
                << std::endl;
    }
    result.Success(EncodableValue(flushed));
  } catch (const std::exception& error) {
    try {
      result.Error("FLUSH_ERROR", error.what());
    } catch (...) {
    }
  } catch (...) {
    ReportUnexpected("flush");
  }
}

// Hands the result of a flush to the UI thread, which answers it there; when
// the plugin (and with it the engine) is gone by then, it goes nowhere. Runs
// on the worker's thread (or on the one stopping it), where nothing may
// leave it.
void PostFlushAnswer(const platform::UiTaskQueue::Poster& poster,
                     const std::shared_ptr<MethodResult>& reply, bool flushed,
                     bool log) noexcept {
  try {
    if (poster.Post(
            [reply, log, flushed] { AnswerFlush(*reply, flushed, log); })) {
      return;
    }
    std::cerr << "Analytics SDK dropped a flush answer: the UI thread is gone"
              << std::endl;
  } catch (...) {
    ReportUnexpected("flush");
  }
}

}  // namespace

struct AnalyticsPlugin::Answer {
  enum class Kind { kSuccess, kError, kLater };

  static Answer Success(bool value) {
    return {Kind::kSuccess, value, std::string(), std::string()};
  }
  static Answer Error(std::string code, std::string message) {
    return {Kind::kError, false, std::move(code), std::move(message)};
  }
  static Answer InvalidArguments() {
    return Error(kInvalidArgumentsCode, kInvalidArgumentsMessage);
  }
  static Answer Later() { return {Kind::kLater, false, "", ""}; }

  void SendTo(MethodResult& result) const {
    if (kind == Kind::kSuccess) result.Success(EncodableValue(value));
    if (kind == Kind::kError) result.Error(code, message);
  }

  Kind kind;
  bool value;
  std::string code;
  std::string message;
};

struct AnalyticsPlugin::AppInfo {
  std::string name;
  std::string version;
  std::string channel;
};

struct AnalyticsPlugin::Method {
  const char* name;
  Handler handler;
  // Answered, with the exception's text, when a standard exception leaves
  // the handler or its answer.
  const char* error_code;
  // Answered "NOT_INITIALIZED" before a successful "initialize".
  bool needs_initialization;
};

const AnalyticsPlugin::Method* AnalyticsPlugin::FindMethod(
    const std::string& name) {
  static const Method methods[] = {
      {"initialize", &AnalyticsPlugin::HandleInitialize, "INITIALIZATION_ERROR",
       false},
      {"trackEvent", &AnalyticsPlugin::HandleTrackEvent, "TRACK_EVENT_ERROR",
       true},
      {"setUserProfile", &AnalyticsPlugin::HandleSetUserProfile,
       "SET_USER_PROFILE_ERROR", true},
      {"login", &AnalyticsPlugin::HandleLogin, "LOGIN_ERROR", true},
      {"logout", &AnalyticsPlugin::HandleLogout, "LOGOUT_ERROR", true},
      {"flush", &AnalyticsPlugin::HandleFlush, "FLUSH_ERROR", true},
  };
  for (const Method& method : methods) {
    if (name == method.name) return &method;
  }
  return nullptr;
}

AnalyticsPlugin* AnalyticsPlugin::RegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar) {
  flutter::PluginRegistrarWindows* windows_registrar =
      flutter::RegistrarManager::Instance()->GetRegistrar(registrar);
  if (windows_registrar == nullptr) return nullptr;
  auto plugin = std::make_unique<AnalyticsPlugin>();
  AnalyticsPlugin* plugin_pointer = plugin.get();
  plugin->channel_ = std::make_unique<flutter::MethodChannel>(
      windows_registrar->messenger(), kChannelName,
      &flutter::StandardMethodCodec::GetInstance());
  plugin->channel_->SetMethodCallHandler(
      [plugin_pointer](const flutter::MethodCall& call,
                       std::unique_ptr<MethodResult> result) {
        plugin_pointer->HandleMethodCall(call, std::move(result));
      });
  windows_registrar->AddPlugin(std::move(plugin));
  return plugin_pointer;
}

AnalyticsPlugin::AnalyticsPlugin() = default;

AnalyticsPlugin::~AnalyticsPlugin() {
  // The window is closing: the process must be able to end at once, and the
  // worker must not run on into a plugin that is going.
  sdk_.reset();
  // The engine must not keep a callback into a handler table that goes with
  // the registrar.
  if (channel_ != nullptr) {
    channel_->SetMethodCallHandler(nullptr);
  }
}

void AnalyticsPlugin::HandleMethodCall(const flutter::MethodCall& call,
                                       std::unique_ptr<MethodResult> result) {
  const ReplyPointer reply(std::move(result));
  // Set once a handler runs: from then on a standard exception is answered.
  const char* error_code = nullptr;
  // Runs inside the engine's C callback: nothing may unwind into it.
  try {
    const Method* method = FindMethod(call.method_name());
    if (method == nullptr) {
      reply->NotImplemented();
    } else if (method->needs_initialization && sdk_ == nullptr) {
      reply->Error(kNotInitializedCode, kNotInitializedMessage);
    } else {
      error_code = method->error_code;
      (this->*method->handler)(call.arguments(), reply).SendTo(*reply);
    }
  } catch (const std::exception& error) {
    if (error_code != nullptr) {
      AnswerFailure(*reply, error_code, error.what(), call.method_name());
    } else {
      ReportUnexpected(call.method_name());
    }
  } catch (...) {
    ReportUnexpected(call.method_name());
  }
}

void AnalyticsPlugin::Log(const std::string& line) const {
  if (enable_log_) std::cout << line << std::endl;
}

void AnalyticsPlugin::LogFailure(
    const char* prefix, const std::optional<std::string>& failure) const {
  if (failure) Log(prefix + *failure);
}

AnalyticsPlugin::Answer AnalyticsPlugin::HandleInitialize(
    const EncodableValue* arguments, const ReplyPointer&) {
  const EncodableMap* settings = AsMap(arguments);
  if (settings == nullptr) return Answer::InvalidArguments();
  AppInfo app;
  const std::string problem = TakeSettings(*settings, &app);
  if (!problem.empty()) return Answer::Error("INITIALIZATION_ERROR", problem);
  bool started = false;
  const std::optional<std::string> failure =
      Attempt([&] { started = StartSdk(*settings, app); });
  if (failure) {
    return Answer::Error("SDK_INIT_ERROR", "SDK初始化异常: " + *failure);
  }
  if (!started) return Answer::Error("SDK_INIT_FAILED", "分析SDK初始化失败");
  return Answer::Success(true);
}

std::string AnalyticsPlugin::TakeSettings(const EncodableMap& settings,
                                          AppInfo* app) {
  std::string problem = Take(settings, "serverUrl", &server_url_);
  if (problem.empty()) problem = Take(settings, "enableLog", &enable_log_);
  if (problem.empty()) problem = Take(settings, "activate", &activate_);
  if (problem.empty()) problem = Take(settings, "appName", &app->name);
  if (problem.empty()) problem = Take(settings, "appVersion", &app->version);
  if (problem.empty()) problem = Take(settings, "channel", &app->channel);
  return problem;
}

bool AnalyticsPlugin::StartSdk(const EncodableMap& settings,
                               const AppInfo& app) {
  // The log switch reaches an SDK an earlier call made; a new one starts
  // with the store's messages off.
  if (sdk_ != nullptr) sdk_->EnableLog(enable_log_);
  const std::string* given_id =
      ReadOptional<std::string>(settings, "distinctId");
  std::string distinct_id = given_id != nullptr ? *given_id : std::string();
  if (distinct_id.empty()) distinct_id = AnonymousId();
  if (sdk_ == nullptr) {
    const bool* is_login_id = ReadOptional<bool>(settings, "isLoginId");
    sdk_ = Sdk::Create(
        platform::TempDirectory() / kStagingFileName, server_url_, distinct_id,
        is_login_id != nullptr && *is_login_id, kMaxStagingRecords);
    if (sdk_ == nullptr) return false;
  }
  PropertiesNode common;
  common.SetString("app_name", app.name);
  common.SetString("app_version", app.version);
  common.SetString("channel", app.channel);
  sdk_->RegisterSuperProperties(common);
  if (activate_) SendInstallEvent();
  Log("分析SDK初始化成功!");
  // The SDK keeps the server it was made with.
  if (sdk_->server_url() == server_url_) {
    Log("服务器地址: " + server_url_);
  } else {
    Log("分析SDK已初始化，继续使用服务器地址: " + sdk_->server_url());
  }
  Log("数据暂存文件: " + platform::PathText(sdk_->staging_file_path()));
  Log("默认用户ID: " + distinct_id);
  return true;
}

void AnalyticsPlugin::SendInstallEvent() const {
  // A failed install event never fails the initialisation.
  LogFailure("TrackInstallation error: ", Attempt([&] {
               sdk_->TrackInstallation(kInstallEventName, PropertiesNode());
               Log("TrackInstallation(AppInstall) sent");
             }));
}

AnalyticsPlugin::Answer AnalyticsPlugin::HandleTrackEvent(
    const EncodableValue* arguments, const ReplyPointer&) {
  const EncodableMap* map = AsMap(arguments);
  if (map == nullptr) return Answer::InvalidArguments();
  const EncodableValue* name_value = Find(*map, "eventName");
  if (name_value == nullptr) {
    return Answer::Error("MISSING_EVENT_NAME", "eventName is required");
  }
  const Read<std::string> name = AsRequired<std::string>(*name_value);
  if (!name.value) return Answer::Error("TRACK_EVENT_ERROR", name.problem);
  // Properties that are not a map count as none.
  const auto* entries = ReadOptional<EncodableMap>(*map, "properties");
  LogFailure("分析事件追踪失败: ", Attempt([&]() -> std::optional<std::string> {
               Read<PropertiesNode> properties =
                   ConvertProperties(entries, enable_log_, true);
               if (!properties.value) return properties.problem;
               sdk_->Track(*name.value, *properties.value);
               Log("分析事件追踪成功: " + *name.value);
               return std::nullopt;
             }));
  return Answer::Success(true);
}

AnalyticsPlugin::Answer AnalyticsPlugin::HandleSetUserProfile(
    const EncodableValue* arguments, const ReplyPointer&) {
  // Anything but a map of properties is no error here.
  const EncodableMap* map = AsMap(arguments);
  const auto* entries =
      map != nullptr ? ReadOptional<EncodableMap>(*map, "properties") : nullptr;
  if (entries == nullptr) return Answer::Success(true);
  LogFailure("分析用户属性设置失败: ",
             Attempt([&]() -> std::optional<std::string> {
               Read<PropertiesNode> properties =
                   ConvertProperties(entries, enable_log_, false);
               if (!properties.value) return properties.problem;
               sdk_->ProfileSet(*properties.value);
               Log("分析用户属性设置成功");
               return std::nullopt;
             }));
  return Answer::Success(true);
}

AnalyticsPlugin::Answer AnalyticsPlugin::HandleLogin(
    const EncodableValue* arguments, const ReplyPointer&) {
  const EncodableMap* map = AsMap(arguments);
  if (map == nullptr) return Answer::Success(true);
  LogFailure("分析用户登录失败: ", Attempt([&]() -> std::optional<std::string> {
               const Read<std::string> user_id =
                   ReadRequired<std::string>(*map, "userId");
               if (!user_id.problem.empty()) return user_id.problem;
               if (!user_id.value) return std::nullopt;
               sdk_->Login(*user_id.value);
               Log("分析用户登录成功: " + *user_id.value);
               return std::nullopt;
             }));
  return Answer::Success(true);
}

AnalyticsPlugin::Answer AnalyticsPlugin::HandleLogout(const EncodableValue*,
                                                      const ReplyPointer&) {
  LogFailure("分析用户登出失败: ", Attempt([&] {
               const std::string anonymous_id = AnonymousId();
               sdk_->Identify(anonymous_id, false);
               Log("分析用户登出成功，切换为匿名用户: " + anonymous_id);
             }));
  return Answer::Success(true);
}

AnalyticsPlugin::Answer AnalyticsPlugin::HandleFlush(
    const EncodableValue*, const ReplyPointer& reply) {
  const bool log = enable_log_;
  const std::optional<std::string> failure = Attempt([&] {
    const platform::UiTaskQueue::Poster poster = ui_tasks_.poster();
    sdk_->FlushAsync([poster, reply, log](bool flushed) {
      PostFlushAnswer(poster, reply, flushed, log);
    });
  });
  if (!failure) return Answer::Later();
  Log("分析数据上报异常: " + *failure);
  return Answer::Success(false);
}

}  // namespace analytics
