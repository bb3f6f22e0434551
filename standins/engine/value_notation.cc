#include "standins/engine/value_notation.h"

#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace standin {

namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;

// Deep enough for any scenario, shallow enough for the stack.
constexpr int kMaxDepth = 64;

bool IsWordChar(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ||
         (c >= 'A' && c <= 'Z') || c == '.' || c == '+' || c == '-' || c == '_';
}

class Parser {
 public:
  explicit Parser(const std::string& text) : text_(text) {}

  bool ParseAll(EncodableValue* value, std::string* error) {
    bool ok = ParseValue(value, 0);
    if (ok) {
      SkipBlanks();
      if (position_ != text_.size()) {
        ok = Fail("unexpected text after the value");
      }
    }
    if (!ok && error != nullptr) {
      *error = error_ + " at offset " + std::to_string(position_);
    }
    return ok;
  }

 private:
  bool Fail(const std::string& why) {
    if (error_.empty()) {
      error_ = why;
    }
    return false;
  }

  void SkipBlanks() {
    while (position_ < text_.size() &&
           (text_[position_] == ' ' || text_[position_] == '\t')) {
      ++position_;
    }
  }

  bool Peek(char c) {
    SkipBlanks();
    return position_ < text_.size() && text_[position_] == c;
  }

  bool Expect(char c) {
    if (!Peek(c)) {
      return Fail(std::string("expected '") + c + "'");
    }
    ++position_;
    return true;
  }

  std::string ReadWord() {
    SkipBlanks();
    size_t start = position_;
    while (position_ < text_.size() && IsWordChar(text_[position_])) {
      ++position_;
    }
    return text_.substr(start, position_ - start);
  }

  // Parses a comma-separated sequence up to `close`, calling `element` for
  // each item.
  template <typename Element>
  bool ParseSequence(char close, Element element) {
    if (Peek(close)) {
      ++position_;
      return true;
    }
    for (;;) {
      if (!element()) {
        return false;
      }
      if (Peek(',')) {
        ++position_;
        continue;
      }
      return Expect(close);
    }
  }

  bool ParseValue(EncodableValue* value, int depth) {
    if (depth > kMaxDepth) {
      return Fail("nested too deeply");
    }
    SkipBlanks();
    if (position_ >= text_.size()) {
      return Fail("missing value");
    }
    char c = text_[position_];
    if (c == '"') {
      std::string text;
      if (!ParseString(&text)) {
        return false;
      }
      *value = EncodableValue(std::move(text));
      return true;
    }
    if (c == '[') {
      ++position_;
      EncodableList list;
      bool ok = ParseSequence(']', [&] {
        list.emplace_back();
        return ParseValue(&list.back(), depth + 1);
      });
      *value = EncodableValue(std::move(list));
      return ok;
    }
    if (c == '{') {
      ++position_;
      EncodableMap map;
      bool ok = ParseSequence('}', [&] {
        EncodableValue key;
        EncodableValue entry;
        if (!ParseValue(&key, depth + 1) || !Expect(':') ||
            !ParseValue(&entry, depth + 1)) {
          return false;
        }
        map[std::move(key)] = std::move(entry);
        return true;
      });
      *value = EncodableValue(std::move(map));
      return ok;
    }
    size_t word_start = position_;
    std::string word = ReadWord();
    if (word.empty()) {
      return Fail(std::string("unexpected '") + c + "'");
    }
    if (word == "null") {
      *value = EncodableValue();
      return true;
    }
    if (word == "true" || word == "false") {
      *value = EncodableValue(word == "true");
      return true;
    }
    if (position_ < text_.size() && text_[position_] == '[') {
      return ParseTypedList(word, value);
    }
    if (!ParseNumber(word, value)) {
      position_ = word_start;
      return Fail("bad value '" + word + "'");
    }
    return true;
  }

