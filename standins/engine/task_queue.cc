// The engine's own turn of the UI thread: messages to the native side,
// replies to the UI side and texture releases are queued here and run later,
// never inside the call that caused them, as a real engine posts them.
#include <utility>

#include "standins/engine/engine_internal.h"
#include "standins/engine/standin_control.h"

namespace standin {

namespace {

// More than any test queues; a task that keeps queueing itself stops here
// instead of hanging the turn.
constexpr int32_t kTasksPerTurn = 100000;

bool PopTask(FlutterDesktopEngine* engine, StandinTask* task) {
  platform::MutexLock guard(engine->tasks_mutex);
  if (engine->tasks.empty()) {
    return false;
  }
  *task = std::move(engine->tasks.front());
  engine->tasks.pop_front();
  return true;
}

}  // namespace

void PostTask(FlutterDesktopEngine* engine, StandinTask task) {
  {
    platform::MutexLock guard(engine->tasks_mutex);
    engine->tasks.push_back(std::move(task));
  }
  PostRunTasks(engine);
}

int32_t RunTasks(FlutterDesktopEngine* engine) {
  if (std::this_thread::get_id() != engine->ui_thread) {
    return 0;  // only the engine's UI thread takes its turn
  }
  int32_t count = 0;
  StandinTask task;
  // A task may end or free the engine: look again before every task.
  while (count < kTasksPerTurn && IsLiveEngine(engine) &&
         PopTask(engine, &task)) {
    NoThrowVoid([&] { task(true); });
    task = nullptr;
    ++count;
  }
  return count;
}

void DropTasks(FlutterDesktopEngine* engine) {
  StandinTask task;
  while (PopTask(engine, &task)) {
    NoThrowVoid([&] { task(false); });
    task = nullptr;
  }
}

}  // namespace standin

extern "C" int32_t StandinEngineRunTasks(void) {
  return standin::NoThrow<int32_t>(0, [] {
    std::vector<FlutterDesktopEngine*> engines;
    {
      standin::Library& library = standin::GetLibrary();
      platform::MutexLock guard(library.mutex);
      engines = library.engines;
    }
    int32_t count = 0;
    for (FlutterDesktopEngine* engine : engines) {
      if (standin::IsLiveEngine(engine)) {
        count += standin::RunTasks(engine);
      }
    }
    return count;
  });
}
