// Cost of turning a 30-record batch into an upload body, next to zlib's own
// level-9 compression of the same text, which bounds what the body encoding
// can reach (base64 and percent-encoding only add linear passes).

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "analytics/sdk/upload/batch_encoding.h"

namespace {

// A batch shaped like the SDK's records: fixed keys, a few varying values.
std::string TypicalBatch(int records) {
  std::string batch = "[";
  for (int i = 0; i < records; ++i) {
    if (i > 0) batch += ",";
    const std::string n = std::to_string(i);
    batch +=
        "{\"_track_id\":" + std::to_string(184467 + 7919 * i) +
        ",\"distinct_id\":\"user_20240511_" + std::to_string(31 * i % 97) +
        "\",\"event\":\"page_view\",\"lib\":{\"$lib\":\"cpp\",\"$lib_"
        "method\":\"code\",\"$lib_version\":\"1.0.0\"},\"original_id\":\"\","
        "\"project\":\"quillon_pc\",\"properties\":{\"$app_name\":\"quillon_"
        "pc\",\"$app_version\":\"1.2.7\",\"$channel\":\"official\",\"$is_"
        "login_id\":true,\"page\":\"/settings/account/" +
        n + "\",\"duration\":" + std::to_string(1.25 * i) +
        ",\"title\":\"\xE8\xB4\xA6\xE6\x88\xB7\xE8\xAE\xBE\xE7\xBD\xAE " + n +
        "\",\"tags\":[\"a\",\"b" + n +
        "\"]},\"time\":" + std::to_string(1715400000123LL + 3571LL * i) +
        ",\"type\":\"track\"}";
  }
  return batch + "]";
}

void BM_EncodeBatchBody(benchmark::State& state) {
  const std::string batch = TypicalBatch(30);
  size_t body_size = 0;
  for (auto _ : state) {
    std::optional<std::string> body = analytics::EncodeBatchBody(batch);
    body_size = body->size();
    benchmark::DoNotOptimize(body);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(batch.size()));
  state.counters["batch_bytes"] = static_cast<double>(batch.size());
  state.counters["body_bytes"] = static_cast<double>(body_size);
}
BENCHMARK(BM_EncodeBatchBody);

void BM_GzipCompress(benchmark::State& state) {
  const std::string batch = TypicalBatch(30);
  for (auto _ : state) {
    std::optional<std::string> gzip = analytics::GzipCompress(batch);
    benchmark::DoNotOptimize(gzip);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(batch.size()));
}
BENCHMARK(BM_GzipCompress);

void BM_ZlibCompress2Level9(benchmark::State& state) {
  const std::string batch = TypicalBatch(30);
  std::vector<Bytef> out(compressBound(static_cast<uLong>(batch.size())));
  uLongf out_size = 0;
  for (auto _ : state) {
    out_size = static_cast<uLongf>(out.size());
    const int code = compress2(out.data(), &out_size,
                               reinterpret_cast<const Bytef*>(batch.data()),
                               static_cast<uLong>(batch.size()), 9);
    if (code != Z_OK) state.SkipWithError("compress2 failed");
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(batch.size()));
  state.counters["compressed_bytes"] = static_cast<double>(out_size);
}
BENCHMARK(BM_ZlibCompress2Level9);

}  // namespace

BENCHMARK_MAIN();
