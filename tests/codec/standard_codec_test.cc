#include "embedding/standard_codec.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "tests/codec/codec_test_util.h"

namespace flutter {
namespace {

using testing::CerrCapture;
using testing::Decode;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using testing::Encode;
using testing::RecordingResult;

using Bytes = std::vector<uint8_t>;

const char kInvalidRead[] = "Invalid read in StandardCodecByteStreamReader";

Bytes DoubleBytes(double value) {
  Bytes bytes(sizeof(value));
  std::memcpy(bytes.data(), &value, sizeof(value));
  return bytes;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts)
    all.insert(all.end(), part.begin(), part.end());
  return all;
}

const StandardMethodCodec& Codec() {
  return StandardMethodCodec::GetInstance();
}

TEST(StandardCodecTest, ScalarsAndSizeFieldBoundaries) {
  EXPECT_THAT(Encode(EncodableValue()), ElementsAre(0));
  EXPECT_THAT(Encode(EncodableValue(true)), ElementsAre(1));
  EXPECT_THAT(Encode(EncodableValue(false)), ElementsAre(2));
  EXPECT_THAT(Encode(EncodableValue(-2)),
              ElementsAre(3, 0xfe, 0xff, 0xff, 0xff));
  EXPECT_THAT(Encode(EncodableValue(int64_t{0x0102030405060708})),
              ElementsAre(4, 8, 7, 6, 5, 4, 3, 2, 1));

  const struct {
    size_t size;
    Bytes header;
  } cases[] = {{253, {8, 253}},
               {254, {8, 254, 254, 0}},
               {65535, {8, 254, 255, 255}},
               {65536, {8, 255, 0, 0, 1, 0}}};
  for (const auto& c : cases) {
    Bytes payload(c.size);
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = uint8_t(i * 7);
    Bytes encoded = Encode(EncodableValue(payload));
    ASSERT_EQ(encoded.size(), c.header.size() + c.size) << c.size;
    EXPECT_TRUE(std::equal(c.header.begin(), c.header.end(), encoded.begin()))
        << c.size;
    EXPECT_EQ(Decode(encoded), EncodableValue(payload)) << c.size;
    // The same size field frames strings.
    Bytes text_encoded = Encode(EncodableValue(std::string(c.size, 'x')));
    EXPECT_EQ(text_encoded[1], c.header[1]) << c.size;
    EXPECT_EQ(Decode(text_encoded), EncodableValue(std::string(c.size, 'x')));
  }
}

TEST(StandardCodecTest, DoublesArePaddedFromTheMessageStart) {
  Bytes first = Encode(EncodableValue(1.5));
  EXPECT_EQ(first, Concat({{6, 0, 0, 0, 0, 0, 0, 0}, DoubleBytes(1.5)}));
  EXPECT_EQ(Decode(first), EncodableValue(1.5));

  EncodableValue value(1.5);
  auto reply = Codec().EncodeSuccessReply(&value);
  EXPECT_EQ(*reply, Concat({{0, 6, 0, 0, 0, 0, 0, 0}, DoubleBytes(1.5)}));
  RecordingResult result;
  EXPECT_TRUE(Codec().DecodeReply(reply->data(), reply->size(), &result));
  EXPECT_EQ(result.value, EncodableValue(1.5));
}

TEST(StandardCodecTest, TypedListsAreAlignedToTheirElementSize) {
  EXPECT_THAT(Encode(EncodableValue(std::vector<int32_t>{1, -1})),
              ElementsAre(9, 2, 0, 0, 1, 0, 0, 0, 0xff, 0xff, 0xff, 0xff));
  EXPECT_THAT(Encode(EncodableValue(std::vector<int64_t>{2})),
              ElementsAre(10, 1, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0));
  EXPECT_EQ(Encode(EncodableValue(std::vector<double>{1.5})),
            Concat({{11, 1, 0, 0, 0, 0, 0, 0}, DoubleBytes(1.5)}));
  EXPECT_THAT(Encode(EncodableValue(std::vector<float>{1.0f})),
              ElementsAre(14, 1, 0, 0, 0x00, 0x00, 0x80, 0x3f));
  EXPECT_THAT(Encode(EncodableValue(std::vector<uint8_t>{5, 6})),
              ElementsAre(8, 2, 5, 6));
}

TEST(StandardCodecTest, EmptyTypedListsPadLikeTheReaderSkips) {
  // A reader skips to the alignment even for an empty list, so the writer
  // pads empty lists too; otherwise what follows would be misread.
  EXPECT_THAT(Encode(EncodableValue(std::vector<int32_t>{})),
              ElementsAre(9, 0, 0, 0));
  EncodableValue list(EncodableList{EncodableValue(true),
                                    EncodableValue(std::vector<double>{}),
                                    EncodableValue(false)});
  Bytes encoded = Encode(list);
  EXPECT_THAT(encoded, ElementsAre(12, 3, 1, 11, 0, 0, 0, 0, 2));
  CerrCapture cerr;
  EXPECT_EQ(Decode(encoded), list);
  EXPECT_TRUE(cerr.err_lines().empty());

  // An unpadded empty list from another writer: the reader still skips to
  // offset 4, and a list that ends the message is no invalid read.
  Bytes unpadded = {9, 0};
  ByteBufferStreamReader reader(unpadded.data(), unpadded.size());
  EXPECT_EQ(StandardCodecSerializer::GetInstance().ReadValue(&reader),
            EncodableValue(std::vector<int32_t>{}));
  EXPECT_EQ(reader.offset(), 4u);
  EXPECT_TRUE(cerr.err_lines().empty());
  // Padding bytes are skipped unseen, whatever they hold.
  EXPECT_EQ(Decode({12, 3, 1, 9, 0, 0xff, 0xff, 0xff, 2}),
            EncodableValue(EncodableList{EncodableValue(true),
                                         EncodableValue(std::vector<int32_t>{}),
                                         EncodableValue(false)}));
  EXPECT_TRUE(cerr.err_lines().empty());
}

TEST(StandardCodecTest, MapsAreWrittenInKeyOrderAndKeepTheFirstDuplicate) {
  EncodableMap map{{EncodableValue("a"), EncodableValue(true)},
                   {EncodableValue(1), EncodableValue(false)}};
  EXPECT_THAT(Encode(EncodableValue(map)),
              ElementsAre(13, 2, 3, 1, 0, 0, 0, 2, 7, 1, 'a', 1));

  EncodableMap mixed{{EncodableValue("s"), 5},        {EncodableValue(2.0), 4},
                     {EncodableValue(int64_t{1}), 3}, {EncodableValue(1), 2},
                     {EncodableValue(true), 1},       {EncodableValue(), 0}};
  EncodableValue decoded = Decode(Encode(EncodableValue(mixed)));
  int expected = 0;
  for (const auto& entry : std::get<EncodableMap>(decoded)) {
    EXPECT_EQ(entry.second, EncodableValue(expected++));
  }
  EXPECT_EQ(expected, 6);

  EXPECT_EQ(Decode({13, 2, 7, 1, 'k', 3, 1, 0, 0, 0, 7, 1, 'k', 3, 2, 0, 0, 0}),
            EncodableValue(EncodableMap{{EncodableValue("k"), 1}}));
}

// Keys holding NaN keep their place in the ordering, so a map of them
// survives a round trip whole and in the same order.
TEST(StandardCodecTest, MapsWithNaNKeysRoundTripWithEveryKey) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const float fnan = std::numeric_limits<float>::quiet_NaN();
  EncodableMap map;
  map.emplace(EncodableValue(std::vector<float>{fnan}), EncodableValue(1));
  map.emplace(EncodableValue(std::vector<float>{1.f}), EncodableValue(2));
  map.emplace(EncodableValue(std::vector<float>{2.f, fnan}), EncodableValue(3));
  map.emplace(EncodableValue(std::vector<float>{2.f, 0.f}), EncodableValue(4));
  map.emplace(EncodableValue(nan), EncodableValue(5));
  map.emplace(EncodableValue(1.0), EncodableValue(6));
  map.emplace(EncodableValue(std::vector<double>{nan}), EncodableValue(7));
  map.emplace(EncodableValue(std::vector<double>{0.5}), EncodableValue(8));
  ASSERT_EQ(map.size(), 8u);
  const Bytes bytes = Encode(EncodableValue(map));
  const EncodableValue decoded = Decode(bytes);
  const auto& read = std::get<EncodableMap>(decoded);
  ASSERT_EQ(read.size(), map.size());
  auto expected = map.begin();
  for (const auto& pair : read) {
    EXPECT_TRUE(testing::Identical(pair.first, expected->first));
    EXPECT_EQ(pair.second, expected->second);
    ++expected;
  }
  EXPECT_EQ(Encode(decoded), bytes);
}

