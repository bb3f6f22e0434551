#ifndef QUILLON_TESTS_CODEC_CODEC_TEST_UTIL_H_
#define QUILLON_TESTS_CODEC_CODEC_TEST_UTIL_H_

#include <cmath>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "embedding/byte_streams.h"
#include "embedding/encodable_value.h"
#include "embedding/method_result.h"
#include "embedding/standard_codec.h"
#include "tests/support/stream_capture.h"

namespace flutter {
namespace testing {

using CerrCapture = test_support::StreamCapture;

inline std::vector<uint8_t> Encode(const EncodableValue& value,
                                   const StandardCodecSerializer& serializer =
                                       StandardCodecSerializer::GetInstance()) {
  std::vector<uint8_t> bytes;
  ByteBufferStreamWriter writer(&bytes);
  serializer.WriteValue(value, &writer);
  return bytes;
}

inline EncodableValue Decode(const std::vector<uint8_t>& bytes,
                             const StandardCodecSerializer& serializer =
                                 StandardCodecSerializer::GetInstance()) {
  ByteBufferStreamReader reader(bytes.data(), bytes.size());
  return serializer.ReadValue(&reader);
}

// Same alternative and same contents, with floating-point numbers compared
// by their bits (so NaN payloads and the sign of zero count).
inline bool Identical(const EncodableValue& a, const EncodableValue& b) {
  if (a.index() != b.index()) return false;
  if (auto* x = std::get_if<double>(&a)) {
    return std::memcmp(x, &std::get<double>(b), sizeof(double)) == 0;
  }
  if (auto* x = std::get_if<std::vector<double>>(&a)) {
    const auto& y = std::get<std::vector<double>>(b);
    return x->size() == y.size() &&
           (x->empty() ||
            std::memcmp(x->data(), y.data(), x->size() * sizeof(double)) == 0);
  }
  if (auto* x = std::get_if<std::vector<float>>(&a)) {
    const auto& y = std::get<std::vector<float>>(b);
    return x->size() == y.size() &&
           (x->empty() ||
            std::memcmp(x->data(), y.data(), x->size() * sizeof(float)) == 0);
  }
  if (auto* x = std::get_if<EncodableList>(&a)) {
    const auto& y = std::get<EncodableList>(b);
    if (x->size() != y.size()) return false;
    for (size_t i = 0; i < x->size(); ++i) {
      if (!Identical((*x)[i], y[i])) return false;
    }
    return true;
  }
  if (auto* x = std::get_if<EncodableMap>(&a)) {
    const auto& y = std::get<EncodableMap>(b);
    if (x->size() != y.size()) return false;
    for (auto i = x->begin(), j = y.begin(); i != x->end(); ++i, ++j) {
      if (!Identical(i->first, j->first) || !Identical(i->second, j->second)) {
        return false;
      }
    }
    return true;
  }
  return a == b;
}

// Records what DecodeReply hands to a result.
class RecordingResult : public MethodResult {
 public:
  int calls = 0;
  std::string kind;
  bool has_value = false;
  EncodableValue value;
  std::string code;
  std::string message;

 protected:
  void HandleSuccess(const EncodableValue* result) override {
    ++calls;
    kind = "success";
    has_value = result != nullptr;
    if (result) value = *result;
  }
  void HandleError(const std::string& error_code,
                   const std::string& error_message,
                   const EncodableValue* details) override {
    ++calls;
    kind = "error";
    code = error_code;
    message = error_message;
    has_value = details != nullptr;
    if (details) value = *details;
  }
  void HandleNotImplemented() override {
    ++calls;
    kind = "not implemented";
  }
};

// Random values of every alternative but CustomValue (which the standard
// serializer cannot carry), nested up to |max_depth| lists and maps.
class RandomValues {
 public:
  explicit RandomValues(uint32_t seed) : engine_(seed) {}

  EncodableValue Next(int max_depth, bool allow_nan = true) {
    int kinds = max_depth > 0 ? 14 : 12;
    switch (Below(kinds)) {
      case 0:
        return EncodableValue();
      case 1:
        return EncodableValue(Below(2) == 1);
      case 2:
        return EncodableValue(static_cast<int32_t>(engine_()));
      case 3:
        return EncodableValue(static_cast<int64_t>(Bits64()));
      case 4:
        return EncodableValue(Double(allow_nan));
      case 5: {
        std::string text(Length(), '\0');
        for (char& c : text) c = static_cast<char>(engine_());
        return EncodableValue(text);
      }
      case 6:
        return EncodableValue(Fill<uint8_t>());
      case 7:
        return EncodableValue(Fill<int32_t>());
      case 8:
        return EncodableValue(Fill<int64_t>());
      case 9: {
        std::vector<double> list(Length());
        for (double& d : list) d = Double(allow_nan);
        return EncodableValue(list);
      }
      case 10:
        return EncodableValue(Fill<float>(allow_nan));
      case 11:
        return EncodableValue(std::vector<uint8_t>(Below(300)));
      case 12: {
        EncodableList list;
        for (size_t n = Below(6); n > 0; --n) {
          list.push_back(Next(max_depth - 1, allow_nan));
        }
        return EncodableValue(list);
      }
      default: {
        EncodableMap map;
        for (size_t n = Below(6); n > 0; --n) {
          // NaN breaks the ordering of keys, so keys never hold one.
          map[Next(max_depth - 1, false)] = Next(max_depth - 1, allow_nan);
        }
        return EncodableValue(map);
      }
    }
  }

  uint32_t Below(uint32_t bound) {
    return std::uniform_int_distribution<uint32_t>(0, bound - 1)(engine_);
  }
  std::mt19937& engine() { return engine_; }

 private:
  uint64_t Bits64() { return (uint64_t{engine_()} << 32) | engine_(); }
  // Mostly short, sometimes across the one-byte size limit.
  size_t Length() { return Below(8) == 0 ? 250 + Below(10) : Below(9); }
  double Double(bool allow_nan) {
    uint64_t bits = Bits64();
    double d;
    std::memcpy(&d, &bits, sizeof(d));
    return (std::isnan(d) && !allow_nan) ? 0.5 : d;
  }
  template <typename T>
  std::vector<T> Fill(bool allow_nan = true) {
    std::vector<T> list(Length());
    for (T& element : list) {
      uint64_t bits = Bits64();
      std::memcpy(&element, &bits, sizeof(T));
      if constexpr (std::is_floating_point<T>::value) {
        if (std::isnan(element) && !allow_nan) element = T(1);
      }
    }
    return list;
  }

  std::mt19937 engine_;
};

}  // namespace testing
}  // namespace flutter

#endif  // QUILLON_TESTS_CODEC_CODEC_TEST_UTIL_H_
