// The stand-in's engines: creation from the properties, ending (registrars,
// messenger, queued tasks, unanswered messages) and freeing, and the engine
// handle's exports.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "standins/engine/engine_internal.h"
#include "standins/engine/engine_lifecycle.h"

namespace standin {

namespace {

bool IsAbsolutePath(const std::wstring& path) {
#ifdef _WIN32
  return path[0] == L'\\' || path[0] == L'/' ||
         (path.size() >= 2 && path[1] == L':');
#else
  return path[0] == L'/';
#endif
}

std::wstring ResolvePath(const wchar_t* path) {
  if (path == nullptr || *path == L'\0') {
    return std::wstring();
  }
  std::wstring text(path);
  if (IsAbsolutePath(text)) {
    return text;
  }
#ifdef _WIN32
  return ExecutableFolder() + L'\\' + text;
#else
  return ExecutableFolder() + L'/' + text;
#endif
}

// Copies what the engine keeps of `properties`; false when the argument
// count or array is bad (the arguments are then left out).
bool ReadProperties(const FlutterDesktopEngineProperties& properties,
                    FlutterDesktopEngine* engine) {
  const wchar_t* paths[] = {properties.assets_path, properties.icu_data_path,
                            properties.aot_library_path};
  for (int i = 0; i < 3; ++i) {
    engine->paths[i] = ResolvePath(paths[i]);
  }
  if (properties.dart_entrypoint != nullptr) {
    engine->entrypoint = properties.dart_entrypoint;
  }
  engine->options[0] = properties.engine_option_1;
  engine->options[1] = properties.engine_option_2;
  if (properties.dart_entrypoint_argc < 0 ||
      (properties.dart_entrypoint_argc > 0 &&
       properties.dart_entrypoint_argv == nullptr)) {
    return false;
  }
  for (int i = 0; i < properties.dart_entrypoint_argc; ++i) {
    const char* argument = properties.dart_entrypoint_argv[i];
    engine->arguments.emplace_back(argument != nullptr ? argument : "");
  }
  return true;
}

}  // namespace

bool LiveOrMisuse(const std::set<const void*>& set, const void* object,
                  const char* misuse) {
  if (IsLive(set, object)) return true;
  Misuse(0, misuse);
  return false;
}

bool IsLiveEngine(FlutterDesktopEngine* engine) {
  Library& library = GetLibrary();
  platform::MutexLock guard(library.mutex);
  for (FlutterDesktopEngine* live : library.engines) {
    if (live == engine) {
      return engine != nullptr;
    }
  }
  return false;
}

int32_t EndRegistrars(FlutterDesktopEngine* engine) {
  std::vector<std::pair<FlutterDesktopPluginRegistrar*,
                        FlutterDesktopOnPluginRegistrarDestroyed>>
      due;
  {
    Library& library = GetLibrary();
    platform::MutexLock guard(library.mutex);
    for (auto& registrar : engine->registrars) {
      if (registrar->destruction_handler != nullptr) {
        due.emplace_back(registrar.get(), registrar->destruction_handler);
        registrar->destruction_handler = nullptr;
      }
    }
  }
  for (auto& [registrar, handler] : due) {
    LogEvent(kStandinEventDestructionHandlerCalled, engine->serial, registrar,
             registrar->plugin_name);
    handler(registrar);
  }
  return static_cast<int32_t>(due.size());
}

int32_t EndEngine(FlutterDesktopEngine* engine, const std::string& by) {
  Library& library = GetLibrary();
  {
    platform::MutexLock guard(library.mutex);
    if (!engine->running) {
      return 0;
    }
    engine->running = false;
  }
  // Plugins go while the messenger still works, so they can unregister.
  int32_t handlers_run = EndRegistrars(engine);

  EndMessenger(engine);
  // What was queued for the engine's turn will not get it.
  DropTasks(engine);
  std::vector<Library::OutgoingReply> unanswered;
  {
    platform::MutexLock guard(library.mutex);
    for (auto it = library.outgoing.begin(); it != library.outgoing.end();) {
      if (it->second.engine == engine) {
        unanswered.push_back(it->second);
        it = library.outgoing.erase(it);
      } else {
        ++it;
      }
    }
    engine->texture_registrar->textures.clear();
  }
  // A sender waiting for the UI side's answer hears that none will come.
  for (const Library::OutgoingReply& pending : unanswered) {
    pending.reply(nullptr, 0, pending.user_data);
  }
  LogEvent(kStandinEventEngineEnded, engine->serial, nullptr, by);
  return handlers_run;
}

void FreeEngine(FlutterDesktopEngine* engine) {
  {
    Library& library = GetLibrary();
    platform::MutexLock guard(library.mutex);
    auto& engines = library.engines;
    for (auto it = engines.begin(); it != engines.end(); ++it) {
      if (*it == engine) {
        engines.erase(it);
        break;
      }
    }
    for (auto& registrar : engine->registrars) {
      library.live_registrars.erase(registrar.get());
    }
    library.live_texture_registrars.erase(engine->texture_registrar.get());
  }
  DropTasks(engine);
  DestroyTaskWindow(engine);
  ReleaseMessenger(engine->messenger);
  delete engine;
}

}  // namespace standin

