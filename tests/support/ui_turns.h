#ifndef QUILLON_TESTS_SUPPORT_UI_TURNS_H_
#define QUILLON_TESTS_SUPPORT_UI_TURNS_H_

#include <chrono>
#include <thread>

#include "platform/ui_task_queue.h"
#include "standins/engine/standin_control.h"

namespace test_support {

// Takes the stand-in engine's turns (which deliver calls and replies) and
// runs the UI thread's tasks (where the analytics worker's answers land)
// until |done()| holds or |limit| has passed; returns |done()|. Sleeps a
// millisecond whenever neither had work.
template <typename Done>
bool RunEngineAndUiTurnsUntil(Done done, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    const int engine_tasks = StandinEngineRunTasks();
    if (platform::RunPendingUiTasks() == 0 && engine_tasks == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  return true;
}

}  // namespace test_support

#endif  // QUILLON_TESTS_SUPPORT_UI_TURNS_H_
