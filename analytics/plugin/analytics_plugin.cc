#include "analytics/plugin/analytics_plugin.h"

#include <cstdint>
#include <exception>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "analytics/sdk/properties_node.h"
#include "analytics/sdk/sdk.h"
#include "embedding/method_channel.h"
#include "embedding/standard_codec.h"
#include "platform/clock.h"
#include "platform/temp_directory.h"

namespace analytics {

namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using flutter::MethodResult;

constexpr char kChannelName[] = "analytics_plugin";
constexpr char kStagingFileName[] = "/analytics_data.json";
constexpr char kAnonymousIdPrefix[] = "anonymous_user_";
constexpr int32_t kMaxStagingRecords = 1000;
constexpr char kInstallEventName[] = "AppInstall";

constexpr char kNotInitializedCode[] = "NOT_INITIALIZED";
constexpr char kNotInitializedMessage[] = "Analytics not initialized";
constexpr char kInvalidArgumentsCode[] = "INVALID_ARGUMENTS";
constexpr char kInvalidArgumentsMessage[] = "Arguments must be a map";

// The map held by |arguments|, or null when they are absent or not a map.
const EncodableMap* AsMap(const EncodableValue* arguments) {
  return arguments == nullptr ? nullptr : std::get_if<EncodableMap>(arguments);
}

// The value under the string key |key|, or null when there is none.
const EncodableValue* Find(const EncodableMap& map, const char* key) {
  auto entry = map.find(EncodableValue(std::string(key)));
  return entry == map.end() ? nullptr : &entry->second;
}

// Required type: throws std::bad_variant_access for another alternative.
template <typename T>
const T& Required(const EncodableValue& value) {
  return std::get<T>(value);
}

// Optional type: null when absent or of another alternative.
template <typename T>
const T* Optional(const EncodableValue* value) {
  return value == nullptr ? nullptr : std::get_if<T>(value);
}

std::string AnonymousId() {
  return kAnonymousIdPrefix + std::to_string(platform::CurrentTimeSeconds());
}

// Why |text| cannot be a string property value, by the rules SetString
// applies; empty when it can.
std::string StringProblem(const std::string& text) {
  if (text.size() > MAX_STRING_PROPERTY_LENGTH) {
    return "longer than " + std::to_string(MAX_STRING_PROPERTY_LENGTH) +
           " bytes";
  }
  if (!utils::IsValidUtf8(text)) return "not valid UTF-8";
  return std::string();
}

// The elements of |list| when every one is a string, else nothing.
std::optional<std::vector<std::string>> StringElements(
    const EncodableList& list) {
  std::vector<std::string> elements;
  elements.reserve(list.size());
  for (const EncodableValue& element : list) {
    const auto* text = std::get_if<std::string>(&element);
    if (text == nullptr) return std::nullopt;
    elements.push_back(*text);
  }
  return elements;
}

// Why a list of strings cannot be a LIST property; empty when it can.
std::string ListProblem(const std::vector<std::string>& elements) {
  for (size_t i = 0; i < elements.size(); ++i) {
    const std::string problem = StringProblem(elements[i]);
    if (!problem.empty()) {
      return "list element " + std::to_string(i) + " is " + problem;
    }
  }
  return std::string();
}

// What the value of |value| is, for a skip reason.
const char* AlternativeName(const EncodableValue& value) {
  static constexpr const char* kNames[] = {
      "null",   "bool",       "int32",      "int64",      "double",
      "string", "uint8 list", "int32 list", "int64 list", "double list",
      "list",   "map",        "custom",     "float list"};
  const size_t index = value.index();
  return index < std::size(kNames) ? kNames[index] : "unknown";
}

// Sets the property of |key| from a string, integer, double, bool or list
// of strings. Returns why the value was left out, or an empty string when
// it was set.
std::string SetProperty(const std::string& key, const EncodableValue& value,
                        PropertiesNode* node) {
  if (const auto* text = std::get_if<std::string>(&value)) {
    // SetString says on std::cerr why it refuses a value.
    node->SetString(key, *text);
    const std::string problem = StringProblem(*text);
    return problem.empty() ? problem : "string " + problem;
  }
  if (const auto* integer = std::get_if<int64_t>(&value)) {
    node->SetInt(key, *integer);
  } else if (const auto* small = std::get_if<int32_t>(&value)) {
    node->SetInt(key, *small);
  } else if (const auto* number = std::get_if<double>(&value)) {
    node->SetNumber(key, *number);
  } else if (const auto* flag = std::get_if<bool>(&value)) {
    node->SetBool(key, *flag);
  } else if (const auto* list = std::get_if<EncodableList>(&value)) {
    const std::optional<std::vector<std::string>> elements =
        StringElements(*list);
    if (!elements) return "a list with an element that is not a string";
    const std::string problem = ListProblem(*elements);
    if (!problem.empty()) return problem;
    node->SetList(key, *elements);
  } else {
    return std::string("unsupported value type ") + AlternativeName(value);
  }
  return std::string();
}

// Writes "属性: <key> = <value>" with the value as the console formats it, a
// list of strings as [a, b]; nothing after " = " for another alternative.
void LogProperty(const std::string& key, const EncodableValue& value) {
  std::cout << "属性: " << key << " = ";
  if (const auto* text = std::get_if<std::string>(&value)) {
    std::cout << *text;
  } else if (const auto* integer = std::get_if<int64_t>(&value)) {
    std::cout << *integer;
  } else if (const auto* small = std::get_if<int32_t>(&value)) {
    std::cout << *small;
  } else if (const auto* number = std::get_if<double>(&value)) {
    std::cout << *number;
  } else if (const auto* flag = std::get_if<bool>(&value)) {
    std::cout << (*flag ? "true" : "false");
  } else if (const auto* list = std::get_if<EncodableList>(&value)) {
    if (const auto elements = StringElements(*list)) {
      const char* separator = "";
      std::cout << '[';
      for (const std::string& element : *elements) {
        std::cout << separator << element;
        separator = ", ";
      }
      std::cout << ']';
    }
  }
  std::cout << std::endl;
}

// Writes "属性已跳过: <key> (<reason>)" when |reason| says a value was left
// out.
void LogSkipped(const std::string& key, const std::string& reason) {
  if (reason.empty()) return;
  std::cout << "属性已跳过: " << key << " (" << reason << ")" << std::endl;
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
    std::cerr << "analytics_plugin: unexpected exception in flush" << std::endl;
  }
}

}  // namespace

