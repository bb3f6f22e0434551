#ifndef QUILLON_ANALYTICS_SDK_STAGING_STORE_H_
#define QUILLON_ANALYTICS_SDK_STAGING_STORE_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "analytics/sdk/staging_file.h"

namespace analytics {

// The queue of assembled records (their JSON texts, oldest first) that waits
// for upload. It lives in the staging file (see StagingFile): a record leaves
// it only once the server accepted it or refused it as content. Past the
// limits the oldest records are dropped, from the file too.
//
// A record that cannot be appended within kAddPatienceMs (another process
// or this one's worker holds the file) or at all (a full disk) waits in a
// bounded list in memory, and every later record queues behind it, so that
// the order holds. Each later AddRecord stages the waiting ones if it can
// have the file at once; otherwise whoever owns the store has DrainBacklog
// called away from the caller's thread.
//
// Thread safety: every operation may be called from any thread.
class StagingStore {
 public:
  // The most the thread that adds a record waits for the file.
  static constexpr int kAddPatienceMs = 50;

  // What the owner should have done after AddRecord.
  enum class Follow { kNothing, kCompact, kDrain };

  // A negative capacity counts as zero; the other limits are the defaults.
  StagingStore(std::filesystem::path staging_file_path, int32_t capacity);
  StagingStore(std::filesystem::path staging_file_path, StagingLimits limits);
  StagingStore(const StagingStore&) = delete;
  StagingStore& operator=(const StagingStore&) = delete;

  // Governs the messages "add record:", "record is full, delete record" and
  // "flush record : " on std::cout. Off at creation.
  void SetLogEnabled(bool enabled) { log_enabled_ = enabled; }
  bool log_enabled() const { return log_enabled_; }

  // Appends one record text to the staging file, or to the backlog. A
  // record longer than the record limit is dropped with a line on
  // std::cerr. kCompact: appends have taken the file past its limits.
  Follow AddRecord(const std::string& record);

  // Appends the backlog to the file, oldest first, within |patience|. Done
  // when the backlog is empty afterwards.
  platform::FileResult DrainBacklog(Patience patience);
  size_t BacklogLength();

  // Reads the queue, dropping from the file what lies beyond the limits
  // (logged on std::cerr).
  platform::FileResult Scan(Patience patience, std::vector<std::string>* queue);
  // Scan, for its trimming of the file only.
  void Compact(const std::atomic<bool>* stop = nullptr);

  // Removes |sent| from the front of the file's queue (see DropSentFront),
  // trimming it to the limits in the same rewrite.
  platform::FileResult RemoveSent(const std::vector<std::string>& sent,
                                  Patience patience);

  // The queued records, oldest first: the file's (none when it cannot be
  // read) and then the backlog's, after a try to stage the backlog.
  size_t QueueLength();
  std::vector<std::string> QueuedRecords();

  const std::filesystem::path& staging_file_path() const {
    return file_.path();
  }
  size_t capacity() const { return file_.limits().capacity; }

 private:
  // Stages the backlog within |patience|, waiting for another drain under
  // way or not; tells how many records and bytes went to the file.
  platform::FileResult Drain(Patience patience, bool wait_for_other_drain,
                             size_t* drained, uint64_t* bytes);
  // Counts what went to the file; kCompact when it is past its limits.
  Follow Grown(size_t records, uint64_t bytes);
  // Notes what a look at the file found and reports its drops.
  void Counted(const StagingScan& scan);
  // Appends to the backlog, dropping its oldest past the limits (logged);
  // backlog_mutex_ held.
  void Defer(const std::string& record, const platform::FileResult& why);
  // Logs the first of a series of failed writes; backlog_mutex_ held.
  void NoteFailure(const platform::FileResult& why);

  std::atomic<bool> log_enabled_{false};
  StagingFile file_;
  std::mutex drain_mutex_;  // held for a whole drain
  std::mutex backlog_mutex_;
  std::deque<std::string> backlog_;  // guarded by backlog_mutex_
  uint64_t backlog_bytes_ = 0;       // guarded by backlog_mutex_
  bool backlog_failing_ = false;     // guarded by backlog_mutex_
  // Records in the file as last counted, and appends since.
  std::atomic<size_t> counted_{0};
  std::atomic<size_t> appended_{0};
  std::atomic<uint64_t> appended_bytes_{0};
  std::atomic<uint64_t> counted_bytes_{0};
};

}  // namespace analytics

#endif  // QUILLON_ANALYTICS_SDK_STAGING_STORE_H_
