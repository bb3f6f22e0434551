#ifndef QUILLON_ANALYTICS_SDK_UPLOAD_BATCH_ENCODING_H_
#define QUILLON_ANALYTICS_SDK_UPLOAD_BATCH_ENCODING_H_

#include <optional>
#include <string>
#include <string_view>

namespace analytics {

// The form body of one upload: "data_list=" +
// UrlEncode(Base64Encode(GzipCompress(batch_text))) + "&gzip=1".
// Empty when compression fails (the compressor has written why to std::cerr).
std::optional<std::string> EncodeBatchBody(std::string_view batch_text);

// The gzip stream (header, deflate data at level 9, trailer) of |input|.
// Empty on a zlib failure, after one line on std::cerr.
std::optional<std::string> GzipCompress(std::string_view input);

// Standard base64 with "+" and "/" and "=" padding, no line breaks.
std::string Base64Encode(std::string_view bytes);

// Percent-encodes every byte except ASCII letters, digits and "-._~", with
// upper-case hexadecimal digits.
std::string UrlEncode(std::string_view text);

}  // namespace analytics

#endif  // QUILLON_ANALYTICS_SDK_UPLOAD_BATCH_ENCODING_H_