using standin::GetLibrary;
using standin::Library;
using standin::LogEvent;
using standin::Misuse;
using standin::NoThrow;

extern "C" {

FlutterDesktopEngineRef FlutterDesktopEngineCreate(
    const FlutterDesktopEngineProperties* properties) {
  return NoThrow<FlutterDesktopEngineRef>(nullptr, [&] {
    if (properties == nullptr) {
      Misuse(0, "FlutterDesktopEngineCreate: null properties");
      return static_cast<FlutterDesktopEngineRef>(nullptr);
    }
    auto engine = std::make_unique<FlutterDesktopEngine>();
    bool bad_arguments = !standin::ReadProperties(*properties, engine.get());
    engine->ui_thread = std::this_thread::get_id();
    standin::CreateTaskWindow(engine.get());
    auto messenger = std::make_unique<FlutterDesktopMessenger>();
    {
      // Not shared yet; locked only to say so to the analysis.
      platform::MutexLock guard(messenger->mutex);
      messenger->engine = engine.get();
    }
    auto texture_registrar = std::make_unique<FlutterDesktopTextureRegistrar>();
    texture_registrar->engine = engine.get();

    Library& library = GetLibrary();
    {
      platform::MutexLock guard(library.mutex);
      library.engines.reserve(library.engines.size() + 1);
      engine->serial = library.next_serial++;
      messenger->engine_serial = engine->serial;
      library.live_messengers.insert(messenger.get());
      library.live_texture_registrars.insert(texture_registrar.get());
      engine->messenger = messenger.release();
      engine->texture_registrar = std::move(texture_registrar);
      library.engines.push_back(engine.get());
    }
    LogEvent(kStandinEventEngineCreated, engine->serial, nullptr, "");
    if (bad_arguments) {
      Misuse(engine->serial,
             "FlutterDesktopEngineCreate: bad argument count or null array");
    }
    return engine.release();
  });
}

bool FlutterDesktopEngineDestroy(FlutterDesktopEngineRef engine) {
  const char* verdict;
  int64_t serial = 0;
  {
    Library& library = GetLibrary();
    platform::MutexLock guard(library.mutex);
    bool live = false;
    for (FlutterDesktopEngine* candidate : library.engines) {
      live = live || candidate == engine;
    }
    verdict = !live                           ? "unknown"
              : engine->controller != nullptr ? "controller-owned"
                                              : "owned";
    serial = live ? engine->serial : 0;
  }
  LogEvent(kStandinEventEngineDestroyCalled, serial, nullptr, verdict);
  if (std::strcmp(verdict, "owned") != 0) {
    Misuse(serial,
           std::string("FlutterDesktopEngineDestroy: ") + verdict + " engine");
    return false;
  }
  standin::EndEngine(engine, "FlutterDesktopEngineDestroy");
  standin::FreeEngine(engine);
  return true;
}

FlutterDesktopMessengerRef FlutterDesktopEngineGetMessenger(
    FlutterDesktopEngineRef engine) {
  if (!standin::IsLiveEngine(engine)) {
    Misuse(0, "FlutterDesktopEngineGetMessenger: not a live engine");
    return nullptr;
  }
  return engine->messenger;
}

FlutterDesktopPluginRegistrarRef FlutterDesktopEngineGetPluginRegistrar(
    FlutterDesktopEngineRef engine, const char* plugin_name) {
  return NoThrow<FlutterDesktopPluginRegistrarRef>(nullptr, [&] {
    if (!standin::IsLiveEngine(engine)) {
      Misuse(0, "FlutterDesktopEngineGetPluginRegistrar: not a live engine");
      return static_cast<FlutterDesktopPluginRegistrarRef>(nullptr);
    }
    std::string name = plugin_name != nullptr ? plugin_name : "";
    FlutterDesktopPluginRegistrar* result = nullptr;
    {
      Library& library = GetLibrary();
      platform::MutexLock guard(library.mutex);
      for (auto& registrar : engine->registrars) {
        if (registrar->plugin_name == name) {
          result = registrar.get();
        }
      }
      if (result == nullptr) {
        auto registrar = std::make_unique<FlutterDesktopPluginRegistrar>();
        registrar->engine = engine;
        registrar->plugin_name = name;
        result = registrar.get();
        engine->registrars.push_back(std::move(registrar));
        library.live_registrars.insert(result);
      }
    }
    LogEvent(kStandinEventRegistrarRequested, engine->serial, result, name);
    return result;
  });
}

void FlutterDesktopEngineReloadSystemFonts(FlutterDesktopEngineRef engine) {
  if (!standin::IsLiveEngine(engine)) {
    Misuse(0, "FlutterDesktopEngineReloadSystemFonts: not a live engine");
    return;
  }
  LogEvent(kStandinEventFontsReloaded, engine->serial, nullptr, "");
}

}  // extern "C"
