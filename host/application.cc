#include "host/application.h"

#include <windows.h>
#include <objbase.h>

#include <cwchar>
#include <string>
#include <utility>

#include "embedding/engine_project.h"
#include "host/flutter_window.h"
#include "host/process_setup.h"
#include "host/win32_window.h"

namespace {

constexpr wchar_t kSingleInstanceMutexName[] =
    L"quillon_win_single_instance_mutex";
// A window the user interface opens as its own process carries this marker
// and must run beside the main instance.
constexpr wchar_t kDetachedWindowMarker[] = L"--quillon-detached-window=";
constexpr wchar_t kWindowTitle[] = L"quillon_pc";

// The full path of the executable that |process_id| runs; empty when the
// process cannot be asked.
std::wstring ExecutableOf(DWORD process_id) {
  HANDLE process =
      OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id);
  if (process == nullptr) {
    return std::wstring();
  }
  std::wstring path(MAX_PATH, L'\0');
  DWORD length = static_cast<DWORD>(path.size());
  const BOOL found = QueryFullProcessImageNameW(process, 0, &path[0], &length);
  CloseHandle(process);
  path.resize(found ? length : 0);
  return path;
}

std::wstring OwnExecutable() {
  std::wstring path(MAX_PATH, L'\0');
  const DWORD length =
      GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
  path.resize(length < path.size() ? length : 0);
  return path;
}

// Whether |window| belongs to a process of the executable at |own|; false
// when the system cannot tell.
bool SameExecutable(HWND window, const std::wstring& own) {
  DWORD process_id = 0;
  GetWindowThreadProcessId(window, &process_id);
  const std::wstring other = ExecutableOf(process_id);
  return !own.empty() && !other.empty() &&
         CompareStringOrdinal(own.c_str(), static_cast<int>(own.size()),
                              other.c_str(), static_cast<int>(other.size()),
                              TRUE) == CSTR_EQUAL;
}

// Other programs of the same engine use the same window class, and any
// window can carry the title or the frame code's marker. The running
// instance's window is one of our class that runs our executable; failing
// that, one titled as ours that runs our executable.
struct InstanceSearch {
  std::wstring own_executable;
  HWND by_class = nullptr;
  HWND by_title = nullptr;
};

BOOL CALLBACK ExamineWindow(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<InstanceSearch*>(parameter);
  wchar_t text[64] = {};
  const bool our_class = GetClassNameW(window, text, 64) > 0 &&
                         wcscmp(text, kAppWindowClassName) == 0;
  const bool our_title =
      GetWindowTextW(window, text, 64) > 0 && wcscmp(text, kWindowTitle) == 0;
  if (!our_class && !our_title) {
    return TRUE;
  }
  const bool same_executable = SameExecutable(window, search->own_executable);
  if (our_class && same_executable) {
    search->by_class = window;
    return FALSE;
  }
  if (our_title && same_executable && search->by_title == nullptr) {
    search->by_title = window;
  }
  return TRUE;
}

// Brings the running instance's window forward: restored if minimised, but a
// hidden window stays hidden.
void HandOffToRunningInstance() {
  InstanceSearch search;
  search.own_executable = OwnExecutable();
  EnumWindows(&ExamineWindow, reinterpret_cast<LPARAM>(&search));
  HWND other = search.by_class != nullptr ? search.by_class : search.by_title;
  if (other == nullptr) {
    return;
  }
  if (IsIconic(other)) {
    ShowWindow(other, SW_RESTORE);
  }
  SetForegroundWindow(other);
}

class MutexHandle {
 public:
  explicit MutexHandle(HANDLE handle) : handle_(handle) {}
  ~MutexHandle() { Close(); }
  MutexHandle(const MutexHandle&) = delete;
  MutexHandle& operator=(const MutexHandle&) = delete;

  bool valid() const { return handle_ != nullptr; }

  void ReleaseAndClose() {
    if (handle_ != nullptr) {
      ReleaseMutex(handle_);
    }
    Close();
  }

 private:
  void Close() {
    if (handle_ != nullptr) {
      CloseHandle(handle_);
      handle_ = nullptr;
    }
  }

  HANDLE handle_;
};

}  // namespace

int RunApplication(const wchar_t* command_line) {
  const std::wstring command_line_text =
      command_line != nullptr ? command_line : L"";
  const bool detached =
      command_line_text.find(kDetachedWindowMarker) != std::wstring::npos;

  MutexHandle mutex(CreateMutexW(nullptr, TRUE, kSingleInstanceMutexName));
  const DWORD mutex_error = GetLastError();
  if (!detached && mutex.valid() && mutex_error == ERROR_ALREADY_EXISTS) {
    HandOffToRunningInstance();
    return 0;
  }

  // Output goes to the console the process was started from, if any; a
  // debugged process without one gets a console of its own.
  if (!AttachConsole(ATTACH_PARENT_PROCESS) && IsDebuggerPresent()) {
    AttachDebugConsole();
  }

  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

  flutter::EngineProject project(L"data");
  project.set_entrypoint_arguments(CommandLineArguments());

  FlutterWindow window(project);
  if (!window.Create(kWindowTitle, Win32Window::Point(10, 10),
                     Win32Window::Size(1280, 720))) {
    // The window object and the mutex handle go on the way out; COM is left
    // to the process's end.
    return 1;
  }
  window.SetQuitOnClose(true);

  MSG message;
  // GetMessageW gives -1 on error, which must end the loop too.
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }

  CoUninitialize();
  mutex.ReleaseAndClose();
  return 0;
}
