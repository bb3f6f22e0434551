#include "analytics/sdk/uploader.h"

#include <algorithm>
#include <iostream>
#include <iterator>
#include <thread>
#include <utility>

namespace analytics {

namespace {

using Clock = std::chrono::steady_clock;
using platform::FileResult;

// Retry pacing inside a round: 250 ms, 500 ms, 1 s, 2 s, 2 s ..., each
// shortened by a random part of up to a half so that clients that failed
// together do not come back together.
constexpr long kFirstBackoffMs = 250;
constexpr long kMaxBackoffMs = 2000;
// One request never takes longer than this, nor past the round's deadline.
constexpr long kRequestTimeoutMs = 3000;
// The file's lock is waited for at least this long, even past the deadline
// (the removal of delivered records is worth it), and at most the longer.
constexpr long kFilePatienceMinMs = 200;
constexpr long kFilePatienceMaxMs = 2000;
// When stopping, the last removal may wait only this long.
constexpr int kStoppingPatienceMs = 30;
// Proxy detection may take at most this much of a round, leaving the rest
// to the uploads (direct, when it gave no answer in time).
constexpr long kProxyWaitMs = 5000;

long MillisecondsUntil(Clock::time_point deadline) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                            Clock::now())
          .count());
}

bool Stopped(const FlushControl& control) {
  return control.abort != nullptr && *control.abort;
}

Patience FilePatience(const FlushControl& control) {
  if (Stopped(control)) return Patience{kStoppingPatienceMs, control.abort};
  const long left = std::clamp(MillisecondsUntil(control.deadline),
                               kFilePatienceMinMs, kFilePatienceMaxMs);
  return Patience{static_cast<int>(left), control.abort};
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

void Append(std::vector<std::string>* to,
            const std::vector<std::string>& records) {
  to->insert(to->end(), records.begin(), records.end());
}

}  // namespace

Uploader::Uploader(std::string server_url,
                   const std::filesystem::path& staging_file_path)
    : sender_(std::move(server_url)),
      send_lock_(staging_file_path, "send"),
      jitter_(std::random_device{}()) {}

bool Uploader::DeliverRound(StagingStore& store, size_t batch_limit,
                            const FlushControl& control) {
  const long left = MillisecondsUntil(control.deadline);
  if (Stopped(control) || left <= 0) return false;
  // Another process's round on the same file goes first; its records are
  // then gone from the file before this round reads it.
  const platform::InterProcessLockGuard claim(
      send_lock_, static_cast<int>(left), control.abort);
  if (!claim.held()) return false;
  // Records that could not be staged in time are older than any staged
  // after them: they join the file before it is read.
  const bool drained = store.DrainBacklog(FilePatience(control)).done();
  std::vector<std::string> queue;
  const FileResult read = store.Scan(FilePatience(control), &queue);
  if (!read.done()) {
    if (!Stopped(control)) {
      std::cerr << "Analytics SDK could not read the staging file "
                << platform::PathText(store.staging_file_path()) << ": "
                << read.reason << std::endl;
    }
    return false;
  }
  // What this process delivered before is not sent again; what is no
  // longer in the file is forgotten.
  delivered_ = DropSentFront(&queue, delivered_);
  // Chosen again each round: the network may have changed since the last.
  if (!queue.empty()) {
    sender_.ChooseRoad(
        std::min(MillisecondsUntil(control.deadline), kProxyWaitMs),
        control.abort);
  }
  const bool sent = SendQueue(store, std::move(queue), batch_limit, control);
  const bool removed = RemoveDelivered(store, control);
  return drained && sent && removed;
}

bool Uploader::SendQueue(StagingStore& store, std::vector<std::string> queue,
                         size_t batch_limit, const FlushControl& control) {
  for (size_t at = 0; at < queue.size();) {
    if (batch_limit == 0) return false;
    const size_t end = std::min(queue.size(), at + batch_limit);
    const std::vector<std::string> batch(
        std::make_move_iterator(queue.begin() + static_cast<ptrdiff_t>(at)),
        std::make_move_iterator(queue.begin() + static_cast<ptrdiff_t>(end)));
    at = end;
    const UploadResult result = SendWithRetries(store, batch, control);
    if (result.outcome == UploadOutcome::kAccepted) {
      Append(&delivered_, batch);
      continue;
    }
    if (result.outcome != UploadOutcome::kRefused) return false;
    Refusals refusals{0, result.status, result.body};
    const bool go_on = IsolateRefused(store, batch, control, &refusals);
    if (refusals.dropped != 0) {
      std::cerr << "Analytics SDK dropped " << refusals.dropped
                << " records the server refused (status " << refusals.status
                << "): " << refusals.body << std::endl;
    }
    if (!go_on) return false;
  }
  return true;
}

bool Uploader::IsolateRefused(StagingStore& store,
                              const std::vector<std::string>& batch,
                              const FlushControl& control, Refusals* refusals) {
  if (batch.size() == 1) {
    Append(&delivered_, batch);
    ++refusals->dropped;
    return true;
  }
  const auto middle =
      batch.begin() + static_cast<std::ptrdiff_t>(batch.size() / 2);
  const std::vector<std::vector<std::string>> halves = {
      std::vector<std::string>(batch.begin(), middle),
      std::vector<std::string>(middle, batch.end())};
  for (const std::vector<std::string>& half : halves) {
    const UploadResult result = SendWithRetries(store, half, control);
    if (result.outcome == UploadOutcome::kAccepted) {
      Append(&delivered_, half);
    } else if (result.outcome == UploadOutcome::kRefused) {
      refusals->status = result.status;
      refusals->body = result.body;
      if (!IsolateRefused(store, half, control, refusals)) return false;
    } else {
      return false;
    }
  }
  return true;
}

bool Uploader::RemoveDelivered(StagingStore& store,
                               const FlushControl& control) {
  if (delivered_.empty()) return true;
  const FileResult removed =
      store.RemoveSent(delivered_, FilePatience(control));
  if (removed.done()) {
    delivered_.clear();
    return true;
  }
  std::cerr << "Analytics SDK could not remove " << delivered_.size()
            << " delivered records from the staging file "
            << platform::PathText(store.staging_file_path()) << ": "
            << removed.reason << "; they are not sent again" << std::endl;
  return false;
}

UploadResult Uploader::SendWithRetries(StagingStore& store,
                                       const std::vector<std::string>& batch,
                                       const FlushControl& control) {
  const std::string text = BatchText(batch);
  UploadResult result;
  result.outcome = UploadOutcome::kRetry;
  for (int attempt = 0;; ++attempt) {
    const long left = MillisecondsUntil(control.deadline);
    if (left <= 0 || Stopped(control)) return result;
    if (store.log_enabled())
      std::cout << "flush record : " << text << std::endl;
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

long Uploader::BackoffMs(int attempt) {
  const long full = attempt >= 3
                        ? kMaxBackoffMs
                        : std::min(kMaxBackoffMs, kFirstBackoffMs << attempt);
  std::uniform_int_distribution<long> jitter(full / 2, full);
  return jitter(jitter_);
}

}  // namespace analytics
