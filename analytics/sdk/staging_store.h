#ifndef ANALYTICS_SDK_STAGING_STORE_H_
#define ANALYTICS_SDK_STAGING_STORE_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

#include "analytics/sdk/upload/http_sender.h"
#include "platform/lock.h"

namespace analytics {

// The bounded queue of assembled records (their JSON texts, oldest first)
// that waits for a flush. Past capacity the oldest record is dropped. At the
// first flush the records of the staging file are taken over once and the
// file is emptied. Batches are cut from the front and uploaded; a failed
// batch goes back to the front as far as there is room.
//
// Thread safety: every operation may be called from any thread. The queue
// lock guards the queue; the flush lock keeps two batches from interleaving.
// Locks are always taken flush lock first, then queue lock, and the upload
// runs with the queue lock released.
class StagingStore {
 public:
  // A negative capacity counts as zero.
  StagingStore(std::string server_url, std::string staging_file_path,
               int32_t capacity);
  StagingStore(const StagingStore&) = delete;
  StagingStore& operator=(const StagingStore&) = delete;

  // Governs the messages "add record:", "record is full, delete record" and
  // "flush record : " on std::cout. Off at creation.
  void SetLogEnabled(bool enabled) { log_enabled_ = enabled; }
  bool log_enabled() const { return log_enabled_; }

  // Appends one record text; drops the oldest record when the queue is then
  // over capacity.
  void AddRecord(std::string record);

  // Once per store: puts the last records of the staging file (as many as
  // there is room for) ahead of the queue, then empties the file.
  void LoadStagingFile();

  // Cuts up to `limit` records from the front of the queue and uploads them
  // as one JSON array. Returns true when nothing was queued or the server
  // accepted the batch. A failed batch is discarded when
  // `drop_on_failure`, else put back at the front as far as there is room.
  bool FlushBatch(size_t limit, bool drop_on_failure);

  // The number of queued records.
  size_t QueueLength();

  const std::string& staging_file_path() const { return staging_file_path_; }
  const std::string& server_url() const { return sender_.server_url(); }
  size_t capacity() const { return capacity_; }

 private:
  friend class SdkTestPeer;

  // Puts the last records of a failed batch back at the front of the queue.
  void PutBack(std::deque<std::string>* batch);

  std::atomic<bool> log_enabled_{false};
  platform::Lock queue_lock_;
  platform::Lock flush_lock_;
  std::deque<std::string> queue_;  // guarded by queue_lock_
  const std::string staging_file_path_;
  const size_t capacity_;
  bool need_load_ = true;  // guarded by queue_lock_
  HttpSender sender_;
};

}  // namespace analytics

#endif  // ANALYTICS_SDK_STAGING_STORE_H_
