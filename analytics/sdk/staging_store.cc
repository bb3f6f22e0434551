#include "analytics/sdk/staging_store.h"

#include <algorithm>
#include <iostream>
#include <iterator>
#include <thread>
#include <utility>

namespace analytics {

namespace {

using Clock = std::chrono::steady_clock;

// Retry pacing inside a round: 250 ms, 500 ms, 1 s, 2 s, 2 s ..., each
// shortened by a random part of up to a half so that clients that failed
// together do not come back together.
constexpr long kFirstBackoffMs = 250;
constexpr long kMaxBackoffMs = 2000;
// One request never takes longer than this, nor past the round's deadline.
constexpr long kRequestTimeoutMs = 3000;
// How long one wait for another process's round lasts before the deadline
// and the stop flag are checked again.
constexpr int kSendLockSliceMs = 50;

StagingLimits LimitsWithCapacity(int32_t capacity) {
  StagingLimits limits;
  limits.capacity = capacity < 0 ? 0 : static_cast<size_t>(capacity);
  return limits;
}

long MillisecondsUntil(Clock::time_point deadline) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                            Clock::now())
          .count());
}

bool Stopped(const FlushControl& control) {
  return control.abort != nullptr && *control.abort;
}

bool SleepUnlessStopped(long ms, const FlushControl& control) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  return !Stopped(control);
}

std::string BatchText(const std::vector<std::string>& batch) {
  size_t size = 2;
  for (const std::string& record : batch) size += record.size() + 1;
  std::string text;
  text.reserve(size);
  text.push_back('[');
  for (size_t i = 0; i < batch.size(); ++i) {
    if (i != 0) text.push_back(',');
    text.append(batch[i]);
  }
  text.push_back(']');
  return text;
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

}  // namespace

StagingStore::StagingStore(std::string server_url,
                           std::string staging_file_path, int32_t capacity)
    : StagingStore(std::move(server_url), std::move(staging_file_path),
                   LimitsWithCapacity(capacity)) {}

StagingStore::StagingStore(std::string server_url,
                           std::string staging_file_path, StagingLimits limits)
    : file_(std::move(staging_file_path), limits),
      send_lock_(file_.path() + ".send"),
      sender_(std::move(server_url)),
      jitter_(std::random_device{}()) {}

void StagingStore::AddRecord(const std::string& record) {
  const StagingLimits& limits = file_.limits();
  if (record.size() > limits.max_record_bytes) {
    std::cerr << "Analytics SDK dropped a record of " << record.size()
              << " bytes: longer than " << limits.max_record_bytes << " bytes"
              << std::endl;
    return;
  }
  const bool log = log_enabled_;
  if (log) std::cout << "add record:" << record << std::endl;
  const int64_t size = file_.Append(record);
  if (size < 0) return;  // reported by the file
  const size_t count = counted_ + ++appended_;
  if (count > limits.capacity && log) {
    std::cout << "record is full, delete record" << std::endl;
  }
  // Some slack, so that a full queue is not rewritten on every append.
  const size_t slack = limits.capacity / 10 + 1;
  if (count > limits.capacity + slack ||
      static_cast<uint64_t>(size) >
          limits.max_total_bytes + limits.max_total_bytes / 10) {
    if (compaction_request_) {
      compaction_request_();
    } else {
      Compact();
    }
  }
}

std::vector<std::string> StagingStore::ScanAndCompact(
    const std::atomic<bool>* abort) {
  const size_t appended = appended_;
  StagingScan scan = file_.Scan(true, abort);
  if (abort != nullptr && *abort) return {};
  ReportDrops(scan, file_.limits());
  counted_ = scan.records.size();
  appended_ -= appended;
  return std::move(scan.records);
}

void StagingStore::Compact(const std::atomic<bool>* abort) {
  ScanAndCompact(abort);
}

size_t StagingStore::QueueLength() { return file_.Scan(false).records.size(); }

std::vector<std::string> StagingStore::QueuedRecords() {
  return file_.Scan(false).records;
}

bool StagingStore::FlushRound(size_t batch_limit, const FlushControl& control) {
  // Another process's round on the same file goes first; its records are
  // then gone from the file before this round reads it.
  bool held = false;
  while (!held) {
    if (Stopped(control) || MillisecondsUntil(control.deadline) <= 0) {
      return false;
    }
    held = send_lock_.Acquire(kSendLockSliceMs);
  }
  struct Release {
    platform::InterProcessLock& lock;
    ~Release() { lock.Release(); }
  } release{send_lock_};

  for (;;) {
    std::vector<std::string> queue = ScanAndCompact(control.abort);
    if (Stopped(control)) return false;
    if (queue.empty()) return true;
    if (batch_limit == 0) return false;
    if (queue.size() > batch_limit) queue.resize(batch_limit);
    const UploadResult result = SendWithRetries(queue, control);
    if (result.outcome == UploadOutcome::kAccepted) {
      file_.RemoveFront(queue);
      continue;
    }
    if (result.outcome != UploadOutcome::kRefused) return false;
    Refusals refusals{0, result.status, result.body};
    const bool go_on = IsolateRefused(queue, control, &refusals);
    if (refusals.dropped != 0) {
      std::cerr << "Analytics SDK dropped " << refusals.dropped
                << " records the server refused (status " << refusals.status
                << "): " << refusals.body << std::endl;
    }
    if (!go_on) return false;
  }
}

bool StagingStore::IsolateRefused(const std::vector<std::string>& batch,
                                  const FlushControl& control,
                                  Refusals* refusals) {
  if (batch.size() == 1) {
    file_.RemoveFront(batch);
    ++refusals->dropped;
    return true;
  }
  const auto middle =
      batch.begin() + static_cast<std::ptrdiff_t>(batch.size() / 2);
  const std::vector<std::vector<std::string>> halves = {
      std::vector<std::string>(batch.begin(), middle),
      std::vector<std::string>(middle, batch.end())};
  for (const std::vector<std::string>& half : halves) {
    const UploadResult result = SendWithRetries(half, control);
    if (result.outcome == UploadOutcome::kAccepted) {
      file_.RemoveFront(half);
    } else if (result.outcome == UploadOutcome::kRefused) {
      refusals->status = result.status;
      refusals->body = result.body;
      if (!IsolateRefused(half, control, refusals)) return false;
    } else {
      return false;
    }
  }
  return true;
}

UploadResult StagingStore::SendWithRetries(
    const std::vector<std::string>& batch, const FlushControl& control) {
  const std::string text = BatchText(batch);
  UploadResult result;
  result.outcome = UploadOutcome::kRetry;
  for (int attempt = 0;; ++attempt) {
    const long left = MillisecondsUntil(control.deadline);
    if (left <= 0 || Stopped(control)) return result;
    if (log_enabled_) std::cout << "flush record : " << text << std::endl;
    result =
        sender_.Send(text, std::min(left, kRequestTimeoutMs), control.abort);
    if (result.outcome != UploadOutcome::kRetry) return result;
    const long backoff = BackoffMs(attempt);
    if (backoff >= MillisecondsUntil(control.deadline)) return result;
    const bool waited = control.wait ? control.wait(backoff)
                                     : SleepUnlessStopped(backoff, control);
    if (!waited) {
      result.outcome = UploadOutcome::kAborted;
      return result;
    }
  }
}

long StagingStore::BackoffMs(int attempt) {
  const long full = attempt >= 3
                        ? kMaxBackoffMs
                        : std::min(kMaxBackoffMs, kFirstBackoffMs << attempt);
  std::uniform_int_distribution<long> jitter(full / 2, full);
  return jitter(jitter_);
}

}  // namespace analytics
