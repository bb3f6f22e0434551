#include "host/startup_marks.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <vector>

namespace startup_marks {

namespace {

constexpr int kPhaseCount = static_cast<int>(Phase::kCount);
constexpr const char* kPhaseNames[kPhaseCount] = {"runtime", "entry", "window",
                                                  "engine", "shown"};

// Zero: not reached. Constant-initialised, so the runtime mark below may be
// taken by any static initialiser.
int64_t g_marks[kPhaseCount] = {};

int64_t Now() {
  LARGE_INTEGER counter{};
  QueryPerformanceCounter(&counter);
  return counter.QuadPart;
}

// Nothing is asked of the system while the runtime starts but the clock.
struct RuntimeMark {
  RuntimeMark() { Mark(Phase::kRuntime); }
};
RuntimeMark runtime_mark;

std::vector<wchar_t> MarksPath() {
  const DWORD size =
      GetEnvironmentVariableW(L"QUILLON_STARTUP_MARKS", nullptr, 0);
  std::vector<wchar_t> path(size);
  if (size <= 1 ||
      GetEnvironmentVariableW(L"QUILLON_STARTUP_MARKS", path.data(), size) +
              1 !=
          size) {
    path.clear();
  }
  return path;
}

void WriteMarks() {
  const std::vector<wchar_t> path = MarksPath();
  if (path.empty()) return;
  FILE* file = _wfopen(path.data(), L"wb");
  if (file == nullptr) return;
  for (int phase = 0; phase < kPhaseCount; ++phase) {
    if (g_marks[phase] == 0) continue;
    std::fprintf(file, "%s %lld\n", kPhaseNames[phase],
                 static_cast<long long>(g_marks[phase]));
  }
  LARGE_INTEGER frequency{};
  QueryPerformanceFrequency(&frequency);
  std::fprintf(file, "frequency %lld\n",
               static_cast<long long>(frequency.QuadPart));
  std::fclose(file);
}

}  // namespace

void Mark(Phase phase) {
  const int index = static_cast<int>(phase);
  if (index < 0 || index >= kPhaseCount || g_marks[index] != 0) return;
  g_marks[index] = Now();
  if (phase == Phase::kShown) WriteMarks();
}

}  // namespace startup_marks