void AnalyticsPlugin::RegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar) {
  flutter::PluginRegistrarWindows* windows_registrar =
      flutter::RegistrarManager::Instance()->GetRegistrar(registrar);
  if (windows_registrar == nullptr) return;
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
}

AnalyticsPlugin::AnalyticsPlugin() = default;

AnalyticsPlugin::~AnalyticsPlugin() {
  // The engine must not keep a callback into a handler table that goes with
  // the registrar.
  if (channel_ != nullptr) {
    channel_->SetMethodCallHandler(nullptr);
  }
  // The window is closing: the process must be able to end at once.
  Sdk::StopBackgroundWork();
}

void AnalyticsPlugin::HandleMethodCall(const flutter::MethodCall& call,
                                       std::unique_ptr<MethodResult> result) {
  // Runs inside the engine's C callback: nothing may unwind into it. The
  // handlers catch standard exceptions themselves; this is the last guard.
  try {
    const std::string& method = call.method_name();
    const EncodableValue* arguments = call.arguments();
    if (method == "initialize") {
      HandleInitialize(arguments, *result);
    } else if (method == "trackEvent") {
      HandleTrackEvent(arguments, *result);
    } else if (method == "setUserProfile") {
      HandleSetUserProfile(arguments, *result);
    } else if (method == "login") {
      HandleLogin(arguments, *result);
    } else if (method == "logout") {
      HandleLogout(*result);
    } else if (method == "flush") {
      HandleFlush(std::move(result));
    } else {
      result->NotImplemented();
    }
  } catch (...) {
    std::cerr << "analytics_plugin: unexpected exception in "
              << call.method_name() << std::endl;
  }
}

bool AnalyticsPlugin::CheckInitialized(MethodResult& result) const {
  if (initialized_) return true;
  result.Error(kNotInitializedCode, kNotInitializedMessage);
  return false;
}

