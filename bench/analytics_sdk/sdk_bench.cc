// Throughput of record text and tracking, and the memory a queued record
// holds.
//
//   analytics_sdk_bench [--benchmark_filter=...]

#include <benchmark/benchmark.h>

#include <iostream>
#include <memory>
#include <streambuf>
#include <string>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "analytics/sdk/event_assembly.h"
#include "analytics/sdk/properties_node.h"
#include "analytics/sdk/sdk.h"
#include "analytics/sdk/staging_store.h"

namespace analytics {
namespace {

// Ten properties of the kinds a user interface sends.
PropertiesNode TenProperties() {
  PropertiesNode properties;
  properties.SetString("page", "settings/account");
  properties.SetString("button", "save_changes");
  properties.SetString("title",
                       "\xE8\xB4\xA6\xE6\x88\xB7\xE8\xAE\xBE\xE7\xBD\xAE");
  properties.SetInt("item_count", 12);
  properties.SetInt("duration_ms", 1534);
  properties.SetNumber("price", 19.99);
  properties.SetNumber("ratio", 0.625);
  properties.SetBool("is_first_time", false);
  properties.SetBool("from_menu", true);
  properties.SetList("tags", {"alpha", "beta", "gamma"});
  return properties;
}

// A record laid out as event assembly makes it.
utils::ObjectNode TypicalRecord() {
  PropertiesNode merged;
  merged.SetString("$lib", "cpp");
  merged.SetString("$lib_version", "1.1.1");
  merged.SetString("app_name", "quillon_pc");
  merged.SetString("app_version", "1.2.7");
  merged.SetString("channel", "stable");
  merged.MergeFrom(TenProperties());
  utils::ObjectNode record;
  record.SetString("type", "track");
  record.SetInt("time", 1733457601234);
  record.SetString("distinct_id", "anonymous_user_1733457600");
  record.SetObject("properties", merged);
  record.SetObject("lib", MakeLibObject());
  record.SetInt("_track_id", 123456789);
  record.SetString("event", "ButtonClicked");
  return record;
}

void BM_ToJsonString(benchmark::State& state) {
  const utils::ObjectNode record = TypicalRecord();
  size_t bytes = 0;
  for (auto _ : state) {
    const std::string text = utils::ObjectNode::ToJsonString(record);
    bytes += text.size();
    benchmark::DoNotOptimize(text.data());
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
  state.counters["record_bytes"] =
      static_cast<double>(utils::ObjectNode::ToJsonString(record).size());
}
BENCHMARK(BM_ToJsonString);

// Swallows what Sdk::Track prints, so the terminal does not set the pace.
class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize count) override {
    return count;
  }
};

void BM_Track(benchmark::State& state) {
  // An unreachable server: nothing is flushed here.
  const std::unique_ptr<Sdk> sdk =
      Sdk::Create("analytics_bench_staging.json", "http://127.0.0.1:9/",
                  "user_1", false, 1000);
  PropertiesNode common;
  common.SetString("app_name", "quillon_pc");
  common.SetString("app_version", "1.2.7");
  common.SetString("channel", "stable");
  sdk->RegisterSuperProperties(common);
  const PropertiesNode properties = TenProperties();
  NullBuffer null_buffer;
  std::streambuf* old = std::cout.rdbuf(&null_buffer);
  for (auto _ : state) {
    sdk->Track("ButtonClicked", properties);
  }
  std::cout.rdbuf(old);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Track);

#if defined(__GLIBC__) && (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 33)
size_t HeapInUse() { return mallinfo2().uordblks; }

// Heap held by a full queue of 1000 typical records, per record.
void BM_QueuedRecordMemory(benchmark::State& state) {
  const std::string text = utils::ObjectNode::ToJsonString(TypicalRecord());
  constexpr int kCapacity = 1000;
  double per_record = 0;
  for (auto _ : state) {
    const size_t before = HeapInUse();
    {
      StagingStore store("unused.json", kCapacity);
      // Twice the capacity: the queue is at its steady state, dropping the
      // oldest record for each new one.
      for (int i = 0; i < 2 * kCapacity; ++i) store.AddRecord(text);
      per_record = static_cast<double>(HeapInUse() - before) / kCapacity;
      benchmark::DoNotOptimize(store.QueueLength());
    }
  }
  state.counters["bytes_per_record"] = per_record;
  state.counters["record_text_bytes"] = static_cast<double>(text.size());
}
BENCHMARK(BM_QueuedRecordMemory)->Iterations(20);
#endif

}  // namespace
}  // namespace analytics

BENCHMARK_MAIN();
