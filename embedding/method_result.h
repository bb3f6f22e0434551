#ifndef QUILLON_EMBEDDING_METHOD_RESULT_H_
#define QUILLON_EMBEDDING_METHOD_RESULT_H_

#include <string>

#include "embedding/encodable_value.h"

namespace flutter {

// The answer to one method call. Exactly one of Success, Error or
// NotImplemented is to be called, exactly once; derived classes decide what
// answering means (and how a second answer is treated) in their hooks.
class MethodResult {
 public:
  MethodResult() = default;
  virtual ~MethodResult() = default;

  MethodResult(const MethodResult&) = delete;
  MethodResult& operator=(const MethodResult&) = delete;

  // Answers with a value.
  void Success(const EncodableValue& result) { HandleSuccess(&result); }

  // Answers without a value (null on the other side).
  void Success() { HandleSuccess(nullptr); }

  // Answers with an error; no details when |error_details| is null.
  void Error(const std::string& error_code,
             const std::string& error_message = "",
             const EncodableValue* error_details = nullptr) {
    HandleError(error_code, error_message, error_details);
  }

  // Answers that the method is not implemented.
  void NotImplemented() { HandleNotImplemented(); }

 protected:
  // |result| is null for a success without a value.
  virtual void HandleSuccess(const EncodableValue* result) = 0;

  // |error_details| is null when there are no details.
  virtual void HandleError(const std::string& error_code,
                           const std::string& error_message,
                           const EncodableValue* error_details) = 0;

  virtual void HandleNotImplemented() = 0;
};

}  // namespace flutter

#endif  // QUILLON_EMBEDDING_METHOD_RESULT_H_