  bool ParseString(std::string* out) {
    ++position_;  // opening quote
    while (position_ < text_.size()) {
      char c = text_[position_++];
      if (c == '"') {
        return true;
      }
      if (c != '\\') {
        out->push_back(c);
        continue;
      }
      if (position_ >= text_.size()) {
        break;
      }
      char escape = text_[position_++];
      switch (escape) {
        case '"':
        case '\\':
          out->push_back(escape);
          break;
        case 'n':
          out->push_back('\n');
          break;
        case 'r':
          out->push_back('\r');
          break;
        case 't':
          out->push_back('\t');
          break;
        case 'x': {
          std::string digits = text_.substr(position_, 2);
          char* end = nullptr;
          unsigned long byte = std::strtoul(digits.c_str(), &end, 16);
          if (digits.size() != 2 || end != digits.c_str() + 2) {
            return Fail("bad \\x escape");
          }
          out->push_back(static_cast<char>(byte));
          position_ += 2;
          break;
        }
        default:
          return Fail(std::string("bad escape \\") + escape);
      }
    }
    return Fail("unterminated string");
  }

  static bool ParseDouble(const std::string& word, double* value) {
    if (word == "NaN") {
      *value = std::numeric_limits<double>::quiet_NaN();
      return true;
    }
    if (word == "Infinity" || word == "-Infinity") {
      *value = word[0] == '-' ? -std::numeric_limits<double>::infinity()
                              : std::numeric_limits<double>::infinity();
      return true;
    }
    if (word.find_first_not_of("0123456789.eE+-") != std::string::npos) {
      return false;
    }
    char* end = nullptr;
    *value = std::strtod(word.c_str(), &end);
    return end == word.c_str() + word.size();
  }

  static bool ParseInteger(const std::string& word, int64_t* value) {
    if (word.empty() ||
        word.find_first_not_of("0123456789", word[0] == '-' ? 1 : 0) !=
            std::string::npos ||
        word == "-") {
      return false;
    }
    errno = 0;
    long long parsed = std::strtoll(word.c_str(), nullptr, 10);
    if (errno == ERANGE) {
      return false;
    }
    *value = parsed;
    return true;
  }

  bool ParseNumber(const std::string& word, EncodableValue* value) {
    int64_t integer;
    if (word.size() > 1 && word.back() == 'L') {
      if (!ParseInteger(word.substr(0, word.size() - 1), &integer)) {
        return false;
      }
      *value = EncodableValue(integer);
      return true;
    }
    if (ParseInteger(word, &integer)) {
      if (integer < std::numeric_limits<int32_t>::min() ||
          integer > std::numeric_limits<int32_t>::max()) {
        return Fail("'" + word + "' needs the L of a 64-bit integer");
      }
      *value = EncodableValue(static_cast<int32_t>(integer));
      return true;
    }
    double number;
    if (word.find_first_of(".eEIN") != std::string::npos &&
        ParseDouble(word, &number)) {
      *value = EncodableValue(number);
      return true;
    }
    return false;
  }

  bool ParseTypedList(const std::string& kind, EncodableValue* value) {
    ++position_;  // '['
    std::vector<uint8_t> bytes;
    std::vector<int32_t> ints;
    std::vector<int64_t> longs;
    std::vector<float> floats;
    std::vector<double> doubles;
    auto element = [&] {
      std::string word = ReadWord();
      int64_t integer = 0;
      double number = 0;
      if (kind == "u8") {
        if (!ParseInteger(word, &integer) || integer < 0 || integer > 255) {
          return Fail("bad u8 element '" + word + "'");
        }
        bytes.push_back(static_cast<uint8_t>(integer));
      } else if (kind == "i32") {
        if (!ParseInteger(word, &integer) ||
            integer < std::numeric_limits<int32_t>::min() ||
            integer > std::numeric_limits<int32_t>::max()) {
          return Fail("bad i32 element '" + word + "'");
        }
        ints.push_back(static_cast<int32_t>(integer));
      } else if (kind == "i64") {
        if (word.size() > 1 && word.back() == 'L') {
          word.pop_back();
        }
        if (!ParseInteger(word, &integer)) {
          return Fail("bad i64 element '" + word + "'");
        }
        longs.push_back(integer);
      } else {
        if (!ParseDouble(word, &number)) {
          return Fail("bad " + kind + " element '" + word + "'");
        }
        if (kind == "f32") {
          floats.push_back(static_cast<float>(number));
        } else {
          doubles.push_back(number);
        }
      }
      return true;
    };
    if (kind != "u8" && kind != "i32" && kind != "i64" && kind != "f32" &&
        kind != "f64") {
      return Fail("unknown typed list '" + kind + "'");
    }
    if (!ParseSequence(']', element)) {
      return false;
    }
    if (kind == "u8") {
      *value = EncodableValue(std::move(bytes));
    } else if (kind == "i32") {
      *value = EncodableValue(std::move(ints));
    } else if (kind == "i64") {
      *value = EncodableValue(std::move(longs));
    } else if (kind == "f32") {
      *value = EncodableValue(std::move(floats));
    } else {
      *value = EncodableValue(std::move(doubles));
    }
    return true;
  }

