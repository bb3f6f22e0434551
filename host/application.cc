#include "host/application.h"

// clang-format off
#include <windows.h>
#include <objbase.h>
// clang-format on

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

// Brings the running instance's window forward: restored if minimised, but a
// hidden window stays hidden.
void HandOffToRunningInstance() {
  HWND other = FindWindowW(kWin32WindowClassName, nullptr);
  if (other == nullptr) {
    other = FindWindowW(nullptr, kWindowTitle);
  }
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
