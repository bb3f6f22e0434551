#include "analytics/sdk/staging_file.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <thread>
#include <utility>

namespace analytics {

namespace {

using platform::File;
using platform::FileResult;
using platform::FileStatus;

// The words shared through the lock: one says an append is under way, the
// other counts the file's rewrites (an append handle opened before the
// last one holds a replaced file).
constexpr size_t kAppendUnderWay = 0;
constexpr size_t kGeneration = 1;
constexpr size_t kRewritePiece = size_t{64} * 1024;

FileResult LockedOut() {
  return {FileStatus::kBusy, "another process holds the staging file's lock"};
}

// Holds |lock| for a scope, waiting as |patience| says.
platform::InterProcessLockGuard Hold(platform::InterProcessLock& lock,
                                     Patience patience) {
  return platform::InterProcessLockGuard(
      lock, patience.timeout_ms, patience.stop, patience.wait_for_this_process);
}

// Reads lines of at most |max| bytes without ever holding more: a longer
// line is read through and reported as overlong, without its text.
class LineReader {
 public:
  // Reading stops, as at the end of the file, once *|abort| is true.
  LineReader(platform::File* file, size_t max,
             const std::atomic<bool>* abort = nullptr)
      : file_(file), max_(max), abort_(abort) {}

  // How reading went: kDone at the end of the file, or why it stopped.
  const platform::FileResult& result() const { return result_; }
  // The bytes read so far.
  uint64_t bytes() const { return bytes_; }

  // False at the end of the file.
  bool Next(std::string* line, bool* overlong) {
    line->clear();
    *overlong = false;
    bool any = false;
    for (;;) {
      if (at_ == size_) {
        if (abort_ != nullptr && *abort_) {
          result_ = {platform::FileStatus::kBusy, "stopped"};
          return false;
        }
        result_ = file_->Read(buffer_, sizeof(buffer_), &size_);
        bytes_ += size_;
        at_ = 0;
        if (!result_.done()) return false;
        if (size_ == 0) {
          if (!any) return false;
          break;  // a last line without its end: checked like the others
        }
      }
      any = true;
      const char* start = buffer_ + at_;
      const void* end = std::memchr(start, '\n', size_ - at_);
      const size_t piece =
          end == nullptr
              ? size_ - at_
              : static_cast<size_t>(static_cast<const char*>(end) - start);
      if (!*overlong && line->size() + piece <= max_ + 1) {
        line->append(start, piece);  // +1: room for a carriage return
      } else {
        *overlong = true;
        line->clear();
      }
      at_ += piece;
      if (end != nullptr) {
        ++at_;
        break;
      }
    }
    if (!line->empty() && line->back() == '\r') line->pop_back();
    if (line->size() > max_) {
      *overlong = true;
      line->clear();
    }
    return true;
  }

 private:
  platform::File* file_;
  platform::FileResult result_;
  uint64_t bytes_ = 0;
  size_t max_;
  const std::atomic<bool>* abort_;
  char buffer_[64 * 1024];
  size_t at_ = 0;
  size_t size_ = 0;
};

bool IsRecordLine(const std::string& line) {
  return !line.empty() && line.front() == '{' && line.back() == '}';
}

// Keeps the newest records within the limits as lines are added.
class BoundedQueue {
 public:
  BoundedQueue(const StagingLimits& limits, StagingScan* scan)
      : limits_(limits), scan_(scan) {}

  void Add(std::string line) {
    bytes_ += line.size() + 1;
    kept_.push_back(std::move(line));
    while (kept_.size() > limits_.capacity ||
           (bytes_ > limits_.max_total_bytes && !kept_.empty())) {
      bytes_ -= kept_.front().size() + 1;
      kept_.pop_front();
      ++scan_->over_capacity;
    }
  }

  uint64_t bytes() const { return bytes_; }

  void MoveTo(std::vector<std::string>* records) {
    records->assign(std::make_move_iterator(kept_.begin()),
                    std::make_move_iterator(kept_.end()));
  }

