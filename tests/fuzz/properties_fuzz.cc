// The property model and its JSON text on arbitrary keys and values: every
// string kept is well-formed UTF-8 within the length limit (anything else is
// refused), and the text of the node is always one valid JSON object.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "analytics/sdk/properties_node.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/json_check.h"

namespace {

void ApplyOne(FuzzedDataProvider& input, analytics::PropertiesNode* node) {
  const std::string key = input.ConsumeRandomLengthString(64);
  switch (input.ConsumeIntegralInRange<int>(0, 7)) {
    case 0:
      node->SetString(key, input.ConsumeRandomLengthString(9000));
      break;
    case 1:
      node->SetNumber(key, input.ConsumeFloatingPoint<double>());
      break;
    case 2:
      node->SetInt(key, input.ConsumeIntegral<int64_t>());
      break;
    case 3:
      node->SetBool(key, input.ConsumeBool());
      break;
    case 4:
      node->SetDateTime(key, input.ConsumeIntegral<int64_t>(),
                        input.ConsumeIntegral<int32_t>());
      break;
    case 5: {
      analytics::PropertiesNode other;
      other.SetString(input.ConsumeRandomLengthString(16),
                      input.ConsumeRandomLengthString(64));
      node->MergeFrom(other);
      break;
    }
    case 6:
      node->Remove(key);
      break;
    default:
      node->SetString(key, input.ConsumeRandomLengthString(64).c_str());
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::QuietStandardStreams();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  analytics::PropertiesNode node;
  while (input.remaining_bytes() > 0) {
    ApplyOne(input, &node);
  }
  for (const auto& [key, value] : node) {
    if (const auto* text = std::get_if<std::string>(&value.payload)) {
      fuzz::Check(fuzz::IsUtf8(*text), "kept a string not UTF-8", *text);
      fuzz::Check(text->size() <= analytics::MAX_STRING_PROPERTY_LENGTH,
                  "kept a string over the limit", key);
    }
  }
  const std::string json = analytics::utils::ObjectNode::ToJsonString(node);
  fuzz::Check(fuzz::IsValidJson(json), "invalid JSON text", json);
  return 0;
}