// A size field holds at most 2^32 - 1; a larger size is refused, not cut.
class SizeSerializer : public StandardCodecSerializer {
 public:
  using StandardCodecSerializer::WriteSize;
};

TEST(StandardCodecTest, SizesBeyondTheSizeFieldAreRefused) {
  if (sizeof(size_t) < 8) GTEST_SKIP() << "size_t cannot hold 2^32";
  SizeSerializer serializer;
  CerrCapture cerr;
  Bytes bytes;
  ByteBufferStreamWriter writer(&bytes);
  EXPECT_TRUE(serializer.WriteSize(0xFFFFFFFFu, &writer));
  EXPECT_THAT(bytes, ElementsAre(255, 0xff, 0xff, 0xff, 0xff));
  bytes.clear();
  const uint64_t too_large = uint64_t{1} << 32;
  EXPECT_FALSE(serializer.WriteSize(static_cast<size_t>(too_large), &writer));
  EXPECT_FALSE(serializer.WriteSize(SIZE_MAX, &writer));
  EXPECT_TRUE(bytes.empty());
  ASSERT_EQ(cerr.err_lines().size(), 2u);
  EXPECT_EQ(cerr.err_lines()[0],
            "Size too large in StandardCodecSerializer::WriteSize: 4294967296 "
            "exceeds the size field's 4294967295");
}

