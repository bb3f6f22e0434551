// Drives the analytics plugin as the user interface would: method calls
// encoded with the standard codec and delivered on "analytics_plugin" through
// the stand-in engine's messenger, replies decoded back.
#ifndef QUILLON_TESTS_ANALYTICS_PLUGIN_PLUGIN_TEST_SUPPORT_H_
#define QUILLON_TESTS_ANALYTICS_PLUGIN_PLUGIN_TEST_SUPPORT_H_

#ifdef _WIN32
#include <windows.h>
#else
#include <stdlib.h>
#endif

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "analytics/plugin/analytics_plugin.h"
#include "analytics/sdk/testing/sdk_test_peer.h"
#include "embedding/encodable_value.h"
#include "embedding/engine_project.h"
#include "embedding/flutter_engine.h"
#include "embedding/method_call.h"
#include "embedding/method_result.h"
#include "embedding/standard_codec.h"
#include "gtest/gtest.h"
#include "platform/ui_task_queue.h"
#include "standins/engine/standin_control.h"
#include "tests/support/stream_capture.h"
#include "tests/support/ui_turns.h"

namespace analytics_plugin_test {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;

// One decoded answer.
struct Reply {
  enum class Kind { kNone, kSuccess, kError, kNotImplemented };
  Kind kind = Kind::kNone;
  EncodableValue value;  // success value
  std::string code;      // error code
  std::string message;   // error message
  bool has_details = false;
  int answers = 0;  // how many replies arrived

  bool IsSuccess(const EncodableValue& expected) const {
    return kind == Kind::kSuccess && value == expected;
  }
  bool IsError(const std::string& expected_code) const {
    return kind == Kind::kError && code == expected_code && !has_details;
  }
};

inline std::ostream& operator<<(std::ostream& out, const Reply& reply) {
  switch (reply.kind) {
    case Reply::Kind::kNone:
      return out << "no reply";
    case Reply::Kind::kSuccess:
      return out << "success (alternative " << reply.value.index() << ")";
    case Reply::Kind::kError:
      return out << "error " << reply.code << ": " << reply.message;
    case Reply::Kind::kNotImplemented:
      return out << "not implemented";
  }
  return out;
}

// Fills a Reply from a decoded answer.
class DecodingResult : public flutter::MethodResult {
 public:
  explicit DecodingResult(Reply* reply) : reply_(reply) {}

 protected:
  void HandleSuccess(const EncodableValue* result) override {
    reply_->kind = Reply::Kind::kSuccess;
    reply_->value = result != nullptr ? *result : EncodableValue();
  }
  void HandleError(const std::string& code, const std::string& message,
                   const EncodableValue* details) override {
    reply_->kind = Reply::Kind::kError;
    reply_->code = code;
    reply_->message = message;
    reply_->has_details = details != nullptr;
  }
  void HandleNotImplemented() override {
    reply_->kind = Reply::Kind::kNotImplemented;
  }

