// Stand-in for connectivity_plus_plugin.dll: records its registration and does
// nothing else.
#include "interfaces/plugin_libraries.h"
#include "standins/plugins/registration_log.h"

void ConnectivityPlusWindowsPluginRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar) {
  standin_plugins::RecordRegistration("connectivity_plus_plugin", registrar);
}
