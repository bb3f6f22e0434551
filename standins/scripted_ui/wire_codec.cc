#include "standins/scripted_ui/wire_codec.h"

#include <cstdio>
#include <cstring>
#include <utility>

namespace standin {

namespace {

using Kind = NotationValue::Kind;

// Deeper values than any reply of the host; the reader stops there instead
// of exhausting the stack.
constexpr int kMaxDepth = 256;

enum Tag : uint8_t {
  kTagNull = 0,
  kTagTrue = 1,
  kTagFalse = 2,
  kTagInt32 = 3,
  kTagInt64 = 4,
  kTagLargeInt = 5,  // read only: digits, as a string
  kTagDouble = 6,
  kTagString = 7,
  kTagBytes = 8,
  kTagInt32List = 9,
  kTagInt64List = 10,
  kTagDoubleList = 11,
  kTagList = 12,
  kTagMap = 13,
  kTagFloatList = 14,
};

void PutLittleEndian(uint64_t bits, int count, std::vector<uint8_t>* out) {
  for (int i = 0; i < count; ++i) {
    out->push_back(static_cast<uint8_t>(bits >> (8 * i)));
  }
}

void Align(size_t alignment, std::vector<uint8_t>* out) {
  while (out->size() % alignment != 0) {
    out->push_back(0);
  }
}

void PutSize(size_t size, std::vector<uint8_t>* out) {
  if (size < 254) {
    out->push_back(static_cast<uint8_t>(size));
  } else if (size <= 0xFFFF) {
    out->push_back(254);
    PutLittleEndian(size, 2, out);
  } else {
    out->push_back(255);
    PutLittleEndian(size, 4, out);
  }
}

uint64_t DoubleBits(double number) {
  uint64_t bits;
  std::memcpy(&bits, &number, sizeof(bits));
  return bits;
}

uint32_t FloatBits(float number) {
  uint32_t bits;
  std::memcpy(&bits, &number, sizeof(bits));
  return bits;
}

// A typed list: size, padding, then the elements. Padded when empty too: a
// reader skips to the alignment in every case, so an unpadded empty list
// would shift whatever follows it.
template <typename Element, typename Bits>
void PutTypedList(const std::vector<Element>& elements, int width, Bits bits,
                  std::vector<uint8_t>* out) {
  PutSize(elements.size(), out);
  Align(static_cast<size_t>(width), out);
  for (const Element& element : elements) {
    PutLittleEndian(bits(element), width, out);
  }
}

class Reader {
 public:
  Reader(const uint8_t* data, size_t size, size_t offset)
      : data_(data), size_(size), offset_(offset) {}

  size_t offset() const { return offset_; }

  bool Byte(uint8_t* byte) {
    if (offset_ >= size_) {
      return false;
    }
    *byte = data_[offset_++];
    return true;
  }

  bool LittleEndian(int count, uint64_t* bits) {
    if (offset_ > size_ || size_ - offset_ < static_cast<size_t>(count)) {
      return false;
    }
    *bits = 0;
    for (int i = 0; i < count; ++i) {
      *bits |= static_cast<uint64_t>(data_[offset_++]) << (8 * i);
    }
    return true;
  }

  bool Size(size_t* size) {
    uint8_t first;
    uint64_t bits = 0;
    if (!Byte(&first)) {
      return false;
    }
    if (first < 254) {
      *size = first;
      return true;
    }
    if (!LittleEndian(first == 254 ? 2 : 4, &bits)) {
      return false;
    }
    *size = static_cast<size_t>(bits);
    return true;
  }

  // The reader skips padding even before an empty list.
  bool Align(size_t alignment) {
    while (offset_ % alignment != 0) {
      if (offset_ >= size_) {
        return false;
      }
      ++offset_;
    }
    return true;
  }

  // `count` elements of `width` bytes, each handed to `put` as bits.
  template <typename Put>
  bool Elements(size_t count, int width, Put put) {
    if (count > (size_ - offset_) / static_cast<size_t>(width)) {
      return false;  // more than the message holds
    }
    for (size_t i = 0; i < count; ++i) {
      uint64_t bits = 0;
      if (!LittleEndian(width, &bits)) {
        return false;  // cannot happen after the check above
      }
      put(bits);
    }
    return true;
  }

  bool Value(NotationValue* value, int depth);

 private:
  bool TypedList(uint8_t tag, NotationValue* value);
  bool Compound(uint8_t tag, NotationValue* value, int depth);

