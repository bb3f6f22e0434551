#ifndef QUILLON_EMBEDDING_METHOD_CODEC_H_
#define QUILLON_EMBEDDING_METHOD_CODEC_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "embedding/encodable_value.h"
#include "embedding/method_call.h"
#include "embedding/method_result.h"

namespace flutter {

// Turns method calls and their replies into bytes and back.
class MethodCodec {
 public:
  MethodCodec() = default;
  virtual ~MethodCodec() = default;

  MethodCodec(const MethodCodec&) = delete;
  MethodCodec& operator=(const MethodCodec&) = delete;

  // The call in |message|, or null when the message holds no method call.
  virtual std::unique_ptr<MethodCall> DecodeMethodCall(
      const uint8_t* message, size_t message_size) const = 0;

  virtual std::unique_ptr<std::vector<uint8_t>> EncodeMethodCall(
      const MethodCall& method_call) const = 0;

  // A success reply; |result| null for a success without a value.
  virtual std::unique_ptr<std::vector<uint8_t>> EncodeSuccessReply(
      const EncodableValue* result = nullptr) const = 0;

  // An error reply; |error_details| null for no details.
  virtual std::unique_ptr<std::vector<uint8_t>> EncodeErrorReply(
      const std::string& error_code, const std::string& error_message,
      const EncodableValue* error_details = nullptr) const = 0;

  // Hands the reply in |reply| to |result| and returns true, or returns
  // false without touching |result| when the bytes are no reply.
  virtual bool DecodeReply(const uint8_t* reply, size_t reply_size,
                           MethodResult* result) const = 0;
};

}  // namespace flutter

#endif  // QUILLON_EMBEDDING_METHOD_CODEC_H_
