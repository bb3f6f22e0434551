#include "embedding/engine_method_result.h"

#include <iostream>
#include <utility>

namespace flutter {

PendingReply::PendingReply(ReplyCallback reply) : reply_(std::move(reply)) {}

PendingReply::~PendingReply() {
  if (reply_) {
    std::cerr << "Warning: Failed to respond to a message. This is a memory "
                 "leak."
              << std::endl;
  }
}

void PendingReply::SendReply(const std::vector<uint8_t>* reply) {
  if (!reply_) {
    std::cerr << "Error: Only one of Success, Error, or NotImplemented can be "
                 "called,"
              << " and it can be called exactly once. Ignoring duplicate "
                 "result."
              << std::endl;
    return;
  }
  // Empty the slot before calling, so the reply counts as sent even if the
  // callback re-enters or throws.
  ReplyCallback callback = std::move(reply_);
  reply_ = nullptr;
  if (reply == nullptr || reply->empty()) {
    callback(nullptr, 0);
  } else {
    callback(reply->data(), reply->size());
  }
}

EngineMethodResult::EngineMethodResult(ReplyCallback reply,
                                       const MethodCodec* codec)
    : reply_(std::make_unique<PendingReply>(std::move(reply))), codec_(codec) {}

EngineMethodResult::~EngineMethodResult() = default;

void EngineMethodResult::HandleSuccess(const EncodableValue* result) {
  std::unique_ptr<std::vector<uint8_t>> data =
      codec_->EncodeSuccessReply(result);
  reply_->SendReply(data.get());
}

void EngineMethodResult::HandleError(const std::string& error_code,
                                     const std::string& error_message,
                                     const EncodableValue* error_details) {
  std::unique_ptr<std::vector<uint8_t>> data =
      codec_->EncodeErrorReply(error_code, error_message, error_details);
  reply_->SendReply(data.get());
}

void EngineMethodResult::HandleNotImplemented() { reply_->SendReply(nullptr); }

}  // namespace flutter
