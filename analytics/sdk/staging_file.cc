#include "analytics/sdk/staging_file.h"

#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <iostream>
#include <memory>
#include <utility>

namespace analytics {

namespace {

// How long an operation waits for another process's hold on the file.
constexpr int kLockTimeoutMs = 5000;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

File Open(const std::string& path, const char* mode) {
  return File(std::fopen(path.c_str(), mode));
}

// Reads lines of at most |max| bytes without ever holding more: a longer
// line is read through and reported as overlong, without its text.
class LineReader {
 public:
  // Reading stops, as at the end of the file, once *|abort| is true.
  LineReader(std::FILE* file, size_t max,
             const std::atomic<bool>* abort = nullptr)
      : file_(file), max_(max), abort_(abort) {}

  // False at the end of the file.
  bool Next(std::string* line, bool* overlong) {
    line->clear();
    *overlong = false;
    bool any = false;
    for (;;) {
      if (at_ == size_) {
        if (abort_ != nullptr && *abort_) return false;
        size_ = std::fread(buffer_, 1, sizeof(buffer_), file_);
        at_ = 0;
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
  std::FILE* file_;
  size_t max_;
  const std::atomic<bool>* abort_;
  char buffer_[64 * 1024];
  size_t at_ = 0;
  size_t size_ = 0;
};

bool IsRecordLine(const std::string& line) {
  return !line.empty() && line.front() == '{' && line.back() == '}';
}

void ReportLockFailure(const std::string& path) {
  std::cerr << "Analytics SDK could not lock the staging file " << path
            << std::endl;
}

}  // namespace

StagingFile::StagingFile(std::string path, StagingLimits limits)
    : path_(std::move(path)), limits_(limits), lock_(path_) {}

int64_t StagingFile::Append(const std::string& record) {
  platform::InterProcessLockGuard guard(lock_, kLockTimeoutMs);
  if (!guard.held()) {
    ReportLockFailure(path_);
    return -1;
  }
  File file = Open(path_, "a+b");
  if (!file) {
    std::cerr << "Analytics SDK could not open the staging file " << path_
              << std::endl;
    return -1;
  }
  std::string line;
  line.reserve(record.size() + 2);
  // A process killed in the middle of an append leaves a broken last line;
  // it must stay a line of its own.
  if (std::fseek(file.get(), -1, SEEK_END) == 0 &&
      std::fgetc(file.get()) != '\n') {
    line.push_back('\n');
  }
  line += record;
  line.push_back('\n');
  std::fseek(file.get(), 0, SEEK_END);
  const bool written =
      std::fwrite(line.data(), 1, line.size(), file.get()) == line.size() &&
      std::fflush(file.get()) == 0;
  const long size = std::ftell(file.get());
  if (!written) {
    std::cerr << "Analytics SDK could not write the staging file " << path_
              << std::endl;
    return -1;
  }
  return size;
}

StagingScan StagingFile::Scan(bool compact, const std::atomic<bool>* abort) {
  StagingScan scan;
  platform::InterProcessLockGuard guard(lock_, kLockTimeoutMs);
  if (!guard.held()) {
    ReportLockFailure(path_);
    return scan;
  }
  File file = Open(path_, "rb");
  if (!file) return scan;
  std::deque<std::string> kept;
  uint64_t kept_bytes = 0;
  // A huge file must not hold up a closing window.
  LineReader reader(file.get(), limits_.max_record_bytes, abort);
  std::string line;
  bool overlong = false;
  while (reader.Next(&line, &overlong)) {
    if (overlong) {
      ++scan.overlong;
      continue;
    }
    if (!IsRecordLine(line)) {
      if (!line.empty()) ++scan.not_records;
      continue;
    }
    kept_bytes += line.size() + 1;
    kept.push_back(std::move(line));
    while (kept.size() > limits_.capacity ||
           (kept_bytes > limits_.max_total_bytes && !kept.empty())) {
      kept_bytes -= kept.front().size() + 1;
      kept.pop_front();
      ++scan.over_capacity;
    }
  }
  if (abort != nullptr && *abort) return StagingScan();
  scan.file_bytes = static_cast<uint64_t>(std::ftell(file.get()));
  file.reset();
  scan.records.assign(std::make_move_iterator(kept.begin()),
                      std::make_move_iterator(kept.end()));
  if (compact && (scan.over_capacity + scan.overlong + scan.not_records != 0 ||
                  kept_bytes != scan.file_bytes)) {
    Rewrite(scan.records);
  }
  return scan;
}

void StagingFile::RemoveFront(const std::vector<std::string>& records) {
  if (records.empty()) return;
  // The queue is read and rewritten under one hold of the lock.
  platform::InterProcessLockGuard guard(lock_, kLockTimeoutMs);
  if (!guard.held()) {
    ReportLockFailure(path_);
    return;
  }
  File file = Open(path_, "rb");
  if (!file) return;
  std::vector<std::string> rest;
  LineReader reader(file.get(), limits_.max_record_bytes);
  std::string line;
  bool overlong = false;
  size_t matched = 0;
  bool front = true;
  while (reader.Next(&line, &overlong)) {
    if (overlong || !IsRecordLine(line)) continue;
    if (front) {
      // Skip ahead to the sent records, then drop them while they follow.
      size_t at = matched;
      while (at < records.size() && records[at] != line) ++at;
      if (at < records.size()) {
        matched = at + 1;
        continue;
      }
      front = false;
    }
    rest.push_back(std::move(line));
  }
  file.reset();
  Rewrite(rest);
}

bool StagingFile::Rewrite(const std::vector<std::string>& records) {
  const std::string temporary = path_ + ".tmp";
  {
    File file = Open(temporary, "wb");
    bool written = file != nullptr;
    for (const std::string& record : records) {
      if (!written) break;
      written = std::fwrite(record.data(), 1, record.size(), file.get()) ==
                    record.size() &&
                std::fputc('\n', file.get()) != EOF;
    }
    if (written) written = std::fflush(file.get()) == 0;
    if (!written) {
      std::cerr << "Analytics SDK could not write " << temporary << std::endl;
      file.reset();
      std::remove(temporary.c_str());
      return false;
    }
  }
  std::error_code error;
  std::filesystem::rename(temporary, path_, error);
  if (error) {
    std::cerr << "Analytics SDK could not replace the staging file " << path_
              << ": " << error.message() << std::endl;
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace analytics
