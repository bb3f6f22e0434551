#include "standins/scripted_ui/transcript.h"

#include <windows.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace standin {

namespace {

struct Transcript {
  ~Transcript() {
    if (file != nullptr) {
      std::fclose(file);
    }
  }
  std::mutex mutex;
  bool opened = false;
  FILE* file = nullptr;  // null: standard output
};

Transcript& GetTranscript() {
  static Transcript transcript;
  return transcript;
}

FILE* OpenTranscriptFile() {
  DWORD size =
      GetEnvironmentVariableW(L"QUILLON_STANDIN_TRANSCRIPT", nullptr, 0);
  if (size <= 1) {
    return nullptr;
  }
  std::vector<wchar_t> path(size);
  if (GetEnvironmentVariableW(L"QUILLON_STANDIN_TRANSCRIPT", path.data(),
                              size) +
          1 !=
      size) {
    return nullptr;
  }
  // Appended, so that several processes of one test can share a transcript.
  return _wfopen(path.data(), L"ab");
}

}  // namespace

void WriteTranscriptLine(const std::string& line) {
  Transcript& transcript = GetTranscript();
  std::lock_guard<std::mutex> guard(transcript.mutex);
  if (!transcript.opened) {
    transcript.opened = true;
    transcript.file = OpenTranscriptFile();
  }
  FILE* out = transcript.file != nullptr ? transcript.file : stdout;
  std::fwrite(line.data(), 1, line.size(), out);
  std::fputc('\n', out);
  std::fflush(out);
}

}  // namespace standin