void AnalyticsPlugin::Log(const std::string& line) const {
  if (enable_log_) std::cout << line << std::endl;
}

void AnalyticsPlugin::HandleInitialize(const EncodableValue* arguments,
                                       MethodResult& result) {
  const EncodableMap* map = AsMap(arguments);
  if (map == nullptr) {
    result.Error(kInvalidArgumentsCode, kInvalidArgumentsMessage);
    return;
  }
  try {
    const EncodableValue* server_url = Find(*map, "serverUrl");
    const EncodableValue* enable_log = Find(*map, "enableLog");
    const EncodableValue* activate = Find(*map, "activate");
    const EncodableValue* app_name = Find(*map, "appName");
    const EncodableValue* app_version = Find(*map, "appVersion");
    const EncodableValue* channel = Find(*map, "channel");
    // Fields set here stay set when a later step fails.
    if (server_url != nullptr) server_url_ = Required<std::string>(*server_url);
    if (enable_log != nullptr) enable_log_ = Required<bool>(*enable_log);
    if (activate != nullptr) activate_ = Required<bool>(*activate);
    const std::string app_name_text =
        app_name != nullptr ? Required<std::string>(*app_name) : std::string();
    const std::string app_version_text =
        app_version != nullptr ? Required<std::string>(*app_version)
                               : std::string();
    const std::string channel_text =
        channel != nullptr ? Required<std::string>(*channel) : std::string();

    bool refused = false;
    std::string sdk_error;
    try {
      Sdk::EnableLog(enable_log_);
      const std::string staging_path =
          platform::TempDirectory() + kStagingFileName;
      const std::string* given_id =
          Optional<std::string>(Find(*map, "distinctId"));
      std::string distinct_id = given_id != nullptr ? *given_id : "";
      const bool* given_is_login_id = Optional<bool>(Find(*map, "isLoginId"));
      const bool is_login_id =
          given_is_login_id != nullptr ? *given_is_login_id : false;
      if (distinct_id.empty()) distinct_id = AnonymousId();

      if (!Sdk::Init(staging_path, server_url_, distinct_id, is_login_id,
                     kMaxStagingRecords)) {
        refused = true;
      } else {
        initialized_ = true;
        PropertiesNode common;
        common.SetString("app_name", app_name_text);
        common.SetString("app_version", app_version_text);
        common.SetString("channel", channel_text);
        Sdk::RegisterSuperProperties(common);
        if (activate_) {
          // A failed install event never fails the initialisation.
          try {
            Sdk::TrackInstallation(kInstallEventName, PropertiesNode());
            Log("TrackInstallation(AppInstall) sent");
          } catch (const std::exception& error) {
            Log(std::string("TrackInstallation error: ") + error.what());
          }
        }
        Log("分析SDK初始化成功!");
        Log("服务器地址: " + server_url_);
        Log("数据暂存文件: " + staging_path);
        Log("默认用户ID: " + distinct_id);
      }
    } catch (const std::exception& error) {
      sdk_error = std::string("SDK初始化异常: ") + error.what();
    }
    if (!sdk_error.empty()) {
      result.Error("SDK_INIT_ERROR", sdk_error);
      return;
    }
    if (refused) {
      result.Error("SDK_INIT_FAILED", "分析SDK初始化失败");
      return;
    }
    result.Success(EncodableValue(true));
  } catch (const std::exception& error) {
    result.Error("INITIALIZATION_ERROR", error.what());
  }
}

