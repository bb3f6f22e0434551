// Plugins and their registrars: what a plugin gets from the engine (messenger,
// texture registrar, view) and who owns the plugin objects.
#ifndef QUILLON_EMBEDDING_PLUGIN_REGISTRAR_H_
#define QUILLON_EMBEDDING_PLUGIN_REGISTRAR_H_

#include <map>
#include <memory>
#include <set>
#include <string>

#include "embedding/binary_messenger.h"
#include "embedding/flutter_view.h"
#include "embedding/texture_registrar.h"
#include "interfaces/flutter_windows.h"

namespace flutter {

// Base of every plugin object; a registrar owns its plugins.
class Plugin {
 public:
  virtual ~Plugin() = default;
};

// Something that hands out the engine's registrar handles by plugin name.
class PluginRegistry {
 public:
  virtual ~PluginRegistry() = default;

  // Returns null when there is no running engine.
  virtual FlutterDesktopPluginRegistrarRef RegistrarForPlugin(
      const std::string& plugin_name) = 0;
};

class PluginRegistrar {
 public:
  // |registrar| is the engine's handle; not owned.
  explicit PluginRegistrar(FlutterDesktopPluginRegistrarRef registrar);
  // Destroys the plugins first, while the messenger and the texture registrar
  // they may use still exist.
  virtual ~PluginRegistrar();

  PluginRegistrar(const PluginRegistrar&) = delete;
  PluginRegistrar& operator=(const PluginRegistrar&) = delete;

  FlutterDesktopPluginRegistrarRef registrar() const { return registrar_; }
  BinaryMessenger* messenger() const { return messenger_.get(); }
  TextureRegistrar* texture_registrar() const {
    return texture_registrar_.get();
  }

  // Takes ownership of |plugin|; it lives as long as this registrar.
  void AddPlugin(std::unique_ptr<Plugin> plugin);

  // Destroys every plugin of this registrar.
  void ClearPlugins();

 private:
  FlutterDesktopPluginRegistrarRef registrar_;
  std::unique_ptr<BinaryMessengerImpl> messenger_;
  std::unique_ptr<TextureRegistrarImpl> texture_registrar_;
  std::set<std::unique_ptr<Plugin>> plugins_;
};

class PluginRegistrarWindows : public PluginRegistrar {
 public:
  explicit PluginRegistrarWindows(FlutterDesktopPluginRegistrarRef registrar);
  ~PluginRegistrarWindows() override;

  // The view of the engine this registrar belongs to; null when it has none
  // (an engine without a view controller).
  FlutterView* view() const { return view_.get(); }

 private:
  std::unique_ptr<FlutterView> view_;
};

// Process-wide table from the engine's registrar handles to their
// PluginRegistrarWindows objects. Used on the platform thread only.
class RegistrarManager {
 public:
  // Created on first use, never destroyed: registrars the engine never ends
  // stay alive until the process exits.
  static RegistrarManager* Instance();

  RegistrarManager(const RegistrarManager&) = delete;
  RegistrarManager& operator=(const RegistrarManager&) = delete;

  // Returns the object for |registrar|, creating it on the first request; the
  // manager owns it until the engine ends the registrar. A null handle (no
  // running engine) gives null.
  PluginRegistrarWindows* GetRegistrar(
      FlutterDesktopPluginRegistrarRef registrar);

  // The engine's destruction handler: destroys the object kept for
  // |registrar|, if any.
  static void OnRegistrarDestroyed(FlutterDesktopPluginRegistrarRef registrar);

 private:
  RegistrarManager() = default;

  std::map<FlutterDesktopPluginRegistrarRef,
           std::unique_ptr<PluginRegistrarWindows>>
      registrars_;
};

}  // namespace flutter

#endif  // QUILLON_EMBEDDING_PLUGIN_REGISTRAR_H_
