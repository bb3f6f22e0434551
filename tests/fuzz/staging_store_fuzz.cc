// The staging store reading an arbitrary staging file, then cutting batches:
// the queue keeps within its limits, holds only whole record lines, stays
// the same through a compaction and a failed round, and takes a new record
// at its end. The upload fails at once (no server address), so nothing
// leaves the machine.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "analytics/sdk/staging_store.h"
#include "analytics/sdk/uploader.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

std::string& StagingPath() {
  static std::string path =
      (std::filesystem::temp_directory_path() /
       ("quillon_staging_fuzz_" + std::to_string(getpid()) + ".json"))
          .string();
  return path;
}

std::vector<std::string> CheckedQueue(analytics::StagingStore& store,
                                      const analytics::StagingLimits& limits) {
  std::vector<std::string> records = store.QueuedRecords();
  fuzz::Check(records.size() <= limits.capacity, "queue over capacity");
  uint64_t total = 0;
  for (const std::string& record : records) {
    fuzz::Check(record.find('\n') == std::string::npos, "a record spans lines");
    fuzz::Check(record.size() <= limits.max_record_bytes, "an overlong record");
    total += record.size() + 1;
  }
  fuzz::Check(total <= limits.max_total_bytes, "queue over its byte limit");
  return records;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::QuietStandardStreams();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  analytics::StagingLimits limits;
  limits.capacity = input.ConsumeIntegralInRange<size_t>(0, 40);
  limits.max_record_bytes = input.ConsumeIntegralInRange<size_t>(1, 64);
  limits.max_total_bytes = input.ConsumeIntegralInRange<uint64_t>(0, 512);
  const size_t batch_limit = input.ConsumeIntegralInRange<size_t>(0, 12);
  const bool log = input.ConsumeBool();
  {
    const std::string file = input.ConsumeRemainingBytesAsString();
    std::ofstream(StagingPath(), std::ios::binary | std::ios::trunc) << file;
  }
  analytics::StagingStore store(StagingPath(), limits);
  analytics::Uploader uploader("", StagingPath());
  store.SetLogEnabled(log);
  const std::vector<std::string> queue = CheckedQueue(store, limits);
  store.Compact();
  fuzz::Check(CheckedQueue(store, limits) == queue, "compaction changed it");

  analytics::FlushControl control;
  control.deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  control.wait = [](long) { return false; };
  const bool sent = uploader.DeliverRound(store, batch_limit, control);
  fuzz::Check(!sent || queue.empty(), "a failed upload reported sent");
  fuzz::Check(CheckedQueue(store, limits) == queue, "a failed round lost data");

  // Removing a sent front, duplicates and all, leaves exactly the rest.
  const size_t cut = std::min(batch_limit, queue.size());
  const auto cut_at = queue.begin() + static_cast<std::ptrdiff_t>(cut);
  std::vector<std::string> rest = queue;
  analytics::DropSentFront(&rest,
                           std::vector<std::string>(queue.begin(), cut_at));
  fuzz::Check(rest == std::vector<std::string>(cut_at, queue.end()),
              "removing the sent front removed something else");

  const std::string added = "{\"added\":1}";
  store.AddRecord(added);
  const std::vector<std::string> after = CheckedQueue(store, limits);
  if (limits.capacity > 0 && added.size() <= limits.max_record_bytes &&
      added.size() + 1 <= limits.max_total_bytes) {
    fuzz::Check(!after.empty() && after.back() == added, "new record missing");
  }
  return 0;
}
