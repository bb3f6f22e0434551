// The scripted user interface: plays the part of the Dart UI by running the
// steps of a scenario file (SCENARIO.md) on the main thread, driven by the
// host's message loop through the view window, and writing a transcript.
#ifndef QUILLON_STANDINS_SCRIPTED_UI_SCRIPTED_UI_WIN32_H_
#define QUILLON_STANDINS_SCRIPTED_UI_SCRIPTED_UI_WIN32_H_

#include <windows.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "standins/engine/engine_internal.h"
#include "standins/scripted_ui/scenario.h"

namespace standin {

// Posted to the view window: run the next steps.
constexpr UINT kScriptedUiResume = WM_USER + 0x5A1;

class ScriptedUi : public std::enable_shared_from_this<ScriptedUi> {
 public:
  ScriptedUi(FlutterDesktopEngine* engine, HWND view, HWND parking_window);
  ScriptedUi(const ScriptedUi&) = delete;
  ScriptedUi& operator=(const ScriptedUi&) = delete;

  // Window messages of the view, on the main thread. OnTimer returns false
  // for a timer that is not the scripted UI's.
  void OnResume();
  bool OnTimer(UINT_PTR timer);

  // No step runs after this; a pending reply is ignored.
  void Stop();

  // The latest transcript lines, oldest first, for the view to show.
  std::vector<std::string> RecentLines() const;

  // A reply to the message of `token` arrived, on any thread.
  void ReceiveReply(uint64_t token, const uint8_t* data, size_t size);
  // The engine ended before replying to the message of `token`.
  void ReceiveDrop(uint64_t token);

 private:
  enum class Waiting { kNothing, kTimer, kReply };
  enum class ReplyState { kPending, kReceived, kDropped };

  void Load();
  void Run();
  // Runs one step through its kind's handler; returns false when the step
  // waits.
  bool Execute(const Step& step);
  struct StepHandler {
    StepKind kind;
    bool (ScriptedUi::*run)(const Step& step);
  };
  static const std::vector<StepHandler>& StepHandlers();
  bool RunPrintArgs(const Step& step);
  bool RunShow(const Step& step);
  bool RunWait(const Step& step);
  bool RunReplyTimeout(const Step& step);
  bool RunEcho(const Step& step);
  bool RunSend(const Step& step);
  bool RunMethod(const Step& step);
  bool RunCall(const Step& step);
  bool RunTable(const Step& step);
  bool RunPost(const Step& step);
  bool RunPostLater(const Step& step);
  bool RunFrameMove(const Step& step);
  bool RunFrameTitle(const Step& step);
  bool RunFrameAction(const Step& step);
  bool RunWindow(const Step& step);
  bool RunView(const Step& step);
  bool RunScreenshot(const Step& step);
  bool RunDestroy(const Step& step);
  // Calls the export a call or table step names; false (and the transcript
  // says so) when it is missing.
  bool CallExport(const Step& step, void** record);
  // Hands a message to the native side and waits for its reply.
  bool StartMessage(const Step& step, const std::vector<uint8_t>& bytes);
  // The step waiting for a reply has its answer (or gave up).
  void FinishMessage(bool timed_out);

  HWND TopLevelWindow() const;
  std::string DescribePointer(const void* pointer) const;
  bool PostToTopLevel(UINT message, WPARAM wparam, LPARAM lparam);
  void Print(const std::string& line);

  FlutterDesktopEngine* const engine_;  // not touched once stopped
  const HWND view_;
  const HWND parking_window_;
  std::vector<std::string> arguments_;
  std::wstring assets_path_;

  bool loaded_ = false;
  bool stopped_ = false;
  bool running_ = false;
  bool finished_ = false;
  std::vector<Step> steps_;
  size_t next_ = 0;
  Waiting waiting_ = Waiting::kNothing;
  UINT reply_timeout_ms_ = 5000;
  // What a post-later step posts when its timer fires.
  uintptr_t later_post_[3] = {0, 0, 0};

  // The step waiting for a reply, and the reply; guarded by `reply_mutex_`
  // because replies may come from any thread.
  std::mutex reply_mutex_;
  const Step* message_step_ = nullptr;
  uint64_t reply_token_ = 0;
  ReplyState reply_state_ = ReplyState::kPending;
  std::vector<uint8_t> reply_bytes_;

  // What the view paints; the paint reads it, Print adds to it.
  mutable std::mutex lines_mutex_;
  std::deque<std::string> recent_lines_;
};

}  // namespace standin

#endif  // QUILLON_STANDINS_SCRIPTED_UI_SCRIPTED_UI_WIN32_H_
