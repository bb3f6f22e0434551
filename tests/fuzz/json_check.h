// A strict check of JSON text (one value, RFC 8259 grammar, UTF-8 without
// overlong forms or surrogates, no raw control characters in strings) and of
// UTF-8 on its own, for the fuzz targets. Written apart from the SDK's JSON
// writer so that it can judge it.
#ifndef QUILLON_TESTS_FUZZ_JSON_CHECK_H_
#define QUILLON_TESTS_FUZZ_JSON_CHECK_H_

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz {

// Length of the well-formed UTF-8 sequence at `at`, or 0.
inline size_t Utf8SequenceAt(const std::string& text, size_t at) {
  const auto byte = [&](size_t i) {
    return i < text.size() ? static_cast<uint8_t>(text[i]) : 0;
  };
  const uint8_t lead = byte(at);
  if (lead < 0x80) {
    return 1;
  }
  size_t length;
  uint32_t code;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07;
  } else {
    return 0;
  }
  for (size_t i = 1; i < length; ++i) {
    const uint8_t next = byte(at + i);
    if ((next & 0xC0) != 0x80) {
      return 0;
    }
    code = (code << 6) | (next & 0x3F);
  }
  const bool overlong =
      (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
  const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
  return overlong || surrogate || code > 0x10FFFF ? 0 : length;
}

inline bool IsUtf8(const std::string& text) {
  for (size_t at = 0; at < text.size();) {
    const size_t length = Utf8SequenceAt(text, at);
    if (length == 0) {
      return false;
    }
    at += length;
  }
  return true;
}

class JsonChecker {
 public:
  explicit JsonChecker(const std::string& text) : text_(text) {}

  // The whole text is exactly one JSON value, blanks around it allowed.
  bool Valid() {
    Blanks();
    if (!Value(0)) {
      return false;
    }
    Blanks();
    return at_ == text_.size();
  }

 private:
  bool Value(int depth) {
    if (depth > 200 || at_ >= text_.size()) {
      return false;
    }
    switch (text_[at_]) {
      case '{':
        return Sequence('}', depth, true);
      case '[':
        return Sequence(']', depth, false);
      case '"':
        return String();
      case 't':
        return Word("true");
      case 'f':
        return Word("false");
      case 'n':
        return Word("null");
      default:
        return Number();
    }
  }

  bool Sequence(char close, int depth, bool object) {
    ++at_;
    Blanks();
    if (Take(close)) {
      return true;
    }
    for (;;) {
      Blanks();
      if (object && (!String() || (Blanks(), !Take(':')))) {
        return false;
      }
      Blanks();
      if (!Value(depth + 1)) {
        return false;
      }
      Blanks();
      if (Take(close)) {
        return true;
      }
      if (!Take(',')) {
        return false;
      }
    }
  }

  bool String() {
    if (!Take('"')) {
      return false;
    }
    while (at_ < text_.size()) {
      const uint8_t c = static_cast<uint8_t>(text_[at_]);
      if (c == '"') {
        ++at_;
        return true;
      }
      if (c < 0x20) {
        return false;
      }
      if (c == '\\') {
        if (!Escape()) {
          return false;
        }
        continue;
      }
      const size_t length = Utf8SequenceAt(text_, at_);
      if (length == 0) {
        return false;
      }
      at_ += length;
    }
    return false;
  }

  bool Escape() {
    ++at_;
    if (at_ >= text_.size()) {
      return false;
    }
    const char c = text_[at_++];
    if (c != 'u') {
      return std::string("\"\\/bfnrt").find(c) != std::string::npos;
    }
    for (int i = 0; i < 4; ++i, ++at_) {
      if (at_ >= text_.size() ||
          !std::isxdigit(static_cast<unsigned char>(text_[at_]))) {
        return false;
      }
    }
    return true;
  }

  bool Number() {
    Take('-');
    if (!Take('0') && !Digits()) {
      return false;
    }
    if (Take('.') && !Digits()) {
      return false;
    }
    if (Take('e') || Take('E')) {
      if (!Take('+')) {
        Take('-');
      }
      return Digits();
    }
    return true;
  }

  bool Digits() {
    const size_t start = at_;
    while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') {
      ++at_;
    }
    return at_ > start;
  }

  bool Word(const char* word) {
    const std::string expected(word);
    if (text_.compare(at_, expected.size(), expected) != 0) {
      return false;
    }
    at_ += expected.size();
    return true;
  }

  bool Take(char c) {
    if (at_ < text_.size() && text_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }

  void Blanks() {
    while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' ||
                                  text_[at_] == '\n' || text_[at_] == '\r')) {
      ++at_;
    }
  }

  const std::string& text_;
  size_t at_ = 0;
};

inline bool IsValidJson(const std::string& text) {
  return JsonChecker(text).Valid();
}

}  // namespace fuzz

#endif  // QUILLON_TESTS_FUZZ_JSON_CHECK_H_
