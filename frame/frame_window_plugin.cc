#include "frame/frame_window_plugin.h"

#include <cmath>
#include <cstdio>
#include <exception>
#include <string>
#include <utility>

#include "embedding/encodable_value.h"
#include "embedding/standard_codec.h"
#include "frame/frame_window.h"

namespace frame {

namespace {

constexpr char kChannelName[] = "frame/window";
constexpr char kDragAppWindowMethod[] = "dragAppWindow";
constexpr char kDragFailedCode[] = "ERROR_DRAG_APP_WINDOW_FAILED";
constexpr char kDragFailedMessage[] = "Could not drag app window";
constexpr char kSetMaximizeButtonBoundsMethod[] = "setMaximizeButtonBounds";
constexpr char kMaximizeButtonStateMethod[] = "maximizeButtonState";
constexpr char kInvalidArgumentsCode[] = "ERROR_INVALID_ARGUMENTS";
// Far beyond any screen, and small enough that no DPI overflows a pixel
// coordinate.
constexpr double kLargestCoordinate = 1e6;

// The plugin that hears the button's states; one main window, one plugin.
FrameWindowPlugin* listening_plugin = nullptr;

// A number of the map, integer or floating; false when absent or not one.
bool NumberOf(const flutter::EncodableMap& map, const char* key,
              double* number) {
  const auto found = map.find(flutter::EncodableValue(key));
  if (found == map.end()) return false;
  const flutter::EncodableValue& value = found->second;
  if (const auto* small = std::get_if<int32_t>(&value)) {
    *number = *small;
  } else if (const auto* large = std::get_if<int64_t>(&value)) {
    *number = static_cast<double>(*large);
  } else if (const auto* real = std::get_if<double>(&value)) {
    *number = *real;
  } else {
    return false;
  }
  return std::isfinite(*number) && std::fabs(*number) <= kLargestCoordinate;
}

// The bounds in |arguments|; an empty text when they are usable, else what
// is wrong with them.
std::string ReadBounds(const flutter::EncodableValue& arguments,
                       MaximizeButtonBounds* bounds) {
  const auto* map = std::get_if<flutter::EncodableMap>(&arguments);
  if (map == nullptr) return "expected a map or null";
  if (!NumberOf(*map, "left", &bounds->left) ||
      !NumberOf(*map, "top", &bounds->top) ||
      !NumberOf(*map, "width", &bounds->width) ||
      !NumberOf(*map, "height", &bounds->height)) {
    return "left, top, width and height must be finite numbers";
  }
  if (bounds->width <= 0 || bounds->height <= 0) {
    return "width and height must be positive";
  }
  return std::string();
}

void SetMaximizeButton(const flutter::EncodableValue* arguments,
                       flutter::MethodResult& result) {
  if (arguments == nullptr || arguments->IsNull()) {
    SetMaximizeButtonBounds(nullptr);
    result.Success();
    return;
  }
  MaximizeButtonBounds bounds{};
  const std::string problem = ReadBounds(*arguments, &bounds);
  if (!problem.empty()) {
    result.Error(kInvalidArgumentsCode, problem);
    return;
  }
  SetMaximizeButtonBounds(&bounds);
  result.Success();
}

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
  listening_plugin = plugin_pointer;
  SetMaximizeButtonListener(&FrameWindowPlugin::SendMaximizeButtonState);
}

FrameWindowPlugin::FrameWindowPlugin(
    std::unique_ptr<flutter::MethodChannel> channel)
    : channel_(std::move(channel)) {}

FrameWindowPlugin::~FrameWindowPlugin() {
  // The engine must not keep a callback into a handler table that goes with
  // the registrar.
  channel_->SetMethodCallHandler(nullptr);
  if (listening_plugin == this) {
    listening_plugin = nullptr;
    SetMaximizeButtonListener(nullptr);
  }
}

void FrameWindowPlugin::SendMaximizeButtonState(bool hovered, bool pressed) {
  if (listening_plugin == nullptr) return;
  // Called from the window procedure: nothing may unwind into the system.
  try {
    listening_plugin->channel_->InvokeMethod(
        kMaximizeButtonStateMethod,
        std::make_unique<flutter::EncodableValue>(
            flutter::EncodableMap{{flutter::EncodableValue("hovered"),
                                   flutter::EncodableValue(hovered)},
                                  {flutter::EncodableValue("pressed"),
                                   flutter::EncodableValue(pressed)}}));
  } catch (const std::exception& error) {
    std::fprintf(stderr, "Maximise button state not sent: %s\n", error.what());
    std::fflush(stderr);
  } catch (...) {
    std::fputs("Maximise button state not sent\n", stderr);
    std::fflush(stderr);
  }
}

void FrameWindowPlugin::HandleFrameMethodCall(
    const flutter::MethodCall& call,
    std::unique_ptr<flutter::MethodResult> result) {
  if (call.method_name() == kSetMaximizeButtonBoundsMethod) {
    SetMaximizeButton(call.arguments(), *result);
    return;
  }
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
