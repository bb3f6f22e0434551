#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/file.h"

namespace platform {

namespace {

FileResult FromErrno(int error) {
  FileResult result;
  if (error == ENOENT || error == ENOTDIR) {
    result.status = FileStatus::kAbsent;
  } else if (error == EAGAIN || error == EWOULDBLOCK || error == EBUSY ||
             error == ETXTBSY) {
    result.status = FileStatus::kBusy;
  } else {
    result.status = FileStatus::kFailed;
  }
  result.reason = std::strerror(error);
  return result;
}

// The folder holding |path|, opened for fsync, or -1.
int OpenFolder(const std::filesystem::path& path) {
  std::filesystem::path folder = path.parent_path();
  if (folder.empty()) folder = ".";
  return open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

}  // namespace

File::~File() { Close(); }

File::File(File&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

FileResult File::Open(const std::filesystem::path& path, Mode mode,
                      File* file) {
  int flags = O_CLOEXEC;
  switch (mode) {
    case Mode::kRead:
      flags |= O_RDONLY;
      break;
    case Mode::kAppend:
      flags |= O_RDWR | O_APPEND | O_CREAT;
      break;
    case Mode::kCreate:
      flags |= O_WRONLY | O_CREAT | O_TRUNC;
      break;
  }
  file->Close();
  file->fd_ = open(path.c_str(), flags, 0600);
  if (file->fd_ < 0) return FromErrno(errno);
  return FileResult::Done();
}

bool File::is_open() const { return fd_ >= 0; }

void File::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

FileResult File::Write(const char* data, size_t size) {
  const ssize_t written = write(fd_, data, size);
  if (written < 0) return FromErrno(errno);
  if (static_cast<size_t>(written) != size) return FromErrno(ENOSPC);
  return FileResult::Done();
}

FileResult File::Seek(uint64_t offset) {
  return lseek(fd_, static_cast<off_t>(offset), SEEK_SET) >= 0
             ? FileResult::Done()
             : FromErrno(errno);
}

FileResult File::Read(char* buffer, size_t size, size_t* got) {
  ssize_t count;
  do {
    count = read(fd_, buffer, size);
  } while (count < 0 && errno == EINTR);
  *got = count < 0 ? 0 : static_cast<size_t>(count);
  return count < 0 ? FromErrno(errno) : FileResult::Done();
}

FileResult File::LastByte(int* byte) {
  struct stat info {};
  if (fstat(fd_, &info) != 0) return FromErrno(errno);
  *byte = -1;
  if (info.st_size == 0) return FileResult::Done();
  unsigned char last = 0;
  if (pread(fd_, &last, 1, info.st_size - 1) != 1) return FromErrno(errno);
  *byte = last;
  return FileResult::Done();
}

FileResult File::SyncToDisk() {
  return fsync(fd_) == 0 ? FileResult::Done() : FromErrno(errno);
}

FileResult File::Unlinked(bool* gone) {
  struct stat info {};
  if (fstat(fd_, &info) != 0) return FromErrno(errno);
  *gone = info.st_nlink == 0;
  return FileResult::Done();
}

FileResult RenameOver(const std::filesystem::path& from,
                      const std::filesystem::path& to,
                      const std::atomic<bool>* /*stop*/) {
  if (rename(from.c_str(), to.c_str()) != 0) return FromErrno(errno);
  // The new name is durable only once the folder is on the disk too.
  const int folder = OpenFolder(to);
  if (folder >= 0) {
    fsync(folder);
    close(folder);
  }
  return FileResult::Done();
}

FileResult RemoveFile(const std::filesystem::path& path) {
  return unlink(path.c_str()) == 0 ? FileResult::Done() : FromErrno(errno);
}

std::string PathText(const std::filesystem::path& path) {
  return path.string();
}

}  // namespace platform
