#include "host/flutter_window.h"

#include <cstddef>
#include <exception>
#include <iostream>
#include <optional>
#include <utility>

#include "host/startup_marks.h"
#include "interfaces/plugin_libraries.h"

#ifdef QUILLON_HAVE_FRAME_WINDOW_PLUGIN
#include "frame/frame_window_plugin.h"
#endif
#ifdef QUILLON_HAVE_ANALYTICS_PLUGIN
#include "analytics/plugin/analytics_plugin.h"
#endif

namespace {

using RegistrationFunction = void (*)(FlutterDesktopPluginRegistrarRef);

struct PluginRegistration {
  const char* name;
  RegistrationFunction registration;
};

// Addresses of imported functions are known only at load time, so these
// tables are not constexpr.
const PluginRegistration kMainWindowPlugins[] = {
#ifdef QUILLON_HAVE_FRAME_WINDOW_PLUGIN
    {"FrameWindowPlugin", &FrameWindowPluginRegisterWithRegistrar},
#endif
    {"ConnectivityPlusWindowsPlugin",
     &ConnectivityPlusWindowsPluginRegisterWithRegistrar},
    {"DesktopDropPlugin", &DesktopDropPluginRegisterWithRegistrar},
    {"DesktopMultiWindowPlugin",
     &DesktopMultiWindowPluginRegisterWithRegistrar},
    {"FvpPluginCApi", &FvpPluginCApiRegisterWithRegistrar},
    {"ScreenRetrieverWindowsPluginCApi",
     &ScreenRetrieverWindowsPluginCApiRegisterWithRegistrar},
    {"UrlLauncherWindows", &UrlLauncherWindowsRegisterWithRegistrar},
    {"WebviewWindowsPlugin", &WebviewWindowsPluginRegisterWithRegistrar},
    {"WindowManagerPlugin", &WindowManagerPluginRegisterWithRegistrar},
};

// Sub-windows get only what a secondary window uses.
const PluginRegistration kSubWindowPlugins[] = {
    {"ScreenRetrieverWindowsPluginCApi",
     &ScreenRetrieverWindowsPluginCApiRegisterWithRegistrar},
    {"WebviewWindowsPlugin", &WebviewWindowsPluginRegisterWithRegistrar},
    {"WindowManagerPlugin", &WindowManagerPluginRegisterWithRegistrar},
};

template <size_t N>
void RegisterAll(flutter::PluginRegistry* registry,
                 const PluginRegistration (&plugins)[N]) {
  for (const PluginRegistration& plugin : plugins) {
    // A null registrar is passed on: the plugin decides what that means.
    plugin.registration(registry->RegistrarForPlugin(plugin.name));
  }
}

}  // namespace

FlutterWindow::FlutterWindow(const flutter::EngineProject& project)
    : project_(project) {}

FlutterWindow::~FlutterWindow() { DestroyController(); }

void FlutterWindow::RegisterPlugins(flutter::PluginRegistry* registry) {
  RegisterAll(registry, kMainWindowPlugins);
}

void FlutterWindow::OnSubWindowCreated(void* flutter_view_controller) {
  auto* controller =
      static_cast<flutter::FlutterViewController*>(flutter_view_controller);
  if (controller == nullptr || controller->engine() == nullptr) {
    return;
  }
  // Called from the plugin library's C code: nothing may unwind into it.
  try {
    RegisterAll(controller->engine(), kSubWindowPlugins);
  } catch (const std::exception& error) {
    std::cerr << "Sub-window plugin registration failed: " << error.what()
              << std::endl;
  }
}

bool FlutterWindow::OnCreate() {
  if (!Win32Window::OnCreate()) {
    return false;
  }

  // Physical pixels: the window was created at the monitor's DPI.
  const RECT frame = ClientArea();
  DestroyController();
  controller_ = std::make_unique<flutter::FlutterViewController>(
      frame.right - frame.left, frame.bottom - frame.top, project_);
  if (controller_->engine() == nullptr || controller_->view() == nullptr) {
    return false;
  }

  RegisterPlugins(controller_->engine());
  DesktopMultiWindowSetWindowCreatedCallback(
      &FlutterWindow::OnSubWindowCreated);
#ifdef QUILLON_HAVE_ANALYTICS_PLUGIN
  FlutterDesktopPluginRegistrarRef analytics =
      controller_->engine()->RegistrarForPlugin("AnalyticsPlugin");
  if (analytics != nullptr) {
    analytics::AnalyticsPlugin::RegisterWithRegistrar(analytics);
  }
#endif

  SetContent(controller_->view()->NativeWindow());
  startup_marks::Mark(startup_marks::Phase::kEngine);
  return true;
}

void FlutterWindow::OnDestroy() {
  DestroyController();
  Win32Window::OnDestroy();
}

LRESULT FlutterWindow::HandleMessage(HWND window, UINT message, WPARAM wparam,
                                     LPARAM lparam) {
  if (controller_) {
    std::optional<LRESULT> result =
        controller_->HandleTopLevelWindowProc(window, message, wparam, lparam);
    if (result) {
      return *result;
    }
  }

  if (message == WM_FONTCHANGE && controller_) {
    controller_->engine()->ReloadSystemFonts();
  }
  return Win32Window::HandleMessage(window, message, wparam, lparam);
}

void FlutterWindow::DestroyController() {
  // Emptied before the controller goes: messages that arrive while the view
  // and the engine shut down must not reach a half-destroyed controller.
  std::unique_ptr<flutter::FlutterViewController> old = std::move(controller_);
  old.reset();
}
