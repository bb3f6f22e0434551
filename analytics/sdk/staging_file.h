#ifndef QUILLON_ANALYTICS_SDK_STAGING_FILE_H_
#define QUILLON_ANALYTICS_SDK_STAGING_FILE_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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
};

// The staging file is the queue of records that wait for upload: one JSON
// record per line, oldest first, in the format earlier versions wrote. A
// line counts as a record when it begins with "{" and ends with "}" (a
// carriage return before the line feed is dropped); other lines are skipped.
//
// Every operation holds a lock shared with every process that uses the same
// path, so a main instance and a detached-window instance can append and
// flush the same file. Writes that replace the file go to "<path>.tmp"
// first and are renamed over it, so a process killed at any moment leaves
// either the old or the new content, and an append cut short leaves at most
// one broken last line, which the next append closes and readers skip.
class StagingFile {
 public:
  StagingFile(std::string path, StagingLimits limits);
  StagingFile(const StagingFile&) = delete;
  StagingFile& operator=(const StagingFile&) = delete;

  // Appends |record| as one line. Returns the file's size afterwards, or -1
  // when it could not be written (reported on std::cerr).
  int64_t Append(const std::string& record);

  // Reads the queue. With |compact|, rewrites the file to hold exactly the
  // queue when anything was dropped or skipped. When *|abort| turns true the
  // read stops early and nothing is rewritten (the scan is then partial).
  StagingScan Scan(bool compact, const std::atomic<bool>* abort = nullptr);

  // Removes |records| from the front of the queue after they were uploaded
  // or refused: the first lines of the file that equal them, in order, go
  // (records already dropped for capacity are passed over).
  void RemoveFront(const std::vector<std::string>& records);

  const std::string& path() const { return path_; }
  const StagingLimits& limits() const { return limits_; }

 private:
  // Replaces the file's content by |records|, one per line.
  bool Rewrite(const std::vector<std::string>& records);

  const std::string path_;
  const StagingLimits limits_;
  platform::InterProcessLock lock_;
};

}  // namespace analytics

#endif  // QUILLON_ANALYTICS_SDK_STAGING_FILE_H_
