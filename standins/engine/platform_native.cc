// The window parts of the stand-in in the native (Linux) build: there are no
// windows, so a view controller has a view without a window.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "standins/engine/engine_internal.h"

namespace standin {

bool CreateViewWindows(FlutterDesktopViewController* /*controller*/,
                       int /*width*/, int /*height*/) {
  return true;
}

void DestroyViewWindows(FlutterDesktopViewController* /*controller*/) {}

void StartScriptedUi(FlutterDesktopViewController* /*controller*/) {}

void StopScriptedUi(FlutterDesktopViewController* /*controller*/) {}

UINT MonitorDpi(HMONITOR /*monitor*/) { return 96; }

// Natively the engine's turn is StandinEngineRunTasks alone.
void CreateTaskWindow(FlutterDesktopEngine* /*engine*/) {}
void DestroyTaskWindow(FlutterDesktopEngine* /*engine*/) {}
void PostRunTasks(FlutterDesktopEngine* /*engine*/) {}
void WriteMisuseToTranscript(const std::string& /*line*/) {}

void WriteCallFromHostToTranscript(const std::string& /*channel*/,
                                   const uint8_t* /*data*/, size_t /*size*/) {}

void ReopenOutputStreams() {
  std::fflush(stdout);
  std::fflush(stderr);
}

std::wstring ExecutableFolder() {
  std::vector<char> buffer(4096);
  ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
  if (length <= 0 || static_cast<size_t>(length) >= buffer.size()) {
    return L".";
  }
  std::string path(buffer.data(), static_cast<size_t>(length));
  size_t slash = path.rfind('/');
  return FromUtf8(slash == std::string::npos ? "." : path.substr(0, slash));
}

}  // namespace standin
