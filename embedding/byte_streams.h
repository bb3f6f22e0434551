#ifndef QUILLON_EMBEDDING_BYTE_STREAMS_H_
#define QUILLON_EMBEDDING_BYTE_STREAMS_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace flutter {

// Sequential reader of an encoded message.
class ByteStreamReader {
 public:
  virtual ~ByteStreamReader() = default;

  // The next byte; 0 (logged, without moving) past the end.
  virtual uint8_t ReadByte() = 0;

  // Copies the next |length| bytes to |buffer|; when fewer remain it logs,
  // copies nothing and does not move.
  virtual void ReadBytes(uint8_t* buffer, size_t length) = 0;

  // Moves forward to the next multiple of |alignment|, counted from the
  // start of the message.
  virtual void SkipPadding(size_t alignment) = 0;

  // Bytes left to read, or UINT64_MAX when the reader cannot tell (sizes
  // announced by the sender are then trusted).
  virtual uint64_t remaining() const { return UINT64_MAX; }
};

// Sequential writer of an encoded message.
class ByteStreamWriter {
 public:
  virtual ~ByteStreamWriter() = default;

  virtual void WriteByte(uint8_t byte) = 0;

  virtual void WriteBytes(const uint8_t* bytes, size_t length) = 0;

  // Appends zero bytes up to the next multiple of |alignment|, counted from
  // the start of the message.
  virtual void WritePadding(size_t alignment) = 0;
};

namespace internal {

// Writes |line| and a newline to the standard error stream and flushes it:
// how the codec reports bad input.
void LogCodecLine(const std::string& line);

// The line logged for a read past the end of a message.
extern const char kInvalidReadMessage[];

}  // namespace internal

// Reads a buffer that the caller owns and keeps alive while reading. Final
// and inline, so that the codec's reads through it cost no virtual call.
class ByteBufferStreamReader final : public ByteStreamReader {
 public:
  ByteBufferStreamReader(const uint8_t* bytes, size_t size)
      : bytes_(bytes), size_(size) {}

  uint8_t ReadByte() override {
    if (offset_ >= size_) {
      internal::LogCodecLine(internal::kInvalidReadMessage);
      return 0;
    }
    return bytes_[offset_++];
  }

  void ReadBytes(uint8_t* buffer, size_t length) override {
    const uint8_t* bytes = Take(length);
    if (bytes != nullptr && length > 0) std::memcpy(buffer, bytes, length);
  }

  void SkipPadding(size_t alignment) override {
    if (alignment <= 1) return;
    const uint64_t misalignment = offset_ % alignment;
    if (misalignment != 0) offset_ += alignment - misalignment;
  }

  // Offset of the next byte from the start; may lie past the end after
  // padding was skipped there.
  uint64_t offset() const { return offset_; }

  uint64_t remaining() const override {
    return offset_ < size_ ? size_ - offset_ : 0;
  }

  // The next |length| bytes, in place, moving past them; when fewer remain
  // it logs, returns null and does not move.
  const uint8_t* Take(uint64_t length) {
    // Compared against what remains so that a huge length cannot wrap.
    if (length > remaining()) {
      internal::LogCodecLine(internal::kInvalidReadMessage);
      return nullptr;
    }
    const uint8_t* bytes = bytes_ + offset_;
    offset_ += length;
    return bytes;
  }

 private:
  const uint8_t* bytes_;
  uint64_t size_;
  uint64_t offset_ = 0;
};

// Appends to a byte vector that the caller owns and keeps alive while
// writing. Final and inline for the same reason as the reader.
class ByteBufferStreamWriter final : public ByteStreamWriter {
 public:
  explicit ByteBufferStreamWriter(std::vector<uint8_t>* buffer)
      : buffer_(buffer) {}

  void WriteByte(uint8_t byte) override { buffer_->push_back(byte); }

  void WriteBytes(const uint8_t* bytes, size_t length) override {
    if (length > 0) buffer_->insert(buffer_->end(), bytes, bytes + length);
  }

  void WritePadding(size_t alignment) override {
    if (alignment <= 1) return;
    const size_t misalignment = buffer_->size() % alignment;
    if (misalignment != 0) {
      buffer_->insert(buffer_->end(), alignment - misalignment, uint8_t{0});
    }
  }

 private:
  std::vector<uint8_t>* buffer_;
};

}  // namespace flutter

#endif  // QUILLON_EMBEDDING_BYTE_STREAMS_H_
