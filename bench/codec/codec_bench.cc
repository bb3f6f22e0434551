// Encoding and decoding speed of the standard codec for the messages this
// application sends most, and for large typed payloads.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "embedding/standard_codec.h"

namespace flutter {
namespace {

// "trackEvent" as the user interface sends it: an event name and ten
// properties of mixed types.
MethodCall AnalyticsCall() {
  EncodableMap properties{
      {EncodableValue("page"), EncodableValue("settings/account")},
      {EncodableValue("referrer"), EncodableValue("home")},
      {EncodableValue("duration_ms"), EncodableValue(1834)},
      {EncodableValue("timestamp"), EncodableValue(int64_t{1717236000123})},
      {EncodableValue("scroll_ratio"), EncodableValue(0.625)},
      {EncodableValue("first_visit"), EncodableValue(false)},
      {EncodableValue("user_tier"), EncodableValue("premium")},
      {EncodableValue("tags"),
       EncodableValue(
           EncodableList{EncodableValue("beta"), EncodableValue("dark-mode")})},
      {EncodableValue("retry_count"), EncodableValue(0)},
      {EncodableValue("campaign"), EncodableValue()},
  };
  EncodableMap arguments{
      {EncodableValue("eventName"), EncodableValue("page_view")},
      {EncodableValue("properties"), EncodableValue(properties)},
  };
  return MethodCall("trackEvent", std::make_unique<EncodableValue>(arguments));
}

void Report(benchmark::State& state, size_t message_size) {
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(message_size));
  state.SetItemsProcessed(int64_t(state.iterations()));
  state.counters["message_bytes"] = double(message_size);
}

void BM_EncodeAnalyticsCall(benchmark::State& state) {
  const StandardMethodCodec& codec = StandardMethodCodec::GetInstance();
  MethodCall call = AnalyticsCall();
  size_t size = 0;
  for (auto _ : state) {
    auto encoded = codec.EncodeMethodCall(call);
    size = encoded->size();
    benchmark::DoNotOptimize(encoded->data());
  }
  Report(state, size);
}
BENCHMARK(BM_EncodeAnalyticsCall);

void BM_DecodeAnalyticsCall(benchmark::State& state) {
  const StandardMethodCodec& codec = StandardMethodCodec::GetInstance();
  auto encoded = codec.EncodeMethodCall(AnalyticsCall());
  for (auto _ : state) {
    auto call = codec.DecodeMethodCall(encoded->data(), encoded->size());
    benchmark::DoNotOptimize(call.get());
  }
  Report(state, encoded->size());
}
BENCHMARK(BM_DecodeAnalyticsCall);

// kind 0: a 1 MiB byte list; 1: a list of 100,000 doubles.
EncodableValue LargeValue(int kind) {
  if (kind == 0) {
    std::vector<uint8_t> bytes(1 << 20);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i * 31);
    return EncodableValue(std::move(bytes));
  }
  std::vector<double> doubles(100000);
  for (size_t i = 0; i < doubles.size(); ++i) doubles[i] = double(i) * 0.5;
  return EncodableValue(std::move(doubles));
}

// As a success reply, the way a handler answers with such a payload.
void BM_EncodeLarge(benchmark::State& state, int kind) {
  const StandardMethodCodec& codec = StandardMethodCodec::GetInstance();
  EncodableValue value = LargeValue(kind);
  size_t size = 0;
  for (auto _ : state) {
    auto encoded = codec.EncodeSuccessReply(&value);
    size = encoded->size();
    benchmark::DoNotOptimize(encoded->data());
  }
  Report(state, size);
}
BENCHMARK_CAPTURE(BM_EncodeLarge, bytes_1MiB, 0);
BENCHMARK_CAPTURE(BM_EncodeLarge, doubles_100k, 1);

// As method call arguments, the way a handler receives such a payload.
void BM_DecodeLarge(benchmark::State& state, int kind) {
  const StandardMethodCodec& codec = StandardMethodCodec::GetInstance();
  MethodCall call("upload", std::make_unique<EncodableValue>(LargeValue(kind)));
  auto encoded = codec.EncodeMethodCall(call);
  for (auto _ : state) {
    auto decoded = codec.DecodeMethodCall(encoded->data(), encoded->size());
    benchmark::DoNotOptimize(decoded.get());
  }
  Report(state, encoded->size());
}
BENCHMARK_CAPTURE(BM_DecodeLarge, bytes_1MiB, 0);
BENCHMARK_CAPTURE(BM_DecodeLarge, doubles_100k, 1);

}  // namespace
}  // namespace flutter

BENCHMARK_MAIN();
