// The window parts of the stand-in on Windows: the view window of class
// "FLUTTERVIEW", the hidden window that parks it until the host adopts it,
// the monitor DPI and the executable's folder.
#include <windows.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "standins/engine/engine_internal.h"
#include "standins/engine/gdi_handles_win32.h"

namespace standin {

namespace {

constexpr wchar_t kViewClass[] = L"FLUTTERVIEW";
constexpr wchar_t kParkingClass[] = L"QuillonStandinViewParking";
constexpr wchar_t kTaskClass[] = L"QuillonStandinEngineTasks";
// Posted to an engine's task window: take the engine's turn.
constexpr UINT kRunTasks = WM_APP + 0x5A2;

HINSTANCE LibraryModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                         GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&LibraryModule), &module);
  return module;
}

FlutterDesktopViewController* ControllerOf(HWND window) {
  return reinterpret_cast<FlutterDesktopViewController*>(
      GetWindowLongPtrW(window, GWLP_USERDATA));
}

// A view message handler answers the message, or returns no value to leave
// it to the default procedure too.
using ViewAnswer = std::optional<LRESULT>;
using ViewMessageHandler = ViewAnswer (*)(HWND window, UINT message,
                                          WPARAM wparam, LPARAM lparam);

ViewAnswer OnViewNcCreate(HWND window, UINT, WPARAM, LPARAM lparam) {
  auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
  SetWindowLongPtrW(window, GWLP_USERDATA,
                    reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  return std::nullopt;
}

ViewAnswer OnViewNcDestroy(HWND window, UINT, WPARAM, LPARAM) {
  // Destroyed with its parent before the controller went.
  FlutterDesktopViewController* controller = ControllerOf(window);
  if (controller != nullptr && controller->view.hwnd == window) {
    controller->view.hwnd = nullptr;
  }
  SetWindowLongPtrW(window, GWLP_USERDATA, 0);
  return std::nullopt;
}

ViewAnswer OnViewEraseBackground(HWND, UINT, WPARAM, LPARAM) { return 1; }

const std::pair<UINT, ViewMessageHandler> kViewMessageHandlers[] = {
    {WM_NCCREATE, &OnViewNcCreate},
    {WM_NCDESTROY, &OnViewNcDestroy},
    {WM_ERASEBKGND, &OnViewEraseBackground},
};

LRESULT CALLBACK ViewWindowProc(HWND window, UINT message, WPARAM wparam,
                                LPARAM lparam) {
  // What the view shows and the scripted UI's turns come first.
  LRESULT scripted_answer = 0;
  if (HandleScriptedUiMessage(ControllerOf(window), window, message, wparam,
                              &scripted_answer)) {
    return scripted_answer;
  }
  for (const auto& handler : kViewMessageHandlers) {
    if (handler.first != message) continue;
    const ViewAnswer answer = handler.second(window, message, wparam, lparam);
    if (answer.has_value()) return *answer;
    break;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

LRESULT CALLBACK TaskWindowProc(HWND window, UINT message, WPARAM wparam,
                                LPARAM lparam) {
  if (message == kRunTasks) {
    auto* engine = reinterpret_cast<FlutterDesktopEngine*>(
        GetWindowLongPtrW(window, GWLP_USERDATA));
    if (engine != nullptr && IsLiveEngine(engine)) {
      RunTasks(engine);
    }
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

bool RegisterClasses() {
  // Registered once for the life of the process; the DLL is never unloaded
  // before its windows are gone.
  static const bool registered = [] {
    HINSTANCE module = LibraryModule();
    WNDCLASSEXW view{};
    view.cbSize = sizeof(view);
    // Redrawn whole on every size change: the footer shows the size.
    view.style = CS_HREDRAW | CS_VREDRAW;
    view.lpfnWndProc = ViewWindowProc;
    view.hInstance = module;
    view.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    view.lpszClassName = kViewClass;
    WNDCLASSEXW parking{};
    parking.cbSize = sizeof(parking);
    parking.lpfnWndProc = DefWindowProcW;
    parking.hInstance = module;
    parking.lpszClassName = kParkingClass;
    WNDCLASSEXW tasks{};
    tasks.cbSize = sizeof(tasks);
    tasks.lpfnWndProc = TaskWindowProc;
    tasks.hInstance = module;
    tasks.lpszClassName = kTaskClass;
    return RegisterClassExW(&view) != 0 && RegisterClassExW(&parking) != 0 &&
           RegisterClassExW(&tasks) != 0;
  }();
  return registered;
}

struct ModuleDeleter {
  void operator()(HMODULE module) const { FreeLibrary(module); }
};

}  // namespace

bool CreateViewWindows(FlutterDesktopViewController* controller, int width,
                       int height) {
  if (!RegisterClasses()) {
    return false;
  }
  HINSTANCE module = LibraryModule();
  controller->parking_window =
      CreateWindowExW(WS_EX_TOOLWINDOW, kParkingClass, L"", WS_POPUP, 0, 0,
                      width, height, nullptr, nullptr, module, nullptr);
  if (controller->parking_window == nullptr) {
    return false;
  }
  // The creation parameter is the controller: never null, which the host's
  // window-creation hook relies on to recognise the view.
  controller->view.hwnd = CreateWindowExW(
      0, kViewClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0, width,
      height, controller->parking_window, nullptr, module, controller);
  return controller->view.hwnd != nullptr;
}

void CreateTaskWindow(FlutterDesktopEngine* engine) {
  if (!RegisterClasses()) {
    return;
  }
  engine->task_window =
      CreateWindowExW(0, kTaskClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                      LibraryModule(), nullptr);
  if (engine->task_window != nullptr) {
    SetWindowLongPtrW(engine->task_window, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(engine));
  }
}

void DestroyTaskWindow(FlutterDesktopEngine* engine) {
  if (engine->task_window == nullptr) {
    return;
  }
  // Unlinked first: a window of another thread cannot be destroyed from
  // here, and a post still queued must not reach a freed engine.
  SetWindowLongPtrW(engine->task_window, GWLP_USERDATA, 0);
  DestroyWindow(engine->task_window);
  engine->task_window = nullptr;
}

void PostRunTasks(FlutterDesktopEngine* engine) {
  if (engine->task_window != nullptr) {
    PostMessageW(engine->task_window, kRunTasks, 0, 0);
  }
}

void DestroyViewWindows(FlutterDesktopViewController* controller) {
  HWND view = controller->view.hwnd;
  if (view != nullptr && IsWindow(view)) {
    SetWindowLongPtrW(view, GWLP_USERDATA, 0);
    DestroyWindow(view);
  }
  controller->view.hwnd = nullptr;
  if (controller->parking_window != nullptr) {
    DestroyWindow(controller->parking_window);
    controller->parking_window = nullptr;
  }
}

UINT MonitorDpi(HMONITOR monitor) {
  using GetDpiForMonitorFunction =
      HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
  static const std::unique_ptr<HINSTANCE__, ModuleDeleter> shcore(
      LoadLibraryW(L"shcore.dll"));
  static const auto get_dpi_for_monitor =
      shcore == nullptr ? nullptr
                        : reinterpret_cast<GetDpiForMonitorFunction>(
                              reinterpret_cast<void (*)()>(GetProcAddress(
                                  shcore.get(), "GetDpiForMonitor")));
  if (get_dpi_for_monitor != nullptr && monitor != nullptr) {
    UINT dpi_x = 0;
    UINT dpi_y = 0;
    const int kEffectiveDpi = 0;
    if (SUCCEEDED(
            get_dpi_for_monitor(monitor, kEffectiveDpi, &dpi_x, &dpi_y)) &&
        dpi_x != 0) {
      return dpi_x;
    }
  }
  ScreenDc screen;
  int dpi = screen.dc != nullptr ? GetDeviceCaps(screen.dc, LOGPIXELSX) : 0;
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

void ReopenOutputStreams() {
  std::fflush(stdout);
  std::fflush(stderr);
  // Streams that had nowhere to go before a console was attached follow it.
  if (GetConsoleWindow() != nullptr) {
    if (_fileno(stdout) < 0) {
      FILE* unused = std::freopen("CONOUT$", "w", stdout);
      (void)unused;
    }
    if (_fileno(stderr) < 0) {
      FILE* unused = std::freopen("CONOUT$", "w", stderr);
      (void)unused;
    }
  }
}

std::wstring ExecutableFolder() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    DWORD length = GetModuleFileNameW(nullptr, buffer.data(),
                                      static_cast<DWORD>(buffer.size()));
    if (length == 0) {
      return L".";
    }
    if (length < buffer.size()) {
      std::wstring path(buffer.data(), length);
      size_t separator = path.find_last_of(L"\\/");
      return separator == std::wstring::npos ? L"." : path.substr(0, separator);
    }
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace standin
