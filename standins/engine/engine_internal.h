// Inner objects of the stand-in engine library. The handles of
// interfaces/flutter_windows.h point at these structs.
#ifndef QUILLON_STANDINS_ENGINE_ENGINE_INTERNAL_H_
#define QUILLON_STANDINS_ENGINE_ENGINE_INTERNAL_H_

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "interfaces/flutter_windows.h"
#include "platform/mutex.h"
#include "platform/thread_annotations.h"
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
  // The client lock: held between FlutterDesktopMessengerLock and Unlock, and
  // by the engine while it ends, so a response given under the lock never
  // races the engine's end. Not recursive, as a real engine's lock need not
  // be: a second lock on one thread is refused as misuse instead of hanging.
  std::mutex client_mutex;
  std::atomic<std::thread::id> client_owner{};
  // Guards the fields below; never held while calling out.
  platform::Mutex mutex;
  // Null once the engine has ended.
  FlutterDesktopEngine* engine QUILLON_GUARDED_BY(mutex) = nullptr;
  struct Callback {
    FlutterDesktopMessageCallback function;
    void* user_data;
  };
  std::map<std::string, Callback> callbacks QUILLON_GUARDED_BY(mutex);
  std::map<const void*, std::unique_ptr<StandinResponseSlot>> responses
      QUILLON_GUARDED_BY(mutex);
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

// Work the engine does on its own turn of the UI thread's message loop. Run
// with true on that turn; with false when the engine ends first (the task
// then only releases what it holds or reports the drop).
using StandinTask = std::function<void(bool run)>;

struct FlutterDesktopEngine {
  int64_t serial = 0;
  std::thread::id ui_thread;   // the thread that created the engine
  HWND task_window = nullptr;  // Windows: receives the "run tasks" posts
  platform::Mutex tasks_mutex;
  std::deque<StandinTask> tasks QUILLON_GUARDED_BY(tasks_mutex);
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
  platform::Mutex mutex QUILLON_ACQUIRED_BEFORE(events_mutex);
  // Live, creation order.
  std::vector<FlutterDesktopEngine*> engines QUILLON_GUARDED_BY(mutex);
  std::set<const void*> live_registrars QUILLON_GUARDED_BY(mutex);
  std::set<const void*> live_texture_registrars QUILLON_GUARDED_BY(mutex);
  std::set<const void*> live_messengers QUILLON_GUARDED_BY(mutex);
  std::set<const void*> live_controllers QUILLON_GUARDED_BY(mutex);
  std::set<const void*> live_views QUILLON_GUARDED_BY(mutex);
  int64_t next_serial QUILLON_GUARDED_BY(mutex) = 1;

  StandinEngineOutgoingHandler outgoing_handler QUILLON_GUARDED_BY(mutex) =
      nullptr;
  void* outgoing_user_data QUILLON_GUARDED_BY(mutex) = nullptr;
  struct OutgoingReply {
    FlutterDesktopEngine* engine;
    FlutterDesktopBinaryReply reply;
    void* user_data;
  };
  std::map<int64_t, OutgoingReply> outgoing QUILLON_GUARDED_BY(mutex);
  int64_t next_reply_id QUILLON_GUARDED_BY(mutex) = 1;

  int32_t refuse_view_controllers QUILLON_GUARDED_BY(mutex) = 0;
  std::map<UINT, LRESULT> claimed_messages QUILLON_GUARDED_BY(mutex);
  std::map<UINT, int32_t> offered_messages QUILLON_GUARDED_BY(mutex);
  UINT dpi_override QUILLON_GUARDED_BY(mutex) = 0;
  bool scripted_ui_enabled QUILLON_GUARDED_BY(mutex) = true;
  bool scripted_ui_started QUILLON_GUARDED_BY(mutex) = false;

