#include "standins/scripted_ui/scripted_ui_win32.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "standins/scripted_ui/screenshot_win32.h"
#include "standins/scripted_ui/transcript.h"
#include "standins/scripted_ui/value_notation.h"
#include "standins/scripted_ui/wire_codec.h"

namespace standin {

namespace {

// Distinct ids: whoever subclasses the view may run timers of its own.
constexpr UINT_PTR kWaitTimer = 0x5A10;
constexpr UINT_PTR kReplyTimer = 0x5A11;
constexpr UINT_PTR kPostTimer = 0x5A12;
constexpr UINT kFrameActionMessage = 0x7FFE;
// More than a view of any size shows.
constexpr size_t kRecentLineCount = 80;

// Travels with a delivered message to its reply; freed by whichever of reply
// or drop comes.
struct ReplyContext {
  std::weak_ptr<ScriptedUi> ui;
  uint64_t token;
};

void OnReply(const uint8_t* data, size_t size, void* user_data) {
  std::unique_ptr<ReplyContext> context(static_cast<ReplyContext*>(user_data));
  if (auto ui = context->ui.lock()) {
    NoThrowVoid([&] { ui->ReceiveReply(context->token, data, size); });
  }
}

void OnDrop(void* user_data) {
  std::unique_ptr<ReplyContext> context(static_cast<ReplyContext*>(user_data));
  if (auto ui = context->ui.lock()) {
    ui->ReceiveDrop(context->token);
  }
}

std::string ReadFile(const std::wstring& path, bool* found) {
  std::unique_ptr<FILE, int (*)(FILE*)> file(_wfopen(path.c_str(), L"rb"),
                                             &std::fclose);
  *found = file != nullptr;
  std::string text;
  if (file == nullptr) {
    return text;
  }
  char buffer[4096];
  size_t count;
  while ((count = std::fread(buffer, 1, sizeof(buffer), file.get())) > 0) {
    text.append(buffer, count);
  }
  return text;
}

std::wstring ScenarioPath(const std::wstring& assets_path) {
  DWORD size = GetEnvironmentVariableW(L"QUILLON_STANDIN_SCENARIO", nullptr, 0);
  if (size > 1) {
    std::vector<wchar_t> path(size);
    if (GetEnvironmentVariableW(L"QUILLON_STANDIN_SCENARIO", path.data(),
                                size) +
            1 ==
        size) {
      return path.data();
    }
  }
  return assets_path + L"\\scenario.txt";
}

// Calls a table entry through a pointer of the given type. Entries are read
// as plain function pointers and cast to their signature only here.
using Entry = void (*)();

template <typename Function>
Function EntryAs(Entry entry) {
  return reinterpret_cast<Function>(entry);
}

using PointerDescriber = std::function<std::string(const void*)>;

// One caller per entry signature; each returns the transcript's result text.
using EntryCaller = std::string (*)(Entry, const Step&,
                                    const PointerDescriber&);

std::string CallBool(Entry entry, const Step&, const PointerDescriber&) {
  return EntryAs<bool (*)()>(entry)() ? "true" : "false";
}

std::string CallPointer(Entry entry, const Step&,
                        const PointerDescriber& describe) {
  return describe(EntryAs<void* (*)()>(entry)());
}

std::string CallVoidBool(Entry entry, const Step& step,
                         const PointerDescriber&) {
  EntryAs<void (*)(bool)>(entry)(step.numbers[0] != 0);
  return "done";
}

std::string CallVoidInt32Int32(Entry entry, const Step& step,
                               const PointerDescriber&) {
  EntryAs<void (*)(int32_t, int32_t)>(entry)(
      static_cast<int32_t>(step.numbers[0]),
      static_cast<int32_t>(step.numbers[1]));
  return "done";
}

std::string CallVoidInt32(Entry entry, const Step& step,
                          const PointerDescriber&) {
  EntryAs<void (*)(int32_t)>(entry)(static_cast<int32_t>(step.numbers[0]));
  return "done";
}

const std::pair<EntrySignature, EntryCaller> kEntryCallers[] = {
    {EntrySignature::kBool, &CallBool},
    {EntrySignature::kPointer, &CallPointer},
    {EntrySignature::kVoidBool, &CallVoidBool},
    {EntrySignature::kVoidInt32Int32, &CallVoidInt32Int32},
    {EntrySignature::kVoidInt32, &CallVoidInt32},
};

std::string CallEntry(Entry entry, const Step& step,
                      const PointerDescriber& describe) {
  for (const auto& caller : kEntryCallers) {
    if (caller.first == step.signature) {
      return caller.second(entry, step, describe);
    }
  }
  return "done";
}

}  // namespace

ScriptedUi::ScriptedUi(FlutterDesktopEngine* engine, HWND view,
                       HWND parking_window)
    : engine_(engine),
      view_(view),
      parking_window_(parking_window),
      arguments_(engine->arguments),
      assets_path_(engine->paths[0]) {}

void ScriptedUi::Stop() {
  stopped_ = true;
  if (IsWindow(view_)) {
    KillTimer(view_, kWaitTimer);
    KillTimer(view_, kReplyTimer);
    KillTimer(view_, kPostTimer);
  }
  std::lock_guard<std::mutex> guard(reply_mutex_);
  message_step_ = nullptr;
  ++reply_token_;
}

void ScriptedUi::OnResume() {
  if (!loaded_) {
    Load();
  }
  if (waiting_ == Waiting::kReply) {
    ReplyState state;
    {
      std::lock_guard<std::mutex> guard(reply_mutex_);
      state = reply_state_;
    }
    if (state == ReplyState::kPending) {
      return;
    }
    FinishMessage(false);
  }
  Run();
}

bool ScriptedUi::OnTimer(UINT_PTR timer) {
  if (timer == kPostTimer) {
    // Also inside a modal loop a host's handler runs (a window move, say).
    KillTimer(view_, timer);
    if (!stopped_) {
      PostToTopLevel(static_cast<UINT>(later_post_[0]),
                     static_cast<WPARAM>(later_post_[1]),
                     static_cast<LPARAM>(later_post_[2]));
    }
    return true;
  }
  if (timer != kWaitTimer && timer != kReplyTimer) {
    return false;
  }
  KillTimer(view_, timer);
  if (timer == kWaitTimer && waiting_ == Waiting::kTimer) {
    Print(steps_[next_ - 1].text + " -> done");
    waiting_ = Waiting::kNothing;
  } else if (timer == kReplyTimer && waiting_ == Waiting::kReply) {
    FinishMessage(true);
  } else {
    return true;
  }
  Run();
  return true;
}

void ScriptedUi::ReceiveReply(uint64_t token, const uint8_t* data,
                              size_t size) {
  {
    std::lock_guard<std::mutex> guard(reply_mutex_);
    if (token != reply_token_ || reply_state_ != ReplyState::kPending) {
      return;
    }
    reply_state_ = ReplyState::kReceived;
    reply_bytes_.assign(data, data + (data != nullptr ? size : 0));
  }
  PostMessageW(view_, kScriptedUiResume, 0, 0);
}

void ScriptedUi::ReceiveDrop(uint64_t token) {
  {
    std::lock_guard<std::mutex> guard(reply_mutex_);
    if (token != reply_token_ || reply_state_ != ReplyState::kPending) {
      return;
    }
    reply_state_ = ReplyState::kDropped;
  }
  PostMessageW(view_, kScriptedUiResume, 0, 0);
}

void ScriptedUi::Load() {
  loaded_ = true;
  std::wstring path = ScenarioPath(assets_path_);
  bool found = false;
  std::string text = ReadFile(path, &found);
  if (!found) {
    // No script: behave like a user interface that shows itself and idles.
    Print("scenario-missing [" + ToUtf8(path) + "]");
    Step show;
    show.kind = StepKind::kShow;
    show.text = "show";
    steps_.push_back(show);
    return;
  }
  Print("scenario [" + ToUtf8(path) + "]");
  Scenario scenario = ParseScenario(text);
  for (const std::string& error : scenario.errors) {
    Print("error " + error);
  }
  steps_ = std::move(scenario.steps);
}

void ScriptedUi::Run() {
  if (running_) {
    return;  // a step's own message loop dispatched a resume
  }
  running_ = true;
  while (!stopped_ && waiting_ == Waiting::kNothing && next_ < steps_.size()) {
    const Step& step = steps_[next_++];
    if (!Execute(step)) {
      break;
    }
  }
  running_ = false;
  // Also after a last step that ended the scenario (destroy).
  if (waiting_ == Waiting::kNothing && next_ == steps_.size() && !finished_) {
    finished_ = true;
    Print("end");
  }
}

// Each step kind has one handler; a handler returns false when its step waits.
const std::vector<ScriptedUi::StepHandler>& ScriptedUi::StepHandlers() {
  static const auto* handlers = new std::vector<StepHandler>{
      {StepKind::kPrintArgs, &ScriptedUi::RunPrintArgs},
      {StepKind::kShow, &ScriptedUi::RunShow},
      {StepKind::kWait, &ScriptedUi::RunWait},
      {StepKind::kReplyTimeout, &ScriptedUi::RunReplyTimeout},
      {StepKind::kEcho, &ScriptedUi::RunEcho},
      {StepKind::kSend, &ScriptedUi::RunSend},
      {StepKind::kMethod, &ScriptedUi::RunMethod},
      {StepKind::kCall, &ScriptedUi::RunCall},
      {StepKind::kTable, &ScriptedUi::RunTable},
      {StepKind::kPost, &ScriptedUi::RunPost},
      {StepKind::kPostLater, &ScriptedUi::RunPostLater},
      {StepKind::kFrameMove, &ScriptedUi::RunFrameMove},
      {StepKind::kFrameTitle, &ScriptedUi::RunFrameTitle},
      {StepKind::kFrameRefresh, &ScriptedUi::RunFrameAction},
      {StepKind::kFrameAction, &ScriptedUi::RunFrameAction},
      {StepKind::kWindow, &ScriptedUi::RunWindow},
      {StepKind::kView, &ScriptedUi::RunView},
      {StepKind::kScreenshot, &ScriptedUi::RunScreenshot},
      {StepKind::kDestroy, &ScriptedUi::RunDestroy},
  };
  return *handlers;
}

bool ScriptedUi::Execute(const Step& step) {
  for (const StepHandler& handler : StepHandlers()) {
    if (handler.kind == step.kind) {
      return (this->*handler.run)(step);
    }
  }
  return true;
}

bool ScriptedUi::RunPrintArgs(const Step&) {
  Print("args " + std::to_string(arguments_.size()));
  for (size_t i = 0; i < arguments_.size(); ++i) {
    Print("arg " + std::to_string(i) + " [" + EscapeText(arguments_[i]) + "]");
  }
  return true;
}

bool ScriptedUi::RunShow(const Step& step) {
  HWND top = TopLevelWindow();
  if (top == nullptr) {
    Print(step.text + " -> no-window");
    return true;
  }
  ShowWindow(top, SW_SHOW);
  Print(step.text + " -> visible=" + (IsWindowVisible(top) ? "1" : "0"));
  return true;
}

bool ScriptedUi::RunWait(const Step& step) {
  waiting_ = Waiting::kTimer;
  SetTimer(view_, kWaitTimer, static_cast<UINT>(step.numbers[0]), nullptr);
  return false;
}

bool ScriptedUi::RunReplyTimeout(const Step& step) {
  reply_timeout_ms_ = static_cast<UINT>(step.numbers[0]);
  Print(step.text + " -> done");
  return true;
}

bool ScriptedUi::RunEcho(const Step& step) {
  Print(step.text);
  return true;
}

bool ScriptedUi::RunSend(const Step& step) {
  return StartMessage(step, step.bytes);
}

bool ScriptedUi::RunMethod(const Step& step) {
  NotationValue arguments;
  std::string error;
  if (!ParseValueNotation(step.value_text, &arguments, &error)) {
    Print(step.text + " -> bad-value " + error);
    return true;
  }
  return StartMessage(step, EncodeMethodCall(step.method, arguments));
}

bool ScriptedUi::CallExport(const Step& step, void** record) {
  FARPROC proc = GetProcAddress(GetModuleHandleW(nullptr), step.name.c_str());
  if (proc == nullptr) {
    Print(step.text + " -> missing");
    return false;
  }
  auto exported =
      reinterpret_cast<void* (*)()>(reinterpret_cast<void (*)()>(proc));
  *record = exported();
  return true;
}

bool ScriptedUi::RunCall(const Step& step) {
  void* record = nullptr;
  if (CallExport(step, &record)) {
    Print(step.text + " -> " + DescribePointer(record));
  }
  return true;
}

bool ScriptedUi::RunTable(const Step& step) {
  void* record = nullptr;
  if (!CallExport(step, &record)) {
    return true;
  }
  // The record holds two 8-byte table pointers; a table is an array of
  // 8-byte function pointers.
  if (record == nullptr) {
    Print(step.text + " -> null-record");
    return true;
  }
  const Entry* table = static_cast<const Entry* const*>(record)[step.table];
  if (table == nullptr || table[step.index] == nullptr) {
    Print(step.text + (table == nullptr ? " -> null-table" : " -> null-entry"));
    return true;
  }
  Print(step.text + " -> " +
        CallEntry(table[step.index], step, [this](const void* pointer) {
          return DescribePointer(pointer);
        }));
  return true;
}

bool ScriptedUi::RunPost(const Step& step) {
  bool posted = PostToTopLevel(static_cast<UINT>(step.numbers[0]),
                               static_cast<WPARAM>(step.numbers[1]),
                               static_cast<LPARAM>(step.numbers[2]));
  Print(step.text + " -> " + (posted ? "1" : "0"));
  return true;
}

bool ScriptedUi::RunPostLater(const Step& step) {
  later_post_[0] = static_cast<UINT>(step.numbers[1]);
  later_post_[1] = static_cast<WPARAM>(step.numbers[2]);
  later_post_[2] = static_cast<LPARAM>(step.numbers[3]);
  bool armed = SetTimer(view_, kPostTimer, static_cast<UINT>(step.numbers[0]),
                        nullptr) != 0;
  Print(step.text + " -> " + (armed ? "1" : "0"));
  return true;
}

bool ScriptedUi::RunFrameMove(const Step& step) {
  HANDLE heap = GetProcessHeap();
  auto* record = static_cast<int32_t*>(HeapAlloc(heap, 0, 5 * sizeof(int32_t)));
  bool posted = false;
  if (record != nullptr) {
    for (int i = 0; i < 5; ++i) {
      record[i] = static_cast<int32_t>(step.numbers[i]);
    }
    posted = PostToTopLevel(kFrameActionMessage, 1,
                            reinterpret_cast<LPARAM>(record));
    if (!posted) {
      HeapFree(heap, 0, record);
    }
  }
  Print(step.text + " -> " + (posted ? "1" : "0"));
  return true;
}

bool ScriptedUi::RunFrameTitle(const Step& step) {
  // The window's owner frees both blocks once it has read them.
  HANDLE heap = GetProcessHeap();
  std::wstring title = FromUtf8(step.name);
  size_t bytes = (title.size() + 1) * sizeof(wchar_t);
  auto* string = static_cast<wchar_t*>(HeapAlloc(heap, 0, bytes));
  auto* record = static_cast<wchar_t**>(HeapAlloc(heap, 0, sizeof(void*)));
  bool posted = false;
  if (string != nullptr && record != nullptr) {
    std::memcpy(string, title.c_str(), bytes);
    *record = string;
    posted = PostToTopLevel(kFrameActionMessage, 2,
                            reinterpret_cast<LPARAM>(record));
  }
  if (!posted) {
    if (string != nullptr) {
      HeapFree(heap, 0, string);
    }
    if (record != nullptr) {
      HeapFree(heap, 0, record);
    }
  }
  Print(step.text + " -> " + (posted ? "1" : "0"));
  return true;
}

// frame-refresh is frame action 3; frame-action names its action.
bool ScriptedUi::RunFrameAction(const Step& step) {
  WPARAM action = step.kind == StepKind::kFrameRefresh
                      ? 3
                      : static_cast<WPARAM>(step.numbers[0]);
  Print(step.text + " -> " +
        (PostToTopLevel(kFrameActionMessage, action, 0) ? "1" : "0"));
  return true;
}

bool ScriptedUi::RunWindow(const Step& step) {
  HWND top = TopLevelWindow();
  if (top == nullptr) {
    Print(step.text + " -> no-window");
    return true;
  }
  RECT frame{};
  RECT client{};
  GetWindowRect(top, &frame);
  GetClientRect(top, &client);
  int length = GetWindowTextLengthW(top);
  std::wstring title(static_cast<size_t>(length) + 1, L'\0');
  title.resize(GetWindowTextW(top, &title[0], length + 1));
  char line[160];
  std::snprintf(line, sizeof(line),
                " -> x=%ld y=%ld w=%ld h=%ld client=%ldx%ld visible=%d "
                "title=[",
                frame.left, frame.top, frame.right - frame.left,
                frame.bottom - frame.top, client.right, client.bottom,
                IsWindowVisible(top) ? 1 : 0);
  Print(step.text + line + EscapeText(ToUtf8(title)) + "]");
  return true;
}

bool ScriptedUi::RunView(const Step& step) {
  if (!IsWindow(view_)) {
    Print(step.text + " -> no-view");
    return true;
  }
  RECT client{};
  GetClientRect(view_, &client);
  HWND parent = GetParent(view_);
  const char* parent_name = parent == parking_window_    ? "parking"
                            : parent == TopLevelWindow() ? "top-level"
                            : parent == nullptr          ? "none"
                                                         : "other";
  char line[96];
  std::snprintf(line, sizeof(line), " -> w=%ld h=%ld parent=%s", client.right,
                client.bottom, parent_name);
  Print(step.text + line);
  return true;
}

bool ScriptedUi::RunScreenshot(const Step& step) {
  HWND top = TopLevelWindow();
  Print(step.text + " -> " +
        (top == nullptr ? std::string("no-window")
                        : CaptureWindowToBmp(top, FromUtf8(step.name))));
  return true;
}

bool ScriptedUi::RunDestroy(const Step& step) {
  // The window's owner may end the engine and this scenario with it.
  HWND top = TopLevelWindow();
  BOOL destroyed = top != nullptr && DestroyWindow(top);
  Print(step.text + " -> " + (destroyed ? "1" : "0"));
  return true;
}

bool ScriptedUi::StartMessage(const Step& step,
                              const std::vector<uint8_t>& bytes) {
  uint64_t token;
  {
    std::lock_guard<std::mutex> guard(reply_mutex_);
    token = ++reply_token_;
    message_step_ = &step;
    reply_state_ = ReplyState::kPending;
    reply_bytes_.clear();
  }
  auto* context = new ReplyContext{weak_from_this(), token};
  int32_t outcome = DeliverMessage(engine_, step.name, bytes.data(),
                                   bytes.size(), &OnReply, &OnDrop, context);
  if (outcome != 1) {
    if (outcome < 0) {
      delete context;  // nothing was delivered, nothing will call back
    }
    {
      std::lock_guard<std::mutex> guard(reply_mutex_);
      message_step_ = nullptr;
      ++reply_token_;
    }
    Print(step.text + (outcome == 0 ? " -> no-handler" : " -> engine-ended"));
    return true;
  }
  if (stopped_) {
    return false;
  }
  waiting_ = Waiting::kReply;
  bool answered;
  {
    std::lock_guard<std::mutex> guard(reply_mutex_);
    answered = reply_state_ != ReplyState::kPending;
  }
  if (answered) {  // during the delivery
    FinishMessage(false);
    return true;
  }
  SetTimer(view_, kReplyTimer, reply_timeout_ms_, nullptr);
  return false;
}

void ScriptedUi::FinishMessage(bool timed_out) {
  const Step* step;
  ReplyState state;
  std::vector<uint8_t> reply;
  {
    std::lock_guard<std::mutex> guard(reply_mutex_);
    step = message_step_;
    state = reply_state_;
    reply.swap(reply_bytes_);
    message_step_ = nullptr;
    ++reply_token_;
  }
  KillTimer(view_, kReplyTimer);
  waiting_ = Waiting::kNothing;
  if (step == nullptr) {
    return;
  }
  std::string outcome;
  if (timed_out) {
    outcome = "no-reply";
  } else if (state == ReplyState::kDropped) {
    outcome = "engine-ended";
  } else if (step->kind == StepKind::kMethod) {
    outcome = standin::DescribeMethodReply(reply);
  } else {
    outcome = reply.empty() ? "empty" : HexBytes(reply.data(), reply.size());
  }
  Print(step->text + " -> " + outcome);
}

HWND ScriptedUi::TopLevelWindow() const {
  if (!IsWindow(view_)) {
    return nullptr;
  }
  HWND root = GetAncestor(view_, GA_ROOT);
  return root == parking_window_ ? nullptr : root;
}

std::string ScriptedUi::DescribePointer(const void* pointer) const {
  if (pointer == nullptr) {
    return "null";
  }
  char text[40];
  std::snprintf(text, sizeof(text), "0x%016" PRIxPTR,
                reinterpret_cast<uintptr_t>(pointer));
  std::string description(text);
  if (pointer == TopLevelWindow()) {
    description += " top-level";
  } else if (pointer == view_) {
    description += " view";
  }
  return description;
}

bool ScriptedUi::PostToTopLevel(UINT message, WPARAM wparam, LPARAM lparam) {
  HWND top = TopLevelWindow();
  return top != nullptr && PostMessageW(top, message, wparam, lparam) != 0;
}

std::vector<std::string> ScriptedUi::RecentLines() const {
  std::lock_guard<std::mutex> guard(lines_mutex_);
  return std::vector<std::string>(recent_lines_.begin(), recent_lines_.end());
}

void ScriptedUi::Print(const std::string& line) {
  WriteTranscriptLine(line);
  {
    std::lock_guard<std::mutex> guard(lines_mutex_);
    recent_lines_.push_back(line);
    if (recent_lines_.size() > kRecentLineCount) {
      recent_lines_.pop_front();
    }
  }
  // Painted when the loop next turns; a view that is gone ignores this.
  InvalidateRect(view_, nullptr, FALSE);
}

}  // namespace standin
