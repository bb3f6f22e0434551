#ifndef EMBEDDING_BYTE_STREAMS_H_
#define EMBEDDING_BYTE_STREAMS_H_

#include <cstddef>
#include <cstdint>
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

// Reads a buffer that the caller owns and keeps alive while reading.
class ByteBufferStreamReader : public ByteStreamReader {
 public:
  ByteBufferStreamReader(const uint8_t* bytes, size_t size)
      : bytes_(bytes), size_(size) {}

  uint8_t ReadByte() override;
  void ReadBytes(uint8_t* buffer, size_t length) override;
  void SkipPadding(size_t alignment) override;

  // Offset of the next byte from the start; may lie past the end after
  // padding was skipped there.
  uint64_t offset() const { return offset_; }

  // Bytes left to read.
  uint64_t remaining() const { return offset_ < size_ ? size_ - offset_ : 0; }

 private:
  const uint8_t* bytes_;
  uint64_t size_;
  uint64_t offset_ = 0;
};

// Appends to a byte vector that the caller owns and keeps alive while
// writing.
class ByteBufferStreamWriter : public ByteStreamWriter {
 public:
  explicit ByteBufferStreamWriter(std::vector<uint8_t>* buffer)
      : buffer_(buffer) {}

  void WriteByte(uint8_t byte) override;
  void WriteBytes(const uint8_t* bytes, size_t length) override;
  void WritePadding(size_t alignment) override;

 private:
  std::vector<uint8_t>* buffer_;
};

namespace internal {

// Writes |line| and a newline to the standard error stream and flushes it:
// how the codec reports bad input.
void LogCodecLine(const std::string& line);

// The line logged for a read past the end of a message.
extern const char kInvalidReadMessage[];

}  // namespace internal

}  // namespace flutter

#endif  // EMBEDDING_BYTE_STREAMS_H_