  const uint8_t* data_;
  size_t size_;
  size_t offset_;
};

bool Reader::TypedList(uint8_t tag, NotationValue* value) {
  size_t count;
  if (!Size(&count)) {
    return false;
  }
  switch (tag) {
    case kTagBytes:
      value->kind = Kind::kBytes;
      return Elements(count, 1, [&](uint64_t bits) {
        value->bytes.push_back(static_cast<uint8_t>(bits));
      });
    case kTagInt32List:
      value->kind = Kind::kInt32List;
      return Align(4) && Elements(count, 4, [&](uint64_t bits) {
               value->ints.push_back(
                   static_cast<int32_t>(static_cast<uint32_t>(bits)));
             });
    case kTagInt64List:
      value->kind = Kind::kInt64List;
      return Align(8) && Elements(count, 8, [&](uint64_t bits) {
               value->longs.push_back(static_cast<int64_t>(bits));
             });
    case kTagDoubleList:
      value->kind = Kind::kDoubleList;
      return Align(8) && Elements(count, 8, [&](uint64_t bits) {
               double number;
               std::memcpy(&number, &bits, sizeof(number));
               value->doubles.push_back(number);
             });
    default:  // kTagFloatList
      value->kind = Kind::kFloatList;
      return Align(4) && Elements(count, 4, [&](uint64_t bits) {
               const uint32_t narrow = static_cast<uint32_t>(bits);
               float number;
               std::memcpy(&number, &narrow, sizeof(number));
               value->floats.push_back(number);
             });
  }
}

bool Reader::Compound(uint8_t tag, NotationValue* value, int depth) {
  size_t count;
  if (!Size(&count)) {
    return false;
  }
  if (tag == kTagString || tag == kTagLargeInt) {
    value->kind = Kind::kString;
    return Elements(count, 1, [&](uint64_t bits) {
      value->text.push_back(static_cast<char>(bits));
    });
  }
  // Every element takes at least one byte.
  if (count > size_ - offset_) {
    return false;
  }
  if (tag == kTagList) {
    value->kind = Kind::kList;
    value->items.resize(count);
    for (NotationValue& item : value->items) {
      if (!Value(&item, depth + 1)) {
        return false;
      }
    }
    return true;
  }
  value->kind = Kind::kMap;
  for (size_t i = 0; i < count; ++i) {
    NotationValue key;
    NotationValue entry;
    if (!Value(&key, depth + 1) || !Value(&entry, depth + 1)) {
      return false;
    }
    // Kept as sent: a map written out of key order shows as such.
    value->entries.emplace_back(std::move(key), std::move(entry));
  }
  return true;
}

bool Reader::Value(NotationValue* value, int depth) {
  uint8_t tag;
  uint64_t bits = 0;
  if (depth > kMaxDepth || !Byte(&tag)) {
    return false;
  }
  *value = NotationValue();
  switch (tag) {
    case kTagNull:
      return true;
    case kTagTrue:
    case kTagFalse:
      value->kind = Kind::kBool;
      value->flag = tag == kTagTrue;
      return true;
    case kTagInt32:
      value->kind = Kind::kInt32;
      if (!LittleEndian(4, &bits)) {
        return false;
      }
      value->integer = static_cast<int32_t>(static_cast<uint32_t>(bits));
      return true;
    case kTagInt64:
      value->kind = Kind::kInt64;
      if (!LittleEndian(8, &bits)) {
        return false;
      }
      value->integer = static_cast<int64_t>(bits);
      return true;
    case kTagDouble:
      value->kind = Kind::kDouble;
      if (!Align(8) || !LittleEndian(8, &bits)) {
        return false;
      }
      std::memcpy(&value->number, &bits, sizeof(bits));
      return true;
    case kTagBytes:
    case kTagInt32List:
    case kTagInt64List:
    case kTagDoubleList:
    case kTagFloatList:
      return TypedList(tag, value);
    case kTagLargeInt:
    case kTagString:
    case kTagList:
    case kTagMap:
      return Compound(tag, value, depth);
    default:
      return false;
  }
}

std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string text;
  char pair[3];
  for (uint8_t byte : bytes) {
    std::snprintf(pair, sizeof(pair), "%02x", byte);
    text += pair;
  }
  return text;
}

// One writer per kind of value: its tag, then its bytes.
using ValueWriter = void (*)(const NotationValue& value,
                             std::vector<uint8_t>* out);

void WriteNull(const NotationValue&, std::vector<uint8_t>* out) {
  out->push_back(kTagNull);
}

void WriteBool(const NotationValue& value, std::vector<uint8_t>* out) {
  out->push_back(value.flag ? kTagTrue : kTagFalse);
}

void WriteInt32(const NotationValue& value, std::vector<uint8_t>* out) {
  out->push_back(kTagInt32);
  PutLittleEndian(static_cast<uint32_t>(value.integer), 4, out);
}

void WriteInt64(const NotationValue& value, std::vector<uint8_t>* out) {
  out->push_back(kTagInt64);
  PutLittleEndian(static_cast<uint64_t>(value.integer), 8, out);
}

void WriteDouble(const NotationValue& value, std::vector<uint8_t>* out) {
  out->push_back(kTagDouble);
  Align(8, out);
  PutLittleEndian(DoubleBits(value.number), 8, out);
}

void WriteString(const NotationValue& value, std::vector<uint8_t>* out) {
  out->push_back(kTagString);
  PutSize(value.text.size(), out);
  out->insert(out->end(), value.text.begin(), value.text.end());
}

void WriteBytes(const NotationValue& value, std::vector<uint8_t>* out) {
  out->push_back(kTagBytes);
  PutSize(value.bytes.size(), out);
  out->insert(out->end(), value.bytes.begin(), value.bytes.end());
}

void WriteInt32List(const NotationValue& value, std::vector<uint8_t>* out) {
  out->push_back(kTagInt32List);
  PutTypedList(
      value.ints, 4, [](int32_t x) { return static_cast<uint32_t>(x); }, out);
}

void WriteInt64List(const NotationValue& value, std::vector<uint8_t>* out) {
  out->push_back(kTagInt64List);
  PutTypedList(
      value.longs, 8, [](int64_t x) { return static_cast<uint64_t>(x); }, out);
}

void WriteDoubleList(const NotationValue& value, std::vector<uint8_t>* out) {
  out->push_back(kTagDoubleList);
  PutTypedList(value.doubles, 8, DoubleBits, out);
}

void WriteFloatList(const NotationValue& value, std::vector<uint8_t>* out) {
  out->push_back(kTagFloatList);
  PutTypedList(value.floats, 4, FloatBits, out);
}

void WriteList(const NotationValue& value, std::vector<uint8_t>* out) {
  out->push_back(kTagList);
  PutSize(value.items.size(), out);
  for (const NotationValue& item : value.items) {
    WriteWireValue(item, out);
  }
}

void WriteMap(const NotationValue& value, std::vector<uint8_t>* out) {
  out->push_back(kTagMap);
  PutSize(value.entries.size(), out);
  for (const auto& [key, entry] : value.entries) {
    WriteWireValue(key, out);
    WriteWireValue(entry, out);
  }
}

const std::pair<Kind, ValueWriter> kValueWriters[] = {
    {Kind::kNull, &WriteNull},
    {Kind::kBool, &WriteBool},
    {Kind::kInt32, &WriteInt32},
    {Kind::kInt64, &WriteInt64},
    {Kind::kDouble, &WriteDouble},
    {Kind::kString, &WriteString},
    {Kind::kBytes, &WriteBytes},
    {Kind::kInt32List, &WriteInt32List},
    {Kind::kInt64List, &WriteInt64List},
    {Kind::kDoubleList, &WriteDoubleList},
    {Kind::kFloatList, &WriteFloatList},
    {Kind::kList, &WriteList},
    {Kind::kMap, &WriteMap},
};

}  // namespace

