// The "frame/window" channel: lets the user interface start a user move of
// the top-level window and declare its own maximise button, whose hover and
// press states it is told of in return.
#ifndef QUILLON_FRAME_FRAME_WINDOW_PLUGIN_H_
#define QUILLON_FRAME_FRAME_WINDOW_PLUGIN_H_

#include <memory>

#include "embedding/method_call.h"
#include "embedding/method_channel.h"
#include "embedding/method_result.h"
#include "embedding/plugin_registrar.h"
#include "interfaces/flutter_windows.h"

namespace frame {

class FrameWindowPlugin : public flutter::Plugin {
 public:
  // Creates the plugin with its channel and hands it to |registrar|, which
  // owns it from then on.
  static void RegisterWithRegistrar(flutter::PluginRegistrarWindows* registrar);

  explicit FrameWindowPlugin(std::unique_ptr<flutter::MethodChannel> channel);
  ~FrameWindowPlugin() override;

  FrameWindowPlugin(const FrameWindowPlugin&) = delete;
  FrameWindowPlugin& operator=(const FrameWindowPlugin&) = delete;

  // "dragAppWindow" (arguments ignored) runs the move and answers once it
  // has ended; "setMaximizeButtonBounds" declares or clears the maximise
  // button; every other method is not implemented.
  void HandleFrameMethodCall(const flutter::MethodCall& call,
                             std::unique_ptr<flutter::MethodResult> result);

 private:
  // Calls "maximizeButtonState" on the user interface.
  static void SendMaximizeButtonState(bool hovered, bool pressed);

  std::unique_ptr<flutter::MethodChannel> channel_;
};

}  // namespace frame

// Registers the plugin on the registrar the engine gave out for the name
// "FrameWindowPlugin". Does nothing for a null registrar.
void FrameWindowPluginRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar);

#endif  // QUILLON_FRAME_FRAME_WINDOW_PLUGIN_H_
