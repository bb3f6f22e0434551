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
  {
    // Later records queue behind the ones waiting, so the order holds.
    std::lock_guard<std::mutex> guard(backlog_mutex_);
    if (!backlog_.empty()) {
      Defer(record, FileResult::Done());
      return Follow::kDrain;
    }
  }
  size_t appended = 0;
  // The worker holds the file for whole rewrites: the record waits in
  // memory instead of the caller.
  const FileResult result = file_.Append(
      {record}, Patience{kAddPatienceMs, nullptr, false}, &appended);
  if (!result.done()) {
    std::lock_guard<std::mutex> guard(backlog_mutex_);
    Defer(record, result);
    return Follow::kDrain;
  }
  const size_t count = counted_ + ++appended_;
  const uint64_t bytes =
      counted_bytes_ + (appended_bytes_ += record.size() + 1);
  if (count > limits.capacity && log_enabled_) {
    std::cout << "record is full, delete record" << std::endl;
  }
  // Some slack, so that a full queue is not rewritten on every append.
  const size_t slack = limits.capacity / 10 + 1;
  if (count > limits.capacity + slack ||
      bytes > limits.max_total_bytes + limits.max_total_bytes / 10) {
    return Follow::kCompact;
  }
  return Follow::kNothing;
}

void StagingStore::Defer(const std::string& record, const FileResult& why) {
  if (why.status == FileStatus::kFailed && !backlog_failing_) {
    std::cerr << "Analytics SDK could not write the staging file "
              << PathText(file_) << ": " << why.reason
              << "; records wait in memory" << std::endl;
    backlog_failing_ = true;
  }
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
  std::vector<std::string> waiting;
  {
    std::lock_guard<std::mutex> guard(backlog_mutex_);
    waiting.assign(backlog_.begin(), backlog_.end());
  }
  if (waiting.empty()) return FileResult::Done();
  size_t appended = 0;
  FileResult result = file_.Append(waiting, patience, &appended);
  std::lock_guard<std::mutex> guard(backlog_mutex_);
  // Only this call takes from the front; records added meanwhile are behind.
  for (size_t i = 0; i < appended && !backlog_.empty(); ++i) {
    backlog_bytes_ -= backlog_.front().size() + 1;
    backlog_.pop_front();
  }
  appended_ += appended;
  if (result.done()) {
    backlog_failing_ = false;
    if (!backlog_.empty()) {
      result = {FileStatus::kBusy, "records arrived while staging"};
    }
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
  *queue = std::move(scan.records);
  return result;
}

void StagingStore::Compact(const std::atomic<bool>* stop) {
  std::vector<std::string> ignored;
  const FileResult result = Scan(Patience{1000, stop}, &ignored);
  if (result.status == FileStatus::kFailed) {
    std::cerr << "Analytics SDK could not trim the staging file "
              << PathText(file_) << ": " << result.reason << std::endl;
  }
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
