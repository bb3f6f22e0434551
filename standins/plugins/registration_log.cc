#include "standins/plugins/registration_log.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "standins/engine/standin_control.h"

namespace standin_plugins {

namespace {

constexpr wchar_t kTranscriptVariable[] = L"QUILLON_STANDIN_TRANSCRIPT";

void AppendLine(const std::string& line) {
  const DWORD size = GetEnvironmentVariableW(kTranscriptVariable, nullptr, 0);
  if (size <= 1) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
    return;
  }
  std::vector<wchar_t> path(size);
  if (GetEnvironmentVariableW(kTranscriptVariable, path.data(), size) + 1 !=
      size) {
    return;
  }
  FILE* file = _wfopen(path.data(), L"ab");
  if (file == nullptr) {
    return;
  }
  std::fwrite(line.data(), 1, line.size(), file);
  std::fclose(file);
}

}  // namespace

std::string PointerText(const void* pointer) {
  char text[32];
  std::snprintf(
      text, sizeof(text), "%llx",
      static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(pointer)));
  return text;
}

void RecordPluginEvent(const char* kind, const char* library,
                       const std::string& detail) {
  std::string line = "plugin ";
  line += kind;
  line += ' ';
  line += library;
  line += ' ';
  line += detail;
  line += " events=";
  line += std::to_string(StandinEngineEventCount());
  line += '\n';
  AppendLine(line);
}

void RecordRegistration(const char* library,
                        FlutterDesktopPluginRegistrarRef registrar) {
  RecordPluginEvent("register", library, PointerText(registrar));
}

}  // namespace standin_plugins
