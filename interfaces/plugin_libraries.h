// The C interface of the plugin libraries that ship beside the executable:
// one registration function each, and the multi-window plugin's sub-window
// callback.
#ifndef QUILLON_INTERFACES_PLUGIN_LIBRARIES_H_
#define QUILLON_INTERFACES_PLUGIN_LIBRARIES_H_

#include "interfaces/flutter_windows.h"

#if defined(QUILLON_PLUGIN_LIBRARY_BUILD)
#define QUILLON_PLUGIN_API __declspec(dllexport)
#else
#define QUILLON_PLUGIN_API __declspec(dllimport)
#endif

#ifdef __cplusplus
extern "C" {
#endif

// connectivity_plus_plugin.dll
QUILLON_PLUGIN_API void ConnectivityPlusWindowsPluginRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar);
// desktop_drop_plugin.dll
QUILLON_PLUGIN_API void DesktopDropPluginRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar);
// desktop_multi_window_plugin.dll
QUILLON_PLUGIN_API void DesktopMultiWindowPluginRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar);
// fvp_plugin.dll
QUILLON_PLUGIN_API void FvpPluginCApiRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar);
// screen_retriever_windows_plugin.dll
QUILLON_PLUGIN_API void ScreenRetrieverWindowsPluginCApiRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar);
// url_launcher_windows_plugin.dll
QUILLON_PLUGIN_API void UrlLauncherWindowsRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar);
// webview_windows_plugin.dll
QUILLON_PLUGIN_API void WebviewWindowsPluginRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar);
// window_manager_plugin.dll
QUILLON_PLUGIN_API void WindowManagerPluginRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar);

// Called by desktop_multi_window_plugin.dll once for each sub-window it
// creates, with that window's flutter::FlutterViewController.
typedef void (*DesktopMultiWindowWindowCreatedCallback)(
    void* flutter_view_controller);
// desktop_multi_window_plugin.dll keeps the callback for later windows.
QUILLON_PLUGIN_API void DesktopMultiWindowSetWindowCreatedCallback(
    DesktopMultiWindowWindowCreatedCallback callback);

#ifdef __cplusplus
}  // extern "C"
#endif

#endif  // QUILLON_INTERFACES_PLUGIN_LIBRARIES_H_
