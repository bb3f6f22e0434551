// Where the stand-in plugin libraries record what the host asks of them: the
// stand-in engine's transcript (the file named by QUILLON_STANDIN_TRANSCRIPT,
// or standard output without it), so a scenario run shows the plugin calls
// in order among the scripted user interface's own lines:
//
//   plugin register <library> <registrar> events=<n>
//   plugin callback <library> <function> events=<n>
//   plugin sub-window <library> <controller> events=<n>
//
// <registrar>, <function> and <controller> are pointers in hexadecimal (0 for
// null). <n> is the number of events in the stand-in engine's log at that
// moment (StandinEngineEventCount), which places the record among the
// engine's events for in-process tests. Each line is appended and the file
// closed again, so the records of several libraries and the engine's own
// lines stay in call order.
//
// Only the C runtime is used here: a library that only records its
// registration then carries no C++ runtime of its own, and loads as quickly
// as a real plugin library that shares the system's.
#ifndef QUILLON_STANDINS_PLUGINS_REGISTRATION_LOG_H_
#define QUILLON_STANDINS_PLUGINS_REGISTRATION_LOG_H_

#include "interfaces/flutter_windows.h"

namespace standin_plugins {

// A pointer as the records write it: hexadecimal, without a prefix.
struct PointerText {
  explicit PointerText(const void* pointer);
  char text[24];
};

// Appends "plugin <kind> <library> <detail> events=<n>".
void RecordPluginEvent(const char* kind, const char* library,
                       const char* detail);

// Appends a "register" record for |registrar|.
void RecordRegistration(const char* library,
                        FlutterDesktopPluginRegistrarRef registrar);

}  // namespace standin_plugins

#endif  // QUILLON_STANDINS_PLUGINS_REGISTRATION_LOG_H_
