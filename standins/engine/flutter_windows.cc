// The stand-in's implementation of embedding/flutter_windows.h: engines,
// messengers, registrars, textures and view controllers without a Flutter
// engine behind them. The window parts live in view_window_win32.cc.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
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

bool IsLive(const std::set<const void*>& set, const void* object) {
  return object != nullptr && set.count(object) != 0;
}

// A whole number from the environment, or 0 when unset or not a number.
int32_t EnvironmentNumber(const char* name) {
  const char* text = std::getenv(name);
  if (text == nullptr) {
    return 0;
  }
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value > INT32_MAX || value < INT32_MIN) {
    return 0;
  }
  return static_cast<int32_t>(value);
}

}  // namespace

Library& GetLibrary() {
  // Never destroyed: engines and messengers may outlive static destruction.
  static Library* library = [] {
    auto* created = new Library();
    // A test that starts a whole program cannot reach the test controls, so
    // the two controls it needs can also come from the environment.
    created->refuse_view_controllers = std::max(
        EnvironmentNumber("QUILLON_STANDIN_REFUSE_VIEW_CONTROLLERS"), 0);
    created->dpi_override = static_cast<UINT>(
        std::max(EnvironmentNumber("QUILLON_STANDIN_DPI"), 0));
    return created;
  }();
  return *library;
}

void LogEvent(int32_t kind, int64_t engine_serial,
              FlutterDesktopPluginRegistrarRef registrar,
              const std::string& detail) {
  StandinEngineEvent event{};
  event.kind = kind;
  event.engine_serial = engine_serial;
  event.registrar = registrar;
  std::snprintf(event.detail, sizeof(event.detail), "%s", detail.c_str());
  const bool misuse =
      kind == kStandinEventMisuse || kind == kStandinEventDuplicateResponse;
  Library& library = GetLibrary();
  {
    std::lock_guard<std::mutex> guard(library.events_mutex);
    library.events.push_back(event);
    if (misuse && library.unacknowledged_misuse++ == 0) {
      library.first_misuse = detail;
    }
  }
  if (misuse) {
    WriteMisuseToTranscript((kind == kStandinEventMisuse
                                 ? "misuse "
                                 : "misuse duplicate response ") +
                            detail);
  }
}

void Misuse(int64_t serial, const std::string& what) {
  LogEvent(kStandinEventMisuse, serial, nullptr, what);
}

