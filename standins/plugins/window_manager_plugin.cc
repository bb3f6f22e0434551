// Stand-in for window_manager_plugin.dll: records its registration and does
// nothing else.
#include "interfaces/plugin_libraries.h"
#include "standins/plugins/registration_log.h"

void WindowManagerPluginRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar) {
  standin_plugins::RecordRegistration("window_manager_plugin", registrar);
}
