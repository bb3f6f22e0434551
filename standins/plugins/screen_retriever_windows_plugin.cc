// Stand-in for screen_retriever_windows_plugin.dll: records its registration
// and does nothing else.
#include "interfaces/plugin_libraries.h"
#include "standins/plugins/registration_log.h"

void ScreenRetrieverWindowsPluginCApiRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar) {
  standin_plugins::RecordRegistration("screen_retriever_windows_plugin",
                                      registrar);
}
