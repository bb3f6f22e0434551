#include "embedding/method_channel.h"

#include <iostream>
#include <utility>

#include "embedding/engine_method_result.h"

namespace flutter {

MethodChannel::MethodChannel(BinaryMessenger* messenger,
                             const std::string& name, const MethodCodec* codec)
    : messenger_(messenger), name_(name), codec_(codec) {}

void MethodChannel::SetMethodCallHandler(MethodCallHandler handler) const {
  if (!handler) {
    messenger_->SetMessageHandler(name_, nullptr);
    return;
  }
  const MethodCodec* codec = codec_;
  std::string name = name_;
  messenger_->SetMessageHandler(name_, [handler = std::move(handler), codec,
                                        name](const uint8_t* message,
                                              size_t message_size,
                                              ReplyCallback reply) {
    // Made before decoding, so that every message gets an answer.
    auto result = std::make_unique<EngineMethodResult>(std::move(reply), codec);
    std::unique_ptr<MethodCall> call =
        codec->DecodeMethodCall(message, message_size);
    if (!call) {
      std::cerr << "Unable to construct method call from message on "
                   "channel "
                << name << std::endl;
      result->NotImplemented();
      return;
    }
    handler(*call, std::move(result));
  });
}

void MethodChannel::InvokeMethod(
    const std::string& method,
    std::unique_ptr<EncodableValue> arguments) const {
  const MethodCall call(method, std::move(arguments));
  const std::unique_ptr<std::vector<uint8_t>> message =
      codec_->EncodeMethodCall(call);
  if (message) messenger_->Send(name_, message->data(), message->size(), {});
}

}  // namespace flutter
