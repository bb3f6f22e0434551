#include <windows.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/file.h"
#include "platform/wide_text.h"

namespace platform {

namespace {

// Scanners, indexers and backup agents open a file for a moment; an
// operation they refuse is tried again for this long.
constexpr auto kSharingRetryTime = std::chrono::milliseconds(300);
constexpr auto kSharingRetryPause = std::chrono::milliseconds(20);

std::string SystemText(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string reason = "error " + std::to_string(error);
  if (length != 0 && text != nullptr) {
    DWORD end = length;
    while (end > 0 && (text[end - 1] == L'\r' || text[end - 1] == L'\n' ||
                       text[end - 1] == L' ')) {
      --end;
    }
    reason += ": " + Utf8FromWide(text, static_cast<int>(end));
  }
  if (text != nullptr) LocalFree(text);
  return reason;
}

bool IsSharingError(DWORD error) {
  // A file pending deletion, or replaced while open, refuses with "access
  // denied" rather than a sharing violation.
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
         error == ERROR_ACCESS_DENIED;
}

FileResult FromError(DWORD error) {
  FileResult result;
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
    result.status = FileStatus::kAbsent;
  } else if (IsSharingError(error)) {
    result.status = FileStatus::kBusy;
  } else {
    result.status = FileStatus::kFailed;
  }
  result.reason = SystemText(error);
  return result;
}

// Runs |attempt| (a call setting the last error on failure) until it
// succeeds, fails for another reason than sharing, or the retry time ends.
// Ends early once *|stop| is true.
template <typename Attempt>
FileResult WithSharingRetries(Attempt attempt,
                              const std::atomic<bool>* stop = nullptr) {
  const auto until = std::chrono::steady_clock::now() + kSharingRetryTime;
  for (;;) {
    if (attempt()) return FileResult::Done();
    const DWORD error = GetLastError();
    if (!IsSharingError(error) || std::chrono::steady_clock::now() >= until ||
        (stop != nullptr && *stop)) {
      return FromError(error);
    }
    std::this_thread::sleep_for(kSharingRetryPause);
  }
}

}  // namespace

File::~File() { Close(); }

File::File(File&& other) noexcept : handle_(other.handle_) {
  other.handle_ = nullptr;
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    other.handle_ = nullptr;
  }
  return *this;
}

FileResult File::Open(const std::filesystem::path& path, Mode mode,
                      File* file) {
  DWORD access = GENERIC_READ;
  DWORD disposition = OPEN_EXISTING;
  if (mode == Mode::kAppend) {
    access = FILE_APPEND_DATA | GENERIC_READ | SYNCHRONIZE;
    disposition = OPEN_ALWAYS;
  } else if (mode == Mode::kCreate) {
    access = GENERIC_WRITE;
    disposition = CREATE_ALWAYS;
  }
  file->Close();
  HANDLE handle = INVALID_HANDLE_VALUE;
  FileResult result = WithSharingRetries([&] {
    handle = CreateFileW(path.c_str(), access,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    return handle != INVALID_HANDLE_VALUE;
  });
  if (result.done()) file->handle_ = handle;
  return result;
}

bool File::is_open() const { return handle_ != nullptr; }

void File::Close() {
  if (handle_ != nullptr) CloseHandle(handle_);
  handle_ = nullptr;
}

FileResult File::Write(const char* data, size_t size) {
  while (size > 0) {
    const DWORD chunk =
        size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(handle_, data, chunk, &written, nullptr)) {
      return FromError(GetLastError());
    }
    if (written == 0) return FromError(ERROR_DISK_FULL);
    data += written;
    size -= written;
  }
  return FileResult::Done();
}

FileResult File::Seek(uint64_t offset) {
  LARGE_INTEGER to{};
  to.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(handle_, to, nullptr, FILE_BEGIN)
             ? FileResult::Done()
             : FromError(GetLastError());
}

FileResult File::Read(char* buffer, size_t size, size_t* got) {
  const DWORD chunk =
      size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
  DWORD count = 0;
  const BOOL read = ReadFile(handle_, buffer, chunk, &count, nullptr);
  *got = read ? count : 0;
  return read ? FileResult::Done() : FromError(GetLastError());
}

FileResult File::LastByte(int* byte) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(handle_, &size)) return FromError(GetLastError());
  *byte = -1;
  if (size.QuadPart == 0) return FileResult::Done();
  // An explicit offset leaves the handle's own position alone.
  OVERLAPPED at{};
  const uint64_t offset = static_cast<uint64_t>(size.QuadPart) - 1;
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  unsigned char last = 0;
  DWORD count = 0;
  if (!ReadFile(handle_, &last, 1, &count, &at) || count != 1) {
    return FromError(GetLastError());
  }
  *byte = last;
  return FileResult::Done();
}

FileResult File::SyncToDisk() {
  return FlushFileBuffers(handle_) ? FileResult::Done()
                                   : FromError(GetLastError());
}

FileResult File::Unlinked(bool* gone) {
  FILE_STANDARD_INFO info{};
  if (!GetFileInformationByHandleEx(handle_, FileStandardInfo, &info,
                                    sizeof(info))) {
    return FromError(GetLastError());
  }
  *gone = info.NumberOfLinks == 0 || info.DeletePending;
  return FileResult::Done();
}

namespace {

// Renames |from| over |to| even while other processes keep |to| open with
// deletion shared (as every opening of this layer does), which a plain
// replacing rename refuses: |to| first moves aside to "<to>.old", whose
// handles keep working, then |from| takes the free name. A process killed
// in between leaves |to| missing and |from| complete; see RenameOver.
bool MoveAsideAndRename(const std::filesystem::path& from,
                        const std::filesystem::path& to) {
  std::filesystem::path aside = to;
  aside += ".old";
  if (!MoveFileExW(to.c_str(), aside.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return false;
  }
  if (!MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) {
    const DWORD error = GetLastError();
    MoveFileExW(aside.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH);
    SetLastError(error);
    return false;
  }
  // Gone once the last other handle closes.
  DeleteFileW(aside.c_str());
  return true;
}

}  // namespace

FileResult RenameOver(const std::filesystem::path& from,
                      const std::filesystem::path& to,
                      const std::atomic<bool>* stop) {
  return WithSharingRetries(
      [&] {
        return MoveFileExW(from.c_str(), to.c_str(),
                           MOVEFILE_REPLACE_EXISTING |
                               MOVEFILE_WRITE_THROUGH) != FALSE ||
               (IsSharingError(GetLastError()) && MoveAsideAndRename(from, to));
      },
      stop);
}

FileResult RemoveFile(const std::filesystem::path& path) {
  return DeleteFileW(path.c_str()) ? FileResult::Done()
                                   : FromError(GetLastError());
}

std::string PathText(const std::filesystem::path& path) {
  const std::wstring& wide = path.native();
  return Utf8FromWide(wide.data(), static_cast<int>(wide.size()));
}

}  // namespace platform
