#include "analytics/sdk/staging_store.h"

#include <iostream>
#include <utility>

namespace analytics {

namespace {

using platform::FileResult;
using platform::FileStatus;

StagingLimits LimitsWithCapacity(int32_t capacity) {
  StagingLimits limits;
  limits.capacity = capacity < 0 ? 0 : static_cast<size_t>(capacity);
  return limits;
}

void ReportDrops(const StagingScan& scan, const StagingLimits& limits) {
  if (scan.over_capacity != 0) {
    std::cerr << "Analytics SDK dropped " << scan.over_capacity
              << " oldest staged records: more than " << limits.capacity
              << " records or " << limits.max_total_bytes << " bytes"
              << std::endl;
  }
  if (scan.overlong != 0) {
    std::cerr << "Analytics SDK dropped " << scan.overlong
              << " staged lines longer than " << limits.max_record_bytes
              << " bytes" << std::endl;
  }
}

std::string PathText(const StagingFile& file) {
  return platform::PathText(file.path());
}

}  // namespace

StagingStore::StagingStore(std::filesystem::path staging_file_path,
                           int32_t capacity)
    : StagingStore(std::move(staging_file_path), LimitsWithCapacity(capacity)) {
}

StagingStore::StagingStore(std::filesystem::path staging_file_path,
                           StagingLimits limits)
    : file_(std::move(staging_file_path), limits) {}

StagingStore::Follow StagingStore::AddRecord(const std::string& record) {
  const StagingLimits& limits = file_.limits();
  if (record.size() > limits.max_record_bytes) {
    std::cerr << "Analytics SDK dropped a record of " << record.size()
              << " bytes: longer than " << limits.max_record_bytes << " bytes"
              << std::endl;
    return Follow::kNothing;
  }
  if (log_enabled_) std::cout << "add record:" << record << std::endl;
  bool behind = false;
  {
    // Later records queue behind the ones waiting, so the order holds.
    std::lock_guard<std::mutex> guard(backlog_mutex_);
    behind = !backlog_.empty();
    if (behind) Defer(record, FileResult::Done());
  }
  if (behind) {
    // They all go now if the file can be had at once; if not, the worker
    // sees to them.
    size_t drained = 0;
    uint64_t bytes = 0;
    if (!Drain(Patience{0, nullptr}, false, &drained, &bytes).done()) {
      return Follow::kDrain;
    }
    return Grown(drained, bytes);
  }
  size_t appended = 0;
  const FileResult result =
      file_.Append({record}, Patience{kAddPatienceMs, nullptr}, &appended);
  if (!result.done()) {
    std::lock_guard<std::mutex> guard(backlog_mutex_);
    Defer(record, result);
    return Follow::kDrain;
  }
  return Grown(1, record.size() + 1);
}

StagingStore::Follow StagingStore::Grown(size_t records, uint64_t bytes) {
  const StagingLimits& limits = file_.limits();
  const size_t count = counted_ + (appended_ += records);
  const uint64_t total = counted_bytes_ + (appended_bytes_ += bytes);
  if (records != 0 && count > limits.capacity && log_enabled_) {
    std::cout << "record is full, delete record" << std::endl;
  }
  // Some slack, so that a full queue is not rewritten on every append.
  const size_t slack = limits.capacity / 10 + 1;
  if (count > limits.capacity + slack ||
      total > limits.max_total_bytes + limits.max_total_bytes / 10) {
    return Follow::kCompact;
  }
  return Follow::kNothing;
}

void StagingStore::NoteFailure(const FileResult& why) {
  if (why.status == FileStatus::kFailed && !backlog_failing_) {
    std::cerr << "Analytics SDK could not write the staging file "
              << PathText(file_) << ": " << why.reason
              << "; records wait in memory" << std::endl;
    backlog_failing_ = true;
  }
}

void StagingStore::Defer(const std::string& record, const FileResult& why) {
  NoteFailure(why);
  backlog_.push_back(record);
  backlog_bytes_ += record.size() + 1;
  const StagingLimits& limits = file_.limits();
  size_t dropped = 0;
  while (!backlog_.empty() && (backlog_.size() > limits.capacity ||
                               backlog_bytes_ > limits.max_total_bytes)) {
    backlog_bytes_ -= backlog_.front().size() + 1;
    backlog_.pop_front();
    ++dropped;
  }
  if (dropped != 0) {
    std::cerr << "Analytics SDK dropped " << dropped
              << " oldest records waiting to be staged: more than "
              << limits.capacity << " records or " << limits.max_total_bytes
              << " bytes" << std::endl;
  }
}

FileResult StagingStore::DrainBacklog(Patience patience) {
  size_t drained = 0;
  uint64_t bytes = 0;
  const FileResult result = Drain(patience, true, &drained, &bytes);
  Grown(drained, bytes);
  return result;
}

FileResult StagingStore::Drain(Patience patience, bool wait_for_other_drain,
                               size_t* drained, uint64_t* bytes) {
  // One drain at a time: two would append the same records twice.
  std::unique_lock<std::mutex> draining(drain_mutex_, std::defer_lock);
  if (wait_for_other_drain) {
    draining.lock();
  } else if (!draining.try_lock()) {
    return {FileStatus::kBusy, "another thread is staging"};
  }
  std::vector<std::string> waiting;
  {
    std::lock_guard<std::mutex> guard(backlog_mutex_);
    waiting.assign(backlog_.begin(), backlog_.end());
  }
  if (waiting.empty()) return FileResult::Done();
  FileResult result = file_.Append(waiting, patience, drained);
  std::lock_guard<std::mutex> guard(backlog_mutex_);
  // Only a drain takes from the front; records added meanwhile are behind.
  for (size_t i = 0; i < *drained; ++i) {
    *bytes += backlog_.front().size() + 1;
    backlog_bytes_ -= backlog_.front().size() + 1;
    backlog_.pop_front();
  }
  if (result.done()) {
    backlog_failing_ = false;
    if (!backlog_.empty()) {
      result = {FileStatus::kBusy, "records arrived while staging"};
    }
  } else {
    NoteFailure(result);
  }
  return result;
}

size_t StagingStore::BacklogLength() {
  std::lock_guard<std::mutex> guard(backlog_mutex_);
  return backlog_.size();
}

void StagingStore::Counted(const StagingScan& scan) {
  ReportDrops(scan, file_.limits());
  counted_ = scan.records.size();
  uint64_t bytes = 0;
  for (const std::string& record : scan.records) bytes += record.size() + 1;
  counted_bytes_ = bytes;
  appended_ = 0;
  appended_bytes_ = 0;
}

FileResult StagingStore::Scan(Patience patience,
                              std::vector<std::string>* queue) {
  StagingScan scan;
  const FileResult result = file_.Scan(true, patience, &scan);
  if (result.done()) Counted(scan);
  // What could not be trimmed is read past again next time; the queue
  // itself is whole.
  if (scan.trim.status == FileStatus::kFailed) {
    std::cerr << "Analytics SDK could not trim the staging file "
              << PathText(file_) << ": " << scan.trim.reason << std::endl;
  }
  *queue = std::move(scan.records);
  return result;
}

void StagingStore::Compact(const std::atomic<bool>* stop) {
  std::vector<std::string> ignored;
  Scan(Patience{1000, stop}, &ignored);
}

FileResult StagingStore::RemoveSent(const std::vector<std::string>& sent,
                                    Patience patience) {
  StagingScan rest;
  const FileResult result = file_.RemoveFront(sent, patience, &rest);
  if (result.done()) Counted(rest);
  return result;
}

size_t StagingStore::QueueLength() { return QueuedRecords().size(); }

std::vector<std::string> StagingStore::QueuedRecords() {
  // What waits in memory is queued too, behind the file's records.
  DrainBacklog(Patience{1000, nullptr});
  StagingScan scan;
  file_.Scan(false, Patience{1000, nullptr}, &scan);
  std::lock_guard<std::mutex> guard(backlog_mutex_);
  scan.records.insert(scan.records.end(), backlog_.begin(), backlog_.end());
  return std::move(scan.records);
}

}  // namespace analytics
