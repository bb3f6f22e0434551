// How long the analytics channel keeps the UI thread busy: one "trackEvent"
// call, and one "flush" of 100 queued records against a slow local
// collection server. Each call is timed from the delivery of the encoded
// message by the stand-in engine (on its turn) to the return of that
// delivery; for "trackEvent" the reply has reached the engine's reply
// callback by then, "flush" answers later from the message loop.
//
//   analytics_plugin_bench [--benchmark_filter=...]
//
// Counters: median_us and p99_us (and max_us) over the timed calls.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <memory>
#include <streambuf>
#include <string>
#include <vector>

#include "analytics/plugin/analytics_plugin.h"
#include "embedding/encodable_value.h"
#include "embedding/engine_project.h"
#include "embedding/flutter_engine.h"
#include "embedding/method_call.h"
#include "embedding/standard_codec.h"
#include "standins/engine/standin_control.h"
#include "tests/support/ui_turns.h"
#ifdef QUILLON_BENCH_HAVE_COLLECTION_SERVER
#include "tests/support/collection_server.h"
#endif

namespace {

using flutter::EncodableMap;
using flutter::EncodableValue;

// Swallows what the SDK prints for every event, so the terminal does not set
// the pace; the formatting itself is still paid for.
class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize count) override {
    return count;
  }
};

class QuietStreams {
 public:
  QuietStreams()
      : old_out_(std::cout.rdbuf(&null_)), old_err_(std::cerr.rdbuf(&null_)) {}
  ~QuietStreams() {
    std::cout.rdbuf(old_out_);
    std::cerr.rdbuf(old_err_);
  }

 private:
  NullBuffer null_;
  std::streambuf* old_out_;
  std::streambuf* old_err_;
};

struct ReplyBytes {
  int count = 0;
  std::vector<uint8_t> bytes;
};

void OnReply(const uint8_t* data, size_t size, void* user_data) {
  auto* reply = static_cast<ReplyBytes*>(user_data);
  ++reply->count;
  reply->bytes.assign(data, data + size);
}

std::vector<uint8_t> Encode(const std::string& method,
                            const EncodableValue& arguments) {
  flutter::MethodCall call(method, std::make_unique<EncodableValue>(arguments));
  return *flutter::StandardMethodCodec::GetInstance().EncodeMethodCall(call);
}

long ProcessId() {
#ifdef _WIN32
  return static_cast<long>(_getpid());
#else
  return static_cast<long>(getpid());
#endif
}

// Points the temporary-directory query at |path| (empty: back to the
// default).
void SetTempDirectory(const std::filesystem::path& path) {
#ifdef _WIN32
  _wputenv_s(L"TMP", path.wstring().c_str());
#else
  if (path.empty()) {
    unsetenv("TMPDIR");
  } else {
    setenv("TMPDIR", path.string().c_str(), 1);
  }
#endif
}

