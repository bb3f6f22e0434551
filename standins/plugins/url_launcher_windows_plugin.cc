// Stand-in for url_launcher_windows_plugin.dll: records its registration and
// does nothing else.
#include "interfaces/plugin_libraries.h"
#include "standins/plugins/registration_log.h"

void UrlLauncherWindowsRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar) {
  standin_plugins::RecordRegistration("url_launcher_windows_plugin", registrar);
}