  platform::Mutex events_mutex;
  std::vector<StandinEngineEvent> events QUILLON_GUARDED_BY(events_mutex);
  // Misuse (and second responses) not yet acknowledged by a test; survives
  // StandinEngineClearEvents so a cleared log cannot hide it.
  int32_t unacknowledged_misuse QUILLON_GUARDED_BY(events_mutex) = 0;
  std::string first_misuse QUILLON_GUARDED_BY(events_mutex);
};

Library& GetLibrary();

// True when `object` is among the live handles of `set`. Callers hold the
// library mutex.
inline bool IsLive(const std::set<const void*>& set, const void* object) {
  return object != nullptr && set.count(object) != 0;
}

// True when `object` is among the live handles of `set`; otherwise logs
// `misuse` (the call and what was wrong) and returns false. Callers hold the
// library mutex.
bool LiveOrMisuse(const std::set<const void*>& set, const void* object,
                  const char* misuse);

// Appends an event to the log. Takes only the events mutex.
void LogEvent(int32_t kind, int64_t engine_serial,
              FlutterDesktopPluginRegistrarRef registrar,
              const std::string& detail);

// True when `engine` is live. Takes the library mutex.
bool IsLiveEngine(FlutterDesktopEngine* engine);

// Logs a misuse event: a call the real library would not survive or that
// breaks its contract.
void Misuse(int64_t serial, const std::string& what);

// Queues `task` for the engine's next turn on its UI thread (on Windows a
// message posted to the engine's task window; natively the turn is
// StandinEngineRunTasks).
void PostTask(FlutterDesktopEngine* engine, StandinTask task);
// Runs the engine's queued tasks, including those they queue, in order, on
// the engine's UI thread; returns how many ran. Stops early if a task ends
// the engine.
int32_t RunTasks(FlutterDesktopEngine* engine);
// Hands every queued task `false`: the engine ended before their turn.
void DropTasks(FlutterDesktopEngine* engine);
// Windows: the engine's message-only task window (no-ops natively).
void CreateTaskWindow(FlutterDesktopEngine* engine);
void DestroyTaskWindow(FlutterDesktopEngine* engine);
void PostRunTasks(FlutterDesktopEngine* engine);
// Appends a line to the transcript of a scripted run, if there is one
// (Windows only, in the scripted UI's library).
void WriteMisuseToTranscript(const std::string& line);
// Writes a method call the host sent to the user interface side, when no
// test handler takes it, to the transcript of a scripted run (Windows only).
void WriteCallFromHostToTranscript(const std::string& channel,
                                   const uint8_t* data, size_t size);

// Delivers a message from the UI side. `on_drop` (may be null) is called with
// `user_data` instead of `reply` when the engine ends before the response.
// Returns 1, 0 or -1 as StandinEngineDeliverMessage.
int32_t DeliverMessage(FlutterDesktopEngine* engine, const std::string& channel,
                       const uint8_t* data, size_t size,
                       StandinEngineReplyCallback reply, void (*on_drop)(void*),
                       void* user_data);

// Window parts (platform_win32.cc; no-ops in platform_native.cc).
// Creates the view window of `width` x `height` pixels and its parking
// parent; false when a window could not be made.
bool CreateViewWindows(FlutterDesktopViewController* controller, int width,
                       int height);
// Destroys the view window if it still exists, then the parking parent.
void DestroyViewWindows(FlutterDesktopViewController* controller);
// The scripted user interface (standins/scripted_ui on Windows; no-ops
// natively), which plays the Dart UI's part in the view. Starts it for the
// controller's view.
void StartScriptedUi(FlutterDesktopViewController* controller);
// Stops it; no step runs afterwards.
void StopScriptedUi(FlutterDesktopViewController* controller);
#ifdef _WIN32
// The view's paint and the scripted UI's timers and resumes; false for a
// message that is not one of them.
bool HandleScriptedUiMessage(FlutterDesktopViewController* controller,
                             HWND window, UINT message, WPARAM wparam,
                             LRESULT* result);
#endif
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
