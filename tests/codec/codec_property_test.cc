// Properties over many random values and random or damaged messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "embedding/standard_codec.h"
#include "tests/codec/codec_test_util.h"

namespace flutter {
namespace {

using testing::CerrCapture;
using testing::Decode;
using testing::Encode;
using testing::Identical;
using testing::RandomValues;
using testing::RecordingResult;

using Bytes = std::vector<uint8_t>;

const StandardMethodCodec& Codec() {
  return StandardMethodCodec::GetInstance();
}

TEST(CodecPropertyTest, RandomValuesRoundTripAtEveryAlignment) {
  RandomValues random(20240601);
  CerrCapture cerr;
  for (int i = 0; i < 1500; ++i) {
    EncodableValue value = random.Next(4);
    ASSERT_TRUE(Identical(Decode(Encode(value)), value)) << i;

    // After the envelope byte of a reply.
    auto reply = Codec().EncodeSuccessReply(&value);
    RecordingResult result;
    ASSERT_TRUE(Codec().DecodeReply(reply->data(), reply->size(), &result));
    ASSERT_TRUE(
        Identical(result.has_value ? result.value : EncodableValue(), value))
        << i;

    // After method names of every length modulo 8.
    MethodCall call(std::string(random.Below(9), 'm'),
                    std::make_unique<EncodableValue>(value));
    Bytes encoded = *Codec().EncodeMethodCall(call);
    auto decoded = Codec().DecodeMethodCall(encoded.data(), encoded.size());
    ASSERT_NE(decoded, nullptr);
    ASSERT_EQ(decoded->method_name(), call.method_name());
    ASSERT_TRUE(Identical(*decoded->arguments(), value)) << i;

    // From a buffer that starts off the alignment of typed elements.
    Bytes shifted(1 + i % 7, 0);
    const Bytes bytes = Encode(value);
    shifted.insert(shifted.end(), bytes.begin(), bytes.end());
    ByteBufferStreamReader reader(shifted.data() + 1 + i % 7, bytes.size());
    ASSERT_TRUE(Identical(
        StandardCodecSerializer::GetInstance().ReadValue(&reader), value))
        << i;
  }
  EXPECT_TRUE(cerr.err_lines().empty());
}

struct Footprint {
  size_t values = 0;
  size_t payload_bytes = 0;
  int depth = 0;
};

void Measure(const EncodableValue& value, int depth, Footprint* footprint) {
  ++footprint->values;
  footprint->depth = std::max(footprint->depth, depth);
  if (auto* list = std::get_if<EncodableList>(&value)) {
    for (const auto& element : *list) Measure(element, depth + 1, footprint);
  } else if (auto* map = std::get_if<EncodableMap>(&value)) {
    for (const auto& entry : *map) {
      Measure(entry.first, depth + 1, footprint);
      Measure(entry.second, depth + 1, footprint);
    }
  } else if (auto* text = std::get_if<std::string>(&value)) {
    footprint->payload_bytes += text->size();
  } else if (auto* bytes = std::get_if<std::vector<uint8_t>>(&value)) {
    footprint->payload_bytes += bytes->size();
  } else if (auto* ints = std::get_if<std::vector<int32_t>>(&value)) {
    footprint->payload_bytes += ints->size() * 4;
  } else if (auto* longs = std::get_if<std::vector<int64_t>>(&value)) {
    footprint->payload_bytes += longs->size() * 8;
  } else if (auto* doubles = std::get_if<std::vector<double>>(&value)) {
    footprint->payload_bytes += doubles->size() * 8;
  } else if (auto* floats = std::get_if<std::vector<float>>(&value)) {
    footprint->payload_bytes += floats->size() * 4;
  }
}

bool ContainsNan(const EncodableValue& value) {
  if (auto* d = std::get_if<double>(&value)) return std::isnan(*d);
  if (auto* ds = std::get_if<std::vector<double>>(&value)) {
    return std::any_of(ds->begin(), ds->end(),
                       [](double d) { return std::isnan(d); });
  }
  if (auto* fs = std::get_if<std::vector<float>>(&value)) {
    return std::any_of(fs->begin(), fs->end(),
                       [](float f) { return std::isnan(f); });
  }
  if (auto* list = std::get_if<EncodableList>(&value)) {
    return std::any_of(list->begin(), list->end(), ContainsNan);
  }
  if (auto* map = std::get_if<EncodableMap>(&value)) {
    for (const auto& entry : *map) {
      if (ContainsNan(entry.first) || ContainsNan(entry.second)) return true;
    }
  }
  return false;
}

// A decoded value costs no more than the message it came from, and it is
// written back so that it reads the same again.
void CheckDecoded(const EncodableValue& value, const Bytes& input) {
  Footprint footprint;
  Measure(value, 0, &footprint);
  // Each value takes its tag byte, except one read past the end at the top
  // and the value of a map's last pair.
  ASSERT_LE(footprint.values, 2 * input.size() + 2);
  ASSERT_LE(footprint.payload_bytes, input.size());
  ASSERT_LE(footprint.depth, StandardCodecSerializer::kMaxNestingDepth);
  // NaN inside a key breaks the key ordering, so such maps may reorder.
  if (!ContainsNan(value)) {
    ASSERT_TRUE(Identical(Decode(Encode(value)), value));
  }
}

Bytes Mutate(Bytes bytes, RandomValues& random) {
  static const uint8_t kSpecial[] = {0,  1,  5,  6,   7,   9,  12,
                                     13, 14, 15, 253, 254, 255};
  for (uint32_t n = 1 + random.Below(4); n > 0; --n) {
    size_t at = bytes.empty() ? 0 : random.Below(uint32_t(bytes.size()));
    switch (random.Below(6)) {
      case 0:
        if (!bytes.empty()) {
          bytes[at] = static_cast<uint8_t>(bytes[at] ^ (1u << random.Below(8)));
        }
        break;
      case 1:
        if (!bytes.empty())
          bytes[at] = kSpecial[random.Below(sizeof(kSpecial))];
        break;
      case 2:
        bytes.resize(at);
        break;
      case 3:
        bytes.insert(bytes.begin() + at, uint8_t(random.Below(256)));
        break;
      case 4:
        if (!bytes.empty()) bytes.erase(bytes.begin() + at);
        break;
      default:  // a huge size field
        bytes.insert(bytes.begin() + at, {255, 0xff, 0xff, 0xff, 0x7f});
        break;
    }
  }
  return bytes;
}

TEST(CodecFuzzTest, RandomAndDamagedMessagesDecodeSafely) {
  RandomValues random(99);
  CerrCapture cerr;  // bad input logs plenty
  for (int i = 0; i < 20000; ++i) {
    Bytes input;
    if (i % 4 == 0) {
      input.resize(random.Below(64));
      for (uint8_t& byte : input) byte = uint8_t(random.Below(256));
    } else {
      EncodableValue value = random.Next(3);
      MethodCall call("m", std::make_unique<EncodableValue>(value));
      switch (i % 4) {
        case 1:
          input = *Codec().EncodeMethodCall(call);
          break;
        case 2:
          input = *Codec().EncodeSuccessReply(&value);
          break;
        default:
          input = *Codec().EncodeErrorReply("E", "message", &value);
          break;
      }
      input = Mutate(std::move(input), random);
    }

    ASSERT_NO_FATAL_FAILURE(CheckDecoded(Decode(input), input)) << i;
    auto call = Codec().DecodeMethodCall(input.data(), input.size());
    if (call) {
      ASSERT_NO_FATAL_FAILURE(CheckDecoded(*call->arguments(), input)) << i;
    }
    RecordingResult result;
    bool recognised = Codec().DecodeReply(input.data(), input.size(), &result);
    ASSERT_EQ(result.calls, recognised ? 1 : 0) << i;
    if (result.has_value) {
      ASSERT_NO_FATAL_FAILURE(CheckDecoded(result.value, input)) << i;
    }
    if (i % 100 == 0) cerr.Clear();
  }
}

}  // namespace
}  // namespace flutter
