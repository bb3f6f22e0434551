#include "platform/temp_directory.h"

#include <filesystem>

namespace platform {

std::filesystem::path TempDirectory() {
  return std::filesystem::temp_directory_path();
}

}  // namespace platform
