// The stand-in's view controllers and views: creating one starts the view
// windows and the scripted UI; destroying it ends its engine.
#include <memory>
#include <mutex>

#include "standins/engine/engine_internal.h"
#include "standins/engine/engine_lifecycle.h"

namespace standin {

namespace {

// The view windows of a new controller could not be made: the controller is
// forgotten and its engine ended, as a refused creation leaves them.
void AbandonViewController(FlutterDesktopViewController* controller) {
  FlutterDesktopEngine* engine = controller->engine;
  LogEvent(kStandinEventViewControllerRefused, engine->serial, nullptr,
           "window-failed");
  DestroyViewWindows(controller);
  {
    Library& library = GetLibrary();
    platform::MutexLock guard(library.mutex);
    library.live_controllers.erase(controller);
    library.live_views.erase(&controller->view);
    engine->controller = nullptr;
  }
  EndEngine(engine, "FlutterDesktopViewControllerCreate");
  FreeEngine(engine);
}

}  // namespace

}  // namespace standin

using standin::GetLibrary;
using standin::IsLive;
using standin::Library;
using standin::LiveOrMisuse;
using standin::LogEvent;
using standin::Misuse;
using standin::NoThrow;

extern "C" {

FlutterDesktopViewControllerRef FlutterDesktopViewControllerCreate(
    int width, int height, FlutterDesktopEngineRef engine) {
  return NoThrow<FlutterDesktopViewControllerRef>(nullptr, [&] {
    Library& library = GetLibrary();
    bool usable = false;
    bool refuse = false;
    {
      platform::MutexLock guard(library.mutex);
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
    if (refuse) {
      LogEvent(kStandinEventViewControllerRefused, engine->serial, nullptr,
               "refused");
      standin::EndEngine(engine, "FlutterDesktopViewControllerCreate");
      standin::FreeEngine(engine);
      return static_cast<FlutterDesktopViewControllerRef>(nullptr);
    }
    auto controller = std::make_unique<FlutterDesktopViewController>();
    controller->engine = engine;
    controller->view.controller = controller.get();
    {
      platform::MutexLock guard(library.mutex);
      library.live_controllers.insert(controller.get());
      library.live_views.insert(&controller->view);
      engine->controller = controller.get();
    }
    if (!standin::CreateViewWindows(controller.get(), width, height)) {
      standin::AbandonViewController(controller.get());
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
    platform::MutexLock guard(library.mutex);
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
    platform::MutexLock guard(library.mutex);
    engine->controller = nullptr;
  }
  standin::FreeEngine(engine);
  delete controller;
  LogEvent(kStandinEventViewControllerDestroyed, serial, nullptr, "");
}

FlutterDesktopViewRef FlutterDesktopViewControllerGetView(
    FlutterDesktopViewControllerRef controller) {
  Library& library = GetLibrary();
  platform::MutexLock guard(library.mutex);
  if (!LiveOrMisuse(
          library.live_controllers, controller,
          "FlutterDesktopViewControllerGetView: not a live controller")) {
    return nullptr;
  }
  return &controller->view;
}

bool FlutterDesktopViewControllerHandleTopLevelWindowProc(
    FlutterDesktopViewControllerRef controller, HWND /*hwnd*/, UINT message,
    WPARAM /*wparam*/, LPARAM /*lparam*/, LRESULT* result) {
  return NoThrow(false, [&] {
    Library& library = GetLibrary();
    platform::MutexLock guard(library.mutex);
    if (!LiveOrMisuse(
            library.live_controllers, controller,
            "FlutterDesktopViewControllerHandleTopLevelWindowProc: not a "
            "live controller")) {
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
  platform::MutexLock guard(library.mutex);
  if (!LiveOrMisuse(library.live_views, view,
                    "FlutterDesktopViewGetHWND: not a live view")) {
    return nullptr;
  }
  return view->hwnd;
}

}  // extern "C"
