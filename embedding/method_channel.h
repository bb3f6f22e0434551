// A named channel carrying method calls, decoded and answered with a codec.
#ifndef QUILLON_EMBEDDING_METHOD_CHANNEL_H_
#define QUILLON_EMBEDDING_METHOD_CHANNEL_H_

#include <functional>
#include <memory>
#include <string>

#include "embedding/binary_messenger.h"
#include "embedding/encodable_value.h"
#include "embedding/method_call.h"
#include "embedding/method_codec.h"
#include "embedding/method_result.h"

namespace flutter {

// Handles one call. |call| is valid during the call only; |result| may be kept
// and answered later, from any thread, exactly once.
using MethodCallHandler = std::function<void(
    const MethodCall& call, std::unique_ptr<MethodResult> result)>;

class MethodChannel {
 public:
  // |messenger| and |codec| are not owned and must outlive the registration.
  MethodChannel(BinaryMessenger* messenger, const std::string& name,
                const MethodCodec* codec);

  // Installs |handler| for the channel, replacing any earlier one; an empty
  // handler unregisters the channel. The registration keeps its own copies, so
  // this object need not outlive it.
  void SetMethodCallHandler(MethodCallHandler handler) const;

  // Calls |method| on the other side with |arguments| (null for none),
  // expecting no answer.
  void InvokeMethod(const std::string& method,
                    std::unique_ptr<EncodableValue> arguments) const;

  const std::string& name() const { return name_; }

 private:
  BinaryMessenger* messenger_;
  std::string name_;
  const MethodCodec* codec_;
};

}  // namespace flutter

#endif  // QUILLON_EMBEDDING_METHOD_CHANNEL_H_
