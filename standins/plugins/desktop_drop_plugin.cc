// Stand-in for desktop_drop_plugin.dll: records its registration and does
// nothing else.
#include "interfaces/plugin_libraries.h"
#include "standins/plugins/registration_log.h"

void DesktopDropPluginRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar) {
  standin_plugins::RecordRegistration("desktop_drop_plugin", registrar);
}
