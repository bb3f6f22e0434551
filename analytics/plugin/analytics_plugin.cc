#include "analytics/plugin/analytics_plugin.h"

#include <cstdint>
#include <exception>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>

#include "analytics/plugin/plugin_result.h"
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
const Failure kInvalidArguments{"Arguments must be a map", "INVALID_ARGUMENTS"};

using Status = PluginResult<std::monostate>;

// What a value of another type than the one required is answered with: the
// text of the standard variant-access exception, as std::get would throw it.
const std::string& WrongTypeText() {
  static const std::string text = std::bad_variant_access().what();
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

// |value|, which must hold a T.
template <typename T>
PluginResult<T> AsRequired(const EncodableValue& value) {
  if (const T* typed = std::get_if<T>(&value)) return *typed;
  return Failure{WrongTypeText()};
}

// The value under |key|, which must hold a T when present; no value when
// absent.
template <typename T>
PluginResult<std::optional<T>> ReadRequired(const EncodableMap& map,
                                            const char* key) {
  const EncodableValue* value = Find(map, key);
  if (value == nullptr) return std::optional<T>();
  PluginResult<T> typed = AsRequired<T>(*value);
  if (!typed.ok()) return typed.failure();
  return std::optional<T>(std::move(typed.value()));
}

// The value under |key| when it is present and holds a T; null otherwise.
template <typename T>
const T* ReadOptional(const EncodableMap& map, const char* key) {
  const EncodableValue* value = Find(map, key);
  return value == nullptr ? nullptr : std::get_if<T>(value);
}

// Sets *field from |key| when present.
template <typename T>
Status Take(const EncodableMap& map, const char* key, T* field) {
  PluginResult<std::optional<T>> read = ReadRequired<T>(map, key);
  if (!read.ok()) return read.failure();
  if (read.value()) *field = std::move(*read.value());
  return std::monostate();
}

// Runs |step|, which calls into the SDK. The SDK reports failures by
// standard exceptions; here they become the step's failure, with their text.
template <typename Step>
Status CallSdk(const Step& step) {
  try {
    return step();
  } catch (const std::exception& error) {
    return Failure{error.what()};
  }
}

std::string AnonymousId() {
  return kAnonymousIdPrefix + std::to_string(platform::CurrentTimeSeconds());
}

// The properties of |entries|, or why not: a key that is not a string. With
// |log|, writes a line per skipped value, and with |log_entries| a line per
// entry before it.
PluginResult<PropertiesNode> ConvertProperties(const EncodableMap* entries,
                                               bool log, bool log_entries) {
  PropertiesNode properties;
  if (entries == nullptr) return properties;
  for (const auto& entry : *entries) {
    const auto* key = std::get_if<std::string>(&entry.first);
    if (key == nullptr) return Failure{WrongTypeText()};
    const std::string skipped = SetProperty(*key, entry.second, &properties);
    if (log && log_entries) LogProperty(*key, entry.second);
    if (log) LogSkipped(*key, skipped);
  }
  return properties;
}

// Reports a failure in |method| that no answer can carry.
void ReportUnexpected(const std::string& method) {
  std::cerr << "analytics_plugin: unexpected exception in " << method
            << std::endl;
}

// Answers |code| with |message| after an unexpected standard exception; a
// failure of that reply too is only reported.
void AnswerFailure(MethodResult& result, const char* code,
                   const std::string& message,
                   const std::string& method) noexcept {
  try {
    result.Error(code, message);
  } catch (...) {
    ReportUnexpected(method);
  }
}

// Sends |answer| to |result|; a failure without a code of its own carries
// |method_code|. A later answer sends nothing now.
void SendAnswer(const PluginResult<AnswerKind>& answer, const char* method_code,
                MethodResult& result) {
  if (!answer.ok()) {
    const Failure& failure = answer.failure();
    result.Error(failure.code.empty() ? method_code : failure.code,
                 failure.message);
  } else if (answer.value() != AnswerKind::kLater) {
    result.Success(EncodableValue(answer.value() == AnswerKind::kTrue));
  }
}

// Sends the result of a flush; runs as a task of the UI thread's message
// loop, so nothing may leave it.
void AnswerFlush(MethodResult& result, bool flushed, bool log) noexcept {
  try {
    if (log) {
      std::cout << (flushed ? "分析数据上报成功" : "分析数据上报失败")
                << std::endl;
    }
    result.Success(EncodableValue(flushed));
  } catch (const std::exception& error) {
    AnswerFailure(result, "FLUSH_ERROR", error.what(), "flush");
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
  // Set once a handler runs: from then on an unexpected exception is
  // answered with the method's code.
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
      SendAnswer((this->*method->handler)(call.arguments(), reply),
                 method->error_code, *reply);
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
    const char* prefix, const PluginResult<std::monostate>& status) const {
  if (!status.ok()) Log(prefix + status.failure().message);
}

AnalyticsPlugin::Answer AnalyticsPlugin::HandleInitialize(
    const EncodableValue* arguments, const ReplyPointer&) {
  const EncodableMap* settings = AsMap(arguments);
  if (settings == nullptr) return kInvalidArguments;
  AppInfo app;
  const Status taken = TakeSettings(*settings, &app);
  if (!taken.ok()) return taken.failure();
  bool started = false;
  const Status call = CallSdk([&] {
    started = StartSdk(*settings, app);
    return Status(std::monostate());
  });
  if (!call.ok()) {
    return Failure{"SDK初始化异常: " + call.failure().message,
                   "SDK_INIT_ERROR"};
  }
  if (!started) return Failure{"分析SDK初始化失败", "SDK_INIT_FAILED"};
  return AnswerKind::kTrue;
}

PluginResult<std::monostate> AnalyticsPlugin::TakeSettings(
    const EncodableMap& settings, AppInfo* app) {
  Status status = Take(settings, "serverUrl", &server_url_);
  if (status.ok()) status = Take(settings, "enableLog", &enable_log_);
  if (status.ok()) status = Take(settings, "activate", &activate_);
  if (status.ok()) status = Take(settings, "appName", &app->name);
  if (status.ok()) status = Take(settings, "appVersion", &app->version);
  if (status.ok()) status = Take(settings, "channel", &app->channel);
  return status;
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
  LogFailure("TrackInstallation error: ", CallSdk([&] {
               sdk_->TrackInstallation(kInstallEventName, PropertiesNode());
               Log("TrackInstallation(AppInstall) sent");
               return Status(std::monostate());
             }));
}

AnalyticsPlugin::Answer AnalyticsPlugin::HandleTrackEvent(
    const EncodableValue* arguments, const ReplyPointer&) {
  const EncodableMap* map = AsMap(arguments);
  if (map == nullptr) return kInvalidArguments;
  const EncodableValue* name_value = Find(*map, "eventName");
  if (name_value == nullptr) {
    return Failure{"eventName is required", "MISSING_EVENT_NAME"};
  }
  const PluginResult<std::string> name = AsRequired<std::string>(*name_value);
  if (!name.ok()) return name.failure();
  // Properties that are not a map count as none.
  const auto* entries = ReadOptional<EncodableMap>(*map, "properties");
  LogFailure("分析事件追踪失败: ", CallSdk([&]() -> Status {
               PluginResult<PropertiesNode> properties =
                   ConvertProperties(entries, enable_log_, true);
               if (!properties.ok()) return properties.failure();
               sdk_->Track(name.value(), properties.value());
               Log("分析事件追踪成功: " + name.value());
               return std::monostate();
             }));
  return AnswerKind::kTrue;
}

AnalyticsPlugin::Answer AnalyticsPlugin::HandleSetUserProfile(
    const EncodableValue* arguments, const ReplyPointer&) {
  // Anything but a map of properties is no error here.
  const EncodableMap* map = AsMap(arguments);
  const auto* entries =
      map != nullptr ? ReadOptional<EncodableMap>(*map, "properties") : nullptr;
  if (entries == nullptr) return AnswerKind::kTrue;
  LogFailure("分析用户属性设置失败: ", CallSdk([&]() -> Status {
               PluginResult<PropertiesNode> properties =
                   ConvertProperties(entries, enable_log_, false);
               if (!properties.ok()) return properties.failure();
               sdk_->ProfileSet(properties.value());
               Log("分析用户属性设置成功");
               return std::monostate();
             }));
  return AnswerKind::kTrue;
}

AnalyticsPlugin::Answer AnalyticsPlugin::HandleLogin(
    const EncodableValue* arguments, const ReplyPointer&) {
  const EncodableMap* map = AsMap(arguments);
  if (map == nullptr) return AnswerKind::kTrue;
  LogFailure("分析用户登录失败: ", CallSdk([&]() -> Status {
               const PluginResult<std::optional<std::string>> user_id =
                   ReadRequired<std::string>(*map, "userId");
               if (!user_id.ok()) return user_id.failure();
               if (!user_id.value()) return std::monostate();
               sdk_->Login(*user_id.value());
               Log("分析用户登录成功: " + *user_id.value());
               return std::monostate();
             }));
  return AnswerKind::kTrue;
}

AnalyticsPlugin::Answer AnalyticsPlugin::HandleLogout(const EncodableValue*,
                                                      const ReplyPointer&) {
  LogFailure("分析用户登出失败: ", CallSdk([&] {
               const std::string anonymous_id = AnonymousId();
               sdk_->Identify(anonymous_id, false);
               Log("分析用户登出成功，切换为匿名用户: " + anonymous_id);
               return Status(std::monostate());
             }));
  return AnswerKind::kTrue;
}

AnalyticsPlugin::Answer AnalyticsPlugin::HandleFlush(
    const EncodableValue*, const ReplyPointer& reply) {
  const bool log = enable_log_;
  const Status handed = CallSdk([&] {
    const platform::UiTaskQueue::Poster poster = ui_tasks_.poster();
    sdk_->FlushAsync([poster, reply, log](bool flushed) {
      PostFlushAnswer(poster, reply, flushed, log);
    });
    return Status(std::monostate());
  });
  if (handed.ok()) return AnswerKind::kLater;
  Log("分析数据上报异常: " + handed.failure().message);
  return AnswerKind::kFalse;
}

}  // namespace analytics
