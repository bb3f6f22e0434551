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
#ifndef QUILLON_STANDINS_PLUGINS_REGISTRATION_LOG_H_
#define QUILLON_STANDINS_PLUGINS_REGISTRATION_LOG_H_

#include <string>

#include "interfaces/flutter_windows.h"

namespace standin_plugins {

// Appends "plugin <kind> <library> <detail> events=<n>".
void RecordPluginEvent(const char* kind, const char* library,
                       const std::string& detail);

// Appends a "register" record for |registrar|.
void RecordRegistration(const char* library,
                        FlutterDesktopPluginRegistrarRef registrar);

// A pointer as the records write it.
std::string PointerText(const void* pointer);

}  // namespace standin_plugins

#endif  // QUILLON_STANDINS_PLUGINS_REGISTRATION_LOG_H_
