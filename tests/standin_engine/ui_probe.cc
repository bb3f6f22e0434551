// A small host for the scripted-UI tests: starts an engine with its command
// line as entrypoint arguments, adopts the engine's view into a top-level
// window, answers a few channels, exports a function table and runs the
// message loop until the window is destroyed.
//
//   standin_ui_probe.exe [--assets=<folder>] [arguments...]
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "embedding/encodable_value.h"
#include "embedding/method_call.h"
#include "embedding/standard_codec.h"
#include "interfaces/flutter_windows.h"

namespace {

constexpr wchar_t kWindowClass[] = L"StandinProbeWindow";
constexpr UINT kFrameActionMessage = 0x7FFE;
constexpr UINT kRecordMessage = WM_USER + 1;
constexpr int kWidth = 400;
constexpr int kHeight = 300;

HWND g_window = nullptr;
HWND g_view = nullptr;
FlutterDesktopViewControllerRef g_controller = nullptr;
FlutterDesktopMessengerRef g_messenger = nullptr;
std::vector<std::thread>* g_repliers = nullptr;

// State the function table reads and writes.
bool g_flag = false;
int32_t g_width = 0;
int32_t g_height = 0;
int32_t g_inset = 0;
WPARAM g_posted_wparam = 0;
LPARAM g_posted_lparam = 0;

bool IsReady() { return true; }
void* GetWindow() { return g_window; }
void SetFlag(bool flag) { g_flag = flag; }
void SetSize(int32_t width, int32_t height) {
  g_width = width;
  g_height = height;
}
void SetInset(int32_t inset) { g_inset = inset; }
// Width in the upper half, height in bits 8..23, the flag in bit 0.
void* SizeState() {
  uint64_t state =
      (static_cast<uint64_t>(static_cast<uint32_t>(g_width)) << 32) |
      ((static_cast<uint64_t>(g_height) & 0xFFFF) << 8) | (g_flag ? 1 : 0);
  return reinterpret_cast<void*>(static_cast<uintptr_t>(state));
}
void* PostedState() {
  uint64_t state = (static_cast<uint64_t>(g_posted_wparam) << 32) |
                   static_cast<uint32_t>(g_posted_lparam);
  return reinterpret_cast<void*>(static_cast<uintptr_t>(state));
}
bool InsetIs42() { return g_inset == 42; }

using Entry = void (*)();
const Entry kPublicTable[] = {
    reinterpret_cast<Entry>(IsReady),   reinterpret_cast<Entry>(GetWindow),
    reinterpret_cast<Entry>(SetFlag),   reinterpret_cast<Entry>(SetSize),
    reinterpret_cast<Entry>(SetInset),  nullptr,
    reinterpret_cast<Entry>(SizeState), reinterpret_cast<Entry>(PostedState)};
const Entry kPrivateTable[] = {reinterpret_cast<Entry>(InsetIs42)};
const Entry* const kApi[2] = {kPublicTable, kPrivateTable};

void Respond(const FlutterDesktopMessage* message,
             const std::vector<uint8_t>& bytes) {
  FlutterDesktopMessengerSendResponse(g_messenger, message->response_handle,
                                      bytes.empty() ? nullptr : bytes.data(),
                                      bytes.size());
}

void OnEcho(FlutterDesktopMessengerRef, const FlutterDesktopMessage* message,
            void*) {
  std::vector<uint8_t> bytes(message->message,
                             message->message + message->message_size);
  Respond(message, std::vector<uint8_t>(bytes.rbegin(), bytes.rend()));
}

void OnEmpty(FlutterDesktopMessengerRef, const FlutterDesktopMessage* message,
             void*) {
  Respond(message, {});
}

void OnSilent(FlutterDesktopMessengerRef, const FlutterDesktopMessage*, void*) {
}

// Answers from another thread a little later, as a plugin with a worker does.
void OnLater(FlutterDesktopMessengerRef, const FlutterDesktopMessage* message,
             void*) {
  std::vector<uint8_t> bytes(message->message,
                             message->message + message->message_size);
  const FlutterDesktopMessageResponseHandle* handle = message->response_handle;
  FlutterDesktopMessengerRef messenger =
      FlutterDesktopMessengerAddRef(g_messenger);
  g_repliers->emplace_back([messenger, handle, bytes] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    std::vector<uint8_t> reply(bytes.rbegin(), bytes.rend());
    FlutterDesktopMessengerLock(messenger);
    if (FlutterDesktopMessengerIsAvailable(messenger)) {
      FlutterDesktopMessengerSendResponse(messenger, handle, reply.data(),
                                          reply.size());
    }
    FlutterDesktopMessengerUnlock(messenger);
    FlutterDesktopMessengerRelease(messenger);
  });
}

