#ifndef QUILLON_EMBEDDING_STANDARD_CODEC_H_
#define QUILLON_EMBEDDING_STANDARD_CODEC_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "embedding/byte_streams.h"
#include "embedding/encodable_value.h"
#include "embedding/method_call.h"
#include "embedding/method_codec.h"
#include "embedding/method_result.h"

namespace flutter {

// Writes and reads EncodableValues in the standard message format that the
// Dart side of the engine speaks. A derived serializer adds its own types by
// overriding WriteValue and ReadValueOfType; lists and maps go through those
// virtual operations, so the additions apply at every depth.
class StandardCodecSerializer {
 public:
  // Lists and maps nested deeper than this read as null, so that hostile
  // input cannot exhaust the stack.
  static constexpr int kMaxNestingDepth = 128;

  StandardCodecSerializer() = default;
  virtual ~StandardCodecSerializer() = default;

  StandardCodecSerializer(const StandardCodecSerializer&) = delete;
  StandardCodecSerializer& operator=(const StandardCodecSerializer&) = delete;

  // The serializer shared by the whole process.
  static const StandardCodecSerializer& GetInstance();

  // Reads one value (its tag, then its payload). Never fails: bad input is
  // logged and reads as null, zero or empty.
  EncodableValue ReadValue(ByteStreamReader* stream) const;

  // Writes |value| with its tag. A string, typed list, list or map longer
  // than 2^32 - 1 is written as null, with a line on the error stream.
  virtual void WriteValue(const EncodableValue& value,
                          ByteStreamWriter* stream) const;

 protected:
  // Reads the payload of a value whose tag |type| has just been read.
  virtual EncodableValue ReadValueOfType(uint8_t type,
                                         ByteStreamReader* stream) const;

  // The size field of strings, lists and maps. A size above 2^32 - 1 does
  // not fit: WriteSize then logs, writes nothing and returns false, and the
  // caller must not write the contents either (WriteValue writes such a
  // value as null).
  size_t ReadSize(ByteStreamReader* stream) const;
  bool WriteSize(size_t size, ByteStreamWriter* stream) const;

 private:
  // Whether this is the standard serializer itself, not a derived one.
  bool IsPlainStandard() const;
};

// The standard method codec: method calls and replies framed in the
// standard message format.
class StandardMethodCodec : public MethodCodec {
 public:
  // The codec shared by the whole process for |serializer| (the shared
  // StandardCodecSerializer when null). It lives until the process exits.
  static const StandardMethodCodec& GetInstance(
      const StandardCodecSerializer* serializer = nullptr);

  // |serializer| is not owned and must outlive the codec.
  explicit StandardMethodCodec(const StandardCodecSerializer* serializer);
  ~StandardMethodCodec() override = default;

  std::unique_ptr<MethodCall> DecodeMethodCall(
      const uint8_t* message, size_t message_size) const override;
  std::unique_ptr<std::vector<uint8_t>> EncodeMethodCall(
      const MethodCall& method_call) const override;
  std::unique_ptr<std::vector<uint8_t>> EncodeSuccessReply(
      const EncodableValue* result = nullptr) const override;
  std::unique_ptr<std::vector<uint8_t>> EncodeErrorReply(
      const std::string& error_code, const std::string& error_message,
      const EncodableValue* error_details = nullptr) const override;
  bool DecodeReply(const uint8_t* reply, size_t reply_size,
                   MethodResult* result) const override;

 private:
  const StandardCodecSerializer* serializer_;
};

}  // namespace flutter

#endif  // QUILLON_EMBEDDING_STANDARD_CODEC_H_
