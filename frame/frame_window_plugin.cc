#include "frame/frame_window_plugin.h"

#include <string>
#include <utility>

#include "embedding/standard_codec.h"
#include "frame/frame_window.h"

namespace frame {

namespace {

constexpr char kChannelName[] = "frame/window";
constexpr char kDragAppWindowMethod[] = "dragAppWindow";
constexpr char kDragFailedCode[] = "ERROR_DRAG_APP_WINDOW_FAILED";
constexpr char kDragFailedMessage[] = "Could not drag app window";

}  // namespace

void FrameWindowPlugin::RegisterWithRegistrar(
    flutter::PluginRegistrarWindows* registrar) {
  auto channel = std::make_unique<flutter::MethodChannel>(
      registrar->messenger(), kChannelName,
      &flutter::StandardMethodCodec::GetInstance());
  auto plugin = std::make_unique<FrameWindowPlugin>(std::move(channel));
  FrameWindowPlugin* plugin_pointer = plugin.get();
  // The registrar owns the plugin for as long as the channel can deliver.
  plugin_pointer->channel_->SetMethodCallHandler(
      [plugin_pointer](const flutter::MethodCall& call,
                       std::unique_ptr<flutter::MethodResult> result) {
        plugin_pointer->HandleFrameMethodCall(call, std::move(result));
      });
  registrar->AddPlugin(std::move(plugin));
}

FrameWindowPlugin::FrameWindowPlugin(
    std::unique_ptr<flutter::MethodChannel> channel)
    : channel_(std::move(channel)) {}

FrameWindowPlugin::~FrameWindowPlugin() {
  // The engine must not keep a callback into a handler table that goes with
  // the registrar.
  channel_->SetMethodCallHandler(nullptr);
}

void FrameWindowPlugin::HandleFrameMethodCall(
    const flutter::MethodCall& call,
    std::unique_ptr<flutter::MethodResult> result) {
  if (call.method_name() != kDragAppWindowMethod) {
    result->NotImplemented();
    return;
  }
  // Runs the system's move loop and so returns once the move has ended:
  // callers take the answer for the end of the drag.
  if (DragAppWindowToEnd()) {
    result->Success();
  } else {
    result->Error(kDragFailedCode, kDragFailedMessage);
  }
}

}  // namespace frame

void FrameWindowPluginRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar) {
  flutter::PluginRegistrarWindows* windows_registrar =
      flutter::RegistrarManager::Instance()->GetRegistrar(registrar);
  if (windows_registrar == nullptr) return;
  frame::FrameWindowPlugin::RegisterWithRegistrar(windows_registrar);
}