TEST(StandardCodecTest, ReadsTagFiveAsTextAndUnknownTagsAsNull) {
  EXPECT_EQ(Decode({5, 3, '1', '2', '3'}), EncodableValue("123"));

  CerrCapture cerr;
  EXPECT_EQ(Decode({15}), EncodableValue());
  EXPECT_THAT(cerr.err_lines(),
              ElementsAre("Unknown type in "
                          "StandardCodecSerializer::ReadValueOfType: 15"));
  // The unknown value's payload is not skipped.
  cerr.Clear();
  EXPECT_EQ(
      Decode({12, 2, 200, 1}),
      EncodableValue(EncodableList{EncodableValue(), EncodableValue(true)}));
  EXPECT_EQ(cerr.err_lines().size(), 1u);
}

TEST(StandardCodecTest, CustomValuesAreWrittenAsNull) {
  CerrCapture cerr;
  EXPECT_THAT(Encode(EncodableValue(CustomValue(3))), ElementsAre(0));
  EXPECT_THAT(cerr.err_lines(),
              ElementsAre("Unhandled custom type in "
                          "StandardCodecSerializer::WriteValue. Custom types "
                          "require codec extensions."));
}

TEST(StandardMethodCodecTest, MethodCalls) {
  MethodCall call("track", std::make_unique<EncodableValue>(7));
  EXPECT_THAT(*Codec().EncodeMethodCall(call),
              ElementsAre(7, 5, 't', 'r', 'a', 'c', 'k', 3, 7, 0, 0, 0));
  MethodCall bare("go", nullptr);
  Bytes encoded = *Codec().EncodeMethodCall(bare);
  EXPECT_THAT(encoded, ElementsAre(7, 2, 'g', 'o', 0));

  auto decoded = Codec().DecodeMethodCall(encoded.data(), encoded.size());
  ASSERT_NE(decoded, nullptr);
  EXPECT_EQ(decoded->method_name(), "go");
  ASSERT_NE(decoded->arguments(), nullptr);
  EXPECT_TRUE(decoded->arguments()->IsNull());

  // A name alone: null arguments after one invalid read.
  CerrCapture cerr;
  Bytes name_only = {7, 2, 'g', 'o'};
  decoded = Codec().DecodeMethodCall(name_only.data(), name_only.size());
  ASSERT_NE(decoded, nullptr);
  ASSERT_NE(decoded->arguments(), nullptr);
  EXPECT_TRUE(decoded->arguments()->IsNull());
  EXPECT_THAT(cerr.err_lines(), ElementsAre(kInvalidRead));

  cerr.Clear();
  Bytes not_a_name = {3, 1, 0, 0, 0, 0};
  EXPECT_EQ(Codec().DecodeMethodCall(not_a_name.data(), not_a_name.size()),
            nullptr);
  EXPECT_THAT(cerr.err_lines(),
              ElementsAre("Invalid method call; method name is not a string."));
}

