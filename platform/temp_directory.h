#ifndef QUILLON_PLATFORM_TEMP_DIRECTORY_H_
#define QUILLON_PLATFORM_TEMP_DIRECTORY_H_

#include <string>

namespace platform {

// The operating system's temporary directory as the standard library's
// std::filesystem::temp_directory_path() reports it, as narrow text: on
// Windows the wide path converted to the active ANSI code page (the code page
// the standard library's own path conversion uses), elsewhere the path's
// native string. Nothing is appended or normalised.
//
// Throws std::filesystem::filesystem_error when the query fails, and
// std::system_error when the text cannot be converted.
std::string TempDirectory();

}  // namespace platform

#endif  // QUILLON_PLATFORM_TEMP_DIRECTORY_H_
