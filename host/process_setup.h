// What the entry point needs before the main window exists: the process's
// arguments for the user interface and, under a debugger, a console.
#ifndef QUILLON_HOST_PROCESS_SETUP_H_
#define QUILLON_HOST_PROCESS_SETUP_H_

#include <string>
#include <vector>

// Converts null-terminated UTF-16 text to UTF-8. Null input and text that is
// not valid UTF-16 (an unpaired surrogate) give an empty string.
std::string ToUtf8(const wchar_t* utf16);

// The process's command-line arguments without the program name, each
// converted with ToUtf8 and kept in its position even when that fails.
std::vector<std::string> CommandLineArguments();

// Creates a console for the process and points stdout and stderr, the C++
// streams and the engine library's output at it. Does nothing when no console
// can be created.
void AttachDebugConsole();

#endif  // QUILLON_HOST_PROCESS_SETUP_H_
