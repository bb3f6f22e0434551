// Stand-in for desktop_multi_window_plugin.dll. Besides recording its
// registration it keeps the host's window-created callback and, when the user
// interface calls "createWindow" on its channel, opens a sub-window with an
// engine and view of its own and hands that window's view controller to the
// callback, as the real plugin does.
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "embedding/encodable_value.h"
#include "embedding/engine_project.h"
#include "embedding/flutter_view_controller.h"
#include "embedding/standard_codec.h"
#include "interfaces/plugin_libraries.h"
#include "standins/plugins/registration_log.h"

namespace {

constexpr char kLibrary[] = "desktop_multi_window_plugin";
constexpr char kChannel[] = "mixin.one/flutter_multi_window";
constexpr wchar_t kSubWindowClass[] = L"QUILLON_STANDIN_SUB_WINDOW";
constexpr int kSubWindowWidth = 640;
constexpr int kSubWindowHeight = 480;

DesktopMultiWindowWindowCreatedCallback g_window_created = nullptr;

// A sub-window: a plain top-level window that hosts its own engine's view.
class SubWindow {
 public:
  SubWindow(std::unique_ptr<flutter::FlutterViewController> controller,
            HWND window)
      : controller_(std::move(controller)), window_(window) {}
  ~SubWindow() {
    controller_.reset();
    if (window_ != nullptr) {
      DestroyWindow(window_);
    }
  }
  SubWindow(const SubWindow&) = delete;
  SubWindow& operator=(const SubWindow&) = delete;

  flutter::FlutterViewController* controller() const {
    return controller_.get();
  }

 private:
  std::unique_ptr<flutter::FlutterViewController> controller_;
  HWND window_;
};

// Sub-windows live until the main engine ends this plugin's registrar. Only
// touched on the thread that runs the engine's messages.
std::vector<std::unique_ptr<SubWindow>>& SubWindows() {
  static auto* windows = new std::vector<std::unique_ptr<SubWindow>>();
  return *windows;
}

HWND CreateHostWindow() {
  static bool registered = false;
  HINSTANCE instance = GetModuleHandleW(nullptr);
  if (!registered) {
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = DefWindowProcW;
    window_class.hInstance = instance;
    window_class.lpszClassName = kSubWindowClass;
    registered = RegisterClassW(&window_class) != 0;
  }
  return CreateWindowExW(0, kSubWindowClass, L"sub-window", WS_OVERLAPPEDWINDOW,
                         CW_USEDEFAULT, CW_USEDEFAULT, kSubWindowWidth,
                         kSubWindowHeight, nullptr, nullptr, instance, nullptr);
}

// Opens a sub-window and tells the host. Returns its number (1, 2, ...) or
// 0 when the engine refused the view.
int64_t OpenSubWindow() {
  auto controller = std::make_unique<flutter::FlutterViewController>(
      kSubWindowWidth, kSubWindowHeight, flutter::EngineProject(L"data"));
  if (controller->view() == nullptr) {
    return 0;
  }
  HWND window = CreateHostWindow();
  if (window != nullptr) {
    SetParent(controller->view()->NativeWindow(), window);
  }
  flutter::FlutterViewController* raw = controller.get();
  SubWindows().push_back(
      std::make_unique<SubWindow>(std::move(controller), window));
  standin_plugins::RecordPluginEvent("sub-window", kLibrary,
                                     standin_plugins::PointerText(raw).text);
  if (g_window_created != nullptr) {
    g_window_created(raw);
  }
  return static_cast<int64_t>(SubWindows().size());
}

void Respond(FlutterDesktopMessengerRef messenger,
             const FlutterDesktopMessage* message,
             const std::vector<uint8_t>* reply) {
  FlutterDesktopMessengerSendResponse(
      messenger, message->response_handle,
      reply != nullptr && !reply->empty() ? reply->data() : nullptr,
      reply != nullptr ? reply->size() : 0);
}

void OnChannelMessage(FlutterDesktopMessengerRef messenger,
                      const FlutterDesktopMessage* message, void*) {
  const flutter::StandardMethodCodec& codec =
      flutter::StandardMethodCodec::GetInstance();
  // The engine calls this from C: nothing may unwind into it.
  try {
    std::unique_ptr<flutter::MethodCall> call =
        codec.DecodeMethodCall(message->message, message->message_size);
    if (!call || call->method_name() != "createWindow") {
      Respond(messenger, message, nullptr);  // not implemented
      return;
    }
    const int64_t id = OpenSubWindow();
    if (id == 0) {
      Respond(messenger, message,
              codec
                  .EncodeErrorReply("CREATE_WINDOW_FAILED",
                                    "The engine refused the view.")
                  .get());
      return;
    }
    const flutter::EncodableValue result(id);
    Respond(messenger, message, codec.EncodeSuccessReply(&result).get());
  } catch (...) {
    Respond(messenger, message, nullptr);
  }
}

void OnRegistrarDestroyed(FlutterDesktopPluginRegistrarRef) {
  SubWindows().clear();
}

}  // namespace

void DesktopMultiWindowPluginRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar) {
  standin_plugins::RecordRegistration(kLibrary, registrar);
  if (registrar == nullptr) {
    return;
  }
  FlutterDesktopMessengerSetCallback(
      FlutterDesktopPluginRegistrarGetMessenger(registrar), kChannel,
      &OnChannelMessage, nullptr);
  FlutterDesktopPluginRegistrarSetDestructionHandler(registrar,
                                                     &OnRegistrarDestroyed);
}

void DesktopMultiWindowSetWindowCreatedCallback(
    DesktopMultiWindowWindowCreatedCallback callback) {
  g_window_created = callback;
  standin_plugins::RecordPluginEvent(
      "callback", kLibrary,
      standin_plugins::PointerText(reinterpret_cast<void*>(callback)).text);
}
