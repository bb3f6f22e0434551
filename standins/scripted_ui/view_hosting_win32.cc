// Where the engine's view window hosts the scripted user interface: its
// start and stop with the view, the view's picture, the timers and resumes
// that run its steps, and the transcript lines the engine asks for. The
// engine declares these (engine_internal.h) and knows nothing else of the
// scripted UI.
#include <windows.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "standins/engine/engine_internal.h"
#include "standins/scripted_ui/scripted_ui_win32.h"
#include "standins/scripted_ui/transcript.h"
#include "standins/scripted_ui/view_paint_win32.h"
#include "standins/scripted_ui/wire_codec.h"

namespace standin {

namespace {

bool HasTranscript() {
  return GetEnvironmentVariableW(L"QUILLON_STANDIN_TRANSCRIPT", nullptr, 0) > 1;
}

std::shared_ptr<ScriptedUi> ScriptedUiOf(
    const FlutterDesktopViewController* controller) {
  return controller != nullptr ? controller->scripted_ui : nullptr;
}

void PaintViewWindow(const FlutterDesktopViewController* controller,
                     HWND window) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  if (dc != nullptr) {
    std::shared_ptr<ScriptedUi> scripted_ui = ScriptedUiOf(controller);
    NoThrowVoid([&] {
      PaintView(window, dc,
                scripted_ui != nullptr ? scripted_ui->RecentLines()
                                       : std::vector<std::string>(),
                scripted_ui != nullptr);
    });
  }
  EndPaint(window, &paint);
}

}  // namespace

bool HandleScriptedUiMessage(FlutterDesktopViewController* controller,
                             HWND window, UINT message, WPARAM wparam,
                             LRESULT* result) {
  *result = 0;
  if (message == WM_PAINT) {
    PaintViewWindow(controller, window);
    return true;
  }
  if (message != WM_TIMER && message != kScriptedUiResume) return false;
  // A copy: a step may destroy the controller while it runs.
  std::shared_ptr<ScriptedUi> scripted_ui = ScriptedUiOf(controller);
  if (scripted_ui == nullptr) return false;
  return NoThrow(true, [&] {
    if (message == WM_TIMER) return scripted_ui->OnTimer(wparam);
    scripted_ui->OnResume();
    return true;
  });
}

void StartScriptedUi(FlutterDesktopViewController* controller) {
  Library& library = GetLibrary();
  {
    platform::MutexLock guard(library.mutex);
    if (!library.scripted_ui_enabled || library.scripted_ui_started) {
      return;
    }
    library.scripted_ui_started = true;
  }
  controller->scripted_ui = std::make_shared<ScriptedUi>(
      controller->engine, controller->view.hwnd, controller->parking_window);
  // Runs once the host's message loop turns, after the view was adopted.
  PostMessageW(controller->view.hwnd, kScriptedUiResume, 0, 0);
}

void StopScriptedUi(FlutterDesktopViewController* controller) {
  if (controller->scripted_ui != nullptr) {
    controller->scripted_ui->Stop();
    controller->scripted_ui.reset();
  }
}

void WriteMisuseToTranscript(const std::string& line) {
  // Only runs of a program with a transcript: in-process tests see misuse
  // through the event log.
  if (HasTranscript()) WriteTranscriptLine(line);
}

void WriteCallFromHostToTranscript(const std::string& channel,
                                   const uint8_t* data, size_t size) {
  if (HasTranscript()) {
    WriteTranscriptLine("incoming " + channel + " " +
                        DescribeMethodCall(data, size));
  }
}

}  // namespace standin
