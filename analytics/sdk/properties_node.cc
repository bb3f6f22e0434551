#include "analytics/sdk/properties_node.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>
#include <type_traits>
#include <utility>

#include "platform/local_time.h"

namespace analytics {
namespace utils {

bool ByteOrder::operator()(const std::string& a, const std::string& b) const {
  const size_t common = a.size() < b.size() ? a.size() : b.size();
  const int order = common == 0 ? 0 : std::memcmp(a.data(), b.data(), common);
  if (order != 0) return order < 0;
  return a.size() < b.size();
}

ObjectNode::ObjectNode() = default;
ObjectNode::ObjectNode(const ObjectNode& other) = default;
ObjectNode::ObjectNode(ObjectNode&& other) noexcept = default;
ObjectNode& ObjectNode::operator=(ObjectNode&& other) noexcept = default;
ObjectNode::~ObjectNode() = default;

ObjectNode& ObjectNode::operator=(const ObjectNode& other) {
  if (this != &other) entries_ = other.entries_;
  return *this;
}

ObjectNode::Entries::iterator ObjectNode::LowerBound(const std::string& key) {
  return std::lower_bound(entries_.begin(), entries_.end(), key,
                          [](const Entry& entry, const std::string& k) {
                            return ByteOrder()(entry.first, k);
                          });
}

ObjectNode::Entries::const_iterator ObjectNode::LowerBound(
    const std::string& key) const {
  return const_cast<ObjectNode*>(this)->LowerBound(key);
}

constexpr size_t kInitialEntries = 8;

static_assert(std::is_nothrow_move_constructible<ValueNode>::value,
              "entries must move, not copy, when the entry vector grows");

void ObjectNode::Put(const std::string& key, ValueNode&& value) {
  // Room for a typical object at once, instead of regrowing through 1, 2
  // and 4 entries.
  if (entries_.capacity() == 0) entries_.reserve(kInitialEntries);
  // Keys usually come in order: then the entry goes at the end.
  if (entries_.empty() || ByteOrder()(entries_.back().first, key)) {
    entries_.emplace_back(key, std::move(value));
    return;
  }
  const auto at = LowerBound(key);
  if (at != entries_.end() && at->first == key) {
    at->second = std::move(value);
    return;
  }
  // Copied first: `key` may be the key of an entry that the insertion
  // moves.
  std::string owned_key(key);
  entries_.emplace(at, std::move(owned_key), std::move(value));
}

namespace {

// A value of kind `K` made from `args`.
template <ValueKind K, typename... Args>
ValueNode Make(Args&&... args) {
  ValueNode node;
  node.payload.emplace<static_cast<size_t>(K)>(std::forward<Args>(args)...);
  return node;
}

}  // namespace

void ObjectNode::SetList(const std::string& key,
                         const std::vector<std::string>& value) {
  Put(key, Make<ValueKind::LIST>(value));
}

void ObjectNode::SetObject(const std::string& key, const ObjectNode& value) {
  Put(key, Make<ValueKind::OBJECT>(value));
}

void ObjectNode::SetObject(const std::string& key, ObjectNode&& value) {
  Put(key, Make<ValueKind::OBJECT>(std::move(value)));
}

void ObjectNode::SetNumber(const std::string& key, double value) {
  Put(key, Make<ValueKind::NUMBER>(value));
}

void ObjectNode::SetInt(const std::string& key, int64_t value) {
  Put(key, Make<ValueKind::INT>(value));
}

void ObjectNode::SetBool(const std::string& key, bool value) {
  Put(key, Make<ValueKind::BOOL>(value));
}

void ObjectNode::SetString(const std::string& key, const std::string& value) {
  if (!IsStringAccepted(key, value)) return;
  Put(key, Make<ValueKind::STRING>(value));
}

void ObjectNode::SetString(const std::string& key, const char* value) {
  if (value == nullptr) {
    std::cerr << "String property '" << key << "' value is NULL" << std::endl;
    return;
  }
  std::string text(value);
  if (!IsStringAccepted(key, text)) return;
  Put(key, Make<ValueKind::STRING>(std::move(text)));
}

bool ObjectNode::IsStringAccepted(const std::string& key,
                                  const std::string& value) {
  if (value.size() > MAX_STRING_PROPERTY_LENGTH) {
    std::cerr << "String property '" << key << "' is too long, value: " << value
              << std::endl;
    return false;
  }
  if (!IsValidUtf8(value)) {
    std::cerr << "String property '" << key
              << "' is not valid UTF-8 string, value: " << value << std::endl;
    return false;
  }
  return true;
}

void ObjectNode::SetDateTime(const std::string& key, int64_t seconds,
                             int32_t milliseconds) {
  Put(key, Make<ValueKind::DATETIME>(DateTime{seconds, milliseconds}));
}

void ObjectNode::MergeFrom(const ObjectNode& source) {
  if (&source == this) return;
  for (const auto& entry : source.entries_) {
    Put(entry.first, ValueNode(entry.second));
  }
}

const ValueNode* ObjectNode::Find(const std::string& key) const {
  const auto found = LowerBound(key);
  return found == entries_.end() || found->first != key ? nullptr
                                                        : &found->second;
}

bool ObjectNode::Remove(const std::string& key) {
  const auto found = LowerBound(key);
  if (found == entries_.end() || found->first != key) return false;
  entries_.erase(found);
  return true;
}

void ObjectNode::Clear() { entries_.clear(); }

size_t ObjectNode::size() const { return entries_.size(); }
bool ObjectNode::empty() const { return entries_.empty(); }

ObjectNode::Entries::const_iterator ObjectNode::begin() const {
  return entries_.begin();
}

ObjectNode::Entries::const_iterator ObjectNode::end() const {
  return entries_.end();
}

void ObjectNode::ToJson(std::string* out) const {
  out->push_back('{');
  bool first = true;
  for (const auto& entry : entries_) {
    if (!first) out->push_back(',');
    first = false;
    // Assembly only admits plain names, which escaping leaves as they are;
    // any other key still makes valid JSON.
    EscapeJsonString(entry.first, out);
    out->push_back(':');
    WriteJsonValue(entry.second, out);
  }
  out->push_back('}');
}

std::string ObjectNode::ToJsonString(const ObjectNode& node) {
  std::string text;
  text.reserve(node.JsonSizeHint());
  node.ToJson(&text);
  return text;
}

namespace {

// Longest text of a NUMBER ("-1.23456789012345e-308") and of an INT.
constexpr size_t kNumberTextSize = 22;
constexpr size_t kIntegerTextSize = 20;
// "yyyy-mm-dd hh:mm:ss.mmm" in quotes.
constexpr size_t kDateTimeTextSize = 25;

// The JSON text's length per payload.
struct SizeHint {
  size_t operator()(double) const { return kNumberTextSize; }
  size_t operator()(int64_t) const { return kIntegerTextSize; }
  size_t operator()(const std::string& text) const { return text.size() + 2; }
  size_t operator()(const std::vector<std::string>& list) const {
    size_t size = 2 + list.size() * 3;
    for (const std::string& element : list) size += element.size();
    return size;
  }
  size_t operator()(const DateTime&) const { return kDateTimeTextSize; }
  size_t operator()(bool) const { return 5; }
  size_t operator()(const ObjectNode& object) const {
    return object.JsonSizeHint();
  }
  size_t operator()(std::monostate) const { return 0; }
};

}  // namespace

size_t ObjectNode::JsonSizeHint() const {
  // Braces, and per entry the quoted key, the colon and a comma.
  size_t size = 2;
  for (const auto& entry : entries_) {
    size +=
        entry.first.size() + 4 + std::visit(SizeHint(), entry.second.payload);
  }
  return size;
}

namespace {

// Length of the well-formed multi-byte UTF-8 sequence starting at `i` (no
// overlong forms, surrogates or code points above U+10FFFF), or 0.
size_t MultiByteSequenceLength(const unsigned char* bytes, size_t size,
                               size_t i) {
  // Whether the byte at `at` exists and lies within [low, high].
  auto in = [&](size_t at, unsigned char low, unsigned char high) {
    return at < size && bytes[at] >= low && bytes[at] <= high;
  };
  const unsigned char lead = bytes[i];
  if (lead >= 0xC2 && lead <= 0xDF) {
    return in(i + 1, 0x80, 0xBF) ? 2 : 0;
  }
  if (lead >= 0xE0 && lead <= 0xEF) {
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead == 0xE0) low = 0xA0;   // overlong
    if (lead == 0xED) high = 0x9F;  // surrogates
    return in(i + 1, low, high) && in(i + 2, 0x80, 0xBF) ? 3 : 0;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead == 0xF0) low = 0x90;   // overlong
    if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
    return in(i + 1, low, high) && in(i + 2, 0x80, 0xBF) &&
                   in(i + 3, 0x80, 0xBF)
               ? 4
               : 0;
  }
  return 0;
}

}  // namespace