  const std::string& text_;
  size_t position_ = 0;
  std::string error_;
};

// Shortest text that reads back as the same number.
template <typename Number>
std::string FormatNumber(Number number, int max_precision) {
  if (std::isnan(number)) {
    return "NaN";
  }
  if (std::isinf(number)) {
    return number < 0 ? "-Infinity" : "Infinity";
  }
  char buffer[40];
  for (int precision = 1; precision <= max_precision; ++precision) {
    std::snprintf(buffer, sizeof(buffer), "%.*g", precision,
                  static_cast<double>(number));
    if (static_cast<Number>(std::strtod(buffer, nullptr)) == number) {
      break;
    }
  }
  std::string text(buffer);
  if (text.find_first_of(".e") == std::string::npos) {
    text += ".0";
  }
  return text;
}

std::string FormatString(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
          char escaped[5];
          std::snprintf(escaped, sizeof(escaped), "\\x%02x",
                        static_cast<unsigned char>(c));
          out += escaped;
        } else {
          out.push_back(c);
        }
    }
  }
  return out + "\"";
}

template <typename Item, typename Format>
std::string FormatItems(const std::string& open, const std::vector<Item>& items,
                        Format format) {
  std::string out = open;
  for (size_t i = 0; i < items.size(); ++i) {
    out += (i == 0 ? "" : ", ") + format(items[i]);
  }
  return out + "]";
}

}  // namespace

bool ParseValueNotation(const std::string& text, flutter::EncodableValue* value,
                        std::string* error) {
  Parser parser(text);
  return parser.ParseAll(value, error);
}

std::string FormatValueNotation(const flutter::EncodableValue& value) {
  if (std::holds_alternative<std::monostate>(value)) {
    return "null";
  }
  if (const bool* flag = std::get_if<bool>(&value)) {
    return *flag ? "true" : "false";
  }
  if (const int32_t* integer = std::get_if<int32_t>(&value)) {
    return std::to_string(*integer);
  }
  if (const int64_t* integer = std::get_if<int64_t>(&value)) {
    return std::to_string(*integer) + "L";
  }
  if (const double* number = std::get_if<double>(&value)) {
    return FormatNumber(*number, 17);
  }
  if (const std::string* text = std::get_if<std::string>(&value)) {
    return FormatString(*text);
  }
  auto integer_text = [](auto item) { return std::to_string(item); };
  if (const auto* bytes = std::get_if<std::vector<uint8_t>>(&value)) {
    return FormatItems("u8[", *bytes, [](uint8_t item) {
      return std::to_string(static_cast<unsigned>(item));
    });
  }
  if (const auto* ints = std::get_if<std::vector<int32_t>>(&value)) {
    return FormatItems("i32[", *ints, integer_text);
  }
  if (const auto* longs = std::get_if<std::vector<int64_t>>(&value)) {
    return FormatItems("i64[", *longs, integer_text);
  }
  if (const auto* doubles = std::get_if<std::vector<double>>(&value)) {
    return FormatItems("f64[", *doubles,
                       [](double item) { return FormatNumber(item, 17); });
  }
  if (const auto* floats = std::get_if<std::vector<float>>(&value)) {
    return FormatItems("f32[", *floats,
                       [](float item) { return FormatNumber(item, 9); });
  }
  if (const auto* list = std::get_if<flutter::EncodableList>(&value)) {
    return FormatItems("[", *list, [](const flutter::EncodableValue& item) {
      return FormatValueNotation(item);
    });
  }
  if (const auto* map = std::get_if<flutter::EncodableMap>(&value)) {
    std::string out = "{";
    bool first = true;
    for (const auto& [key, entry] : *map) {
      out += (first ? "" : ", ") + FormatValueNotation(key) + ": " +
             FormatValueNotation(entry);
      first = false;
    }
    return out + "}";
  }
  return "custom";
}

}  // namespace standin