void AnalyticsPlugin::HandleTrackEvent(const EncodableValue* arguments,
                                       MethodResult& result) {
  if (!CheckInitialized(result)) return;
  const EncodableMap* map = AsMap(arguments);
  if (map == nullptr) {
    result.Error(kInvalidArgumentsCode, kInvalidArgumentsMessage);
    return;
  }
  try {
    const EncodableValue* event_name_value = Find(*map, "eventName");
    const EncodableValue* properties_value = Find(*map, "properties");
    if (event_name_value == nullptr) {
      result.Error("MISSING_EVENT_NAME", "eventName is required");
      return;
    }
    const std::string& event_name = Required<std::string>(*event_name_value);
    try {
      PropertiesNode properties;
      if (const auto* entries = Optional<EncodableMap>(properties_value)) {
        for (const auto& entry : *entries) {
          const std::string& key = Required<std::string>(entry.first);
          const std::string skipped =
              SetProperty(key, entry.second, &properties);
          if (enable_log_) {
            LogProperty(key, entry.second);
            LogSkipped(key, skipped);
          }
        }
      }
      Sdk::Track(event_name, properties);
      Log("分析事件追踪成功: " + event_name);
    } catch (const std::exception& error) {
      Log(std::string("分析事件追踪失败: ") + error.what());
    }
    result.Success(EncodableValue(true));
  } catch (const std::exception& error) {
    result.Error("TRACK_EVENT_ERROR", error.what());
  }
}

void AnalyticsPlugin::HandleSetUserProfile(const EncodableValue* arguments,
                                           MethodResult& result) {
  if (!CheckInitialized(result)) return;
  try {
    const EncodableMap* map = AsMap(arguments);
    const EncodableMap* entries =
        map != nullptr ? Optional<EncodableMap>(Find(*map, "properties"))
                       : nullptr;
    if (entries != nullptr) {
      try {
        PropertiesNode properties;
        for (const auto& entry : *entries) {
          const std::string& key = Required<std::string>(entry.first);
          const std::string skipped =
              SetProperty(key, entry.second, &properties);
          if (enable_log_) LogSkipped(key, skipped);
        }
        Sdk::ProfileSet(properties);
        Log("分析用户属性设置成功");
      } catch (const std::exception& error) {
        Log(std::string("分析用户属性设置失败: ") + error.what());
      }
    }
    result.Success(EncodableValue(true));
  } catch (const std::exception& error) {
    result.Error("SET_USER_PROFILE_ERROR", error.what());
  }
}

void AnalyticsPlugin::HandleLogin(const EncodableValue* arguments,
                                  MethodResult& result) {
  if (!CheckInitialized(result)) return;
  try {
    const EncodableMap* map = AsMap(arguments);
    if (map != nullptr) {
      try {
        const EncodableValue* user_id = Find(*map, "userId");
        if (user_id != nullptr) {
          const std::string& login_id = Required<std::string>(*user_id);
          Sdk::Login(login_id);
          Log("分析用户登录成功: " + login_id);
        }
      } catch (const std::exception& error) {
        Log(std::string("分析用户登录失败: ") + error.what());
      }
    }
    result.Success(EncodableValue(true));
  } catch (const std::exception& error) {
    result.Error("LOGIN_ERROR", error.what());
  }
}

void AnalyticsPlugin::HandleLogout(MethodResult& result) {
  if (!CheckInitialized(result)) return;
  try {
    const int64_t seconds = platform::CurrentTimeSeconds();
    try {
      const std::string anonymous_id =
          kAnonymousIdPrefix + std::to_string(seconds);
      Sdk::Identify(anonymous_id, false);
      Log("分析用户登出成功，切换为匿名用户: " + anonymous_id);
    } catch (const std::exception& error) {
      Log(std::string("分析用户登出失败: ") + error.what());
    }
    result.Success(EncodableValue(true));
  } catch (const std::exception& error) {
    result.Error("LOGOUT_ERROR", error.what());
  }
}

void AnalyticsPlugin::HandleFlush(std::unique_ptr<MethodResult> result) {
  if (!CheckInitialized(*result)) return;
  // Shared: the worker's callback and the UI task are copyable functions.
  std::shared_ptr<MethodResult> reply(std::move(result));
  try {
    const bool log = enable_log_;
    const platform::UiTaskQueue::Poster poster = ui_tasks_.poster();
    // Runs on the worker; the answer goes to the UI thread, or nowhere when
    // the plugin (and with it the engine) is gone by then.
    Sdk::FlushAsync([poster, reply, log](bool flushed) {
      poster.Post([reply, log, flushed] { AnswerFlush(*reply, flushed, log); });
    });
  } catch (const std::exception& error) {
    Log(std::string("分析数据上报异常: ") + error.what());
    reply->Success(EncodableValue(false));
  }
}

}  // namespace analytics
