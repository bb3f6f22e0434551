#include "analytics/sdk/upload/batch_encoding.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <string>

namespace analytics {
namespace {

// The test's own decoders, written from the formats rather than from the
// encoders under test.
std::string Inflate(const std::string& gzip) {
  z_stream stream;
  std::memset(&stream, 0, sizeof(stream));
  EXPECT_EQ(inflateInit2(&stream, 31), Z_OK);
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(gzip.data()));
  stream.avail_in = static_cast<uInt>(gzip.size());
  std::string out;
  int code = Z_OK;
  while (code == Z_OK) {
    char buffer[4096];
    stream.next_out = reinterpret_cast<Bytef*>(buffer);
    stream.avail_out = sizeof(buffer);
    code = inflate(&stream, Z_NO_FLUSH);
    out.append(buffer, sizeof(buffer) - stream.avail_out);
  }
  EXPECT_EQ(code, Z_STREAM_END);
  EXPECT_EQ(stream.avail_in, 0u) << "bytes after the gzip stream";
  inflateEnd(&stream);
  return out;
}

std::string Base64Decode(const std::string& text) {
  const std::string alphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  EXPECT_EQ(text.size() % 4, 0u);
  std::string out;
  uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    if (c == '=') break;
    const size_t value = alphabet.find(c);
    EXPECT_NE(value, std::string::npos) << c;
    bits = (bits << 6) | static_cast<uint32_t>(value);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out.push_back(static_cast<char>((bits >> count) & 0xFF));
    }
  }
  return out;
}

std::string PercentDecode(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      out.push_back(
          static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

std::string RecordBatch(int records) {
  std::string batch = "[";
  for (int i = 0; i < records; ++i) {
    if (i > 0) batch += ",";
    batch += "{\"_track_id\":" + std::to_string(1000003 * i % 999983) +
             ",\"event\":\"page_view\",\"properties\":{\"title\":"
             "\"\xE4\xB8\xAD\xE6\x96\x87 \\\"quoted\\\" #" +
             std::to_string(i) + "\",\"$lib\":\"cpp\"}}";
  }
  return batch + "]";
}

TEST(Base64EncodeTest, PadsFinalGroupsOfOneAndTwoBytes) {
  EXPECT_EQ(Base64Encode(""), "");
  EXPECT_EQ(Base64Encode("f"), "Zg==");
  EXPECT_EQ(Base64Encode("fo"), "Zm8=");
  EXPECT_EQ(Base64Encode("foo"), "Zm9v");
  EXPECT_EQ(Base64Encode("foob"), "Zm9vYg==");
  EXPECT_EQ(Base64Encode("fooba"), "Zm9vYmE=");
  EXPECT_EQ(Base64Encode("foobar"), "Zm9vYmFy");
}

TEST(Base64EncodeTest, HighBytesUseTheLastAlphabetLetters) {
  EXPECT_EQ(Base64Encode(std::string("\xFB\xFF\xBF", 3)), "+/+/");
  EXPECT_EQ(Base64Encode(std::string("\xFF", 1)), "/w==");
  EXPECT_EQ(Base64Encode(std::string("\0\0", 2)), "AAA=");
}

TEST(UrlEncodeTest, KeepsUnreservedAndEncodesEverythingElse) {
  EXPECT_EQ(UrlEncode("azAZ09-._~"), "azAZ09-._~");
  EXPECT_EQ(UrlEncode("+/="), "%2B%2F%3D");
  EXPECT_EQ(UrlEncode(" &%\n"), "%20%26%25%0A");
  EXPECT_EQ(UrlEncode(std::string("\0\x7F\x80\xFF", 4)), "%00%7F%80%FF");
}

TEST(GzipCompressTest, WritesAGzipStreamAtMaximumCompression) {
  const std::string batch = RecordBatch(30);
  const std::optional<std::string> gzip = GzipCompress(batch);
  ASSERT_TRUE(gzip.has_value());
  ASSERT_GT(gzip->size(), 18u);
  EXPECT_EQ(static_cast<unsigned char>((*gzip)[0]), 0x1F);
  EXPECT_EQ(static_cast<unsigned char>((*gzip)[1]), 0x8B);
  EXPECT_EQ((*gzip)[2], 8) << "deflate method";
  EXPECT_EQ((*gzip)[8], 2) << "XFL marks level 9";
  EXPECT_EQ(Inflate(*gzip), batch);
  EXPECT_LT(gzip->size(), batch.size() / 4);
}

TEST(GzipCompressTest, RoundTripsEmptyAndOutputsLargerThanOneBuffer) {
  const std::optional<std::string> empty = GzipCompress("");
  ASSERT_TRUE(empty.has_value());
  EXPECT_EQ(Inflate(*empty), "");

  // Incompressible input whose stream spans several 32 KiB output buffers.
  std::mt19937 random(7);
  std::string noise(200000, '\0');
  for (char& c : noise) c = static_cast<char>(random() & 0xFF);
  const std::optional<std::string> gzip = GzipCompress(noise);
  ASSERT_TRUE(gzip.has_value());
  EXPECT_GT(gzip->size(), 3 * 32768u);
  EXPECT_EQ(Inflate(*gzip), noise);
}

TEST(EncodeBatchBodyTest, DecodesBackToExactlyTheBatch) {
  std::map<std::string, int> escapes;
  for (int records : {0, 1, 2, 3, 7, 30}) {
    SCOPED_TRACE(records);
    const std::string batch = RecordBatch(records);
    const std::optional<std::string> body = EncodeBatchBody(batch);
    ASSERT_TRUE(body.has_value());
    const std::string prefix = "data_list=", suffix = "&gzip=1";
    ASSERT_EQ(body->compare(0, prefix.size(), prefix), 0);
    ASSERT_EQ(
        body->compare(body->size() - suffix.size(), suffix.size(), suffix), 0);
    const std::string field = body->substr(
        prefix.size(), body->size() - prefix.size() - suffix.size());
    for (size_t i = 0; i < field.size(); ++i) {
      const char c = field[i];
      if (c == '%') {
        const std::string code = field.substr(i + 1, 2);
        EXPECT_TRUE(code == "2B" || code == "2F" || code == "3D") << code;
        ++escapes[code];
        i += 2;
      } else {
        EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c))) << c;
      }
    }
    const std::string gzip = Base64Decode(PercentDecode(field));
    ASSERT_GE(gzip.size(), 2u);
    EXPECT_EQ(gzip.substr(0, 2), "\x1F\x8B");
    EXPECT_EQ(Inflate(gzip), batch);
  }
  // The batches above are chosen so that every escape occurs.
  EXPECT_GT(escapes["2B"], 0);
  EXPECT_GT(escapes["2F"], 0);
  EXPECT_GT(escapes["3D"], 0);
}

}  // namespace
}  // namespace analytics
