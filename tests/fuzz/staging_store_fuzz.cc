// The staging store reading an arbitrary staging file, then cutting batches:
// it keeps at most its capacity, takes only whole record lines, empties the
// file, keeps a failed batch when asked to and drops exactly one batch when
// told to. The upload fails at once (no server address), so nothing leaves
// the machine.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "analytics/sdk/staging_store.h"
#include "analytics/sdk/testing/sdk_test_peer.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

std::string& StagingPath() {
  static std::string path =
      (std::filesystem::temp_directory_path() /
       ("quillon_staging_fuzz_" + std::to_string(getpid()) + ".json"))
          .string();
  return path;
}

void CheckQueue(analytics::StagingStore& store) {
  const auto records = analytics::SdkTestPeer::QueuedRecords(store);
  fuzz::Check(records.size() <= store.capacity(), "queue over capacity");
  for (const std::string& record : records) {
    fuzz::Check(
        !record.empty() && record.front() == '{' && record.back() == '}',
        "took something that is no record line");
    fuzz::Check(record.find('\n') == std::string::npos, "a record spans lines");
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::QuietStandardStreams();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const int32_t capacity = input.ConsumeIntegralInRange<int32_t>(-1, 40);
  const size_t limit = input.ConsumeIntegralInRange<size_t>(0, 12);
  const int queued = input.ConsumeIntegralInRange<int>(0, 5);
  analytics::StagingStore store("", StagingPath(), capacity);
  store.SetLogEnabled(input.ConsumeBool());
  for (int i = 0; i < queued; ++i) {
    store.AddRecord("{\"queued\":" + std::to_string(i) + "}");
  }
  {
    const std::string file = input.ConsumeRemainingBytesAsString();
    std::ofstream(StagingPath(), std::ios::binary | std::ios::trunc) << file;
  }
  store.LoadStagingFile();
  CheckQueue(store);
  fuzz::Check(std::filesystem::file_size(StagingPath()) == 0,
              "file not emptied");

  const size_t before = store.QueueLength();
  const bool sent = store.FlushBatch(limit, false);
  fuzz::Check(sent == (before == 0 || limit == 0),
              "a failed upload reported sent");
  fuzz::Check(store.QueueLength() == before, "a kept batch changed the queue");
  for (int round = 0; round < 4 && store.QueueLength() > 0; ++round) {
    const size_t length = store.QueueLength();
    store.FlushBatch(limit, true);
    const size_t cut = limit < length ? limit : length;
    fuzz::Check(store.QueueLength() == length - cut, "dropped a wrong batch");
    CheckQueue(store);
  }
  return 0;
}
