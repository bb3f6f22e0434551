#include "embedding/byte_streams.h"

#include <cstring>
#include <iostream>

namespace flutter {

namespace internal {

const char kInvalidReadMessage[] =
    "Invalid read in StandardCodecByteStreamReader";

void LogCodecLine(const std::string& line) { std::cerr << line << std::endl; }

}  // namespace internal

uint8_t ByteBufferStreamReader::ReadByte() {
  if (offset_ >= size_) {
    internal::LogCodecLine(internal::kInvalidReadMessage);
    return 0;
  }
  return bytes_[offset_++];
}

void ByteBufferStreamReader::ReadBytes(uint8_t* buffer, size_t length) {
  // Compared against what remains so that a huge length cannot wrap around.
  if (length > remaining()) {
    internal::LogCodecLine(internal::kInvalidReadMessage);
    return;
  }
  if (length > 0) {
    std::memcpy(buffer, bytes_ + offset_, length);
    offset_ += length;
  }
}

void ByteBufferStreamReader::SkipPadding(size_t alignment) {
  if (alignment <= 1) {
    return;
  }
  uint64_t misalignment = offset_ % alignment;
  if (misalignment != 0) {
    offset_ += alignment - misalignment;
  }
}

void ByteBufferStreamWriter::WriteByte(uint8_t byte) {
  buffer_->push_back(byte);
}

void ByteBufferStreamWriter::WriteBytes(const uint8_t* bytes, size_t length) {
  if (length > 0) {
    buffer_->insert(buffer_->end(), bytes, bytes + length);
  }
}

void ByteBufferStreamWriter::WritePadding(size_t alignment) {
  if (alignment <= 1) {
    return;
  }
  size_t misalignment = buffer_->size() % alignment;
  if (misalignment == 0) {
    return;
  }
  for (size_t i = misalignment; i < alignment; ++i) {
    WriteByte(0);
  }
}

}  // namespace flutter
