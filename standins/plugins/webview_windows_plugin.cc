// Stand-in for webview_windows_plugin.dll: records its registration and does
// nothing else.
#include "interfaces/plugin_libraries.h"
#include "standins/plugins/registration_log.h"

void WebviewWindowsPluginRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar) {
  standin_plugins::RecordRegistration("webview_windows_plugin", registrar);
}
