#include <windows.h>
#include <sddl.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <system_error>

#include "platform/interprocess_lock.h"
#include "platform/thread_gate.h"

namespace platform {

namespace {

// Every interactive process of the user may use the objects, whatever its
// elevation: an elevated instance's default security would shut a normal
// one out, and its high integrity label would refuse it the right to
// release the mutex.
constexpr wchar_t kSharedObjectSecurity[] =
    L"D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;GA;;;IU)S:(ML;;NW;;;ME)";

// The final path of |file|'s folder (resolving short names, links and
// spelling) with the file's name, upper-cased as the file system compares
// names, with "\" as separator.
std::wstring CanonicalPath(const std::filesystem::path& file) {
  std::error_code ignored;
  std::filesystem::path folder = file.parent_path();
  if (folder.empty()) folder = std::filesystem::current_path(ignored);
  std::wstring text;
  HANDLE handle = CreateFileW(
      folder.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle != INVALID_HANDLE_VALUE) {
    const DWORD size = GetFinalPathNameByHandleW(handle, nullptr, 0, 0);
    if (size != 0) {
      text.resize(size);
      const DWORD length =
          GetFinalPathNameByHandleW(handle, text.data(), size, 0);
      text.resize(length < size ? length : 0);
    }
    CloseHandle(handle);
  }
  if (text.empty()) text = std::filesystem::absolute(folder, ignored).native();
  text += L'\\';
  text += file.filename().native();
  for (wchar_t& c : text) {
    if (c == L'/') c = L'\\';
  }
  const int length = static_cast<int>(text.size());
  std::wstring upper(text.size(), L'\0');
  if (LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, text.data(), length,
                    upper.data(), length, nullptr, nullptr, 0) == length) {
    return upper;
  }
  return text;
}

std::wstring ObjectName(const std::filesystem::path& file,
                        const std::string& role) {
  uint64_t hash = 14695981039346656037ull;
  for (const wchar_t unit : CanonicalPath(file)) {
    hash = (hash ^ (static_cast<uint64_t>(unit) & 0xFF)) * 1099511628211ull;
    hash = (hash ^ (static_cast<uint64_t>(unit) >> 8)) * 1099511628211ull;
  }
  wchar_t name[64];
  std::swprintf(name, 64, L"Local\\quillon_analytics_%016llx",
                static_cast<unsigned long long>(hash));
  std::wstring text = name;
  for (const char c : role) text += L'_', text += static_cast<wchar_t>(c);
  return text;
}

// Security attributes built from kSharedObjectSecurity; the system default
// when the system cannot build them.
class SharedObjectSecurity {
 public:
  SharedObjectSecurity() {
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(
            kSharedObjectSecurity, SDDL_REVISION_1, &descriptor_, nullptr)) {
      attributes_.nLength = sizeof(attributes_);
      attributes_.lpSecurityDescriptor = descriptor_;
    }
  }
  ~SharedObjectSecurity() {
    if (descriptor_ != nullptr) LocalFree(descriptor_);
  }
  SharedObjectSecurity(const SharedObjectSecurity&) = delete;
  SharedObjectSecurity& operator=(const SharedObjectSecurity&) = delete;

  SECURITY_ATTRIBUTES* get() {
    return descriptor_ != nullptr ? &attributes_ : nullptr;
  }

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
  SECURITY_ATTRIBUTES attributes_{};
};

HANDLE CreateOrOpenMutex(const std::wstring& name) {
  SharedObjectSecurity security;
  HANDLE mutex = CreateMutexW(security.get(), FALSE, name.c_str());
  if (mutex == nullptr && GetLastError() == ERROR_ACCESS_DENIED) {
    // Made by an older or differently secured process: ask only for what
    // waiting and releasing need.
    mutex = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name.c_str());
  }
  return mutex;
}

}  // namespace

struct InterProcessLock::Impl {
  std::timed_mutex threads;  // keeps the owner thread's hold exclusive
  HANDLE mutex = nullptr;
  HANDLE mapping = nullptr;
  void* shared = nullptr;
};

InterProcessLock::InterProcessLock(const std::filesystem::path& file,
                                   const std::string& role)
    : impl_(std::make_unique<Impl>()) {
  const std::wstring name = ObjectName(file, role);
  impl_->mutex = CreateOrOpenMutex(name);
  SharedObjectSecurity security;
  impl_->mapping = CreateFileMappingW(
      INVALID_HANDLE_VALUE, security.get(), PAGE_READWRITE, 0,
      static_cast<DWORD>(kSharedWords * 8), (name + L"_words").c_str());
  if (impl_->mapping != nullptr) {
    impl_->shared = MapViewOfFile(
        impl_->mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, kSharedWords * 8);
  }
}

InterProcessLock::~InterProcessLock() {
  if (impl_->shared != nullptr) UnmapViewOfFile(impl_->shared);
  if (impl_->mapping != nullptr) CloseHandle(impl_->mapping);
  if (impl_->mutex != nullptr) CloseHandle(impl_->mutex);
}

bool InterProcessLock::Acquire(int timeout_ms, bool wait_for_this_process) {
  if (impl_->mutex == nullptr) return false;
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  if (!EnterThreadGate(impl_->threads, timeout_ms, wait_for_this_process)) {
    return false;
  }
  DWORD wait = INFINITE;
  if (timeout_ms >= 0) {
    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                           Clock::now() - start)
                           .count();
    wait = spent >= timeout_ms ? 0 : static_cast<DWORD>(timeout_ms - spent);
  }
  // An abandoned mutex is ours now: its owner died, which the files it
  // guards are written to survive.
  const DWORD result = WaitForSingleObject(impl_->mutex, wait);
  if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) return true;
  impl_->threads.unlock();
  return false;
}

void InterProcessLock::Release() {
  ReleaseMutex(impl_->mutex);
  impl_->threads.unlock();
}

uint64_t* InterProcessLock::shared_words() {
  return static_cast<uint64_t*>(impl_->shared);
}

}  // namespace platform
