#include "embedding/standard_codec.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <map>
#include <mutex>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <utility>

namespace flutter {

namespace {

// Wire tags of the standard message format.
constexpr uint8_t kNullTag = 0;
constexpr uint8_t kTrueTag = 1;
constexpr uint8_t kFalseTag = 2;
constexpr uint8_t kInt32Tag = 3;
constexpr uint8_t kInt64Tag = 4;
constexpr uint8_t kLargeIntTag = 5;  // an integer sent as decimal text
constexpr uint8_t kFloat64Tag = 6;
constexpr uint8_t kStringTag = 7;
constexpr uint8_t kUInt8ListTag = 8;
constexpr uint8_t kInt32ListTag = 9;
constexpr uint8_t kInt64ListTag = 10;
constexpr uint8_t kFloat64ListTag = 11;
constexpr uint8_t kListTag = 12;
constexpr uint8_t kMapTag = 13;
constexpr uint8_t kFloat32ListTag = 14;

// Reply envelopes.
constexpr uint8_t kSuccessEnvelope = 0;
constexpr uint8_t kErrorEnvelope = 1;

// What an encoded method call or reply is first given room for.
constexpr size_t kTypicalMessageBytes = 256;

// Lists and maps currently being read on this thread.
thread_local int g_nesting_depth = 0;

class NestingScope {
 public:
  NestingScope() { ++g_nesting_depth; }
  ~NestingScope() { --g_nesting_depth; }
  NestingScope(const NestingScope&) = delete;
  NestingScope& operator=(const NestingScope&) = delete;
};

// Where a size field cannot hold a size: the writer refuses the value.
constexpr uint64_t kMaxWireSize = UINT32_MAX;

bool FitsSizeField(size_t size) {
  return static_cast<uint64_t>(size) <= kMaxWireSize;
}

void LogOversized(size_t size) {
  internal::LogCodecLine(
      "Size too large in StandardCodecSerializer::WriteSize: " +
      std::to_string(size) + " exceeds the size field's 4294967295");
}

// The size field, read through any reader.
template <typename Reader>
size_t ReadSizeField(Reader* stream) {
  const uint8_t byte = stream->ReadByte();
  if (byte < 254) return byte;
  if (byte == 254) {
    uint16_t size = 0;
    stream->ReadBytes(reinterpret_cast<uint8_t*>(&size), sizeof(size));
    return size;
  }
  uint32_t size = 0;
  stream->ReadBytes(reinterpret_cast<uint8_t*>(&size), sizeof(size));
  return size;
}

template <typename Writer>
void WriteSizeField(size_t size, Writer* stream) {
  if (size < 254) {
    stream->WriteByte(static_cast<uint8_t>(size));
  } else if (size <= 0xFFFF) {
    stream->WriteByte(254);
    const uint16_t value = static_cast<uint16_t>(size);
    stream->WriteBytes(reinterpret_cast<const uint8_t*>(&value), sizeof(value));
  } else {
    stream->WriteByte(255);
    const uint32_t value = static_cast<uint32_t>(size);
    stream->WriteBytes(reinterpret_cast<const uint8_t*>(&value), sizeof(value));
  }
}

// Reads one element of a typed list from unaligned bytes; lets a vector be
// built straight from the message, with no zero-fill before the copy.
template <typename T>
class UnalignedIterator {
 public:
  using iterator_category = std::random_access_iterator_tag;
  using value_type = T;
  using difference_type = std::ptrdiff_t;
  using pointer = const T*;
  using reference = T;

  explicit UnalignedIterator(const uint8_t* at) : at_(at) {}
  T operator*() const {
    T value;
    std::memcpy(&value, at_, sizeof(T));
    return value;
  }
  UnalignedIterator& operator++() {
    at_ += sizeof(T);
    return *this;
  }
  UnalignedIterator operator++(int) {
    UnalignedIterator before = *this;
    at_ += sizeof(T);
    return before;
  }
  difference_type operator-(const UnalignedIterator& other) const {
    return (at_ - other.at_) / static_cast<difference_type>(sizeof(T));
  }
  bool operator==(const UnalignedIterator& other) const {
    return at_ == other.at_;
  }
  bool operator!=(const UnalignedIterator& other) const {
    return at_ != other.at_;
  }

