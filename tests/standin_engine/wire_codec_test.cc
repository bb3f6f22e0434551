// The scripted user interface's value notation and its own codec, checked
// against the wire rules and, byte for byte, against the host's codec.
#include "standins/scripted_ui/wire_codec.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "embedding/encodable_value.h"
#include "embedding/method_call.h"
#include "embedding/standard_codec.h"
#include "standins/scripted_ui/value_notation.h"

namespace {

using standin::NotationValue;
using Kind = NotationValue::Kind;

NotationValue Parse(const std::string& text) {
  NotationValue value;
  std::string error;
  EXPECT_TRUE(standin::ParseValueNotation(text, &value, &error))
      << text << ": " << error;
  return value;
}

std::vector<uint8_t> Wire(const std::string& text) {
  std::vector<uint8_t> bytes;
  standin::WriteWireValue(Parse(text), &bytes);
  return bytes;
}

TEST(ValueNotationTest, ParsesEachKindOfValue) {
  EXPECT_EQ(Parse("null").kind, Kind::kNull);
  EXPECT_TRUE(Parse(" true ").flag);
  EXPECT_EQ(Parse("5").kind, Kind::kInt32);
  EXPECT_EQ(Parse("-2147483648").integer, -2147483647 - 1);
  EXPECT_EQ(Parse("5L").kind, Kind::kInt64);
  EXPECT_EQ(Parse("-1.5e3").number, -1500.0);
  EXPECT_EQ(Parse("\"a\\\"b\\x00\\n\"").text, std::string("a\"b\0\n", 5));
  EXPECT_EQ(Parse("[1, \"x\", [], {}]").items.size(), 4u);
  EXPECT_EQ(Parse("u8[1, 255]").bytes, (std::vector<uint8_t>{1, 255}));
  EXPECT_EQ(Parse("i64[5L, -1]").longs, (std::vector<int64_t>{5, -1}));
  EXPECT_EQ(Parse("f32[0.5]").floats, std::vector<float>{0.5f});
  EXPECT_TRUE(std::isnan(Parse("NaN").number));
  // Maps come out in key order; a repeated key keeps its last value.
  EXPECT_EQ(standin::FormatValueNotation(Parse("{\"a\": 1, 2: 0, \"a\": 3}")),
            "{2: 0, \"a\": 3}");
}

TEST(ValueNotationTest, RejectsMalformedText) {
  for (const char* text :
       {"", "2147483648", "[1, 2", "{1 2}", "\"open", "u8[256]", "nul", "1 2",
        "\"\\q\"", "1.5.5", "zz[1]",
        "[[[[[[[[[[[[[[[[[[[[[[[[[[[[["
        "[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[]]"}) {
    NotationValue value;
    std::string error;
    EXPECT_FALSE(standin::ParseValueNotation(text, &value, &error)) << text;
    EXPECT_FALSE(error.empty()) << text;
  }
}

TEST(ValueNotationTest, PrintsWhatItParses) {
  for (const char* text :
       {"null", "false", "-7", "7L", "0.1", "1.0", "-Infinity", "1e+300",
        "\"tab\\there \\\"q\\\" \\x01\"", "[1, [2L, \"x\"]]",
        "{2: 1, \"a\": [true]}", "u8[0, 9]", "i32[-1]", "i64[4]",
        "f64[0.5, 2.0]", "f32[0.1]"}) {
    EXPECT_EQ(standin::FormatValueNotation(Parse(text)), text);
  }
}

// Written from the wire rules alone.
TEST(WireCodecTest, FollowsTheWireRules) {
  EXPECT_EQ(Wire("null"), std::vector<uint8_t>{0});
  EXPECT_EQ(Wire("true"), std::vector<uint8_t>{1});
  EXPECT_EQ(Wire("false"), std::vector<uint8_t>{2});
  EXPECT_EQ(Wire("-2"), (std::vector<uint8_t>{3, 0xFE, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(Wire("1L"), (std::vector<uint8_t>{4, 1, 0, 0, 0, 0, 0, 0, 0}));
  // A double first in a message: tag, seven zero bytes, eight bytes.
  EXPECT_EQ(Wire("1.0"), (std::vector<uint8_t>{6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                               0, 0, 0, 0xF0, 0x3F}));
  // Padded although empty, as the reader skips.
  EXPECT_EQ(Wire("i32[]"), (std::vector<uint8_t>{9, 0, 0, 0}));
  EXPECT_EQ(Wire("[true, f64[], false]"),
            (std::vector<uint8_t>{12, 3, 1, 11, 0, 0, 0, 0, 2}));
  EXPECT_EQ(Wire("i32[7]"), (std::vector<uint8_t>{9, 1, 0, 0, 7, 0, 0, 0}));
  EXPECT_EQ(Wire("{\"a\": 1, 1: 2}"),
            (std::vector<uint8_t>{13, 2, 3, 1, 0,   0, 0, 3, 2, 0,
                                  0,  0, 7, 1, 'a', 3, 1, 0, 0, 0}));
  const std::vector<uint8_t> size_254 =
      Wire("\"" + std::string(254, 'x') + "\"");
  EXPECT_EQ(std::vector<uint8_t>(size_254.begin(), size_254.begin() + 4),
            (std::vector<uint8_t>{7, 254, 254, 0}));
  const std::vector<uint8_t> size_65536 =
      Wire("\"" + std::string(65536, 'x') + "\"");
  EXPECT_EQ(std::vector<uint8_t>(size_65536.begin(), size_65536.begin() + 6),
            (std::vector<uint8_t>{7, 255, 0, 0, 1, 0}));
}

TEST(WireCodecTest, DescribesRepliesAndRefusesWhatIsNotExactlyOne) {
  EXPECT_EQ(standin::DescribeMethodReply({}), "not-implemented");
  EXPECT_EQ(standin::DescribeMethodReply({0, 0}), "success null");
  EXPECT_EQ(standin::DescribeMethodReply({1, 7, 1, 'E', 0, 0}),
            "error \"E\" \"\" null");
  // A reader skips to the alignment even before an empty typed list.
  EXPECT_EQ(standin::DescribeMethodReply({0, 9, 0, 0}), "success i32[]");
  EXPECT_EQ(standin::DescribeMethodReply({0, 0, 0}), "undecodable 000000");
  EXPECT_EQ(standin::DescribeMethodReply({0, 15}), "undecodable 000f");
  EXPECT_EQ(standin::DescribeMethodReply({0, 7, 5, 'a'}),
            "undecodable 000705"
            "61");
  EXPECT_EQ(standin::DescribeMethodReply({2}), "undecodable 02");
  EXPECT_EQ(standin::DescribeMethodReply({1, 3, 0, 0, 0, 0, 0, 0}),
            "undecodable 0103000000000000");
}

// Values as scenarios send them: every kind, nested, maps written out of key
// order, sizes at the size field's steps.
const char* const kScenarioValues[] = {
    "null",
    "true",
    "false",
    "0",
    "-2147483648",
    "2147483647",
    "9L",
    "-9223372036854775808L",
    "0.42",
    "-0.0",
    "Infinity",
    "NaN",
    "\"\"",
    "\"quillon \\xe4\\xb8\\xad\"",
    "u8[]",
    "u8[0, 255]",
    "i32[]",
    "i32[1, -1]",
    "i64[]",
    "i64[1, -1]",
    "f64[]",
    "f64[0.5, NaN]",
    "f32[]",
    "f32[1.5]",
    "[]",
    "[null, [1, \"a\"], {}]",
    "{\"eventName\": \"opened\", \"properties\": {\"screen\": \"home\", "
    "\"launch_count\": 3L, \"load_seconds\": 0.42, \"first_run\": true}}",
    "{\"z\": 1, \"a\": 2, 3: 4, 3L: 5, null: 6, false: 7, true: 8, "
    "[1]: 9, [0, 1]: 10, u8[2]: 11, \"ab\": 12, \"a\\xff\": 13}",
    "{{1: 2}: [{}], {1: 1}: 0}"};

std::string Repeated(char c, size_t count) { return std::string(count, c); }

TEST(WireCodecTest, AgreesByteForByteWithTheHostCodec) {
  const flutter::StandardMethodCodec& host =
      flutter::StandardMethodCodec::GetInstance();
  std::vector<std::string> values(std::begin(kScenarioValues),
                                  std::end(kScenarioValues));
  for (size_t size : {253u, 254u, 65535u, 65536u}) {
    values.push_back("\"" + Repeated('s', size) + "\"");
  }
  for (const std::string& text : values) {
    SCOPED_TRACE(text.substr(0, 80));
    // A call from the UI side: the host reads it and writes it back the same.
    const std::vector<uint8_t> call =
        standin::EncodeMethodCall("trackEvent", Parse(text));
    std::unique_ptr<flutter::MethodCall> decoded =
        host.DecodeMethodCall(call.data(), call.size());
    ASSERT_NE(decoded, nullptr);
    EXPECT_EQ(decoded->method_name(), "trackEvent");
    EXPECT_EQ(*host.EncodeMethodCall(*decoded), call);
    // A reply from the host: the UI side reads the same value.
    const std::vector<uint8_t> reply =
        *host.EncodeSuccessReply(decoded->arguments());
    EXPECT_EQ(standin::DescribeMethodReply(reply),
              "success " + standin::FormatValueNotation(Parse(text)));
    const std::vector<uint8_t> error =
        *host.EncodeErrorReply("CODE", "message", decoded->arguments());
    EXPECT_EQ(standin::DescribeMethodReply(error),
              "error \"CODE\" \"message\" " +
                  standin::FormatValueNotation(Parse(text)));
  }
}

}  // namespace
