#include "analytics/sdk/staging_store.h"

#include <exception>
#include <fstream>
#include <iostream>
#include <iterator>
#include <utility>

namespace analytics {

namespace {

// A staging file line is a record when it looks like a JSON object; the text
// itself is not parsed.
bool IsRecordLine(const std::string& line) {
  return !line.empty() && line.front() == '{' && line.back() == '}';
}

}  // namespace

StagingStore::StagingStore(std::string server_url,
                           std::string staging_file_path, int32_t capacity)
    : staging_file_path_(std::move(staging_file_path)),
      capacity_(capacity < 0 ? 0 : static_cast<size_t>(capacity)),
      sender_(std::move(server_url)) {}

void StagingStore::AddRecord(std::string record) {
  const bool log = log_enabled_;
  if (log) std::cout << "add record:" << record << std::endl;
  platform::LockGuard guard(queue_lock_);
  queue_.push_back(std::move(record));
  if (queue_.size() > capacity_) {
    queue_.pop_front();
    if (log) std::cout << "record is full, delete record" << std::endl;
  }
}

void StagingStore::LoadStagingFile() {
  platform::LockGuard guard(queue_lock_);
  if (!need_load_) return;
  const size_t room =
      queue_.size() < capacity_ ? capacity_ - queue_.size() : size_t{0};
  if (room != 0) {
    // Binary mode with the carriage return dropped by hand reads CR LF files
    // the same way on every platform, and no byte ends the file early.
    std::ifstream in(staging_file_path_, std::ios::in | std::ios::binary);
    if (in.is_open()) {
      std::deque<std::string> kept;
      std::string line;
      while (std::getline(in, line)) {
        if (!in.eof() && !line.empty() && line.back() == '\r') {
          line.pop_back();
        }
        if (!IsRecordLine(line)) continue;
        kept.push_back(std::move(line));
        if (kept.size() > room) kept.pop_front();
      }
      in.close();
      queue_.insert(queue_.begin(), std::make_move_iterator(kept.begin()),
                    std::make_move_iterator(kept.end()));
    }
  }
  // Truncate: the taken records now live in the queue only.
  std::ofstream(staging_file_path_, std::ios::out | std::ios::trunc);
  need_load_ = false;
}

bool StagingStore::FlushBatch(size_t limit, bool drop_on_failure) {
  LoadStagingFile();
  platform::LockGuard flush_guard(flush_lock_);
  std::deque<std::string> batch;
  {
    platform::LockGuard queue_guard(queue_lock_);
    const size_t n = limit < queue_.size() ? limit : queue_.size();
    if (n == 0) return true;
    const auto cut = queue_.begin() + static_cast<std::ptrdiff_t>(n);
    batch.assign(std::make_move_iterator(queue_.begin()),
                 std::make_move_iterator(cut));
    queue_.erase(queue_.begin(), cut);
  }

  size_t text_size = 2;
  for (const std::string& record : batch) text_size += record.size() + 1;
  std::string text;
  text.reserve(text_size);
  text.push_back('[');
  for (size_t i = 0; i < batch.size(); ++i) {
    if (i != 0) text.push_back(',');
    text.append(batch[i]);
  }
  text.push_back(']');
  if (log_enabled_) std::cout << "flush record : " << text << std::endl;

  const bool sent = sender_.SendBatch(text);
  if (!sent && !drop_on_failure) PutBack(&batch);
  return sent;
}

void StagingStore::PutBack(std::deque<std::string>* batch) {
  try {
    platform::LockGuard guard(queue_lock_);
    const size_t room =
        queue_.size() < capacity_ ? capacity_ - queue_.size() : size_t{0};
    if (room == 0) return;
    const size_t keep = batch->size() < room ? batch->size() : room;
    // The batch is older than anything queued since it was cut, so when
    // room is short its oldest records are the ones to go.
    const auto first_kept = batch->end() - static_cast<std::ptrdiff_t>(keep);
    queue_.insert(queue_.begin(), std::make_move_iterator(first_kept),
                  std::make_move_iterator(batch->end()));
  } catch (const std::exception& e) {
    std::cerr << "Exception when flush failed: (" << e.what() << ") "
              << std::endl;
  } catch (...) {
  }
}

size_t StagingStore::QueueLength() {
  platform::LockGuard guard(queue_lock_);
  return queue_.size();
}

}  // namespace analytics