 private:
  const uint8_t* at_;
};

// Reads |count| bytes of text. When the message holds fewer, the read fails
// as a short ReadBytes does (logged, reader not moved) and the text is empty:
// a sender must not be able to make us allocate what it never sent.
template <typename Reader>
std::string ReadText(Reader* stream, size_t count) {
  if (count > stream->remaining()) {
    internal::LogCodecLine(internal::kInvalidReadMessage);
    return std::string();
  }
  if constexpr (std::is_same<Reader, ByteBufferStreamReader>::value) {
    const uint8_t* bytes = stream->Take(count);
    return std::string(reinterpret_cast<const char*>(bytes), count);
  } else {
    std::string text(count, '\0');
    if (count > 0) {
      stream->ReadBytes(reinterpret_cast<uint8_t*>(&text[0]), count);
    }
    return text;
  }
}

// Reads a typed list of |count| elements, aligned to the element size. A
// list longer than the rest of the message reads as empty, as text does.
template <typename T, typename Reader>
std::vector<T> ReadTypedList(Reader* stream, size_t count) {
  if constexpr (sizeof(T) > 1) {
    stream->SkipPadding(sizeof(T));
  }
  // count is at most 2^32 - 1, so this cannot overflow.
  const uint64_t byte_count = static_cast<uint64_t>(count) * sizeof(T);
  if (byte_count > stream->remaining()) {
    internal::LogCodecLine(internal::kInvalidReadMessage);
    return std::vector<T>();
  }
  if constexpr (std::is_same<Reader, ByteBufferStreamReader>::value) {
    const uint8_t* bytes = stream->Take(byte_count);
    if (reinterpret_cast<uintptr_t>(bytes) % alignof(T) == 0) {
      // The usual case (elements are aligned from the message start, and
      // message buffers are allocated aligned): one block copy.
      const T* first = reinterpret_cast<const T*>(bytes);
      return std::vector<T>(first, first + count);
    }
    return std::vector<T>(UnalignedIterator<T>(bytes),
                          UnalignedIterator<T>(bytes + byte_count));
  } else {
    std::vector<T> list(count);
    if (count > 0) {
      stream->ReadBytes(reinterpret_cast<uint8_t*>(list.data()),
                        static_cast<size_t>(byte_count));
    }
    return list;
  }
}

// Writes a typed list with its tag and size.
template <typename T, typename Writer>
void WriteTypedList(uint8_t tag, const std::vector<T>& list, Writer* stream) {
  stream->WriteByte(tag);
  WriteSizeField(list.size(), stream);
  if constexpr (sizeof(T) > 1) {
    // Padded even when the list is empty: readers always skip to the
    // alignment, and unpadded output would shift everything after it.
    stream->WritePadding(sizeof(T));
  }
  if (!list.empty()) {
    stream->WriteBytes(reinterpret_cast<const uint8_t*>(list.data()),
                       list.size() * sizeof(T));
  }
}

template <typename Writer, typename T>
void WriteScalar(uint8_t tag, T number, Writer* stream) {
  stream->WriteByte(tag);
  if constexpr (std::is_same<T, double>::value) {
    stream->WritePadding(8);
  }
  stream->WriteBytes(reinterpret_cast<const uint8_t*>(&number), sizeof(number));
}

// Adds a decoded pair; on a duplicate key the first pair stays. Keys from
// our own writer arrive in order, so the end is tried first.
void AddMapEntry(EncodableMap* map, EncodableValue&& key,
                 EncodableValue&& value) {
  auto at = map->end();
  if (!map->empty() && !(std::prev(at)->first < key)) {
    at = map->lower_bound(key);
    if (at != map->end() && !(key < at->first)) return;
  }
  map->emplace_hint(at, std::move(key), std::move(value));
}

// The standard format, shared by the general path (any reader or writer,
// nested values through the serializer's virtual operations) and the fast
// path (the shared serializer on a buffer: nested values directly).
// |Nested| is called as nested(stream) for reads and nested(value, stream)
// for writes.
template <typename Reader, typename Nested>
EncodableValue ReadStandard(uint8_t type, Reader* stream, const Nested& nested);

// Room reserved ahead for a list being read: at most one list on a thread
// holds such room at a time. Reserving at every level of nested lists would
// have each claim the rest of the message (a few bytes per level, gigabytes
// in all); with one holder, what is reserved stays within what the message
// can fill.
thread_local bool g_room_held = false;

class ListRoom {
 public:
  ListRoom() = default;
  ~ListRoom() {
    if (held_) g_room_held = false;
  }
  ListRoom(const ListRoom&) = delete;
  ListRoom& operator=(const ListRoom&) = delete;