TEST(StandardMethodCodecTest, EncodesReplies) {
  EXPECT_THAT(*Codec().EncodeSuccessReply(), ElementsAre(0, 0));
  EncodableValue yes(true);
  EXPECT_THAT(*Codec().EncodeSuccessReply(&yes), ElementsAre(0, 1));
  EXPECT_THAT(*Codec().EncodeErrorReply("E", ""),
              ElementsAre(1, 7, 1, 'E', 0, 0));
  EncodableValue details(5);
  EXPECT_THAT(*Codec().EncodeErrorReply("E", "m", &details),
              ElementsAre(1, 7, 1, 'E', 7, 1, 'm', 3, 5, 0, 0, 0));
}

TEST(StandardMethodCodecTest, DecodesReplies) {
  CerrCapture cerr;
  RecordingResult empty;
  EXPECT_TRUE(Codec().DecodeReply(nullptr, 0, &empty));
  EXPECT_EQ(empty.kind, "success");
  EXPECT_FALSE(empty.has_value);
  EXPECT_THAT(cerr.err_lines(), ElementsAre(kInvalidRead, kInvalidRead));

  Bytes success = {0, 7, 2, 'o', 'k'};
  RecordingResult ok;
  EXPECT_TRUE(Codec().DecodeReply(success.data(), success.size(), &ok));
  EXPECT_EQ(ok.kind, "success");
  EXPECT_EQ(ok.value, EncodableValue("ok"));

  Bytes error = {1, 7, 1, 'E', 0, 3, 9, 0, 0, 0};
  RecordingResult failed;
  EXPECT_TRUE(Codec().DecodeReply(error.data(), error.size(), &failed));
  EXPECT_EQ(failed.kind, "error");
  EXPECT_EQ(failed.code, "E");
  EXPECT_EQ(failed.message, "");
  EXPECT_TRUE(failed.has_value);
  EXPECT_EQ(failed.value, EncodableValue(9));

  auto no_details = Codec().EncodeErrorReply("CODE", "text");
  RecordingResult plain;
  EXPECT_TRUE(
      Codec().DecodeReply(no_details->data(), no_details->size(), &plain));
  EXPECT_EQ(plain.message, "text");
  EXPECT_FALSE(plain.has_value);

  // Neither envelope, or an error whose code is no string: not a reply.
  for (Bytes bad : {Bytes{2, 0}, Bytes{1, 3, 1, 0, 0, 0, 0, 0},
                    Bytes{1, 7, 1, 'E', 1, 0}}) {
    RecordingResult untouched;
    EXPECT_FALSE(Codec().DecodeReply(bad.data(), bad.size(), &untouched));
    EXPECT_EQ(untouched.calls, 0);
  }
}

