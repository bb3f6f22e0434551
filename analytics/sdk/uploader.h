#ifndef QUILLON_ANALYTICS_SDK_UPLOADER_H_
#define QUILLON_ANALYTICS_SDK_UPLOADER_H_

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "analytics/sdk/staging_store.h"
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

// Delivers a staging store's queue to the collection server, one round per
// flush: it reads the queue once, sends it in batches from the front, and
// removes what the server took (or refused as content) with one rewrite of
// the file at the end of the round.
//
// Status classes: 2xx stored; a network failure, 408, 429 or 5xx retried
// with exponential back-off and jitter until the round's deadline; 400,
// 413 or 422 refused content, split in halves until the refused records are
// found, which are dropped with one line on std::cerr; any other answer
// (a wrong address, an expired key) ends the round with every record kept.
//
// Records the server took but the file could not lose (another program
// holds it, the disk is full) are remembered: no later round of this
// process sends them again, and each round first retries their removal.
// Only one process at a time runs a round on a file: another one waits for
// it, so a record is never sent by two processes at once.
//
// Thread safety: one round at a time (the SDK's single worker runs them).
class Uploader {
 public:
  // |server_url| is used exactly as given; see HttpSender.
  Uploader(std::string server_url,
           const std::filesystem::path& staging_file_path);
  Uploader(const Uploader&) = delete;
  Uploader& operator=(const Uploader&) = delete;

  // Delivers |store|'s queue in batches of up to |batch_limit| records.
  // True only when the whole queue it found was delivered and removed from
  // the file; false when the deadline passed, a stop came, a batch could
  // not be delivered (it stays queued) or the file could not be read.
  bool DeliverRound(StagingStore& store, size_t batch_limit,
                    const FlushControl& control);

  const std::string& server_url() const { return sender_.server_url(); }
  // Records delivered but still in the file, as this process knows them.
  size_t DeliveredNotRemoved() const { return delivered_.size(); }

 private:
  struct Refusals {
    size_t dropped = 0;
    int status = 0;
    std::string body;
  };

  // Sends |queue| from the front; false when the round must stop.
  bool SendQueue(StagingStore& store, std::vector<std::string> queue,
                 size_t batch_limit, const FlushControl& control);
  // Sends one batch, retrying what is worth retrying until the deadline.
  UploadResult SendWithRetries(StagingStore& store,
                               const std::vector<std::string>& batch,
                               const FlushControl& control);
  // Splits a refused batch until the refused records are found; the others
  // are sent. False when the round must stop.
  bool IsolateRefused(StagingStore& store,
                      const std::vector<std::string>& batch,
                      const FlushControl& control, Refusals* refusals);
  // Removes the delivered records from the file; false when it could not.
  bool RemoveDelivered(StagingStore& store, const FlushControl& control);
  long BackoffMs(int attempt);

  HttpSender sender_;
  platform::InterProcessLock send_lock_;
  std::mt19937 jitter_;
  // Taken or refused by the server, still in the file; oldest first.
  std::vector<std::string> delivered_;
};

}  // namespace analytics

#endif  // QUILLON_ANALYTICS_SDK_UPLOADER_H_