  void Reserve(EncodableList* list, size_t elements) {
    if (g_room_held || elements <= list->size()) return;
    list->reserve(elements);
    held_ = g_room_held = true;
  }

 private:
  bool held_ = false;
};

template <typename Reader, typename Nested>
EncodableValue ReadList(Reader* stream, const Nested& nested) {
  // Every element takes at least its tag byte, so a list announcing more
  // elements than the message has bytes is cut short at the end of the
  // message instead of being filled with nulls. For the same reason, once
  // the first element is read, the rest number no more than the bytes left:
  // that much room is reserved then (the first element may be a nested list
  // that takes the whole message), rather than grown into by doubling, which
  // peaks at one and a half times the list.
  const size_t count = ReadSizeField(stream);
  EncodableList list;
  ListRoom room;
  for (size_t i = 0; i < count; ++i) {
    if (stream->remaining() == 0) {
      internal::LogCodecLine(internal::kInvalidReadMessage);
      break;
    }
    list.push_back(nested(stream));
    if (i == 0) {
      room.Reserve(&list, 1 + std::min(count - 1, stream->remaining()));
    }
  }
  return EncodableValue(std::move(list));
}

// Cut short at the end of the message like a list.
template <typename Reader, typename Nested>
EncodableValue ReadMap(Reader* stream, const Nested& nested) {
  const size_t count = ReadSizeField(stream);
  EncodableMap map;
  for (size_t i = 0; i < count; ++i) {
    if (stream->remaining() == 0) {
      internal::LogCodecLine(internal::kInvalidReadMessage);
      break;
    }
    EncodableValue key = nested(stream);
    AddMapEntry(&map, std::move(key), nested(stream));
  }
  return EncodableValue(std::move(map));
}

template <typename Reader, typename Nested>
EncodableValue ReadNesting(uint8_t type, Reader* stream, const Nested& nested) {
  if (g_nesting_depth >= StandardCodecSerializer::kMaxNestingDepth) {
    internal::LogCodecLine(
        "Nesting too deep in StandardCodecSerializer::ReadValueOfType: "
        "more than " +
        std::to_string(StandardCodecSerializer::kMaxNestingDepth) +
        " levels of lists and maps");
    return EncodableValue();
  }
  NestingScope scope;
  return type == kListTag ? ReadList(stream, nested) : ReadMap(stream, nested);
}

template <typename T, typename Reader>
EncodableValue ReadNumber(Reader* stream) {
  if constexpr (std::is_same<T, double>::value) {
    stream->SkipPadding(8);
  }
  T value = 0;
  stream->ReadBytes(reinterpret_cast<uint8_t*>(&value), sizeof(value));
  return EncodableValue(value);
}

template <typename Reader, typename Nested>
EncodableValue ReadStandard(uint8_t type, Reader* stream,
                            const Nested& nested) {
  switch (type) {
    case kNullTag:
      return EncodableValue();
    case kTrueTag:
      return EncodableValue(true);
    case kFalseTag:
      return EncodableValue(false);
    case kInt32Tag:
      return ReadNumber<int32_t>(stream);
    case kInt64Tag:
      return ReadNumber<int64_t>(stream);
    case kFloat64Tag:
      return ReadNumber<double>(stream);
    case kLargeIntTag:
    case kStringTag:
      return EncodableValue(ReadText(stream, ReadSizeField(stream)));
    case kUInt8ListTag:
      return EncodableValue(
          ReadTypedList<uint8_t>(stream, ReadSizeField(stream)));
    case kInt32ListTag:
      return EncodableValue(
          ReadTypedList<int32_t>(stream, ReadSizeField(stream)));
    case kInt64ListTag:
      return EncodableValue(
          ReadTypedList<int64_t>(stream, ReadSizeField(stream)));
    case kFloat64ListTag:
      return EncodableValue(
          ReadTypedList<double>(stream, ReadSizeField(stream)));
    case kFloat32ListTag:
      return EncodableValue(
          ReadTypedList<float>(stream, ReadSizeField(stream)));
    case kListTag:
    case kMapTag:
      return ReadNesting(type, stream, nested);
    default:
      internal::LogCodecLine(
          "Unknown type in StandardCodecSerializer::ReadValueOfType: " +
          std::to_string(static_cast<int>(type)));
      return EncodableValue();
  }
}

// The fast path's reads: nested values go straight back into ReadStandard.
struct DirectRead {
  EncodableValue operator()(ByteBufferStreamReader* stream) const {
    const uint8_t type = stream->ReadByte();
    return ReadStandard(type, stream, *this);
  }
};

template <typename Writer, typename Nested>
void WriteList(const EncodableList& list, Writer* stream,
               const Nested& nested) {
  stream->WriteByte(kListTag);
  WriteSizeField(list.size(), stream);
  for (const EncodableValue& element : list) nested(element, stream);
}

template <typename Writer, typename Nested>
void WriteMap(const EncodableMap& map, Writer* stream, const Nested& nested) {
  stream->WriteByte(kMapTag);
  WriteSizeField(map.size(), stream);
  for (const auto& pair : map) {
    nested(pair.first, stream);
    nested(pair.second, stream);
  }
}

// The size that a value writes into its size field (0 for other values).
size_t WireSize(const EncodableValue& value) {
  switch (value.index()) {
    case 5:
      return std::get<std::string>(value).size();
    case 6:
      return std::get<std::vector<uint8_t>>(value).size();
    case 7:
      return std::get<std::vector<int32_t>>(value).size();
    case 8:
      return std::get<std::vector<int64_t>>(value).size();
    case 9:
      return std::get<std::vector<double>>(value).size();
    case 10:
      return std::get<EncodableList>(value).size();
    case 11:
      return std::get<EncodableMap>(value).size();
    case 13:
      return std::get<std::vector<float>>(value).size();
    default:
      return 0;
  }
}

template <typename Writer>
void WriteString(const std::string& text, Writer* stream) {
  stream->WriteByte(kStringTag);
  WriteSizeField(text.size(), stream);
  if (!text.empty()) {
    stream->WriteBytes(reinterpret_cast<const uint8_t*>(text.data()),
                       text.size());
  }
}

// Writes |value| by its alternative; its size is known to fit.
template <typename Writer, typename Nested>
void WriteAlternative(const EncodableValue& value, Writer* stream,
                      const Nested& nested) {
  switch (value.index()) {
    case 0:
      stream->WriteByte(kNullTag);
      return;
    case 1:
      stream->WriteByte(std::get<bool>(value) ? kTrueTag : kFalseTag);
      return;
    case 2:
      return WriteScalar(kInt32Tag, std::get<int32_t>(value), stream);
    case 3:
      return WriteScalar(kInt64Tag, std::get<int64_t>(value), stream);
    case 4:
      return WriteScalar(kFloat64Tag, std::get<double>(value), stream);
    case 5:
      return WriteString(std::get<std::string>(value), stream);
    case 6:
      return WriteTypedList(kUInt8ListTag,
                            std::get<std::vector<uint8_t>>(value), stream);
    case 7:
      return WriteTypedList(kInt32ListTag,
                            std::get<std::vector<int32_t>>(value), stream);
    case 8:
      return WriteTypedList(kInt64ListTag,
                            std::get<std::vector<int64_t>>(value), stream);
    case 9:
      return WriteTypedList(kFloat64ListTag,
                            std::get<std::vector<double>>(value), stream);
    case 10:
      return WriteList(std::get<EncodableList>(value), stream, nested);
    case 11:
      return WriteMap(std::get<EncodableMap>(value), stream, nested);
    case 12:
      stream->WriteByte(kNullTag);
      internal::LogCodecLine(
          "Unhandled custom type in StandardCodecSerializer::WriteValue. "
          "Custom types require codec extensions.");
      return;
    case 13:
      return WriteTypedList(kFloat32ListTag,
                            std::get<std::vector<float>>(value), stream);
  }
}

template <typename Writer, typename Nested>
void WriteStandard(const EncodableValue& value, Writer* stream,
                   const Nested& nested) {
  const size_t size = WireSize(value);
  if (!FitsSizeField(size)) {
    // A cut size with every byte after it would desynchronise the reader.
    LogOversized(size);
    stream->WriteByte(kNullTag);
    return;
  }
  WriteAlternative(value, stream, nested);
}

// The fast path's writes: nested values go straight back into
// WriteStandard.
struct DirectWrite {
  void operator()(const EncodableValue& value,
                  ByteBufferStreamWriter* stream) const {
    WriteStandard(value, stream, *this);
  }
};

}  // namespace

const StandardCodecSerializer& StandardCodecSerializer::GetInstance() {
  // Never destroyed, so that it outlives every codec and channel.
  static const StandardCodecSerializer* instance =
      new StandardCodecSerializer();
  return *instance;
}

EncodableValue StandardCodecSerializer::ReadValue(
    ByteStreamReader* stream) const {
  uint8_t type = stream->ReadByte();
  return ReadValueOfType(type, stream);
}

// A derived serializer may handle any tag at any depth, so nested values go
// through its virtual operations; only the standard serializer reading a
// buffer takes the direct path.
bool StandardCodecSerializer::IsPlainStandard() const {
  return typeid(*this) == typeid(StandardCodecSerializer);
}

EncodableValue StandardCodecSerializer::ReadValueOfType(
    uint8_t type, ByteStreamReader* stream) const {
  if (IsPlainStandard() && typeid(*stream) == typeid(ByteBufferStreamReader)) {
    return ReadStandard(type, static_cast<ByteBufferStreamReader*>(stream),
                        DirectRead());
  }
  return ReadStandard(type, stream, [this](ByteStreamReader* nested_stream) {
    const uint8_t nested_type = nested_stream->ReadByte();
    return ReadValueOfType(nested_type, nested_stream);
  });
}

void StandardCodecSerializer::WriteValue(const EncodableValue& value,
                                         ByteStreamWriter* stream) const {
  if (IsPlainStandard() && typeid(*stream) == typeid(ByteBufferStreamWriter)) {
    WriteStandard(value, static_cast<ByteBufferStreamWriter*>(stream),
                  DirectWrite());
    return;
  }
  WriteStandard(value, stream,
                [this](const EncodableValue& nested, ByteStreamWriter* out) {
                  WriteValue(nested, out);
                });
}

size_t StandardCodecSerializer::ReadSize(ByteStreamReader* stream) const {
  return ReadSizeField(stream);
}

bool StandardCodecSerializer::WriteSize(size_t size,
                                        ByteStreamWriter* stream) const {
  if (!FitsSizeField(size)) {
    LogOversized(size);
    return false;
  }
  WriteSizeField(size, stream);
  return true;
}

const StandardMethodCodec& StandardMethodCodec::GetInstance(
    const StandardCodecSerializer* serializer) {
  if (serializer == nullptr) {
    serializer = &StandardCodecSerializer::GetInstance();
  }
  // Never destroyed, so that codecs outlive every channel that points at
  // them. Locked, so that codecs may be looked up from any thread.
  struct Registry {
    std::mutex mutex;
    std::map<const StandardCodecSerializer*,
             std::unique_ptr<StandardMethodCodec>>
        codecs;
  };
  static Registry* registry = new Registry();
  std::lock_guard<std::mutex> lock(registry->mutex);
  std::unique_ptr<StandardMethodCodec>& codec = registry->codecs[serializer];
  if (!codec) {
    codec = std::make_unique<StandardMethodCodec>(serializer);
  }
  return *codec;
}

StandardMethodCodec::StandardMethodCodec(
    const StandardCodecSerializer* serializer)
    : serializer_(serializer ? serializer
                             : &StandardCodecSerializer::GetInstance()) {}

std::unique_ptr<MethodCall> StandardMethodCodec::DecodeMethodCall(
    const uint8_t* message, size_t message_size) const {
  ByteBufferStreamReader stream(message, message_size);
  EncodableValue method_name = serializer_->ReadValue(&stream);
  const std::string* name = std::get_if<std::string>(&method_name);
  if (name == nullptr) {
    internal::LogCodecLine("Invalid method call; method name is not a string.");
    return nullptr;
  }
  auto arguments =
      std::make_unique<EncodableValue>(serializer_->ReadValue(&stream));
  return std::make_unique<MethodCall>(*name, std::move(arguments));
}

std::unique_ptr<std::vector<uint8_t>> StandardMethodCodec::EncodeMethodCall(
    const MethodCall& method_call) const {
  auto encoded = std::make_unique<std::vector<uint8_t>>();
  // Room for a typical call, so that small calls never regrow.
  encoded->reserve(kTypicalMessageBytes);
  ByteBufferStreamWriter stream(encoded.get());
  serializer_->WriteValue(EncodableValue(method_call.method_name()), &stream);
  if (method_call.arguments() != nullptr) {
    serializer_->WriteValue(*method_call.arguments(), &stream);
  } else {
    serializer_->WriteValue(EncodableValue(), &stream);
  }
  return encoded;
}

std::unique_ptr<std::vector<uint8_t>> StandardMethodCodec::EncodeSuccessReply(
    const EncodableValue* result) const {
  auto encoded = std::make_unique<std::vector<uint8_t>>();
  encoded->reserve(kTypicalMessageBytes);
  ByteBufferStreamWriter stream(encoded.get());
  stream.WriteByte(kSuccessEnvelope);
  if (result != nullptr) {
    serializer_->WriteValue(*result, &stream);
  } else {
    serializer_->WriteValue(EncodableValue(), &stream);
  }
  return encoded;
}

std::unique_ptr<std::vector<uint8_t>> StandardMethodCodec::EncodeErrorReply(
    const std::string& error_code, const std::string& error_message,
    const EncodableValue* error_details) const {
  auto encoded = std::make_unique<std::vector<uint8_t>>();
  ByteBufferStreamWriter stream(encoded.get());
  stream.WriteByte(kErrorEnvelope);
  serializer_->WriteValue(EncodableValue(error_code), &stream);
  if (error_message.empty()) {
    serializer_->WriteValue(EncodableValue(), &stream);
  } else {
    serializer_->WriteValue(EncodableValue(error_message), &stream);
  }
  if (error_details != nullptr) {
    serializer_->WriteValue(*error_details, &stream);
  } else {
    serializer_->WriteValue(EncodableValue(), &stream);
  }
  return encoded;
}

bool StandardMethodCodec::DecodeReply(const uint8_t* reply, size_t reply_size,
                                      MethodResult* result) const {
  ByteBufferStreamReader stream(reply, reply_size);
  // An empty reply reads as the success envelope with a null value.
  uint8_t envelope = stream.ReadByte();
  if (envelope == kSuccessEnvelope) {
    EncodableValue value = serializer_->ReadValue(&stream);
    if (result != nullptr) {
      if (value.IsNull()) {
        result->Success();
      } else {
        result->Success(value);
      }
    }
    return true;
  }
  if (envelope == kErrorEnvelope) {
    EncodableValue code = serializer_->ReadValue(&stream);
    EncodableValue message = serializer_->ReadValue(&stream);
    EncodableValue details = serializer_->ReadValue(&stream);
    const std::string* code_text = std::get_if<std::string>(&code);
    const std::string* message_text = std::get_if<std::string>(&message);
    if (code_text == nullptr ||
        (message_text == nullptr && !message.IsNull())) {
      internal::LogCodecLine(
          "Invalid error reply; error code or message is not a string.");
      return false;
    }
    if (result != nullptr) {
      result->Error(*code_text, message_text ? *message_text : std::string(),
                    details.IsNull() ? nullptr : &details);
    }
    return true;
  }
  return false;
}

}  // namespace flutter
