// The native end of the "analytics_plugin" channel: turns the user
// interface's method calls into calls of the process-wide analytics SDK and
// answers each call exactly once.
#ifndef QUILLON_ANALYTICS_PLUGIN_ANALYTICS_PLUGIN_H_
#define QUILLON_ANALYTICS_PLUGIN_ANALYTICS_PLUGIN_H_

#include <memory>
#include <string>

#include "embedding/encodable_value.h"
#include "embedding/flutter_windows.h"
#include "embedding/method_call.h"
#include "embedding/method_channel.h"
#include "embedding/method_result.h"
#include "embedding/plugin_registrar.h"
#include "platform/ui_task_queue.h"

namespace analytics {

class AnalyticsPlugin : public flutter::Plugin {
 public:
  // Attaches a new plugin to the engine's registrar for "AnalyticsPlugin":
  // installs the channel handler and hands the plugin to the registrar, which
  // owns it from then on. Does nothing for a null registrar.
  static void RegisterWithRegistrar(FlutterDesktopPluginRegistrarRef registrar);

  // Create on the UI thread: "flush" answers arrive there.
  AnalyticsPlugin();
  // Stops the SDK's upload worker (a batch on its way stays staged); a
  // "flush" still running then gets no answer.
  ~AnalyticsPlugin() override;

  AnalyticsPlugin(const AnalyticsPlugin&) = delete;
  AnalyticsPlugin& operator=(const AnalyticsPlugin&) = delete;

  // Dispatches by exact method name: "initialize", "trackEvent",
  // "setUserProfile", "login", "logout", "flush"; anything else is answered
  // not-implemented. Never throws.
  void HandleMethodCall(const flutter::MethodCall& call,
                        std::unique_ptr<flutter::MethodResult> result);

 private:
  // Each handler answers |result| exactly once and lets no standard
  // exception out. |arguments| may be null.
  void HandleInitialize(const flutter::EncodableValue* arguments,
                        flutter::MethodResult& result);
  void HandleTrackEvent(const flutter::EncodableValue* arguments,
                        flutter::MethodResult& result);
  void HandleSetUserProfile(const flutter::EncodableValue* arguments,
                            flutter::MethodResult& result);
  void HandleLogin(const flutter::EncodableValue* arguments,
                   flutter::MethodResult& result);
  void HandleLogout(flutter::MethodResult& result);
  // Hands the flush to the SDK's worker and returns at once; the answer is
  // sent later on this plugin's thread.
  void HandleFlush(std::unique_ptr<flutter::MethodResult> result);

  // False (after answering "NOT_INITIALIZED") before a successful
  // "initialize".
  bool CheckInitialized(flutter::MethodResult& result) const;

  // Writes |line| to standard output, with a line end and a flush, while
  // logging is on.
  void Log(const std::string& line) const;

  // Set when registered; its handler is cleared when the plugin goes.
  std::unique_ptr<flutter::MethodChannel> channel_;
  bool initialized_ = false;
  std::string server_url_;
  bool enable_log_ = false;
  bool activate_ = false;
  // Carries "flush" answers from the SDK's worker to the UI thread.
  platform::UiTaskQueue ui_tasks_;
};

}  // namespace analytics

#endif  // QUILLON_ANALYTICS_PLUGIN_ANALYTICS_PLUGIN_H_
