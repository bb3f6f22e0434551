// The analytics plugin's six methods with arbitrary argument values, through
// the stand-in engine as the user interface would call them: every call gets
// exactly one answer, and every record the SDK queues is valid JSON. The
// server address is always a closed local port, so a flush fails at once and
// nothing leaves the machine.
#include <fuzzer/FuzzedDataProvider.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "analytics/plugin/analytics_plugin.h"
#include "analytics/sdk/sdk.h"
#include "analytics/sdk/testing/sdk_test_peer.h"
#include "embedding/encodable_value.h"
#include "embedding/engine_project.h"
#include "embedding/flutter_engine.h"
#include "embedding/method_call.h"
#include "embedding/standard_codec.h"
#include "platform/ui_task_queue.h"
#include "standins/engine/standin_control.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/json_check.h"
#include "tests/support/ui_turns.h"

namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;

const char* const kMethods[] = {"initialize", "trackEvent", "setUserProfile",
                                "login",      "logout",     "flush"};
const char* const kKeys[] = {"serverUrl",  "enableLog",  "activate",
                             "appName",    "appVersion", "channel",
                             "distinctId", "isLoginId",  "eventName",
                             "properties", "userId"};

EncodableValue MakeValue(FuzzedDataProvider& input, int depth);

EncodableValue MakeKey(FuzzedDataProvider& input) {
  if (input.ConsumeBool()) {
    return EncodableValue(std::string(
        kKeys[input.ConsumeIntegralInRange<size_t>(0, std::size(kKeys) - 1)]));
  }
  return MakeValue(input, 3);
}

EncodableValue MakeValue(FuzzedDataProvider& input, int depth) {
  switch (input.ConsumeIntegralInRange<int>(0, depth < 3 ? 10 : 7)) {
    case 0:
      return EncodableValue();
    case 1:
      return EncodableValue(input.ConsumeBool());
    case 2:
      return EncodableValue(input.ConsumeIntegral<int32_t>());
    case 3:
      return EncodableValue(input.ConsumeIntegral<int64_t>());
    case 4:
      return EncodableValue(input.ConsumeFloatingPoint<double>());
    case 5:
    case 6:
      return EncodableValue(input.ConsumeRandomLengthString(40));
    case 7:
      return EncodableValue(input.ConsumeBytes<uint8_t>(
          input.ConsumeIntegralInRange<size_t>(0, 8)));
    case 8: {
      EncodableList list;
      const int count = input.ConsumeIntegralInRange<int>(0, 4);
      for (int i = 0; i < count; ++i) {
        list.push_back(MakeValue(input, depth + 1));
      }
      return EncodableValue(std::move(list));
    }
    default: {
      EncodableMap map;
      const int count = input.ConsumeIntegralInRange<int>(0, 6);
      for (int i = 0; i < count; ++i) {
        EncodableValue key = MakeKey(input);
        map[std::move(key)] = MakeValue(input, depth + 1);
      }
      return EncodableValue(std::move(map));
    }
  }
}

// Any server address is replaced by a closed local port.
void Confine(EncodableValue* arguments) {
  if (auto* map = std::get_if<EncodableMap>(arguments)) {
    auto found = map->find(EncodableValue("serverUrl"));
    if (found != map->end() &&
        std::holds_alternative<std::string>(found->second)) {
      found->second = EncodableValue("http://127.0.0.1:9/fuzz");
    }
  }
}

struct Answer {
  int count = 0;
  std::vector<uint8_t> bytes;
};

void OnReply(const uint8_t* data, size_t size, void* user_data) {
  auto* answer = static_cast<Answer*>(user_data);
  ++answer->count;
  answer->bytes.assign(data, data + size);
}

// The staging files go to a folder of this process.
const std::filesystem::path& OwnTemporaryFolder() {
  static const std::filesystem::path folder =
      std::filesystem::temp_directory_path() /
      ("quillon_plugin_fuzz_" + std::to_string(getpid()));
  return folder;
}

// An engine with a new plugin, no SDK yet and no staging file left by an
// earlier input: every input starts alike, and a reproduced input runs as
// it ran.
class Harness {
 public:
  Harness() {
    std::error_code ignored;
    std::filesystem::remove_all(OwnTemporaryFolder(), ignored);
    std::filesystem::create_directories(OwnTemporaryFolder());
    engine_ = std::make_unique<flutter::FlutterEngine>(
        flutter::EngineProject(L"data"));
    handle_ = StandinEngineLatestEngine();
    plugin_ = analytics::AnalyticsPlugin::RegisterWithRegistrar(
        engine_->RegistrarForPlugin("AnalyticsPlugin"));
    fuzz::Check(plugin_ != nullptr, "the plugin was not registered");
  }

  // Every record the plugin's SDK, if any, has queued must be valid JSON.
  void CheckQueuedRecords() const {
    if (plugin_->sdk() == nullptr) return;
    for (const std::string& record :
         analytics::SdkTestPeer(*plugin_->sdk()).QueuedRecords()) {
      fuzz::Check(fuzz::IsValidJson(record),
                  "a queued record is not valid JSON");
    }
  }

  // Takes the engine's turns and runs the UI thread's tasks while either
  // has work and |answer| has none; never waits.
  static void RunTurns(const Answer& answer) {
    while (answer.count == 0 &&
           StandinEngineRunTasks() + platform::RunPendingUiTasks() != 0) {
    }
  }

  void Call(const std::string& method, EncodableValue arguments) {
    Confine(&arguments);
    flutter::MethodCall call(
        method, std::make_unique<EncodableValue>(std::move(arguments)));
    const auto message =
        flutter::StandardMethodCodec::GetInstance().EncodeMethodCall(call);
    Answer answer;
    fuzz::Check(StandinEngineDeliverMessage(handle_, "analytics_plugin",
                                            message->data(), message->size(),
                                            &OnReply, &answer) == 1,
                "the channel is not registered");
    RunTurns(answer);
    if (answer.count == 0) {
      // Only a "flush" answers later: its worker would retry the unreachable
      // server for its whole budget. Stopping the worker must answer it now,
      // once; the answer is a task of this thread.
      if (plugin_->sdk() != nullptr) plugin_->sdk()->StopBackgroundWork();
      test_support::RunEngineAndUiTurnsUntil([&] { return answer.count != 0; },
                                             std::chrono::seconds(5));
    }
    fuzz::Check(answer.count == 1, "a call was not answered exactly once");
    fuzz::Check(!answer.bytes.empty(),
                "a known method answered not-implemented");
    fuzz::Check(answer.bytes[0] == 0 || answer.bytes[0] == 1,
                "no reply envelope");
    char first[256];
    fuzz::Check(StandinEngineUnacknowledgedMisuse(first, sizeof(first)) == 0,
                "the plugin misused the engine");
  }

 private:
  std::unique_ptr<flutter::FlutterEngine> engine_;
  FlutterDesktopEngineRef handle_ = nullptr;
  // Owned by the engine's registrar.
  analytics::AnalyticsPlugin* plugin_ = nullptr;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::QuietStandardStreams();
  std::filesystem::create_directories(OwnTemporaryFolder());
  setenv("TMPDIR", OwnTemporaryFolder().string().c_str(), 1);
  StandinEngineSetScriptedUi(0);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Harness harness;
  FuzzedDataProvider input(data, size);
  for (int calls = 0; calls < 6 && input.remaining_bytes() > 0; ++calls) {
    const char* method = kMethods[input.ConsumeIntegralInRange<size_t>(
        0, std::size(kMethods) - 1)];
    harness.Call(method, MakeValue(input, 0));
    harness.CheckQueuedRecords();
  }
  return 0;
}