// An engine with a new plugin attached (whose "initialize" makes its SDK)
// and a temporary directory of its own for the staging file.
class PluginHarness {
 public:
  PluginHarness() {
    folder_ = std::filesystem::temp_directory_path() /
              ("quillon_plugin_bench_" + std::to_string(ProcessId()));
    std::filesystem::create_directories(folder_);
    SetTempDirectory(folder_);
    StandinEngineResetControls();
    engine_ = std::make_unique<flutter::FlutterEngine>(
        flutter::EngineProject(L"data"));
    handle_ = StandinEngineLatestEngine();
    analytics::AnalyticsPlugin::RegisterWithRegistrar(
        engine_->RegistrarForPlugin("AnalyticsPlugin"));
  }
  ~PluginHarness() {
    engine_.reset();
    SetTempDirectory(std::filesystem::path());
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  // Delivers |message|; the reply lands in |reply| whenever it comes.
  void DeliverAsync(const std::vector<uint8_t>& message, ReplyBytes* reply) {
    StandinEngineDeliverMessage(handle_, "analytics_plugin", message.data(),
                                message.size(), &OnReply, reply);
  }

  // Delivers |message| and returns the reply bytes.
  std::vector<uint8_t> Deliver(const std::vector<uint8_t>& message) {
    ReplyBytes reply;
    StandinEngineDeliverMessage(handle_, "analytics_plugin", message.data(),
                                message.size(), &OnReply, &reply);
    // Delivered, and answered, on the engine's turn.
    StandinEngineRunTasks();
    return reply.bytes;
  }

  bool Initialize(const std::string& server_url) {
    const std::vector<uint8_t> reply = Deliver(Encode(
        "initialize", EncodableValue(EncodableMap{{"serverUrl", server_url},
                                                  {"distinctId", "bench_user"},
                                                  {"appName", "quillon_pc"},
                                                  {"appVersion", "1.2.7"},
                                                  {"channel", "stable"}})));
    return reply == SuccessReply(true);
  }

  static std::vector<uint8_t> SuccessReply(bool value) {
    const EncodableValue result(value);
    return *flutter::StandardMethodCodec::GetInstance().EncodeSuccessReply(
        &result);
  }

 private:
  std::filesystem::path folder_;
  std::unique_ptr<flutter::FlutterEngine> engine_;
  FlutterDesktopEngineRef handle_ = nullptr;
};

// A "trackEvent" message as the user interface sends it: a name and eight
// properties of every kind the plugin converts (and one it skips).
std::vector<uint8_t> TrackEventMessage() {
  return Encode(
      "trackEvent",
      EncodableValue(EncodableMap{
          {"eventName", "ButtonClicked"},
          {"properties",
           EncodableValue(EncodableMap{
               {"page", "settings/account"},
               {"button", "save_changes"},
               {"title", "\xE8\xB4\xA6\xE6\x88\xB7\xE8\xAE\xBE\xE7\xBD\xAE"},
               {"duration_ms", int64_t{1534}},
               {"item_count", int64_t{12}},
               {"price", 19.99},
               {"is_first_time", false},
               {"small", 3}})}}));
}

void ReportPercentiles(benchmark::State& state, std::vector<double> micros) {
  if (micros.empty()) return;
  std::sort(micros.begin(), micros.end());
  auto at = [&](double fraction) {
    const size_t index = static_cast<size_t>(
        fraction * static_cast<double>(micros.size() - 1) + 0.5);
    return micros[index];
  };
  state.counters["median_us"] = at(0.5);
  state.counters["p99_us"] = at(0.99);
  state.counters["max_us"] = micros.back();
}

void BM_TrackEventThroughChannel(benchmark::State& state) {
  PluginHarness harness;
  QuietStreams quiet;
  // Nothing is flushed here, so the address need not answer.
  if (!harness.Initialize("http://127.0.0.1:9/unused")) {
    state.SkipWithError("initialize failed");
    return;
  }
  const std::vector<uint8_t> message = TrackEventMessage();
  const std::vector<uint8_t> expected = PluginHarness::SuccessReply(true);
  std::vector<double> micros;
  micros.reserve(static_cast<size_t>(state.max_iterations));
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const std::vector<uint8_t> reply = harness.Deliver(message);
    const auto end = std::chrono::steady_clock::now();
    const std::chrono::duration<double> elapsed = end - start;
    state.SetIterationTime(elapsed.count());
    micros.push_back(elapsed.count() * 1e6);
    if (reply != expected) {
      state.SkipWithError("trackEvent did not answer true");
      break;
    }
  }
  ReportPercentiles(state, micros);
}
BENCHMARK(BM_TrackEventThroughChannel)
    ->Iterations(10000)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

#ifdef QUILLON_BENCH_HAVE_COLLECTION_SERVER
double MicrosecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::micro>(
             std::chrono::steady_clock::now() - start)
      .count();
}

// The UI thread's share of "flush" while the server takes 200 ms per batch
// of 100 queued records: the delivery of the call until it returns to the
// message loop (the answer comes later and is not timed). The floor is the
// delivery of a call nothing handles, timed in the same iterations.
void BM_FlushCallOnTheUiThread(benchmark::State& state) {
  std::string error;
  auto server = test_support::CollectionServer::Start(&error);
  if (server == nullptr) {
    state.SkipWithError(("no collection server: " + error).c_str());
    return;
  }
  PluginHarness harness;
  QuietStreams quiet;
  if (!harness.Initialize(server->UploadUrl()) || !server->Delay(0.2)) {
    state.SkipWithError("initialize failed");
    return;
  }
  const std::vector<uint8_t> track = TrackEventMessage();
  const std::vector<uint8_t> flush = Encode("flush", EncodableValue());
  const std::vector<uint8_t> floor_call =
      Encode("noSuchMethod", EncodableValue());
  const std::vector<uint8_t> expected = PluginHarness::SuccessReply(true);
  std::vector<double> micros, floor_micros;
  for (auto _ : state) {
    for (int i = 0; i < 100; ++i) harness.Deliver(track);
    auto start = std::chrono::steady_clock::now();
    harness.Deliver(floor_call);
    floor_micros.push_back(MicrosecondsSince(start));
    ReplyBytes reply;
    start = std::chrono::steady_clock::now();
    // The engine's turn delivers the call; the handler returns to it.
    harness.DeliverAsync(flush, &reply);
    StandinEngineRunTasks();
    const double elapsed = MicrosecondsSince(start);
    state.SetIterationTime(elapsed / 1e6);
    micros.push_back(elapsed);
    const bool answered = test_support::RunEngineAndUiTurnsUntil(
        [&] { return reply.count != 0; }, std::chrono::seconds(30));
    if (!answered || reply.bytes != expected) {
      state.SkipWithError("flush did not answer true within 30 s");
      break;
    }
  }
  ReportPercentiles(state, micros);
  std::sort(floor_micros.begin(), floor_micros.end());
  const double floor = floor_micros[floor_micros.size() / 2];
  state.counters["floor_median_us"] = floor;
  state.counters["median_over_floor"] =
      state.counters["median_us"].value / floor;
  state.counters["records_received"] =
      static_cast<double>(server->Stats().records);
}
BENCHMARK(BM_FlushCallOnTheUiThread)
    ->Iterations(15)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
#endif

}  // namespace

BENCHMARK_MAIN();