// "add" [a, b] answers a + b as a 64-bit integer; "fail" answers an error
// carrying the arguments; anything else is not implemented.
void OnMethod(FlutterDesktopMessengerRef, const FlutterDesktopMessage* message,
              void*) {
  const auto& codec = flutter::StandardMethodCodec::GetInstance();
  std::unique_ptr<flutter::MethodCall> call =
      codec.DecodeMethodCall(message->message, message->message_size);
  std::unique_ptr<std::vector<uint8_t>> reply;
  if (call != nullptr && call->method_name() == "add") {
    const auto* list = std::get_if<flutter::EncodableList>(call->arguments());
    int64_t sum = 0;
    for (size_t i = 0; list != nullptr && i < list->size(); ++i) {
      const auto* item = std::get_if<int32_t>(&(*list)[i]);
      sum += item != nullptr ? *item : 0;
    }
    flutter::EncodableValue result(sum);
    reply = codec.EncodeSuccessReply(&result);
  } else if (call != nullptr && call->method_name() == "fail") {
    reply = codec.EncodeErrorReply("E_FAIL", "it failed", call->arguments());
  }
  Respond(message, reply != nullptr ? *reply : std::vector<uint8_t>());
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam,
                            LPARAM lparam) {
  switch (message) {
    case kFrameActionMessage:
      // Carries out frame actions as the host's frame module does.
      if (wparam == 1) {
        auto* record = reinterpret_cast<int32_t*>(lparam);
        SetWindowPos(window, nullptr, record[0], record[1], record[2],
                     record[3], static_cast<UINT>(record[4]));
        HeapFree(GetProcessHeap(), 0, record);
      } else if (wparam == 2) {
        auto* record = reinterpret_cast<wchar_t**>(lparam);
        SetWindowTextW(window, *record);
        HeapFree(GetProcessHeap(), 0, *record);
        HeapFree(GetProcessHeap(), 0, record);
      }
      return 0;
    case kRecordMessage:
      g_posted_wparam = wparam;
      g_posted_lparam = lparam;
      return 0;
    case WM_SIZE:
      if (g_view != nullptr) {
        MoveWindow(g_view, 0, 0, LOWORD(lparam), HIWORD(lparam), TRUE);
      }
      return 0;
    case WM_DESTROY:
      if (g_controller != nullptr) {
        FlutterDesktopViewControllerDestroy(g_controller);
        g_controller = nullptr;
        g_view = nullptr;
      }
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wparam, lparam);
  }
}

std::string ToUtf8(const wchar_t* text) {
  int size =
      WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) {
    return std::string();
  }
  std::string out(static_cast<size_t>(size - 1), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], size, nullptr, nullptr);
  return out;
}

}  // namespace

extern "C" __declspec(dllexport) const void* probe_api() { return kApi; }

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, wchar_t*, int) {
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
  std::wstring assets = L"data\\flutter_assets";
  std::vector<std::string> arguments;
  const std::wstring kAssetsOption = L"--assets=";
  for (int i = 1; argv != nullptr && i < count; ++i) {
    std::wstring argument(argv[i]);
    if (i == 1 &&
        argument.compare(0, kAssetsOption.size(), kAssetsOption) == 0) {
      assets = argument.substr(kAssetsOption.size());
    } else {
      arguments.push_back(ToUtf8(argv[i]));
    }
  }
  LocalFree(argv);
  std::vector<const char*> pointers;
  for (const std::string& argument : arguments) {
    pointers.push_back(argument.c_str());
  }

  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = WindowProc;
  window_class.hInstance = instance;
  window_class.lpszClassName = kWindowClass;
  RegisterClassExW(&window_class);
  g_window = CreateWindowExW(0, kWindowClass, L"probe",
                             WS_POPUP | WS_CLIPCHILDREN, 100, 100, kWidth,
                             kHeight, nullptr, nullptr, instance, nullptr);
  if (g_window == nullptr) {
    return 2;
  }

  FlutterDesktopEngineProperties properties{};
  properties.assets_path = assets.c_str();
  properties.icu_data_path = L"data\\icudtl.dat";
  properties.aot_library_path = L"data\\app.so";
  properties.dart_entrypoint = "";
  properties.dart_entrypoint_argc = static_cast<int>(pointers.size());
  properties.dart_entrypoint_argv =
      pointers.empty() ? nullptr : pointers.data();
  FlutterDesktopEngineRef engine = FlutterDesktopEngineCreate(&properties);
  g_controller = FlutterDesktopViewControllerCreate(kWidth, kHeight, engine);
  if (g_controller == nullptr) {
    DestroyWindow(g_window);
    return 1;
  }
  g_messenger = FlutterDesktopEngineGetMessenger(engine);
  std::vector<std::thread> repliers;
  g_repliers = &repliers;
  FlutterDesktopMessengerSetCallback(g_messenger, "probe/echo", OnEcho,
                                     nullptr);
  FlutterDesktopMessengerSetCallback(g_messenger, "probe/empty", OnEmpty,
                                     nullptr);
  FlutterDesktopMessengerSetCallback(g_messenger, "probe/silent", OnSilent,
                                     nullptr);
  FlutterDesktopMessengerSetCallback(g_messenger, "probe/later", OnLater,
                                     nullptr);
  FlutterDesktopMessengerSetCallback(g_messenger, "probe/method", OnMethod,
                                     nullptr);

  g_view = FlutterDesktopViewGetHWND(
      FlutterDesktopViewControllerGetView(g_controller));
  SetParent(g_view, g_window);
  MoveWindow(g_view, 0, 0, kWidth, kHeight, TRUE);

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  for (std::thread& replier : repliers) {
    replier.join();
  }
  return 0;
}
