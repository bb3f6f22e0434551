// The method codec on arbitrary bytes: whatever decodes must re-encode to
// bytes that decode to the same value and encode to the same bytes again; a
// reply decodes to at most one answer. Nothing may crash, leak or allocate
// far beyond the message.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "embedding/method_call.h"
#include "embedding/method_result.h"
#include "embedding/standard_codec.h"
#include "tests/codec/codec_test_util.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

class CountingResult : public flutter::MethodResult {
 public:
  int answers = 0;

 protected:
  void HandleSuccess(const flutter::EncodableValue*) override { ++answers; }
  void HandleError(const std::string&, const std::string&,
                   const flutter::EncodableValue*) override {
    ++answers;
  }
  void HandleNotImplemented() override { ++answers; }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::QuietStandardStreams();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const flutter::StandardMethodCodec& codec =
      flutter::StandardMethodCodec::GetInstance();
  std::unique_ptr<flutter::MethodCall> call =
      codec.DecodeMethodCall(data, size);
  if (call != nullptr) {
    fuzz::Check(call->arguments() != nullptr,
                "a decoded call without arguments");
    const std::vector<uint8_t> first = *codec.EncodeMethodCall(*call);
    std::unique_ptr<flutter::MethodCall> again =
        codec.DecodeMethodCall(first.data(), first.size());
    fuzz::Check(again != nullptr, "re-encoded call does not decode");
    fuzz::Check(again->method_name() == call->method_name(),
                "method name changed");
    fuzz::Check(
        flutter::testing::Identical(*again->arguments(), *call->arguments()),
        "arguments changed in a round trip");
    fuzz::Check(*codec.EncodeMethodCall(*again) == first,
                "re-encoding changed the bytes");
  }
  CountingResult result;
  const bool recognised = codec.DecodeReply(data, size, &result);
  fuzz::Check(result.answers == (recognised ? 1 : 0), "reply answered wrongly");
  return 0;
}
