// The native end of the "analytics_plugin" channel: turns the user
// interface's method calls into calls of the analytics SDK the plugin owns
// and answers each call exactly once.
#ifndef QUILLON_ANALYTICS_PLUGIN_ANALYTICS_PLUGIN_H_
#define QUILLON_ANALYTICS_PLUGIN_ANALYTICS_PLUGIN_H_

#include <memory>
#include <string>
#include <variant>

#include "analytics/plugin/plugin_result.h"
#include "embedding/encodable_value.h"
#include "embedding/method_call.h"
#include "embedding/method_channel.h"
#include "embedding/method_result.h"
#include "embedding/plugin_registrar.h"
#include "interfaces/flutter_windows.h"
#include "platform/ui_task_queue.h"

namespace analytics {

class Sdk;

// What a handler answers when it does not fail.
enum class AnswerKind { kTrue, kFalse, kLater };

class AnalyticsPlugin : public flutter::Plugin {
 public:
  // Attaches a new plugin to the engine's registrar for "AnalyticsPlugin":
  // installs the channel handler and hands the plugin to the registrar, which
  // owns it from then on. Returns the plugin, or null (doing nothing) for a
  // null registrar.
  static AnalyticsPlugin* RegisterWithRegistrar(
      FlutterDesktopPluginRegistrarRef registrar);

  // Create on the UI thread: "flush" answers arrive there.
  AnalyticsPlugin();
  // Destroys the SDK first, which stops its upload worker (a batch on its
  // way stays staged); a "flush" still running then gets no answer.
  ~AnalyticsPlugin() override;

  AnalyticsPlugin(const AnalyticsPlugin&) = delete;
  AnalyticsPlugin& operator=(const AnalyticsPlugin&) = delete;

  // Dispatches by exact method name: "initialize", "trackEvent",
  // "setUserProfile", "login", "logout", "flush"; anything else is answered
  // not-implemented. Never throws.
  void HandleMethodCall(const flutter::MethodCall& call,
                        std::unique_ptr<flutter::MethodResult> result);

  // The SDK the first successful "initialize" made, or null before it.
  Sdk* sdk() { return sdk_.get(); }

 private:
  // What a handler answers: success with true or false, an error (its
  // Failure), or nothing yet (the handler answers later itself).
  using Answer = PluginResult<AnswerKind>;
  // The settings of "initialize" that only reach the SDK as properties.
  struct AppInfo;
  // Shared: a "flush" answer is sent later by a copyable task.
  using ReplyPointer = std::shared_ptr<flutter::MethodResult>;
  // |arguments| may be null. |reply| is for handlers that answer later.
  using Handler = Answer (AnalyticsPlugin::*)(
      const flutter::EncodableValue* arguments, const ReplyPointer& reply);
  // One channel method and how its call is handled.
  struct Method;

  // The method named |name| exactly, or null.
  static const Method* FindMethod(const std::string& name);

  Answer HandleInitialize(const flutter::EncodableValue* arguments,
                          const ReplyPointer& reply);
  Answer HandleTrackEvent(const flutter::EncodableValue* arguments,
                          const ReplyPointer& reply);
  Answer HandleSetUserProfile(const flutter::EncodableValue* arguments,
                              const ReplyPointer& reply);
  Answer HandleLogin(const flutter::EncodableValue* arguments,
                     const ReplyPointer& reply);
  Answer HandleLogout(const flutter::EncodableValue* arguments,
                      const ReplyPointer& reply);
  // Hands the flush to the SDK's worker and returns at once; |reply| gets
  // its answer later on this plugin's thread.
  Answer HandleFlush(const flutter::EncodableValue* arguments,
                     const ReplyPointer& reply);

  // Takes the typed settings of |settings| into the fields and *app, in
  // order; at a value of another type stops and fails, keeping what it took.
  PluginResult<std::monostate> TakeSettings(
      const flutter::EncodableMap& settings, AppInfo* app);
  // The part of "initialize" that may throw: makes the SDK (once) and
  // configures it. False when the SDK refuses the distinct id.
  bool StartSdk(const flutter::EncodableMap& settings, const AppInfo& app);
  // Sends the install event; a failure is only logged.
  void SendInstallEvent() const;

  // Writes |line| to standard output, with a line end and a flush, while
  // logging is on.
  void Log(const std::string& line) const;
  // Logs |prefix| followed by the failure's text when |status| failed.
  void LogFailure(const char* prefix,
                  const PluginResult<std::monostate>& status) const;

  // Set when registered; its handler is cleared when the plugin goes.
  std::unique_ptr<flutter::MethodChannel> channel_;
  // Kept for the plugin's life: a later "initialize" configures this one.
  std::unique_ptr<Sdk> sdk_;
  std::string server_url_;
  bool enable_log_ = false;
  bool activate_ = false;
  // Carries "flush" answers from the SDK's worker to the UI thread.
  platform::UiTaskQueue ui_tasks_;
};

}  // namespace analytics

#endif  // QUILLON_ANALYTICS_PLUGIN_ANALYTICS_PLUGIN_H_
