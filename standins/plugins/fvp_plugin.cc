// Stand-in for fvp_plugin.dll: records its registration and does nothing else.
#include "interfaces/plugin_libraries.h"
#include "standins/plugins/registration_log.h"

void FvpPluginCApiRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar) {
  standin_plugins::RecordRegistration("fvp_plugin", registrar);
}
