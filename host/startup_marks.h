// When each phase of start-up was reached, for the start-up benchmark.
//
// Off unless the environment variable QUILLON_STARTUP_MARKS names a file:
// then, once the top-level window is first shown, one line per phase reached,
// "<phase> <QueryPerformanceCounter ticks>", and a last line
// "frequency <ticks per second>" are written there. The counter is the same
// in every process, so the benchmark lines the marks up with the moment it
// asked for the process. Marks are taken on the UI thread only.
#ifndef QUILLON_HOST_STARTUP_MARKS_H_
#define QUILLON_HOST_STARTUP_MARKS_H_

namespace startup_marks {

enum class Phase {
  kRuntime,  // the executable's own code runs: every import is loaded
  kEntry,    // wWinMain
  kWindow,   // the top-level window exists
  kEngine,   // the engine and its view exist, plugins registered
  kShown,    // the top-level window is shown (the file is written then)
  kCount,
};

// Keeps the first moment |phase| was reached.
void Mark(Phase phase);

}  // namespace startup_marks

#endif  // QUILLON_HOST_STARTUP_MARKS_H_
