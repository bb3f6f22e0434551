#ifndef QUILLON_ANALYTICS_SDK_STAGING_FILE_H_
#define QUILLON_ANALYTICS_SDK_STAGING_FILE_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/interprocess_lock.h"

namespace analytics {

// Bounds of the staging queue.
struct StagingLimits {
  // The most records kept; past it the oldest go.
  size_t capacity = 1000;
  // A line (record) longer than this is never stored, read or sent.
  size_t max_record_bytes = size_t{256} * 1024;
  // The most record bytes kept (line ends included); past it the oldest go.
  uint64_t max_total_bytes = uint64_t{16} * 1024 * 1024;
};

// What a look at the whole file found.
struct StagingScan {
  // The queue: the newest records within the limits, oldest first.
  std::vector<std::string> records;
  size_t over_capacity = 0;  // older records beyond capacity or total bytes
  size_t overlong = 0;       // lines longer than max_record_bytes
  size_t not_records = 0;    // other lines that are not empty
  uint64_t file_bytes = 0;
  // How the rewrite to exactly the queue went, when one was asked for and
  // needed; the file then still holds what was dropped.
  platform::FileResult trim;
};

// How long an operation waits for another holder of the file: at most
// |timeout_ms|, and no longer once *|stop| turns true. Without
// |wait_for_this_process|, a hold by another thread of this process (a
// rewrite by the SDK's worker, say) ends the wait at once.
struct Patience {
  int timeout_ms = 0;
  const std::atomic<bool>* stop = nullptr;
  bool wait_for_this_process = true;
};

// Removes from the front of |queue| the records of |sent|, in order, the
// way the file drops them: records of |sent| no longer in the queue (dropped
// for capacity) are passed over. Returns the records of |sent| it found.
std::vector<std::string> DropSentFront(std::vector<std::string>* queue,
                                       const std::vector<std::string>& sent);

// The staging file is the queue of records that wait for upload: one JSON
// record per line, oldest first, in the format earlier versions wrote. A
// line counts as a record when it begins with "{" and ends with "}" (a
// carriage return before the line feed is dropped); other lines are skipped.
//
// Every operation holds a lock shared with every process that uses the same
// file, so a main instance and a detached-window instance can append and
// flush it together; an operation that cannot take the lock in its patience
// answers kBusy and changes nothing.
//
// Crash safety: writes that replace the file go to "<path>.tmp", which is
// on the disk before it is renamed over the file, so a process killed (or a
// machine losing power) at any moment leaves either the old or the new
// content. The copy is written without the file's lock, so appends do not
// wait for the disk; what they added meanwhile is copied over under the
// lock just before the rename (a file rewritten meanwhile by another
// process makes the rewrite give up instead). An append is one write of one
// whole line; while it runs a word shared by the processes says so, and an
// append cut short (a killed process, a full disk) leaves that word set, so the
// next append first closes the broken line, which readers skip.
//
// Appends keep one handle open; it shares deletion, so another process can
// still rename a new file over it. Each rewrite counts up a second shared
// word, and an append that finds the count changed, or its file deleted,
// opens the file by name again.
class StagingFile {
 public:
  StagingFile(std::filesystem::path path, StagingLimits limits);
  StagingFile(const StagingFile&) = delete;
  StagingFile& operator=(const StagingFile&) = delete;

  // Appends |records| as lines, in order, under one hold of the lock;
  // *|appended| tells how many were written (a prefix of |records|).
  platform::FileResult Append(const std::vector<std::string>& records,
                              Patience patience, size_t* appended);

  // Reads the queue into *|scan|. With |compact|, rewrites the file to hold
  // exactly the queue when anything was dropped or skipped (see
  // StagingScan::trim: the result is the read's). Stopped by |patience|'s
  // stop, the result is kBusy and *|scan| partial.
  platform::FileResult Scan(bool compact, Patience patience, StagingScan* scan);

  // Removes |sent| from the front of the queue (see DropSentFront) and what
  // lies beyond the limits, in one rewrite; *|rest| tells what is left.
  platform::FileResult RemoveFront(const std::vector<std::string>& sent,
                                   Patience patience, StagingScan* rest);

  const std::filesystem::path& path() const { return path_; }
  const StagingLimits& limits() const { return limits_; }

 private:
  // Reads the queue with the lock held; |sent| is dropped from its front.
  platform::FileResult ReadQueue(const std::vector<std::string>* sent,
                                 const std::atomic<bool>* stop,
                                 StagingScan* scan);
  // Takes the lock and reads the queue; *|generation| is the file's.
  platform::FileResult ReadUnderLock(const std::vector<std::string>* sent,
                                     Patience patience, StagingScan* scan,
                                     uint64_t* generation);
  // Replaces the file's content by |read|'s records, one per line, and what
  // was appended since it was read; rewrite_lock_ held, lock_ not. Busy
  // when another process rewrote the file meanwhile.
  platform::FileResult Rewrite(const StagingScan& read, uint64_t generation,
                               Patience patience);
  platform::FileResult WriteCopy(const std::vector<std::string>& records,
                                 const std::filesystem::path& temporary,
                                 platform::File* copy);
  // Appends to |copy| what the file holds past |from|; lock_ held.
  platform::FileResult CopyTail(uint64_t from, platform::File* copy,
                                bool* tail);
  // Opens the append handle anew when it is closed or its file lost its
  // name; lock held. *|check_tail| tells whether the file may end in a
  // broken line.
  platform::FileResult PrepareAppend(bool* check_tail);
  // Finishes a rewrite cut short between its renames; lock held.
  void RecoverInterruptedRename();
  std::filesystem::path TemporaryPath() const;

  const std::filesystem::path path_;
  const StagingLimits limits_;
  platform::InterProcessLock lock_;
  // Held through a whole rewrite, so that one process at a time uses the
  // ".tmp" copy; appends take only lock_.
  platform::InterProcessLock rewrite_lock_;
  platform::File append_;    // guarded by lock_
  uint64_t generation_ = 0;  // of append_'s file; guarded by lock_
};

}  // namespace analytics

#endif  // QUILLON_ANALYTICS_SDK_STAGING_FILE_H_
