#include "embedding/byte_streams.h"

#include <iostream>

namespace flutter {

namespace internal {

const char kInvalidReadMessage[] =
    "Invalid read in StandardCodecByteStreamReader";

void LogCodecLine(const std::string& line) { std::cerr << line << std::endl; }

}  // namespace internal

}  // namespace flutter
