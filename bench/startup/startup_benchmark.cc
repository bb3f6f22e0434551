// Start-up benchmark: how long quillon_pc.exe takes from the request to
// start it to its top-level window being visible, against a bare frameless
// window of the same kind started the same way in the same run.
//
//   startup_benchmark.exe [--runs N] [--product PATH] [--bare PATH]
//
// The two programs start alternately (the order swaps every round, after one
// unmeasured warm-up start of each), each waited for until a visible
// top-level window of the new process exists, then closed and waited for
// until it has ended. Printed: every start, the medians and their ratio, and
// both programs' phase marks (QUILLON_STARTUP_MARKS, host/startup_marks.h)
// as medians from the request. A process start is not a loop of calls in one
// process, so this is a program of its own rather than a Google Benchmark case.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr DWORD kPatienceMs = 20000;

double TicksToMs(LONGLONG ticks) {
  static const LONGLONG frequency = [] {
    LARGE_INTEGER value{};
    QueryPerformanceFrequency(&value);
    return value.QuadPart;
  }();
  return 1000.0 * static_cast<double>(ticks) / static_cast<double>(frequency);
}

LONGLONG Now() {
  LARGE_INTEGER counter{};
  QueryPerformanceCounter(&counter);
  return counter.QuadPart;
}

struct Search {
  DWORD process_id;
  HWND found;
};

BOOL CALLBACK FindVisibleWindow(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<Search*>(parameter);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search->process_id || !IsWindowVisible(window)) return TRUE;
  search->found = window;
  return FALSE;
}

struct Start {
  bool ok = false;
  double visible_ms = 0;
  std::map<std::string, double> phase_ms;  // from the program's marks
};

// "<phase> <ticks>" lines and "frequency <ticks per second>".
std::map<std::string, double> ReadMarks(const std::wstring& path,
                                        LONGLONG requested) {
  std::map<std::string, double> phases;
  FILE* file = _wfopen(path.c_str(), L"rb");
  if (file == nullptr) return phases;
  char name[32];
  long long ticks = 0;
  while (std::fscanf(file, "%31s %lld", name, &ticks) == 2) {
    if (std::string(name) != "frequency") {
      phases[name] = TicksToMs(ticks - requested);
    }
  }
  std::fclose(file);
  return phases;
}

// Until a visible top-level window of |process| exists; null if the process
// ended or took too long.
HWND AwaitVisibleWindow(const PROCESS_INFORMATION& process) {
  const ULONGLONG deadline = GetTickCount64() + kPatienceMs;
  while (GetTickCount64() < deadline) {
    Search search{process.dwProcessId, nullptr};
    EnumWindows(&FindVisibleWindow, reinterpret_cast<LPARAM>(&search));
    if (search.found != nullptr) return search.found;
    if (WaitForSingleObject(process.hProcess, 1) == WAIT_OBJECT_0) break;
  }
  return nullptr;
}

Start StartOnce(const std::wstring& program, const std::wstring& marks) {
  Start start;
  if (!marks.empty()) {
    DeleteFileW(marks.c_str());
    SetEnvironmentVariableW(L"QUILLON_STARTUP_MARKS", marks.c_str());
  }
  std::wstring command = L"\"" + program + L"\"";
  // What the programs print is of no interest here, but what goes wrong is.
  SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
  HANDLE nothing = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_WRITE,
                               &inheritable, OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nothing;
  startup.hStdOutput = nothing;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  const LONGLONG requested = Now();
  const BOOL created =
      CreateProcessW(program.c_str(), &command[0], nullptr, nullptr, TRUE, 0,
                     nullptr, nullptr, &startup, &process);
  SetEnvironmentVariableW(L"QUILLON_STARTUP_MARKS", nullptr);
  if (nothing != INVALID_HANDLE_VALUE) CloseHandle(nothing);
  if (!created) {
    std::fwprintf(stderr, L"could not start %ls (error %lu)\n", program.c_str(),
                  GetLastError());
    return start;
  }
  HWND window = AwaitVisibleWindow(process);
  start.visible_ms = TicksToMs(Now() - requested);
  start.ok = window != nullptr;
  DWORD exit_code = 0;
  if (!start.ok && GetExitCodeProcess(process.hProcess, &exit_code)) {
    std::fwprintf(stderr, L"%ls showed no window (exit code 0x%lx)\n",
                  program.c_str(), exit_code);
  }
  if (window != nullptr) PostMessageW(window, WM_CLOSE, 0, 0);
  if (WaitForSingleObject(process.hProcess, kPatienceMs) != WAIT_OBJECT_0) {
    std::fwprintf(stderr, L"%ls did not end; terminated\n", program.c_str());
    TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, kPatienceMs);
    start.ok = false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  if (!marks.empty()) start.phase_ms = ReadMarks(marks, requested);
  return start;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 != 0 ? values[middle]
                                : (values[middle - 1] + values[middle]) / 2;
}

