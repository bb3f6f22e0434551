// UTF-8 text to and from the UTF-16 of Windows' wide-character functions.
// Windows only: elsewhere the system's text is already UTF-8.
#ifndef QUILLON_PLATFORM_WIDE_TEXT_H_
#define QUILLON_PLATFORM_WIDE_TEXT_H_

#include <string>

namespace platform {

// The first |length| units of |text|, or all of it up to its terminator when
// |length| is negative; empty for null or empty text. Unpaired surrogates
// become U+FFFD.
std::string Utf8FromWide(const wchar_t* text, int length = -1);

// |utf8| as UTF-16; invalid sequences become U+FFFD.
std::wstring WideFromUtf8(const std::string& utf8);

}  // namespace platform

#endif  // QUILLON_PLATFORM_WIDE_TEXT_H_
