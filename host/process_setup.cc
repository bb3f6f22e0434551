#include "host/process_setup.h"

#include <windows.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>
#include <iostream>
#include <memory>

#include "interfaces/flutter_windows.h"

namespace {

struct LocalFreeDeleter {
  void operator()(wchar_t** argv) const { LocalFree(argv); }
};

}  // namespace

std::string ToUtf8(const wchar_t* utf16) {
  if (utf16 == nullptr) {
    return std::string();
  }
  // The size includes the terminator; 0 means the text cannot be converted.
  const int size_with_terminator = WideCharToMultiByte(
      CP_UTF8, WC_ERR_INVALID_CHARS, utf16, -1, nullptr, 0, nullptr, nullptr);
  const int target_length = size_with_terminator - 1;
  if (target_length <= 0) {
    return std::string();
  }
  const int source_length = static_cast<int>(wcslen(utf16));
  std::string utf8(static_cast<size_t>(target_length), '\0');
  const int converted =
      WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, utf16, source_length,
                          utf8.data(), target_length, nullptr, nullptr);
  if (converted == 0) {
    return std::string();
  }
  return utf8;
}

std::vector<std::string> CommandLineArguments() {
  std::vector<std::string> arguments;
  int argc = 0;
  std::unique_ptr<wchar_t*, LocalFreeDeleter> argv(
      CommandLineToArgvW(GetCommandLineW(), &argc));
  if (!argv) {
    return arguments;
  }
  // Element 0 is the program.
  for (int i = 1; i < argc; ++i) {
    arguments.push_back(ToUtf8(argv.get()[i]));
  }
  return arguments;
}

void AttachDebugConsole() {
  if (!AllocConsole()) {
    return;
  }
  FILE* stream = nullptr;
  if (freopen_s(&stream, "CONOUT$", "w", stdout) != 0) {
    _dup2(_fileno(stdout), 1);
  }
  if (freopen_s(&stream, "CONOUT$", "w", stderr) != 0) {
    _dup2(_fileno(stdout), 2);
  }
  std::ios::sync_with_stdio(true);
  FlutterDesktopResyncOutputStreams();
}
