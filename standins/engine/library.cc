// The stand-in library's process-wide state: the registry of live handles,
// the event log with its misuse record, and the exports that belong to no
// handle (monitor DPI, output streams).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "standins/engine/engine_internal.h"

namespace standin {

namespace {

// A whole number from the environment, or 0 when unset or not a number.
int32_t EnvironmentNumber(const char* name) {
  const char* text = std::getenv(name);
  if (text == nullptr) {
    return 0;
  }
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value > INT32_MAX || value < INT32_MIN) {
    return 0;
  }
  return static_cast<int32_t>(value);
}

}  // namespace

Library& GetLibrary() {
  // Never destroyed: engines and messengers may outlive static destruction.
  static Library* library = [] {
    auto* created = new Library();
    // Not shared yet; locked only to say so to the analysis.
    platform::MutexLock guard(created->mutex);
    // A test that starts a whole program cannot reach the test controls, so
    // the two controls it needs can also come from the environment.
    created->refuse_view_controllers = std::max(
        EnvironmentNumber("QUILLON_STANDIN_REFUSE_VIEW_CONTROLLERS"), 0);
    created->dpi_override = static_cast<UINT>(
        std::max(EnvironmentNumber("QUILLON_STANDIN_DPI"), 0));
    return created;
  }();
  return *library;
}

void LogEvent(int32_t kind, int64_t engine_serial,
              FlutterDesktopPluginRegistrarRef registrar,
              const std::string& detail) {
  StandinEngineEvent event{};
  event.kind = kind;
  event.engine_serial = engine_serial;
  event.registrar = registrar;
  std::snprintf(event.detail, sizeof(event.detail), "%s", detail.c_str());
  const bool misuse =
      kind == kStandinEventMisuse || kind == kStandinEventDuplicateResponse;
  Library& library = GetLibrary();
  {
    platform::MutexLock guard(library.events_mutex);
    library.events.push_back(event);
    if (misuse && library.unacknowledged_misuse++ == 0) {
      library.first_misuse = detail;
    }
  }
  if (misuse) {
    WriteMisuseToTranscript((kind == kStandinEventMisuse
                                 ? "misuse "
                                 : "misuse duplicate response ") +
                            detail);
  }
}

void Misuse(int64_t serial, const std::string& what) {
  LogEvent(kStandinEventMisuse, serial, nullptr, what);
}

}  // namespace standin

using standin::GetLibrary;
using standin::Library;
using standin::LogEvent;

extern "C" {

UINT FlutterDesktopGetDpiForMonitor(HMONITOR monitor) {
  UINT override_dpi;
  {
    Library& library = GetLibrary();
    platform::MutexLock guard(library.mutex);
    override_dpi = library.dpi_override;
  }
  return override_dpi != 0 ? override_dpi : standin::MonitorDpi(monitor);
}

void FlutterDesktopResyncOutputStreams(void) {
  standin::ReopenOutputStreams();
  LogEvent(kStandinEventOutputStreamsResynced, 0, nullptr, "");
}

}  // extern "C"
