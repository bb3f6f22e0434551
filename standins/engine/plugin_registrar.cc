// The stand-in's plugin registrars: the engine's messenger, texture
// registrar and view as a plugin sees them, and the destruction handler.
#include <cstdint>
#include <mutex>
#include <string>

#include "standins/engine/engine_internal.h"

using standin::GetLibrary;
using standin::IsLive;
using standin::Library;
using standin::LiveOrMisuse;
using standin::LogEvent;
using standin::Misuse;
using standin::NoThrowVoid;

extern "C" {

FlutterDesktopMessengerRef FlutterDesktopPluginRegistrarGetMessenger(
    FlutterDesktopPluginRegistrarRef registrar) {
  Library& library = GetLibrary();
  platform::MutexLock guard(library.mutex);
  if (!LiveOrMisuse(
          library.live_registrars, registrar,
          "FlutterDesktopPluginRegistrarGetMessenger: not a live registrar")) {
    return nullptr;
  }
  return registrar->engine->messenger;
}

FlutterDesktopTextureRegistrarRef FlutterDesktopRegistrarGetTextureRegistrar(
    FlutterDesktopPluginRegistrarRef registrar) {
  Library& library = GetLibrary();
  platform::MutexLock guard(library.mutex);
  if (!LiveOrMisuse(
          library.live_registrars, registrar,
          "FlutterDesktopRegistrarGetTextureRegistrar: not a live registrar")) {
    return nullptr;
  }
  return registrar->engine->texture_registrar.get();
}

FlutterDesktopViewRef FlutterDesktopPluginRegistrarGetView(
    FlutterDesktopPluginRegistrarRef registrar) {
  Library& library = GetLibrary();
  platform::MutexLock guard(library.mutex);
  if (!LiveOrMisuse(
          library.live_registrars, registrar,
          "FlutterDesktopPluginRegistrarGetView: not a live registrar")) {
    return nullptr;
  }
  if (registrar->engine->controller == nullptr) {
    return nullptr;
  }
  return &registrar->engine->controller->view;
}

void FlutterDesktopPluginRegistrarSetDestructionHandler(
    FlutterDesktopPluginRegistrarRef registrar,
    FlutterDesktopOnPluginRegistrarDestroyed callback) {
  NoThrowVoid([&] {
    int64_t serial = 0;
    std::string name;
    {
      Library& library = GetLibrary();
      platform::MutexLock guard(library.mutex);
      if (IsLive(library.live_registrars, registrar)) {
        registrar->destruction_handler = callback;
        serial = registrar->engine->serial;
        name = registrar->plugin_name;
      }
    }
    if (serial == 0) {
      Misuse(0,
             "FlutterDesktopPluginRegistrarSetDestructionHandler: not a live "
             "registrar");
      return;
    }
    LogEvent(kStandinEventDestructionHandlerSet, serial, registrar,
             callback != nullptr ? name : name + "(null)");
  });
}

}  // extern "C"
