// The MethodResult handed to a channel handler for one incoming call: encodes
// the answer and sends it back to the engine, once.
#ifndef QUILLON_EMBEDDING_ENGINE_METHOD_RESULT_H_
#define QUILLON_EMBEDDING_ENGINE_METHOD_RESULT_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "embedding/binary_messenger.h"
#include "embedding/encodable_value.h"
#include "embedding/method_codec.h"
#include "embedding/method_result.h"

namespace flutter {

// The reply callback of one message, usable once.
class PendingReply {
 public:
  explicit PendingReply(ReplyCallback reply);
  // Logs the leak warning when no reply was ever sent; sends nothing.
  ~PendingReply();

  PendingReply(const PendingReply&) = delete;
  PendingReply& operator=(const PendingReply&) = delete;

  // Sends |reply| (null or empty: an empty reply). A second call logs and
  // does nothing.
  void SendReply(const std::vector<uint8_t>* reply);

 private:
  ReplyCallback reply_;
};

class EngineMethodResult : public MethodResult {
 public:
  // |codec| is not owned and must outlive this result.
  EngineMethodResult(ReplyCallback reply, const MethodCodec* codec);
  ~EngineMethodResult() override;

 protected:
  void HandleSuccess(const EncodableValue* result) override;
  void HandleError(const std::string& error_code,
                   const std::string& error_message,
                   const EncodableValue* error_details) override;
  void HandleNotImplemented() override;

 private:
  std::unique_ptr<PendingReply> reply_;
  const MethodCodec* codec_;
};

}  // namespace flutter

#endif  // QUILLON_EMBEDDING_ENGINE_METHOD_RESULT_H_