 private:
  const StagingLimits& limits_;
  StagingScan* scan_;
  std::deque<std::string> kept_;
  uint64_t bytes_ = 0;
};

}  // namespace

std::vector<std::string> DropSentFront(std::vector<std::string>* queue,
                                       const std::vector<std::string>& sent) {
  std::vector<std::string> found;
  size_t matched = 0;
  size_t front = 0;
  for (; front < queue->size(); ++front) {
    // Skip ahead to the sent record, then drop it while they follow.
    size_t at = matched;
    while (at < sent.size() && sent[at] != (*queue)[front]) ++at;
    if (at == sent.size()) break;
    found.push_back(sent[at]);
    matched = at + 1;
  }
  queue->erase(queue->begin(),
               queue->begin() + static_cast<std::ptrdiff_t>(front));
  return found;
}

StagingFile::StagingFile(std::filesystem::path path, StagingLimits limits)
    : path_(std::move(path)),
      limits_(limits),
      lock_(path_),
      rewrite_lock_(path_, "rewrite") {}

FileResult StagingFile::PrepareAppend(bool* check_tail) {
  uint64_t* words = lock_.shared_words();
  // Without the shared words nobody can say the last append ended well, nor
  // whether the file was rewritten.
  *check_tail = words == nullptr || words[kAppendUnderWay] != 0;
  if (append_.is_open() && words != nullptr &&
      words[kGeneration] == generation_) {
    bool gone = true;
    if (append_.Unlinked(&gone).done() && !gone) return FileResult::Done();
  }
  append_.Close();
  *check_tail = true;
  RecoverInterruptedRename();
  if (words != nullptr) generation_ = words[kGeneration];
  return File::Open(path_, File::Mode::kAppend, &append_);
}

void StagingFile::RecoverInterruptedRename() {
  File existing;
  if (File::Open(path_, File::Mode::kRead, &existing).status !=
      FileStatus::kAbsent) {
    return;
  }
  // Written whole and on the disk before any rename began.
  platform::RenameOver(TemporaryPath(), path_);
}

std::filesystem::path StagingFile::TemporaryPath() const {
  std::filesystem::path temporary = path_;
  temporary += ".tmp";
  return temporary;
}

FileResult StagingFile::Append(const std::vector<std::string>& records,
                               Patience patience, size_t* appended) {
  *appended = 0;
  const auto held = Hold(lock_, patience);
  if (!held.held()) return LockedOut();
  bool check_tail = false;
  FileResult result = PrepareAppend(&check_tail);
  if (!result.done()) return result;
  int last = -1;
  if (check_tail && !(result = append_.LastByte(&last)).done()) return result;
  uint64_t* words = lock_.shared_words();
  for (const std::string& record : records) {
    std::string line;
    line.reserve(record.size() + 2);
    // A broken last line left by a cut-short append stays a line of its own.
    if (last != -1 && last != '\n') line.push_back('\n');
    line += record;
    line.push_back('\n');
    if (words != nullptr) words[kAppendUnderWay] = 1;
    result = append_.Write(line.data(), line.size());
    if (!result.done()) {
      append_.Close();  // the word stays set: the tail may be broken
      return result;
    }
    if (words != nullptr) words[kAppendUnderWay] = 0;
    last = '\n';
    ++*appended;
  }
  return result;
}

FileResult StagingFile::ReadQueue(const std::vector<std::string>* sent,
                                  const std::atomic<bool>* stop,
                                  StagingScan* scan) {
  File file;
  FileResult result = File::Open(path_, File::Mode::kRead, &file);
  if (result.status == FileStatus::kAbsent) {
    RecoverInterruptedRename();
    result = File::Open(path_, File::Mode::kRead, &file);
  }
  if (result.status == FileStatus::kAbsent) return FileResult::Done();
  if (!result.done()) return result;
  std::vector<std::string> lines;
  LineReader reader(&file, limits_.max_record_bytes, stop);
  std::string line;
  bool overlong = false;
  while (reader.Next(&line, &overlong)) {
    if (overlong) {
      ++scan->overlong;
    } else if (IsRecordLine(line)) {
      lines.push_back(std::move(line));
    } else if (!line.empty()) {
      ++scan->not_records;
    }
  }
  if (!reader.result().done()) return reader.result();
  scan->file_bytes = reader.bytes();
  if (sent != nullptr) DropSentFront(&lines, *sent);
  BoundedQueue kept(limits_, scan);
  for (std::string& record : lines) kept.Add(std::move(record));
  kept.MoveTo(&scan->records);
  return FileResult::Done();
}

FileResult StagingFile::Scan(bool compact, Patience patience,
                             StagingScan* scan) {
  *scan = StagingScan();
  if (!compact) {
    const auto held = Hold(lock_, patience);
    if (!held.held()) return LockedOut();
    return ReadQueue(nullptr, patience.stop, scan);
  }
  const auto rewriting = Hold(rewrite_lock_, patience);
  if (!rewriting.held()) return LockedOut();
  uint64_t generation = 0;
  FileResult result = ReadUnderLock(nullptr, patience, scan, &generation);
  if (!result.done()) return result;
  uint64_t kept_bytes = 0;
  for (const std::string& record : scan->records) {
    kept_bytes += record.size() + 1;
  }
  if (scan->over_capacity + scan->overlong + scan->not_records != 0 ||
      kept_bytes != scan->file_bytes) {
    scan->trim = Rewrite(*scan, generation, patience);
  }
  return result;
}

FileResult StagingFile::RemoveFront(const std::vector<std::string>& sent,
                                    Patience patience, StagingScan* rest) {
  *rest = StagingScan();
  const auto rewriting = Hold(rewrite_lock_, patience);
  if (!rewriting.held()) return LockedOut();
  uint64_t generation = 0;
  // Read through even when stopping: the last removal is worth finishing.
  const FileResult result = ReadUnderLock(
      &sent, Patience{patience.timeout_ms, nullptr}, rest, &generation);
  if (!result.done()) return result;
  return Rewrite(*rest, generation, patience);
}

FileResult StagingFile::ReadUnderLock(const std::vector<std::string>* sent,
                                      Patience patience, StagingScan* scan,
                                      uint64_t* generation) {
  const auto held = Hold(lock_, patience);
  if (!held.held()) return LockedOut();
  const uint64_t* words = lock_.shared_words();
  *generation = words != nullptr ? words[kGeneration] : 0;
  return ReadQueue(sent, patience.stop, scan);
}

FileResult StagingFile::Rewrite(const StagingScan& read, uint64_t generation,
                                Patience patience) {
  const std::filesystem::path temporary = TemporaryPath();
  File copy;
  // The copy is written, and put on the disk, while appends go on.
  FileResult result = WriteCopy(read.records, temporary, &copy);
  const auto discard = [&] {
    copy.Close();
    platform::RemoveFile(temporary);
  };
  if (!result.done()) {
    discard();
    return result;
  }
  const auto held = Hold(lock_, patience);
  if (!held.held()) {
    discard();
    return LockedOut();
  }
  uint64_t* words = lock_.shared_words();
  bool tail = false;
  // rewrite_lock_ keeps other rewrites out; this only guards against a
  // process that does not take it.
  if (words != nullptr && words[kGeneration] != generation) {
    result = {FileStatus::kBusy, "another process rewrote the staging file"};
  } else {
    result = CopyTail(read.file_bytes, &copy, &tail);
  }
  copy.Close();
  // This process's own handle would only hold the old file open.
  append_.Close();
  if (result.done())
    result = platform::RenameOver(temporary, path_, patience.stop);
  if (!result.done()) {
    platform::RemoveFile(temporary);
    return result;
  }
  // Every append handle opened before holds the old file; without a tail
  // the new one ends with a whole line.
  if (words != nullptr) {
    ++words[kGeneration];
    if (!tail) words[kAppendUnderWay] = 0;
  }
  return result;
}

FileResult StagingFile::WriteCopy(const std::vector<std::string>& records,
                                  const std::filesystem::path& temporary,
                                  File* copy) {
  FileResult result = File::Open(temporary, File::Mode::kCreate, copy);
  // Written in pieces of about kRewritePiece bytes: few calls, little
  // memory.
  std::string piece;
  for (size_t i = 0; i <= records.size() && result.done(); ++i) {
    if (i < records.size()) piece.append(records[i]).push_back('\n');
    if (piece.size() >= kRewritePiece ||
        (i == records.size() && !piece.empty())) {
      result = copy->Write(piece.data(), piece.size());
      piece.clear();
    }
  }
  // On the disk before the rename, or a power cut may leave it empty. What
  // CopyTail adds later is as safe as any append.
  if (result.done()) result = copy->SyncToDisk();
  return result;
}

FileResult StagingFile::CopyTail(uint64_t from, File* copy, bool* tail) {
  File file;
  FileResult result = File::Open(path_, File::Mode::kRead, &file);
  if (result.status == FileStatus::kAbsent) return FileResult::Done();
  if (result.done()) result = file.Seek(from);
  char buffer[16 * 1024];
  size_t got = 0;
  while (result.done() &&
         (result = file.Read(buffer, sizeof(buffer), &got)).done() &&
         got != 0) {
    *tail = true;
    result = copy->Write(buffer, got);
  }
  return result;
}

}  // namespace analytics
