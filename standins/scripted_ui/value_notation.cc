#include "standins/scripted_ui/value_notation.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace standin {

namespace {

using Kind = NotationValue::Kind;

NotationValue Make(Kind kind) {
  NotationValue value;
  value.kind = kind;
  return value;
}

// Later entries of an equal key replace earlier ones, as in a written map.
void InsertEntry(NotationValue* map, NotationValue key, NotationValue entry) {
  auto& entries = map->entries;
  auto at = std::lower_bound(
      entries.begin(), entries.end(), key,
      [](const std::pair<NotationValue, NotationValue>& element,
         const NotationValue& wanted) {
        return ValueLess(element.first, wanted);
      });
  if (at != entries.end() && !ValueLess(key, at->first)) {
    at->second = std::move(entry);
    return;
  }
  entries.emplace(at, std::move(key), std::move(entry));
}

// Deep enough for any scenario, shallow enough for the stack.
constexpr int kMaxDepth = 64;

bool IsWordChar(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ||
         (c >= 'A' && c <= 'Z') || c == '.' || c == '+' || c == '-' || c == '_';
}

class Parser {
 public:
  explicit Parser(const std::string& text) : text_(text) {}

  bool ParseAll(NotationValue* value, std::string* error) {
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

  bool ParseValue(NotationValue* value, int depth) {
    if (depth > kMaxDepth) {
      return Fail("nested too deeply");
    }
    SkipBlanks();
    if (position_ >= text_.size()) {
      return Fail("missing value");
    }
    switch (text_[position_]) {
      case '"': {
        std::string text;
        if (!ParseString(&text)) {
          return false;
        }
        *value = Make(Kind::kString);
        value->text = std::move(text);
        return true;
      }
      case '[':
        return ParseList(value, depth);
      case '{':
        return ParseMap(value, depth);
      default:
        return ParseWord(value);
    }
  }

  bool ParseList(NotationValue* value, int depth) {
    ++position_;
    NotationValue list = Make(Kind::kList);
    bool ok = ParseSequence(']', [&] {
      list.items.emplace_back();
      return ParseValue(&list.items.back(), depth + 1);
    });
    *value = std::move(list);
    return ok;
  }

  bool ParseMap(NotationValue* value, int depth) {
    ++position_;
    NotationValue map = Make(Kind::kMap);
    bool ok = ParseSequence('}', [&] {
      NotationValue key;
      NotationValue entry;
      if (!ParseValue(&key, depth + 1) || !Expect(':') ||
          !ParseValue(&entry, depth + 1)) {
        return false;
      }
      InsertEntry(&map, std::move(key), std::move(entry));
      return true;
    });
    *value = std::move(map);
    return ok;
  }

  // null, true, false, a number, or a typed list such as i32[1, 2].
  bool ParseWord(NotationValue* value) {
    const size_t word_start = position_;
    const char first = text_[position_];
    std::string word = ReadWord();
    if (word.empty()) {
      return Fail(std::string("unexpected '") + first + "'");
    }
    if (word == "null") {
      *value = Make(Kind::kNull);
      return true;
    }
    if (word == "true" || word == "false") {
      *value = Make(Kind::kBool);
      value->flag = word == "true";
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

  bool ParseNumber(const std::string& word, NotationValue* value) {
    int64_t integer;
    if (word.size() > 1 && word.back() == 'L') {
      if (!ParseInteger(word.substr(0, word.size() - 1), &integer)) {
        return false;
      }
      *value = Make(Kind::kInt64);
      value->integer = integer;
      return true;
    }
    if (ParseInteger(word, &integer)) {
      if (integer < std::numeric_limits<int32_t>::min() ||
          integer > std::numeric_limits<int32_t>::max()) {
        return Fail("'" + word + "' needs the L of a 64-bit integer");
      }
      *value = Make(Kind::kInt32);
      value->integer = integer;
      return true;
    }
    double number;
    if (word.find_first_of(".eEIN") != std::string::npos &&
        ParseDouble(word, &number)) {
      *value = Make(Kind::kDouble);
      value->number = number;
      return true;
    }
    return false;
  }

  bool ParseTypedList(const std::string& kind, NotationValue* value) {
    ++position_;  // '['
    NotationValue list;
    std::vector<uint8_t>& bytes = list.bytes;
    std::vector<int32_t>& ints = list.ints;
    std::vector<int64_t>& longs = list.longs;
    std::vector<float>& floats = list.floats;
    std::vector<double>& doubles = list.doubles;
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
    list.kind = kind == "u8"    ? Kind::kBytes
                : kind == "i32" ? Kind::kInt32List
                : kind == "i64" ? Kind::kInt64List
                : kind == "f32" ? Kind::kFloatList
                                : Kind::kDoubleList;
    *value = std::move(list);
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

// -1, 0 or 1 for two numbers of one kind; NaN after every other number.
template <typename Number>
int CompareNumbers(Number a, Number b) {
  const bool a_nan = std::isnan(a);
  const bool b_nan = std::isnan(b);
  if (a_nan || b_nan) {
    return a_nan == b_nan ? 0 : (a_nan ? 1 : -1);
  }
  return a < b ? -1 : (b < a ? 1 : 0);
}

template <typename Element, typename Compare>
int CompareSequences(const std::vector<Element>& a,
                     const std::vector<Element>& b, Compare compare) {
  const size_t common = std::min(a.size(), b.size());
  for (size_t i = 0; i < common; ++i) {
    const int order = compare(a[i], b[i]);
    if (order != 0) {
      return order;
    }
  }
  return a.size() < b.size() ? -1 : (b.size() < a.size() ? 1 : 0);
}

int Compare(const NotationValue& a, const NotationValue& b) {
  if (a.kind != b.kind) {
    return a.kind < b.kind ? -1 : 1;
  }
  auto plain = [](auto x, auto y) { return x < y ? -1 : (y < x ? 1 : 0); };
  auto number = [](auto x, auto y) { return CompareNumbers(x, y); };
  switch (a.kind) {
    case Kind::kNull:
      return 0;
    case Kind::kBool:
      return plain(a.flag, b.flag);
    case Kind::kInt32:
    case Kind::kInt64:
      return plain(a.integer, b.integer);
    case Kind::kDouble:
      return CompareNumbers(a.number, b.number);
    case Kind::kString:
      return CompareSequences(
          std::vector<uint8_t>(a.text.begin(), a.text.end()),
          std::vector<uint8_t>(b.text.begin(), b.text.end()), plain);
    case Kind::kBytes:
      return CompareSequences(a.bytes, b.bytes, plain);
    case Kind::kInt32List:
      return CompareSequences(a.ints, b.ints, plain);
    case Kind::kInt64List:
      return CompareSequences(a.longs, b.longs, plain);
    case Kind::kDoubleList:
      return CompareSequences(a.doubles, b.doubles, number);
    case Kind::kFloatList:
      return CompareSequences(a.floats, b.floats, number);
    case Kind::kList:
      return CompareSequences(a.items, b.items, Compare);
    case Kind::kMap:
      return CompareSequences(
          a.entries, b.entries,
          [](const std::pair<NotationValue, NotationValue>& x,
             const std::pair<NotationValue, NotationValue>& y) {
            const int keys = Compare(x.first, y.first);
            return keys != 0 ? keys : Compare(x.second, y.second);
          });
  }
  return 0;
}

}  // namespace

bool ValueLess(const NotationValue& a, const NotationValue& b) {
  return Compare(a, b) < 0;
}

bool ParseValueNotation(const std::string& text, NotationValue* value,
                        std::string* error) {
  Parser parser(text);
  return parser.ParseAll(value, error);
}

std::string FormatValueNotation(const NotationValue& value) {
  auto integer_text = [](auto item) { return std::to_string(item); };
  switch (value.kind) {
    case Kind::kNull:
      return "null";
    case Kind::kBool:
      return value.flag ? "true" : "false";
    case Kind::kInt32:
      return std::to_string(value.integer);
    case Kind::kInt64:
      return std::to_string(value.integer) + "L";
    case Kind::kDouble:
      return FormatNumber(value.number, 17);
    case Kind::kString:
      return FormatString(value.text);
    case Kind::kBytes:
      return FormatItems("u8[", value.bytes, [](uint8_t item) {
        return std::to_string(static_cast<unsigned>(item));
      });
    case Kind::kInt32List:
      return FormatItems("i32[", value.ints, integer_text);
    case Kind::kInt64List:
      return FormatItems("i64[", value.longs, integer_text);
    case Kind::kDoubleList:
      return FormatItems("f64[", value.doubles,
                         [](double item) { return FormatNumber(item, 17); });
    case Kind::kFloatList:
      return FormatItems("f32[", value.floats,
                         [](float item) { return FormatNumber(item, 9); });
    case Kind::kList:
      return FormatItems("[", value.items, [](const NotationValue& item) {
        return FormatValueNotation(item);
      });
    case Kind::kMap: {
      std::string out = "{";
      for (size_t i = 0; i < value.entries.size(); ++i) {
        out += (i == 0 ? "" : ", ") +
               FormatValueNotation(value.entries[i].first) + ": " +
               FormatValueNotation(value.entries[i].second);
      }
      return out + "}";
    }
  }
  return "null";
}

}  // namespace standin