bool IsValidUtf8(const std::string& value) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(value.data());
  const size_t size = value.size();
  size_t i = 0;
  while (i < size) {
    const unsigned char lead = bytes[i];
    if (lead == 0x09 || lead == 0x0A || lead == 0x0D ||
        (lead >= 0x20 && lead <= 0x7E)) {
      i += 1;
      continue;
    }
    const size_t length = MultiByteSequenceLength(bytes, size, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

namespace {

// The escape of each byte that JSON text needs escaped, or empty: the short
// escapes, \u00XX for the other control characters.
std::string JsonEscape(unsigned char c) {
  switch (c) {
    case '\b':
      return "\\b";
    case '\t':
      return "\\t";
    case '\n':
      return "\\n";
    case '\f':
      return "\\f";
    case '\r':
      return "\\r";
    case '"':
      return "\\\"";
    case '\\':
      return "\\\\";
    default:
      break;
  }
  if (c >= 0x20) return std::string();
  char escaped[8];
  std::snprintf(escaped, sizeof(escaped), "\\u%04x", c);
  return escaped;
}

struct EscapeTable {
  EscapeTable() {
    for (int c = 0; c < 256; ++c) {
      escapes[c] = JsonEscape(static_cast<unsigned char>(c));
    }
  }
  std::string escapes[256];
};

}  // namespace

void EscapeJsonString(const std::string& value, std::string* out) {
  static const EscapeTable table;
  const auto* bytes = reinterpret_cast<const unsigned char*>(value.data());
  const size_t size = value.size();
  out->push_back('"');
  // Copies the runs between escapes whole. Keys and list items are not
  // checked before they get here: what would make the text invalid JSON is
  // escaped (a bare control character) or replaced (a byte outside a
  // well-formed UTF-8 sequence), so the text stays valid whatever it holds.
  size_t run = 0;
  size_t i = 0;
  while (i < size) {
    const unsigned char c = bytes[i];
    if (c >= 0x80) {
      const size_t length = MultiByteSequenceLength(bytes, size, i);
      if (length != 0) {
        i += length;
        continue;
      }
      out->append(value, run, i - run);
      out->append("\\ufffd");
      run = ++i;
      continue;
    }
    const std::string& escape = table.escapes[c];
    if (!escape.empty()) {
      out->append(value, run, i - run);
      out->append(escape);
      run = i + 1;
    }
    ++i;
  }
  out->append(value, run, size - run);
  out->push_back('"');
}

namespace {

constexpr int kNumberPrecision = 15;

void WriteNumber(double value, std::string* out) {
  if (!std::isfinite(value)) {
    // A stream would write "inf" or "nan", which no JSON parser accepts; one
    // such record would make the server refuse its whole batch on every
    // flush.
    out->append("null");
    return;
  }
  // The text of printf's "%.15g" in the C locale, whatever the process's
  // global C++ or C locale is, without building a stream per number.
  char digits[32];
  const std::to_chars_result result =
      std::to_chars(digits, digits + sizeof(digits), value,
                    std::chars_format::general, kNumberPrecision);
  out->append(digits, result.ptr);
}

void WriteInteger(int64_t value, std::string* out) {
  char digits[24];
  char* end = digits + sizeof(digits);
  char* start = end;
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value)
                                 : static_cast<uint64_t>(value);
  do {
    *--start = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) *--start = '-';
  out->append(start, end);
}

void WriteDateTime(const DateTime& value, std::string* out) {
  std::tm local;
  platform::ToLocalTime(value.seconds, &local);
  char buffer[64];
  const int length = std::snprintf(
      buffer, sizeof(buffer), "\"%04d-%02d-%02d %02d:%02d:%02d.%03d\"",
      local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
      local.tm_min, local.tm_sec, static_cast<int>(value.milliseconds));
  if (length > 0) {
    out->append(buffer, static_cast<size_t>(length) < sizeof(buffer)
                            ? static_cast<size_t>(length)
                            : sizeof(buffer) - 1);
  }
}

// The JSON text per payload; a NONE value writes nothing.
struct JsonWriter {
  std::string* out;
  void operator()(double value) const { WriteNumber(value, out); }
  void operator()(int64_t value) const { WriteInteger(value, out); }
  void operator()(const std::string& text) const {
    EscapeJsonString(text, out);
  }
  void operator()(const std::vector<std::string>& list) const {
    out->push_back('[');
    bool first = true;
    for (const std::string& element : list) {
      if (!first) out->push_back(',');
      first = false;
      EscapeJsonString(element, out);
    }
    out->push_back(']');
  }
  void operator()(const DateTime& value) const { WriteDateTime(value, out); }
  void operator()(bool value) const { out->append(value ? "true" : "false"); }
  void operator()(const ObjectNode& object) const { object.ToJson(out); }
  void operator()(std::monostate) const {}
};

}  // namespace

void WriteJsonValue(const ValueNode& value, std::string* out) {
  std::visit(JsonWriter{out}, value.payload);
}

// The payload alternatives are in the order of the kinds' fixed numbers.
static_assert(
    std::is_same_v<
        std::variant_alternative_t<static_cast<size_t>(ValueKind::NUMBER),
                                   ValueNode::Payload>,
        double> &&
        std::is_same_v<
            std::variant_alternative_t<static_cast<size_t>(ValueKind::OBJECT),
                                       ValueNode::Payload>,
            ObjectNode> &&
        std::variant_size_v<ValueNode::Payload> ==
            static_cast<size_t>(ValueKind::NONE) + 1,
    "payload alternatives follow the kind numbers");

}  // namespace utils

}  // namespace analytics
