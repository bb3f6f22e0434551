#ifndef QUILLON_PLATFORM_TEMP_DIRECTORY_H_
#define QUILLON_PLATFORM_TEMP_DIRECTORY_H_

#include <filesystem>

namespace platform {

// The operating system's temporary directory, as
// std::filesystem::temp_directory_path() reports it. On Windows the path
// keeps the system's wide text: no narrowing through a code page, which
// would lose the characters the code page lacks. Nothing is appended or
// normalised.
//
// Throws std::filesystem::filesystem_error when the query fails.
std::filesystem::path TempDirectory();

}  // namespace platform

#endif  // QUILLON_PLATFORM_TEMP_DIRECTORY_H_
