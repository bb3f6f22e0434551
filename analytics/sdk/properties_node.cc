#include "analytics/sdk/properties_node.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>
#include <locale>
#include <sstream>
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
ObjectNode::ObjectNode(ObjectNode&& other) = default;
ObjectNode& ObjectNode::operator=(ObjectNode&& other) = default;
ObjectNode::~ObjectNode() = default;

ObjectNode& ObjectNode::operator=(const ObjectNode& other) {
  if (this != &other) entries_ = other.entries_;
  return *this;
}

void ObjectNode::Put(const std::string& key, ValueNode value) {
  entries_[key] = std::move(value);
}

void ObjectNode::SetList(const std::string& key,
                         const std::vector<std::string>& value) {
  ValueNode node;
  node.kind = ValueKind::LIST;
  node.list_value = value;
  Put(key, std::move(node));
}

void ObjectNode::SetObject(const std::string& key, const ObjectNode& value) {
  ValueNode node;
  node.kind = ValueKind::OBJECT;
  node.object_value = value;
  Put(key, std::move(node));
}

void ObjectNode::SetNumber(const std::string& key, double value) {
  ValueNode node;
  node.kind = ValueKind::NUMBER;
  node.scalar.number = value;
  Put(key, std::move(node));
}

void ObjectNode::SetInt(const std::string& key, int64_t value) {
  ValueNode node;
  node.kind = ValueKind::INT;
  node.scalar.integer = value;
  Put(key, std::move(node));
}

void ObjectNode::SetBool(const std::string& key, bool value) {
  ValueNode node;
  node.kind = ValueKind::BOOL;
  node.scalar.boolean = value;
  Put(key, std::move(node));
}

void ObjectNode::SetString(const std::string& key, const std::string& value) {
  if (value.size() > MAX_STRING_PROPERTY_LENGTH) {
    std::cerr << "String property '" << key << "' is too long, value: " << value
              << std::endl;
    return;
  }
  if (!IsValidUtf8(value)) {
    std::cerr << "String property '" << key
              << "' is not valid UTF-8 string, value: " << value << std::endl;
    return;
  }
  ValueNode node;
  node.kind = ValueKind::STRING;
  node.string_value = value;
  Put(key, std::move(node));
}

void ObjectNode::SetString(const std::string& key, const char* value) {
  if (value == nullptr) {
    std::cerr << "String property '" << key << "' value is NULL" << std::endl;
    return;
  }
  SetString(key, std::string(value));
}

void ObjectNode::SetDateTime(const std::string& key, int64_t seconds,
                             int32_t milliseconds) {
  ValueNode node;
  node.kind = ValueKind::DATETIME;
  node.scalar.seconds = seconds;
  node.milliseconds = milliseconds;
  Put(key, std::move(node));
}

void ObjectNode::MergeFrom(const ObjectNode& source) {
  if (&source == this) return;
  for (const auto& entry : source.entries_) {
    entries_[entry.first] = entry.second;
  }
}

const ValueNode* ObjectNode::Find(const std::string& key) const {
  const auto found = entries_.find(key);
  return found == entries_.end() ? nullptr : &found->second;
}

bool ObjectNode::Remove(const std::string& key) {
  return entries_.erase(key) != 0;
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
  node.ToJson(&text);
  return text;
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

void EscapeJsonString(const std::string& value, std::string* out) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(value.data());
  out->push_back('"');
  for (size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    switch (c) {
      case '\b':
        out->append("\\b");
        break;
      case '\t':
        out->append("\\t");
        break;
      case '\n':
        out->append("\\n");
        break;
      case '\f':
        out->append("\\f");
        break;
      case '\r':
        out->append("\\r");
        break;
      case '"':
        out->append("\\\"");
        break;
      case '\\':
        out->append("\\\\");
        break;
      default:
        // Keys are not checked here, nor list items: what would make the
        // text invalid JSON is escaped instead (a bare control character) or
        // replaced (a byte outside a well-formed UTF-8 sequence), so the
        // text stays valid whatever the node holds.
        if (bytes[i] < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof(escaped), "\\u%04x", bytes[i]);
          out->append(escaped);
        } else if (bytes[i] < 0x80) {
          out->push_back(c);
        } else if (const size_t length =
                       MultiByteSequenceLength(bytes, value.size(), i)) {
          out->append(value, i, length);
          i += length - 1;
        } else {
          out->append("\\ufffd");
        }
    }
  }
  out->push_back('"');
}

namespace {

void WriteNumber(double value, std::string* out) {
  if (!std::isfinite(value)) {
    // A stream would write "inf" or "nan", which no JSON parser accepts; one
    // such record would make the server refuse its whole batch on every
    // flush.
    out->append("null");
    return;
  }
  // The classic locale keeps the decimal point a '.' whatever the process's
  // global C++ or C locale is.
  std::ostringstream stream;
  stream.imbue(std::locale::classic());
  stream.precision(15);
  stream << value;
  out->append(stream.str());
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

void WriteDateTime(const ValueNode& value, std::string* out) {
  std::tm local;
  platform::ToLocalTime(value.scalar.seconds, &local);
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

}  // namespace

void WriteJsonValue(const ValueNode& value, std::string* out) {
  switch (value.kind) {
    case ValueKind::NUMBER:
      WriteNumber(value.scalar.number, out);
      break;
    case ValueKind::INT:
      WriteInteger(value.scalar.integer, out);
      break;
    case ValueKind::STRING:
      EscapeJsonString(value.string_value, out);
      break;
    case ValueKind::LIST: {
      out->push_back('[');
      bool first = true;
      for (const std::string& element : value.list_value) {
        if (!first) out->push_back(',');
        first = false;
        EscapeJsonString(element, out);
      }
      out->push_back(']');
      break;
    }
    case ValueKind::DATETIME:
      WriteDateTime(value, out);
      break;
    case ValueKind::BOOL:
      out->append(value.scalar.boolean ? "true" : "false");
      break;
    case ValueKind::OBJECT:
      value.object_value.ToJson(out);
      break;
    case ValueKind::NONE:
      break;
  }
}

}  // namespace utils

void PropertiesNode::SetObject(const std::string& /*key*/,
                               const utils::ObjectNode& /*value*/) {}

}  // namespace analytics
