#ifndef QUILLON_ANALYTICS_SDK_STAGING_STORE_H_
#define QUILLON_ANALYTICS_SDK_STAGING_STORE_H_

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "analytics/sdk/staging_file.h"
#include "analytics/sdk/upload/http_sender.h"
#include "platform/interprocess_lock.h"

namespace analytics {

// What one flush round may spend, and how it is stopped.
struct FlushControl {
  std::chrono::steady_clock::time_point deadline;
  // Set to stop at once: no new request, a running one is cut off.
  const std::atomic<bool>* abort = nullptr;
  // Waits |ms| milliseconds; false when the wait was cut short by a stop.
  std::function<bool(long ms)> wait;
};

// The queue of assembled records (their JSON texts, oldest first) that waits
// for upload. It lives in the staging file (see StagingFile): a record is
// written there before AddRecord returns and leaves it only once the server
// accepted it or refused it as content. Past the limits the oldest records
// are dropped, from the file too.
//
// A flush round uploads the queue in batches from the front. A batch that
// fails for a network reason or a 408, 429 or 5xx answer is retried with
// exponential back-off and jitter until the round's deadline; a batch the
// server refuses (another 4xx) is split in halves until the refused records
// are found, which are dropped with one line on std::cerr. Only one process
// at a time runs a round on a file: another one waits for it, so a record
// is never sent by two processes.
//
// Thread safety: every operation may be called from any thread; rounds of
// one store must not overlap (the SDK's single worker runs them).
class StagingStore {
 public:
  // A negative capacity counts as zero; the other limits are the defaults.
  StagingStore(std::string server_url, std::string staging_file_path,
               int32_t capacity);
  StagingStore(std::string server_url, std::string staging_file_path,
               StagingLimits limits);
  StagingStore(const StagingStore&) = delete;
  StagingStore& operator=(const StagingStore&) = delete;

  // Governs the messages "add record:", "record is full, delete record" and
  // "flush record : " on std::cout. Off at creation.
  void SetLogEnabled(bool enabled) { log_enabled_ = enabled; }
  bool log_enabled() const { return log_enabled_; }

  // Appends one record text to the staging file. A record longer than the
  // record limit is dropped with a line on std::cerr.
  void AddRecord(const std::string& record);

  // Drops from the file what lies beyond the limits (logged on std::cerr).
  // Stops early, changing nothing, when *|abort| turns true.
  void Compact(const std::atomic<bool>* abort = nullptr);

  // Who drops the oldest records once appends have taken the file past its
  // limits: by default AddRecord itself; the SDK hands it to its worker.
  void SetCompactionRequest(std::function<void()> request) {
    compaction_request_ = std::move(request);
  }

  // Uploads the queue in batches of up to |batch_limit| records. True when
  // the queue was emptied; false when the deadline passed, a stop came or a
  // batch could not be delivered (it stays queued).
  bool FlushRound(size_t batch_limit, const FlushControl& control);

  // The number of queued records and their texts, oldest first.
  size_t QueueLength();
  std::vector<std::string> QueuedRecords();

  const std::string& staging_file_path() const { return file_.path(); }
  const std::string& server_url() const { return sender_.server_url(); }
  size_t capacity() const { return file_.limits().capacity; }

 private:
  struct Refusals {
    size_t dropped = 0;
    int status = 0;
    std::string body;
  };

  // Reads the queue, compacting the file and reporting drops; empty when
  // stopped by |abort|.
  std::vector<std::string> ScanAndCompact(const std::atomic<bool>* abort);
  // Sends one batch, retrying what is worth retrying until the deadline.
  UploadResult SendWithRetries(const std::vector<std::string>& batch,
                               const FlushControl& control);
  // Splits a refused batch until the refused records are found and drops
  // them; false when the round must stop.
  bool IsolateRefused(const std::vector<std::string>& batch,
                      const FlushControl& control, Refusals* refusals);
  long BackoffMs(int attempt);

  std::atomic<bool> log_enabled_{false};
  StagingFile file_;
  platform::InterProcessLock send_lock_;
  HttpSender sender_;
  std::function<void()> compaction_request_;
  // Records in the file as last counted, and appends since.
  std::atomic<size_t> counted_{0};
  std::atomic<size_t> appended_{0};
  std::mt19937 jitter_;  // used by rounds only
};

}  // namespace analytics

#endif  // QUILLON_ANALYTICS_SDK_STAGING_STORE_H_
