// The application's main window: hosts the engine's view and registers the
// plugins the user interface relies on.
#ifndef QUILLON_HOST_FLUTTER_WINDOW_H_
#define QUILLON_HOST_FLUTTER_WINDOW_H_

#include <windows.h>

#include <memory>

#include "embedding/engine_project.h"
#include "embedding/flutter_view_controller.h"
#include "embedding/plugin_registrar.h"
#include "host/win32_window.h"

class FlutterWindow : public Win32Window {
 public:
  // Keeps its own copy of |project|.
  explicit FlutterWindow(const flutter::EngineProject& project);
  ~FlutterWindow() override;

  // Registers the main window's plugins on |registry|, in their fixed order.
  static void RegisterPlugins(flutter::PluginRegistry* registry);

  // The multi-window plugin's callback for each sub-window it creates;
  // |flutter_view_controller| is that window's flutter::FlutterViewController.
  // Registers the plugins a sub-window needs on its engine.
  static void OnSubWindowCreated(void* flutter_view_controller);

 protected:
  // Creates the view controller at the client area's size, registers the
  // plugins and adopts the view. False when the engine refused the view.
  bool OnCreate() override;
  // Releases the view controller and with it the engine.
  void OnDestroy() override;
  // The engine sees every message first; font changes reach it.
  LRESULT HandleMessage(HWND window, UINT message, WPARAM wparam,
                        LPARAM lparam) override;

 private:
  void DestroyController();

  flutter::EngineProject project_;
  std::unique_ptr<flutter::FlutterViewController> controller_;
};

#endif  // QUILLON_HOST_FLUTTER_WINDOW_H_
