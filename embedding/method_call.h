#ifndef QUILLON_EMBEDDING_METHOD_CALL_H_
#define QUILLON_EMBEDDING_METHOD_CALL_H_

#include <memory>
#include <string>
#include <utility>

#include "embedding/encodable_value.h"

namespace flutter {

// A method call received on (or sent over) a method channel: the method's
// name and its arguments, which the call owns.
class MethodCall {
 public:
  MethodCall(const std::string& method_name,
             std::unique_ptr<EncodableValue> arguments)
      : method_name_(method_name), arguments_(std::move(arguments)) {}
  virtual ~MethodCall() = default;

  MethodCall(const MethodCall&) = delete;
  MethodCall& operator=(const MethodCall&) = delete;

  const std::string& method_name() const { return method_name_; }

  // The arguments, or null when the call has none. A decoded call always
  // has arguments (a null value when the message carried null).
  const EncodableValue* arguments() const { return arguments_.get(); }

 private:
  std::string method_name_;
  std::unique_ptr<EncodableValue> arguments_;
};

}  // namespace flutter

#endif  // QUILLON_EMBEDDING_METHOD_CALL_H_
