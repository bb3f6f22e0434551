#include "embedding/flutter_engine.h"

#include <iostream>
#include <vector>

namespace flutter {

FlutterEngine::FlutterEngine(const EngineProject& project) {
  // Pointers into |project|'s strings; the engine reads the record only
  // during the call.
  std::vector<const char*> arguments;
  arguments.reserve(project.entrypoint_arguments().size());
  for (const std::string& argument : project.entrypoint_arguments()) {
    arguments.push_back(argument.c_str());
  }

  FlutterDesktopEngineProperties properties = {};
  properties.assets_path = project.assets_path().c_str();
  properties.icu_data_path = project.icu_data_path().c_str();
  properties.aot_library_path = project.aot_library_path().c_str();
  // An empty name goes as empty text, not null.
  properties.dart_entrypoint = project.entrypoint().c_str();
  properties.dart_entrypoint_argc = static_cast<int>(arguments.size());
  properties.dart_entrypoint_argv =
      arguments.empty() ? nullptr : arguments.data();
  properties.engine_option_1 = project.engine_option_1();
  properties.engine_option_2 = project.engine_option_2();

  engine_ = FlutterDesktopEngineCreate(&properties);
  // Without an engine there is no messenger to ask for; the messenger then
  // keeps handlers without reaching anything.
  messenger_ = std::make_unique<BinaryMessengerImpl>(
      engine_ != nullptr ? FlutterDesktopEngineGetMessenger(engine_) : nullptr);
}

FlutterEngine::~FlutterEngine() {
  if (engine_ != nullptr && owns_engine_) {
    FlutterDesktopEngineDestroy(engine_);
  }
  engine_ = nullptr;
  messenger_.reset();
}

FlutterDesktopPluginRegistrarRef FlutterEngine::RegistrarForPlugin(
    const std::string& plugin_name) {
  if (engine_ == nullptr) {
    std::cerr << "Cannot get plugin registrar on an engine that isn't "
                 "running; call Run first."
              << std::endl;
    return nullptr;
  }
  return FlutterDesktopEngineGetPluginRegistrar(engine_, plugin_name.c_str());
}

void FlutterEngine::ReloadSystemFonts() {
  if (engine_ != nullptr) {
    FlutterDesktopEngineReloadSystemFonts(engine_);
  }
}

FlutterDesktopEngineRef FlutterEngine::TakeEngineHandle() {
  owns_engine_ = false;
  return engine_;
}

void FlutterEngine::ForgetEngineHandle() {
  engine_ = nullptr;
  messenger_ = std::make_unique<BinaryMessengerImpl>(nullptr);
}

}  // namespace flutter