 private:
  Reply* reply_;
};

inline void OnReply(const uint8_t* data, size_t size, void* user_data) {
  auto* reply = static_cast<Reply*>(user_data);
  ++reply->answers;
  if (size == 0) {
    reply->kind = Reply::Kind::kNotImplemented;
    return;
  }
  DecodingResult result(reply);
  flutter::StandardMethodCodec::GetInstance().DecodeReply(data, size, &result);
}

using test_support::StreamCapture;

// Points the temporary-directory query of this process at |path| while it
// lives (TMPDIR natively, TMP on Windows).
class ScopedTempDirectory {
 public:
  explicit ScopedTempDirectory(const std::filesystem::path& path) {
#ifdef _WIN32
    std::vector<wchar_t> old(32768);
    const DWORD length = GetEnvironmentVariableW(
        L"TMP", old.data(), static_cast<DWORD>(old.size()));
    if (length > 0 && length < old.size()) {
      old_ = std::wstring(old.data(), length);
    }
    SetEnvironmentVariableW(L"TMP", path.wstring().c_str());
#else
    if (const char* old = std::getenv("TMPDIR")) old_ = std::string(old);
    setenv("TMPDIR", path.string().c_str(), 1);
#endif
  }
  ~ScopedTempDirectory() {
#ifdef _WIN32
    SetEnvironmentVariableW(L"TMP", old_ ? old_->c_str() : nullptr);
#else
    if (old_) {
      setenv("TMPDIR", old_->c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
#endif
  }
  ScopedTempDirectory(const ScopedTempDirectory&) = delete;
  ScopedTempDirectory& operator=(const ScopedTempDirectory&) = delete;

 private:
#ifdef _WIN32
  std::optional<std::wstring> old_;
#else
  std::optional<std::string> old_;
#endif
};

inline std::filesystem::path MakeScratchFolder() {
  const auto* info = testing::UnitTest::GetInstance()->current_test_info();
  std::string name = "quillon_plugin_";
  if (info != nullptr) {
    name += std::string(info->test_suite_name()) + "_" + info->name();
  }
  std::filesystem::path path = std::filesystem::temp_directory_path() / name;
  std::filesystem::remove_all(path);
  std::filesystem::create_directories(path);
  return path;
}

inline EncodableMap Map(
    std::initializer_list<std::pair<const EncodableValue, EncodableValue>>
        entries) {
  return EncodableMap(entries);
}

// Every test gets an engine with a new plugin (and so no SDK yet) registered
// and a temporary directory of its own, where the staging file goes.
class AnalyticsPluginTest : public testing::Test {
 protected:
  void SetUp() override {
    StandinEngineResetControls();
    StandinEngineSetScriptedUi(0);
    scratch_ = MakeScratchFolder();
    temp_ = std::make_unique<ScopedTempDirectory>(scratch_);
    engine_ = std::make_unique<flutter::FlutterEngine>(
        flutter::EngineProject(L"data"));
    handle_ = StandinEngineLatestEngine();
    ASSERT_NE(handle_, nullptr);
    FlutterDesktopPluginRegistrarRef registrar =
        engine_->RegistrarForPlugin("AnalyticsPlugin");
    ASSERT_NE(registrar, nullptr);
    plugin_ = analytics::AnalyticsPlugin::RegisterWithRegistrar(registrar);
    ASSERT_NE(plugin_, nullptr);
  }

  void TearDown() override {
    engine_.reset();  // ends the registrar, which destroys the plugin
    temp_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(scratch_, ignored);
    EXPECT_EQ(StandinEngineLiveEngineCount(), 0);
  }

  // Delivers the call on "analytics_plugin" without waiting for the answer,
  // which lands in |reply| once the UI thread's tasks run.
  void Send(const std::string& method, std::optional<EncodableValue> arguments,
            Reply* reply) {
    flutter::MethodCall call(
        method,
        arguments ? std::make_unique<EncodableValue>(*arguments) : nullptr);
    std::unique_ptr<std::vector<uint8_t>> message =
        flutter::StandardMethodCodec::GetInstance().EncodeMethodCall(call);
    EXPECT_EQ(StandinEngineDeliverMessage(handle_, "analytics_plugin",
                                          message->data(), message->size(),
                                          &OnReply, reply),
              1);
    EXPECT_EQ(reply->answers, 0) << method << " answered inside delivery";
  }

  // Runs the engine's turns and the UI thread's pending work until |reply|
  // holds an answer, for at most |seconds|.
  static void PumpUntilAnswered(const Reply& reply, double seconds = 30) {
    test_support::RunEngineAndUiTurnsUntil(
        [&] { return reply.answers != 0; },
        std::chrono::milliseconds(static_cast<long>(seconds * 1000)));
  }

  // Delivers the call and returns the answer, which must arrive exactly once,
  // never during delivery (on the engine's turn, or for "flush" once the UI
  // thread has run the worker's answer).
  Reply Call(const std::string& method,
             std::optional<EncodableValue> arguments = std::nullopt) {
    Reply reply;
    Send(method, std::move(arguments), &reply);
    PumpUntilAnswered(reply);
    platform::RunPendingUiTasks();
    StandinEngineRunTasks();
    EXPECT_EQ(reply.answers, 1) << method;
    return reply;
  }

  // Calls "initialize" with |arguments| plus, unless given, a server URL.
  Reply Initialize(EncodableMap arguments = EncodableMap()) {
    arguments.emplace(EncodableValue("serverUrl"), EncodableValue(server_url_));
    return Call("initialize", EncodableValue(arguments));
  }

  // Initialize with its output kept off the console.
  Reply InitializeQuietly(EncodableMap arguments = EncodableMap()) {
    StreamCapture quiet;
    return Initialize(std::move(arguments));
  }

  // The plugin's SDK, which a successful "initialize" must have made.
  analytics::SdkTestPeer Peer() const {
    return analytics::SdkTestPeer(*plugin_->sdk());
  }

  std::vector<std::string> Queued() const { return Peer().QueuedRecords(); }

  std::filesystem::path scratch_;
  std::unique_ptr<ScopedTempDirectory> temp_;
  std::unique_ptr<flutter::FlutterEngine> engine_;
  FlutterDesktopEngineRef handle_ = nullptr;
  // Owned by the engine's registrar.
  analytics::AnalyticsPlugin* plugin_ = nullptr;
  // Nothing listens there: uploads fail at once.
  std::string server_url_ = "http://127.0.0.1:9/unused";
};

// The lines of |text|.
inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  std::string line;
  while (std::getline(stream, line)) lines.push_back(line);
  return lines;
}

// The "properties" object text of a record, e.g. {"a":1}.
inline std::string PropertiesOf(const std::string& record) {
  const std::string marker = "\"properties\":{";
  const size_t start = record.find(marker);
  if (start == std::string::npos) return std::string();
  size_t end = start + marker.size() - 1;
  int depth = 0;
  bool in_string = false;
  for (; end < record.size(); ++end) {
    const char c = record[end];
    if (in_string) {
      if (c == '\\') {
        ++end;
      } else if (c == '"') {
        in_string = false;
      }
    } else if (c == '"') {
      in_string = true;
    } else if (c == '{') {
      ++depth;
    } else if (c == '}' && --depth == 0) {
      break;
    }
  }
  return record.substr(start + marker.size() - 1,
                       end - start - marker.size() + 2);
}

}  // namespace analytics_plugin_test

#endif  // QUILLON_TESTS_ANALYTICS_PLUGIN_PLUGIN_TEST_SUPPORT_H_