void WriteWireValue(const NotationValue& value, std::vector<uint8_t>* out) {
  for (const auto& writer : kValueWriters) {
    if (writer.first == value.kind) {
      writer.second(value, out);
      return;
    }
  }
}

bool ReadWireValue(const uint8_t* data, size_t size, size_t* offset,
                   NotationValue* value) {
  Reader reader(data, size, *offset);
  if (!reader.Value(value, 0)) {
    return false;
  }
  *offset = reader.offset();
  return true;
}

std::vector<uint8_t> EncodeMethodCall(const std::string& method,
                                      const NotationValue& arguments) {
  NotationValue name;
  name.kind = Kind::kString;
  name.text = method;
  std::vector<uint8_t> message;
  WriteWireValue(name, &message);
  WriteWireValue(arguments, &message);
  return message;
}

std::string DescribeMethodReply(const std::vector<uint8_t>& reply) {
  if (reply.empty()) {
    return "not-implemented";
  }
  const std::string undecodable = "undecodable " + Hex(reply);
  size_t offset = 1;
  std::vector<NotationValue> values(reply[0] == 0 ? 1 : 3);
  if (reply[0] > 1) {
    return undecodable;
  }
  for (NotationValue& value : values) {
    if (!ReadWireValue(reply.data(), reply.size(), &offset, &value)) {
      return undecodable;
    }
  }
  if (offset != reply.size()) {
    return undecodable;  // a reply is exactly one envelope
  }
  if (reply[0] == 0) {
    return "success " + FormatValueNotation(values[0]);
  }
  NotationValue& message = values[1];
  if (values[0].kind != Kind::kString ||
      (message.kind != Kind::kString && message.kind != Kind::kNull)) {
    return undecodable;
  }
  // An empty message travels as null.
  message.kind = Kind::kString;
  return "error " + FormatValueNotation(values[0]) + " " +
         FormatValueNotation(message) + " " + FormatValueNotation(values[2]);
}

std::string DescribeMethodCall(const uint8_t* data, size_t size) {
  size_t offset = 0;
  NotationValue name;
  NotationValue arguments;
  if (data == nullptr || !ReadWireValue(data, size, &offset, &name) ||
      name.kind != Kind::kString ||
      !ReadWireValue(data, size, &offset, &arguments) || offset != size) {
    return "undecodable " +
           Hex(std::vector<uint8_t>(data, data + (data ? size : 0)));
  }
  return name.text + " " + FormatValueNotation(arguments);
}

}  // namespace standin
