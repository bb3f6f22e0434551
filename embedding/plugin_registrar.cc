#include "embedding/plugin_registrar.h"

#include <utility>

namespace flutter {

PluginRegistrar::PluginRegistrar(FlutterDesktopPluginRegistrarRef registrar)
    : registrar_(registrar) {
  // A registrar built from null (no running engine) keeps plugins but never
  // hands a null handle to the engine.
  messenger_ = std::make_unique<BinaryMessengerImpl>(
      registrar_ != nullptr
          ? FlutterDesktopPluginRegistrarGetMessenger(registrar_)
          : nullptr);
  texture_registrar_ = std::make_unique<TextureRegistrarImpl>(
      registrar_ != nullptr
          ? FlutterDesktopRegistrarGetTextureRegistrar(registrar_)
          : nullptr);
}

PluginRegistrar::~PluginRegistrar() {
  ClearPlugins();
  messenger_.reset();
  texture_registrar_.reset();
}

void PluginRegistrar::AddPlugin(std::unique_ptr<Plugin> plugin) {
  if (plugin) {
    plugins_.insert(std::move(plugin));
  }
}

void PluginRegistrar::ClearPlugins() {
  // Take the set first so that a plugin destructor which touches this
  // registrar sees a consistent, empty set.
  std::set<std::unique_ptr<Plugin>> plugins;
  plugins.swap(plugins_);
  plugins.clear();
}

PluginRegistrarWindows::PluginRegistrarWindows(
    FlutterDesktopPluginRegistrarRef registrar)
    : PluginRegistrar(registrar) {
  FlutterDesktopViewRef view =
      registrar != nullptr ? FlutterDesktopPluginRegistrarGetView(registrar)
                           : nullptr;
  if (view != nullptr) {
    view_ = std::make_unique<FlutterView>(view);
  }
}

PluginRegistrarWindows::~PluginRegistrarWindows() {
  // Plugins go before the view they may hold on to.
  ClearPlugins();
  view_.reset();
}

RegistrarManager* RegistrarManager::Instance() {
  // Deliberately leaked: destroying registrars at exit would call into an
  // engine that may already be gone.
  static RegistrarManager* const instance = new RegistrarManager();
  return instance;
}

PluginRegistrarWindows* RegistrarManager::GetRegistrar(
    FlutterDesktopPluginRegistrarRef registrar) {
  if (registrar == nullptr) {
    return nullptr;
  }
  auto it = registrars_.find(registrar);
  if (it == registrars_.end()) {
    it = registrars_
             .emplace(registrar,
                      std::make_unique<PluginRegistrarWindows>(registrar))
             .first;
  }
  FlutterDesktopPluginRegistrarSetDestructionHandler(registrar,
                                                     OnRegistrarDestroyed);
  return it->second.get();
}

void RegistrarManager::OnRegistrarDestroyed(
    FlutterDesktopPluginRegistrarRef registrar) {
  auto& registrars = Instance()->registrars_;
  auto it = registrars.find(registrar);
  if (it == registrars.end()) {
    return;
  }
  // Unlink before destroying, so that anything the plugins do while they go
  // finds no half-destroyed registrar in the table.
  std::unique_ptr<PluginRegistrarWindows> doomed = std::move(it->second);
  registrars.erase(it);
  doomed.reset();
}

}  // namespace flutter