bool IsLiveEngine(FlutterDesktopEngine* engine) {
  Library& library = GetLibrary();
  std::lock_guard<std::mutex> guard(library.mutex);
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
    std::lock_guard<std::mutex> guard(library.mutex);
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
    std::lock_guard<std::mutex> guard(library.mutex);
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
    std::lock_guard<std::mutex> guard(library.mutex);
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
    std::lock_guard<std::mutex> guard(library.mutex);
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
using standin::IsLive;
using standin::Library;
using standin::LogEvent;
using standin::Misuse;
using standin::NoThrow;
using standin::NoThrowVoid;

extern "C" {

// ---------------------------------------------------------------------------
// Engine

FlutterDesktopEngineRef FlutterDesktopEngineCreate(
    const FlutterDesktopEngineProperties* properties) {
  return NoThrow<FlutterDesktopEngineRef>(nullptr, [&] {
    if (properties == nullptr) {
      Misuse(0, "FlutterDesktopEngineCreate: null properties");
      return static_cast<FlutterDesktopEngineRef>(nullptr);
    }
    auto engine = std::make_unique<FlutterDesktopEngine>();
    const wchar_t* paths[] = {properties->assets_path,
                              properties->icu_data_path,
                              properties->aot_library_path};
    for (int i = 0; i < 3; ++i) {
      engine->paths[i] = standin::ResolvePath(paths[i]);
    }
    if (properties->dart_entrypoint != nullptr) {
      engine->entrypoint = properties->dart_entrypoint;
    }
    bool bad_arguments = properties->dart_entrypoint_argc < 0 ||
                         (properties->dart_entrypoint_argc > 0 &&
                          properties->dart_entrypoint_argv == nullptr);
    if (!bad_arguments) {
      for (int i = 0; i < properties->dart_entrypoint_argc; ++i) {
        const char* argument = properties->dart_entrypoint_argv[i];
        engine->arguments.emplace_back(argument != nullptr ? argument : "");
      }
    }
    engine->options[0] = properties->engine_option_1;
    engine->options[1] = properties->engine_option_2;
    engine->ui_thread = std::this_thread::get_id();
    standin::CreateTaskWindow(engine.get());
    auto messenger = std::make_unique<FlutterDesktopMessenger>();
    auto texture_registrar = std::make_unique<FlutterDesktopTextureRegistrar>();
    texture_registrar->engine = engine.get();

    Library& library = GetLibrary();
    {
      std::lock_guard<std::mutex> guard(library.mutex);
      library.engines.reserve(library.engines.size() + 1);
      engine->serial = library.next_serial++;
      messenger->engine_serial = engine->serial;
      messenger->engine = engine.get();
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
    std::lock_guard<std::mutex> guard(library.mutex);
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
      std::lock_guard<std::mutex> guard(library.mutex);
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

// ---------------------------------------------------------------------------
// View controller and view

FlutterDesktopViewControllerRef FlutterDesktopViewControllerCreate(
    int width, int height, FlutterDesktopEngineRef engine) {
  return NoThrow<FlutterDesktopViewControllerRef>(nullptr, [&] {
    Library& library = GetLibrary();
    bool usable = false;
    bool refuse = false;
    {
      std::lock_guard<std::mutex> guard(library.mutex);
      for (FlutterDesktopEngine* candidate : library.engines) {
        usable = usable || candidate == engine;
      }
      usable = usable && engine->controller == nullptr && engine->running;
      if (usable && library.refuse_view_controllers > 0) {
        --library.refuse_view_controllers;
        refuse = true;
      }
    }
    if (!usable) {
      LogEvent(kStandinEventViewControllerRefused, 0, nullptr, "bad-engine");
      return static_cast<FlutterDesktopViewControllerRef>(nullptr);
    }
    const char* kCreate = "FlutterDesktopViewControllerCreate";
    if (refuse) {
      LogEvent(kStandinEventViewControllerRefused, engine->serial, nullptr,
               "refused");
      standin::EndEngine(engine, kCreate);
      standin::FreeEngine(engine);
      return static_cast<FlutterDesktopViewControllerRef>(nullptr);
    }
    auto controller = std::make_unique<FlutterDesktopViewController>();
    controller->engine = engine;
    controller->view.controller = controller.get();
    {
      std::lock_guard<std::mutex> guard(library.mutex);
      library.live_controllers.insert(controller.get());
      library.live_views.insert(&controller->view);
      engine->controller = controller.get();
    }
    if (!standin::CreateViewWindows(controller.get(), width, height)) {
      LogEvent(kStandinEventViewControllerRefused, engine->serial, nullptr,
               "window-failed");
      standin::DestroyViewWindows(controller.get());
      {
        std::lock_guard<std::mutex> guard(library.mutex);
        library.live_controllers.erase(controller.get());
        library.live_views.erase(&controller->view);
        engine->controller = nullptr;
      }
      standin::EndEngine(engine, kCreate);
      standin::FreeEngine(engine);
      return static_cast<FlutterDesktopViewControllerRef>(nullptr);
    }
    LogEvent(kStandinEventViewControllerCreated, engine->serial, nullptr, "");
    standin::StartScriptedUi(controller.get());
    return controller.release();
  });
}

void FlutterDesktopViewControllerDestroy(
    FlutterDesktopViewControllerRef controller) {
  Library& library = GetLibrary();
  {
    std::lock_guard<std::mutex> guard(library.mutex);
    if (!IsLive(library.live_controllers, controller)) {
      controller = nullptr;
    } else {
      library.live_controllers.erase(controller);
      library.live_views.erase(&controller->view);
    }
  }
  if (controller == nullptr) {
    Misuse(0, "FlutterDesktopViewControllerDestroy: not a live controller");
    return;
  }
  FlutterDesktopEngine* engine = controller->engine;
  int64_t serial = engine->serial;
  standin::StopScriptedUi(controller);
  standin::EndEngine(engine, "FlutterDesktopViewControllerDestroy");
  standin::DestroyViewWindows(controller);
  {
    std::lock_guard<std::mutex> guard(library.mutex);
    engine->controller = nullptr;
  }
  standin::FreeEngine(engine);
  delete controller;
  LogEvent(kStandinEventViewControllerDestroyed, serial, nullptr, "");
}

FlutterDesktopViewRef FlutterDesktopViewControllerGetView(
    FlutterDesktopViewControllerRef controller) {
  Library& library = GetLibrary();
  std::lock_guard<std::mutex> guard(library.mutex);
  if (!IsLive(library.live_controllers, controller)) {
    Misuse(0, "FlutterDesktopViewControllerGetView: not a live controller");
    return nullptr;
  }
  return &controller->view;
}

bool FlutterDesktopViewControllerHandleTopLevelWindowProc(
    FlutterDesktopViewControllerRef controller, HWND /*hwnd*/, UINT message,
    WPARAM /*wparam*/, LPARAM /*lparam*/, LRESULT* result) {
  return NoThrow(false, [&] {
    Library& library = GetLibrary();
    std::lock_guard<std::mutex> guard(library.mutex);
    if (!IsLive(library.live_controllers, controller)) {
      Misuse(0,
             "FlutterDesktopViewControllerHandleTopLevelWindowProc: not a "
             "live controller");
      return false;
    }
    ++library.offered_messages[message];
    auto claim = library.claimed_messages.find(message);
    if (claim == library.claimed_messages.end()) {
      return false;
    }
    if (result != nullptr) {
      *result = claim->second;
    }
    return true;
  });
}

HWND FlutterDesktopViewGetHWND(FlutterDesktopViewRef view) {
  Library& library = GetLibrary();
  std::lock_guard<std::mutex> guard(library.mutex);
  if (!IsLive(library.live_views, view)) {
    Misuse(0, "FlutterDesktopViewGetHWND: not a live view");
    return nullptr;
  }
  return view->hwnd;
}

// ---------------------------------------------------------------------------
// Plugin registrars

FlutterDesktopMessengerRef FlutterDesktopPluginRegistrarGetMessenger(
    FlutterDesktopPluginRegistrarRef registrar) {
  Library& library = GetLibrary();
  std::lock_guard<std::mutex> guard(library.mutex);
  if (!IsLive(library.live_registrars, registrar)) {
    Misuse(0,
           "FlutterDesktopPluginRegistrarGetMessenger: not a live registrar");
    return nullptr;
  }
  return registrar->engine->messenger;
}

FlutterDesktopTextureRegistrarRef FlutterDesktopRegistrarGetTextureRegistrar(
    FlutterDesktopPluginRegistrarRef registrar) {
  Library& library = GetLibrary();
  std::lock_guard<std::mutex> guard(library.mutex);
  if (!IsLive(library.live_registrars, registrar)) {
    Misuse(0,
           "FlutterDesktopRegistrarGetTextureRegistrar: not a live registrar");
    return nullptr;
  }
  return registrar->engine->texture_registrar.get();
}

FlutterDesktopViewRef FlutterDesktopPluginRegistrarGetView(
    FlutterDesktopPluginRegistrarRef registrar) {
  Library& library = GetLibrary();
  std::lock_guard<std::mutex> guard(library.mutex);
  if (!IsLive(library.live_registrars, registrar)) {
    Misuse(0, "FlutterDesktopPluginRegistrarGetView: not a live registrar");
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
      std::lock_guard<std::mutex> guard(library.mutex);
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

// ---------------------------------------------------------------------------
// Messenger

// ---------------------------------------------------------------------------
// Textures

int64_t FlutterDesktopTextureRegistrarRegisterExternalTexture(
    FlutterDesktopTextureRegistrarRef texture_registrar,
    const FlutterDesktopTextureInfo* info) {
  return NoThrow<int64_t>(-1, [&] {
    int64_t id = -1;
    {
      Library& library = GetLibrary();
      std::lock_guard<std::mutex> guard(library.mutex);
      if (IsLive(library.live_texture_registrars, texture_registrar) &&
          info != nullptr &&
          (info->type == kFlutterDesktopPixelBufferTexture ||
           info->type == kFlutterDesktopGpuSurfaceTexture) &&
          texture_registrar->engine->running) {
        id = texture_registrar->next_id++;
        texture_registrar->textures[id] = {*info, 0};
      }
    }
    if (id < 0) {
      Misuse(0,
             "FlutterDesktopTextureRegistrarRegisterExternalTexture: bad "
             "registrar, record or type");
    }
    return id;
  });
}

void FlutterDesktopTextureRegistrarUnregisterExternalTexture(
    FlutterDesktopTextureRegistrarRef texture_registrar, int64_t texture_id,
    FlutterDesktopOnTextureUnregistered callback, void* user_data) {
  NoThrowVoid([&] {
    bool removed = false;
    int64_t serial = 0;
    {
      Library& library = GetLibrary();
      std::lock_guard<std::mutex> guard(library.mutex);
      if (IsLive(library.live_texture_registrars, texture_registrar)) {
        removed = texture_registrar->textures.erase(texture_id) != 0;
        serial = texture_registrar->engine->serial;
      }
    }
    if (!removed) {
      Misuse(serial,
             "FlutterDesktopTextureRegistrarUnregisterExternalTexture: "
             "unknown texture " +
                 std::to_string(texture_id));
    }
    // Called once the engine has released the texture, on a later turn (or
    // when the engine ends first); never for a texture it does not know.
    if (callback != nullptr && removed) {
      FlutterDesktopEngine* engine = texture_registrar->engine;
      standin::PostTask(engine,
                        [callback, user_data, serial, texture_id](bool) {
                          LogEvent(kStandinEventTextureUnregistered, serial,
                                   nullptr, std::to_string(texture_id));
                          callback(user_data);
                        });
    }
  });
}

bool FlutterDesktopTextureRegistrarMarkExternalTextureFrameAvailable(
    FlutterDesktopTextureRegistrarRef texture_registrar, int64_t texture_id) {
  Library& library = GetLibrary();
  std::lock_guard<std::mutex> guard(library.mutex);
  if (!IsLive(library.live_texture_registrars, texture_registrar)) {
    Misuse(0,
           "FlutterDesktopTextureRegistrarMarkExternalTextureFrameAvailable: "
           "bad registrar");
    return false;
  }
  auto found = texture_registrar->textures.find(texture_id);
  if (found == texture_registrar->textures.end()) {
    return false;
  }
  ++found->second.frames_marked;
  return true;
}

// ---------------------------------------------------------------------------
// Process-wide helpers

UINT FlutterDesktopGetDpiForMonitor(HMONITOR monitor) {
  UINT override_dpi;
  {
    Library& library = GetLibrary();
    std::lock_guard<std::mutex> guard(library.mutex);
    override_dpi = library.dpi_override;
  }
  return override_dpi != 0 ? override_dpi : standin::MonitorDpi(monitor);
}

void FlutterDesktopResyncOutputStreams(void) {
  standin::ReopenOutputStreams();
  LogEvent(kStandinEventOutputStreamsResynced, 0, nullptr, "");
}

}  // extern "C"
