#ifndef QUILLON_PLATFORM_FILE_H_
#define QUILLON_PLATFORM_FILE_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace platform {

// What a file operation did. Busy means another program holds the file in a
// way that refuses this operation (a sharing violation on Windows), which
// usually passes; failed means anything else (a full disk, no permission).
enum class FileStatus { kDone, kAbsent, kBusy, kFailed };

struct FileResult {
  FileStatus status = FileStatus::kDone;
  // For kBusy and kFailed: the system's reason, as UTF-8 text.
  std::string reason;

  bool done() const { return status == FileStatus::kDone; }
  static FileResult Done() { return FileResult(); }
};

// A file opened by path. Paths are std::filesystem::path, so on Windows the
// wide name goes to the system unchanged, whatever the ANSI code page holds.
// Every opening shares reading, writing and deleting with other programs:
// a handle this process keeps open never stops another process from
// replacing the file by a rename. Owns its handle; movable, not copyable.
class File {
 public:
  enum class Mode {
    kRead,    // an existing file, for reading
    kAppend,  // created when missing; every write goes to the end
    kCreate,  // created, or emptied when it exists; for writing
  };

  File() = default;
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // A sharing violation is retried for a few hundred milliseconds before
  // the result is kBusy; a missing file (kRead) or folder is kAbsent.
  static FileResult Open(const std::filesystem::path& path, Mode mode,
                         File* file);

  bool is_open() const;
  void Close();

  // Writes all of |size| bytes in one call, or fails.
  FileResult Write(const char* data, size_t size);
  // Moves the reading position to |offset| bytes from the start.
  FileResult Seek(uint64_t offset);
  // Reads up to |size| bytes; *|got| is 0 at the end of the file.
  FileResult Read(char* buffer, size_t size, size_t* got);
  // The file's last byte, or -1 when it is empty.
  FileResult LastByte(int* byte);
  // Waits until what was written is on the disk.
  FileResult SyncToDisk();
  // *|gone| is true when the file this handle holds has lost its name:
  // deleted, or replaced by a rename over it.
  FileResult Unlinked(bool* gone);

 private:
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
};

// Renames |from| over |to| and waits until the rename is on the disk, also
// while other processes keep |to| open through this layer (on Windows |to|
// then moves aside to "<to>.old" first, so a process killed during the
// rename may leave |to| missing and |from| whole: finding |to| missing and
// |from| there, rename again). A sharing violation (another program holds
// |to| without sharing deletion) is retried for a few hundred milliseconds
// before the result is kBusy; the retries end early once *|stop| is true.
FileResult RenameOver(const std::filesystem::path& from,
                      const std::filesystem::path& to,
                      const std::atomic<bool>* stop = nullptr);

// Removes |path|; kAbsent when it was not there.
FileResult RemoveFile(const std::filesystem::path& path);

// |path| as UTF-8 text, for log lines.
std::string PathText(const std::filesystem::path& path);

}  // namespace platform

#endif  // QUILLON_PLATFORM_FILE_H_