class PointSerializer : public StandardCodecSerializer {
 public:
  struct Point {
    int32_t x;
  };
  static constexpr uint8_t kPointTag = 128;

  void WriteValue(const EncodableValue& value,
                  ByteStreamWriter* stream) const override {
    if (auto* custom = std::get_if<CustomValue>(&value)) {
      if (auto* point = custom->TryGet<Point>()) {
        stream->WriteByte(kPointTag);
        stream->WriteBytes(reinterpret_cast<const uint8_t*>(&point->x), 4);
        return;
      }
    }
    StandardCodecSerializer::WriteValue(value, stream);
  }

 protected:
  EncodableValue ReadValueOfType(uint8_t type,
                                 ByteStreamReader* stream) const override {
    if (type != kPointTag) {
      return StandardCodecSerializer::ReadValueOfType(type, stream);
    }
    Point point{0};
    stream->ReadBytes(reinterpret_cast<uint8_t*>(&point.x), 4);
    return EncodableValue(CustomValue(point));
  }
};

TEST(StandardMethodCodecTest, DerivedSerializerTypesApplyAtEveryDepth) {
  PointSerializer serializer;
  const StandardMethodCodec& codec =
      StandardMethodCodec::GetInstance(&serializer);
  EXPECT_NE(&codec, &Codec());
  EXPECT_EQ(&codec, &StandardMethodCodec::GetInstance(&serializer));
  EXPECT_EQ(&Codec(), &StandardMethodCodec::GetInstance(
                          &StandardCodecSerializer::GetInstance()));

  EncodableValue nested(EncodableList{EncodableValue(EncodableMap{
      {EncodableValue("p"),
       EncodableValue(CustomValue(PointSerializer::Point{42}))}})});
  MethodCall call("draw", std::make_unique<EncodableValue>(nested));
  Bytes encoded = *codec.EncodeMethodCall(call);
  auto decoded = codec.DecodeMethodCall(encoded.data(), encoded.size());
  ASSERT_NE(decoded, nullptr);
  const auto& map =
      std::get<EncodableMap>(std::get<EncodableList>(*decoded->arguments())[0]);
  const auto& custom = std::get<CustomValue>(map.at(EncodableValue("p")));
  ASSERT_NE(custom.TryGet<PointSerializer::Point>(), nullptr);
  EXPECT_EQ(custom.TryGet<PointSerializer::Point>()->x, 42);
}

// Input that announces more than it holds must cost no more than its size.
TEST(StandardCodecBadInputTest, AnnouncedSizesBeyondTheMessageAllocateNothing) {
  CerrCapture cerr;
  // 4 GiB - 1 bytes of text, and as many doubles (32 GiB).
  EXPECT_EQ(Decode({7, 255, 0xff, 0xff, 0xff, 0xff, 'a'}), EncodableValue(""));
  EXPECT_EQ(Decode({11, 255, 0xff, 0xff, 0xff, 0xff, 0, 0, 1, 2, 3}),
            EncodableValue(std::vector<double>{}));
  EXPECT_THAT(cerr.err_lines(), ElementsAre(kInvalidRead, kInvalidRead));

  // A failed read does not move the reader: the next element starts right
  // after the size field ('a' is then an unknown tag).
  cerr.Clear();
  EXPECT_EQ(
      Decode({12, 2, 7, 10, 'a', 'b'}),
      EncodableValue(EncodableList{EncodableValue(""), EncodableValue()}));
  EXPECT_EQ(cerr.err_lines().size(), 2u);

  // Truncated numbers and size fields read as zero.
  cerr.Clear();
  EXPECT_EQ(Decode({3, 1, 2}), EncodableValue(0));
  EXPECT_EQ(Decode({7, 254, 5}), EncodableValue(""));
  EXPECT_EQ(cerr.err_lines().size(), 2u);

  // Lists and maps announcing 4 Gi entries end with the message.
  cerr.Clear();
  EXPECT_EQ(Decode({12, 255, 0xff, 0xff, 0xff, 0xff, 1, 2}),
            EncodableValue(
                EncodableList{EncodableValue(true), EncodableValue(false)}));
  EXPECT_EQ(Decode({13, 255, 0xff, 0xff, 0xff, 0xff, 3, 1, 0, 0, 0, 1}),
            EncodableValue(EncodableMap{{EncodableValue(1), true}}));
  EXPECT_THAT(cerr.err_lines(), ElementsAre(kInvalidRead, kInvalidRead));
}

