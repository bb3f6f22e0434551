#include "platform/temp_directory.h"

#include <filesystem>

#ifdef _WIN32
#include <windows.h>

#include <system_error>
#endif

namespace platform {

#ifdef _WIN32

namespace {

std::string WideToAnsi(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  const int wide_length = static_cast<int>(wide.size());
  const int length = WideCharToMultiByte(CP_ACP, 0, wide.data(), wide_length,
                                         nullptr, 0, nullptr, nullptr);
  if (length <= 0) {
    throw std::system_error(static_cast<int>(GetLastError()),
                            std::system_category(),
                            "cannot convert the temporary directory");
  }
  std::string narrow(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), wide_length, narrow.data(),
                      length, nullptr, nullptr);
  return narrow;
}

}  // namespace

std::string TempDirectory() {
  return WideToAnsi(std::filesystem::temp_directory_path().wstring());
}

#else

std::string TempDirectory() {
  return std::filesystem::temp_directory_path().string();
}

#endif

}  // namespace platform
