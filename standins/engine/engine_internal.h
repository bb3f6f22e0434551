// Inner objects of the stand-in engine library. The handles of
// embedding/flutter_windows.h point at these structs.
#ifndef QUILLON_STANDINS_ENGINE_ENGINE_INTERNAL_H_
#define QUILLON_STANDINS_ENGINE_ENGINE_INTERNAL_H_

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "embedding/flutter_windows.h"
#include "standins/engine/standin_control.h"

namespace standin {
class ScriptedUi;
}  // namespace standin

// One delivered message's response handle. Handles stay allocated until
// their messenger goes, so a second use is recognised instead of touching
// freed memory.
struct StandinResponseSlot {
  std::string channel;
  StandinEngineReplyCallback reply = nullptr;
  // Called instead of `reply` when the engine ends before a response.
  void (*on_drop)(void* user_data) = nullptr;
  void* user_data = nullptr;
  bool used = false;
  bool dropped = false;
};

struct FlutterDesktopMessenger {
  std::atomic<int> references{1};
  int64_t engine_serial = 0;
  // Held by FlutterDesktopMessengerLock and around every change of `engine`,
  // so a response given under the lock never races the engine's end.
  std::recursive_mutex mutex;
  FlutterDesktopEngine* engine = nullptr;  // null once the engine has ended
  struct Callback {
    FlutterDesktopMessageCallback function;
    void* user_data;
  };
  std::map<std::string, Callback> callbacks;
  std::map<const void*, std::unique_ptr<StandinResponseSlot>> responses;
};

struct FlutterDesktopTextureRegistrar {
  FlutterDesktopEngine* engine = nullptr;
  struct Texture {
    FlutterDesktopTextureInfo info;
    int32_t frames_marked = 0;
  };
  std::map<int64_t, Texture> textures;  // guarded by the library mutex
  int64_t next_id = 1;
};

struct FlutterDesktopPluginRegistrar {
  FlutterDesktopEngine* engine = nullptr;
  std::string plugin_name;
  FlutterDesktopOnPluginRegistrarDestroyed destruction_handler = nullptr;
};

struct FlutterDesktopView {
  FlutterDesktopViewController* controller = nullptr;
  HWND hwnd = nullptr;
};

struct FlutterDesktopViewController {
  FlutterDesktopEngine* engine = nullptr;
  FlutterDesktopView view;
  HWND parking_window = nullptr;  // the view's parent until the host adopts it
  std::shared_ptr<standin::ScriptedUi> scripted_ui;
};

struct FlutterDesktopEngine {
  int64_t serial = 0;
  std::wstring paths[3];  // assets, ICU data, AOT library; resolved
  std::string entrypoint;
  std::vector<std::string> arguments;
  int32_t options[2] = {0, 0};
  bool running = true;
  FlutterDesktopMessenger* messenger = nullptr;  // holds one reference
  std::unique_ptr<FlutterDesktopTextureRegistrar> texture_registrar;
  // In creation order; guarded by the library mutex.
  std::vector<std::unique_ptr<FlutterDesktopPluginRegistrar>> registrars;
  FlutterDesktopViewController* controller = nullptr;
};

namespace standin {

// Process-wide state. Lock order: a messenger's mutex may be held while the
// library mutex is taken, never the other way round. No outside callback is
// called while the library mutex is held.
struct Library {
  std::mutex mutex;
  std::vector<FlutterDesktopEngine*> engines;  // live, creation order
  std::set<const void*> live_registrars;
  std::set<const void*> live_texture_registrars;
  std::set<const void*> live_messengers;
  std::set<const void*> live_controllers;
  std::set<const void*> live_views;
  int64_t next_serial = 1;

  StandinEngineOutgoingHandler outgoing_handler = nullptr;
  void* outgoing_user_data = nullptr;
  struct OutgoingReply {
    FlutterDesktopEngine* engine;
    FlutterDesktopBinaryReply reply;
    void* user_data;
  };
  std::map<int64_t, OutgoingReply> outgoing;
  int64_t next_reply_id = 1;

  int32_t refuse_view_controllers = 0;
  std::map<UINT, LRESULT> claimed_messages;
  std::map<UINT, int32_t> offered_messages;
  UINT dpi_override = 0;
  bool scripted_ui_enabled = true;
  bool scripted_ui_started = false;

  std::mutex events_mutex;
  std::vector<StandinEngineEvent> events;
};

Library& GetLibrary();

// Appends an event to the log. Takes only the events mutex.
void LogEvent(int32_t kind, int64_t engine_serial,
              FlutterDesktopPluginRegistrarRef registrar,
              const std::string& detail);

// True when `engine` is live. Takes the library mutex.
bool IsLiveEngine(FlutterDesktopEngine* engine);

// Delivers a message from the UI side. `on_drop` (may be null) is called with
// `user_data` instead of `reply` when the engine ends before the response.
// Returns 1, 0 or -1 as StandinEngineDeliverMessage.
int32_t DeliverMessage(FlutterDesktopEngine* engine, const std::string& channel,
                       const uint8_t* data, size_t size,
                       StandinEngineReplyCallback reply, void (*on_drop)(void*),
                       void* user_data);

// Window parts (view_window_win32.cc; no-ops in the native build).
// Creates the view window of `width` x `height` pixels and its parking
// parent; false when a window could not be made.
bool CreateViewWindows(FlutterDesktopViewController* controller, int width,
                       int height);
// Destroys the view window if it still exists, then the parking parent.
void DestroyViewWindows(FlutterDesktopViewController* controller);
// Starts the scripted user interface for the controller's view.
void StartScriptedUi(FlutterDesktopViewController* controller);
// Stops it; no step runs afterwards.
void StopScriptedUi(FlutterDesktopViewController* controller);
// The monitor's DPI without the override.
UINT MonitorDpi(HMONITOR monitor);
// Points the library's standard output streams at a console if one was
// attached after start.
void ReopenOutputStreams();
// The folder of the running executable, without a trailing separator.
std::wstring ExecutableFolder();

// Runs `function`; an exception becomes `fallback`, so none crosses the C
// interface.
template <typename Result, typename Function>
Result NoThrow(Result fallback, Function&& function) noexcept {
  try {
    return function();
  } catch (...) {
    return fallback;
  }
}
template <typename Function>
void NoThrowVoid(Function&& function) noexcept {
  try {
    function();
  } catch (...) {
  }
}

// UTF-8 <-> wide conversions (UTF-16 on Windows, UTF-32 elsewhere); invalid
// sequences become U+FFFD.
std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

}  // namespace standin

#endif  // QUILLON_STANDINS_ENGINE_ENGINE_INTERNAL_H_
