#include "analytics/sdk/upload/batch_encoding.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <iostream>

namespace analytics {

namespace {

constexpr size_t kDeflateChunk = 32768;

// Owns an initialised deflate stream; deflateEnd runs on every path.
class DeflateStream {
 public:
  DeflateStream() { std::memset(&stream_, 0, sizeof(stream_)); }
  ~DeflateStream() {
    if (initialised_) deflateEnd(&stream_);
  }
  DeflateStream(const DeflateStream&) = delete;
  DeflateStream& operator=(const DeflateStream&) = delete;

  bool Init() {
    // Level 9, deflate, 32 KiB window plus the gzip wrapper (15 + 16),
    // memLevel 8, default strategy.
    initialised_ = deflateInit2(&stream_, 9, Z_DEFLATED, 31, 8,
                                Z_DEFAULT_STRATEGY) == Z_OK;
    return initialised_;
  }
  z_stream* get() { return &stream_; }

 private:
  z_stream stream_;
  bool initialised_ = false;
};

}  // namespace

std::optional<std::string> GzipCompress(std::string_view input) {
  DeflateStream deflater;
  if (!deflater.Init()) {
    std::cerr << "deflateInit2 failed while compressing." << std::endl;
    return std::nullopt;
  }
  z_stream* stream = deflater.get();

  // zlib counts input in 32-bit units; hand larger inputs over in slices
  // instead of silently cutting them short.
  const char* next_input = input.data();
  size_t input_left = input.size();
  auto feed = [&] {
    const size_t slice = std::min<size_t>(input_left, UINT_MAX);
    stream->next_in = reinterpret_cast<Bytef*>(const_cast<char*>(next_input));
    stream->avail_in = static_cast<uInt>(slice);
    next_input += slice;
    input_left -= slice;
  };
  feed();

  std::string result;
  char buffer[kDeflateChunk];
  int code = Z_OK;
  do {
    if (stream->avail_in == 0 && input_left > 0) feed();
    stream->next_out = reinterpret_cast<Bytef*>(buffer);
    stream->avail_out = static_cast<uInt>(sizeof(buffer));
    code = deflate(stream, input_left > 0 ? Z_NO_FLUSH : Z_FINISH);
    result.append(buffer, sizeof(buffer) - stream->avail_out);
  } while (code == Z_OK);

  if (code != Z_STREAM_END) {
    std::cerr << "Exception during zlib compression: (" << code << ") "
              << (stream->msg != nullptr ? stream->msg : "") << std::endl;
    return std::nullopt;
  }
  return result;
}

std::string Base64Encode(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  auto byte_at = [&bytes](size_t i) {
    return static_cast<uint32_t>(static_cast<unsigned char>(bytes[i]));
  };
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const uint32_t group =
        (byte_at(i) << 16) | (byte_at(i + 1) << 8) | byte_at(i + 2);
    out.push_back(kAlphabet[(group >> 18) & 0x3F]);
    out.push_back(kAlphabet[(group >> 12) & 0x3F]);
    out.push_back(kAlphabet[(group >> 6) & 0x3F]);
    out.push_back(kAlphabet[group & 0x3F]);
  }
  const size_t rest = bytes.size() - i;
  if (rest > 0) {
    // Complete the last group with zero bits, then pad to four characters.
    uint32_t group = byte_at(i) << 16;
    if (rest == 2) group |= byte_at(i + 1) << 8;
    out.push_back(kAlphabet[(group >> 18) & 0x3F]);
    out.push_back(kAlphabet[(group >> 12) & 0x3F]);
    out.push_back(rest == 2 ? kAlphabet[(group >> 6) & 0x3F] : '=');
    out.push_back('=');
  }
  return out;
}

std::string UrlEncode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (const char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    const bool unreserved = (byte >= 'A' && byte <= 'Z') ||
                            (byte >= 'a' && byte <= 'z') ||
                            (byte >= '0' && byte <= '9') || byte == '-' ||
                            byte == '.' || byte == '_' || byte == '~';
    if (unreserved) {
      out.push_back(c);
    } else {
      out.push_back('%');
      out.push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 0x0F]);
    }
  }
  return out;
}

std::optional<std::string> EncodeBatchBody(std::string_view batch_text) {
  std::optional<std::string> compressed = GzipCompress(batch_text);
  if (!compressed) return std::nullopt;
  return "data_list=" + UrlEncode(Base64Encode(*compressed)) + "&gzip=1";
}

}  // namespace analytics