TEST(StandardCodecBadInputTest, NestedHugeListsStayProportionalToTheInput) {
  CerrCapture cerr;
  // Each level announces 4 Gi elements; nulls for the missing ones would
  // mean 128 * 4 Gi values.
  Bytes nested;
  for (int i = 0; i < 128; ++i) {
    nested.insert(nested.end(), {12, 255, 0xff, 0xff, 0xff, 0xff});
  }
  EncodableValue value = Decode(nested);
  int depth = 0;
  for (const EncodableValue* v = &value; !std::get<EncodableList>(*v).empty();
       v = &std::get<EncodableList>(*v)[0]) {
    EXPECT_EQ(std::get<EncodableList>(*v).size(), 1u);
    ++depth;
  }
  EXPECT_EQ(depth, 127);
  EXPECT_EQ(cerr.err_lines().size(), 128u);

  // Many strings each announcing 2 GiB.
  cerr.Clear();
  Bytes strings = {12, 254, 0xe8, 0x03};  // 1000 elements
  for (int i = 0; i < 1000; ++i) {
    strings.insert(strings.end(), {7, 255, 0xff, 0xff, 0xff, 0x7f});
  }
  value = Decode(strings);
  EXPECT_EQ(std::get<EncodableList>(value).size(), 1000u);
  EXPECT_EQ(std::get<EncodableList>(value)[999], EncodableValue(""));
}

TEST(StandardCodecBadInputTest, NestingIsBoundedAt128Levels) {
  auto nest = [](int levels, uint8_t tag) {
    Bytes bytes;
    for (int i = 0; i < levels; ++i) {
      bytes.push_back(tag);
      bytes.push_back(1);
      if (tag == 13) bytes.push_back(0);  // a null key
    }
    bytes.push_back(0);
    return bytes;
  };
  auto depth_of = [](const EncodableValue& value) {
    int depth = 0;
    for (const EncodableValue* v = &value; !v->IsNull(); ++depth) {
      if (auto* list = std::get_if<EncodableList>(v)) {
        v = &(*list)[0];
      } else {
        v = &std::get<EncodableMap>(*v).begin()->second;
      }
    }
    return depth;
  };
  CerrCapture cerr;
  EXPECT_EQ(depth_of(Decode(nest(128, 12))), 128);
  EXPECT_EQ(depth_of(Decode(nest(128, 13))), 128);
  EXPECT_TRUE(cerr.err_lines().empty());

  // 100,000 levels would overflow the stack; level 129 reads as null.
  EXPECT_EQ(depth_of(Decode(nest(100000, 12))), 128);
  EXPECT_THAT(cerr.err_lines(),
              ElementsAre("Nesting too deep in "
                          "StandardCodecSerializer::ReadValueOfType: more "
                          "than 128 levels of lists and maps"));
  // The limit applies per value, not to what earlier messages left behind.
  EXPECT_EQ(depth_of(Decode(nest(128, 12))), 128);
}

}  // namespace
}  // namespace flutter