std::wstring BesideThisProgram(const wchar_t* name) {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  folder.resize(folder.find_last_of(L"\\/") + 1);
  return folder + name;
}

struct Options {
  int runs = 10;
  std::wstring product = BesideThisProgram(L"quillon_pc.exe");
  std::wstring bare = BesideThisProgram(L"bare_frameless_window.exe");
};

bool ParseOptions(int argc, wchar_t** argv, Options* options) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::wstring name = argv[i];
    if (name == L"--runs") {
      options->runs = std::max(1, _wtoi(argv[i + 1]));
    } else if (name == L"--product") {
      options->product = argv[i + 1];
    } else if (name == L"--bare") {
      options->bare = argv[i + 1];
    } else {
      return false;
    }
  }
  return argc % 2 == 1;
}

std::wstring MarksFile() {
  wchar_t folder[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, folder);
  return std::wstring(folder) + L"quillon_startup_marks.txt";
}

std::vector<double> Visible(const std::vector<Start>& starts) {
  std::vector<double> times;
  for (const Start& start : starts) times.push_back(start.visible_ms);
  return times;
}

// When a phase was reached, from the request, in each start that marked it.
std::vector<double> PhaseTimes(const std::vector<Start>& starts,
                               const char* phase) {
  std::vector<double> times;
  for (const Start& start : starts) {
    const auto found = start.phase_ms.find(phase);
    if (found != start.phase_ms.end()) times.push_back(found->second);
  }
  return times;
}

// "median fastest" of each program; blank where it marks no such phase.
void PrintPhase(const char* name, const std::vector<double>& ours,
                const std::vector<double>& floor) {
  std::printf("  %-32s", name);
  for (const std::vector<double>* times : {&ours, &floor}) {
    if (times->empty()) {
      std::printf("  %15s", "");
    } else {
      std::printf("  %7.1f %7.1f", Median(*times),
                  *std::min_element(times->begin(), times->end()));
    }
  }
  std::printf("\n");
}

void PrintPhases(const std::vector<Start>& product,
                 const std::vector<Start>& bare) {
  static const char* const kPhases[][2] = {
      {"runtime", "imports loaded, runtime started"},
      {"entry", "wWinMain"},
      {"window", "top-level window created"},
      {"engine", "engine, view and plugins ready"},
      {"shown", "top-level window shown"},
  };
  std::printf(
      "phases, ms from the request        quillon_pc.exe       bare window\n"
      "                                   median fastest   median fastest\n");
  for (const auto& phase : kPhases) {
    PrintPhase(phase[1], PhaseTimes(product, phase[0]),
               PhaseTimes(bare, phase[0]));
  }
  PrintPhase("visible to another process", Visible(product), Visible(bare));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    std::fprintf(stderr,
                 "usage: startup_benchmark [--runs N] [--product PATH] "
                 "[--bare PATH]\n");
    return 2;
  }
  const std::wstring marks = MarksFile();
  // Unmeasured: the first start of each fills the system's caches.
  StartOnce(options.product, marks);
  StartOnce(options.bare, marks);

  std::vector<Start> product_starts;
  std::vector<Start> bare_starts;
  std::printf("start  quillon_pc.exe ms  bare window ms\n");
  for (int run = 0; run < options.runs; ++run) {
    const bool product_first = run % 2 == 0;
    Start first =
        StartOnce(product_first ? options.product : options.bare, marks);
    Start second =
        StartOnce(product_first ? options.bare : options.product, marks);
    Start& product = product_first ? first : second;
    Start& bare = product_first ? second : first;
    if (!product.ok || !bare.ok) {
      std::fprintf(stderr, "start %d failed\n", run + 1);
      return 1;
    }
    std::printf("%5d  %17.1f  %14.1f\n", run + 1, product.visible_ms,
                bare.visible_ms);
    product_starts.push_back(product);
    bare_starts.push_back(bare);
  }
  const std::vector<double> product_ms = Visible(product_starts);
  const std::vector<double> bare_ms = Visible(bare_starts);
  const double product_median = Median(product_ms);
  const double bare_median = Median(bare_ms);
  std::printf(
      "median of %d: quillon_pc.exe %.1f ms, bare window %.1f ms, "
      "ratio %.2f\n",
      options.runs, product_median, bare_median, product_median / bare_median);
  // Load on the machine only ever adds time: the fastest starts show what
  // the programs themselves cost when the medians are disturbed.
  const double product_fastest =
      *std::min_element(product_ms.begin(), product_ms.end());
  const double bare_fastest = *std::min_element(bare_ms.begin(), bare_ms.end());
  std::printf(
      "fastest: quillon_pc.exe %.1f ms, bare window %.1f ms, ratio %.2f\n",
      product_fastest, bare_fastest, product_fastest / bare_fastest);
  PrintPhases(product_starts, bare_starts);
  DeleteFileW(marks.c_str());
  return 0;
}
