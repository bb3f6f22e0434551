#include "standins/plugins/registration_log.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "standins/engine/standin_control.h"

namespace standin_plugins {

namespace {

constexpr wchar_t kTranscriptVariable[] = L"QUILLON_STANDIN_TRANSCRIPT";

// The transcript file, or null for standard output (also when the variable
// cannot be read whole).
FILE* OpenTranscript(bool* to_standard_output) {
  const DWORD size = GetEnvironmentVariableW(kTranscriptVariable, nullptr, 0);
  *to_standard_output = size <= 1;
  if (*to_standard_output) return stdout;
  auto* path = static_cast<wchar_t*>(std::malloc(size * sizeof(wchar_t)));
  if (path == nullptr) return nullptr;
  FILE* file = nullptr;
  if (GetEnvironmentVariableW(kTranscriptVariable, path, size) + 1 == size) {
    file = _wfopen(path, L"ab");
  }
  std::free(path);
  return file;
}

}  // namespace

PointerText::PointerText(const void* pointer) {
  std::snprintf(
      text, sizeof(text), "%llx",
      static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(pointer)));
}

void RecordPluginEvent(const char* kind, const char* library,
                       const char* detail) {
  bool to_standard_output = false;
  FILE* out = OpenTranscript(&to_standard_output);
  if (out == nullptr) return;
  std::fprintf(out, "plugin %s %s %s events=%d\n", kind, library, detail,
               static_cast<int>(StandinEngineEventCount()));
  if (to_standard_output) {
    std::fflush(out);
  } else {
    std::fclose(out);
  }
}

void RecordRegistration(const char* library,
                        FlutterDesktopPluginRegistrarRef registrar) {
  RecordPluginEvent("register", library, PointerText(registrar).text);
}

}  // namespace standin_plugins
