#include "embedding/standard_codec.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
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

// Lists and maps currently being read on this thread.
thread_local int g_nesting_depth = 0;

class NestingScope {
 public:
  NestingScope() { ++g_nesting_depth; }
  ~NestingScope() { --g_nesting_depth; }
  NestingScope(const NestingScope&) = delete;
  NestingScope& operator=(const NestingScope&) = delete;
};

// The buffer reader knows how much of the message is left, which lets
// sizes announced by the sender be checked before anything is allocated.
// Other readers cannot tell; their sizes are trusted.
const ByteBufferStreamReader* AsBufferReader(const ByteStreamReader* stream) {
  return dynamic_cast<const ByteBufferStreamReader*>(stream);
}

uint64_t RemainingBytes(const ByteStreamReader* stream) {
  const ByteBufferStreamReader* buffer = AsBufferReader(stream);
  return buffer ? buffer->remaining() : UINT64_MAX;
}

// Reads |count| bytes of text. When the message holds fewer, the read fails
// as a short ReadBytes does (logged, reader not moved) and the text is empty:
// a sender must not be able to make us allocate what it never sent.
std::string ReadText(ByteStreamReader* stream, size_t count) {
  if (count > RemainingBytes(stream)) {
    internal::LogCodecLine(internal::kInvalidReadMessage);
    return std::string();
  }
  std::string text(count, '\0');
  if (count > 0) {
    stream->ReadBytes(reinterpret_cast<uint8_t*>(&text[0]), count);
  }
  return text;
}

// Reads a typed list of |count| elements, aligned to the element size. A
// list longer than the rest of the message reads as empty, as text does.
template <typename T>
std::vector<T> ReadTypedList(ByteStreamReader* stream, size_t count) {
  if constexpr (sizeof(T) > 1) {
    stream->SkipPadding(sizeof(T));
  }
  // count is at most 2^32 - 1, so this cannot overflow.
  uint64_t byte_count = static_cast<uint64_t>(count) * sizeof(T);
  if (byte_count > RemainingBytes(stream)) {
    internal::LogCodecLine(internal::kInvalidReadMessage);
    return std::vector<T>();
  }
  std::vector<T> list(count);
  if (count > 0) {
    stream->ReadBytes(reinterpret_cast<uint8_t*>(list.data()),
                      static_cast<size_t>(byte_count));
  }
  return list;
}

// Writes the elements of a typed list whose tag and size are written.
template <typename T>
void WriteTypedList(const std::vector<T>& list, ByteStreamWriter* stream) {
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

EncodableValue StandardCodecSerializer::ReadValueOfType(
    uint8_t type, ByteStreamReader* stream) const {
  switch (type) {
    case kNullTag:
      return EncodableValue();
    case kTrueTag:
      return EncodableValue(true);
    case kFalseTag:
      return EncodableValue(false);
    case kInt32Tag: {
      int32_t value = 0;
      stream->ReadBytes(reinterpret_cast<uint8_t*>(&value), sizeof(value));
      return EncodableValue(value);
    }
    case kInt64Tag: {
      int64_t value = 0;
      stream->ReadBytes(reinterpret_cast<uint8_t*>(&value), sizeof(value));
      return EncodableValue(value);
    }
    case kFloat64Tag: {
      stream->SkipPadding(8);
      double value = 0;
      stream->ReadBytes(reinterpret_cast<uint8_t*>(&value), sizeof(value));
      return EncodableValue(value);
    }
    case kLargeIntTag:
    case kStringTag:
      return EncodableValue(ReadText(stream, ReadSize(stream)));
    case kUInt8ListTag:
      return EncodableValue(ReadTypedList<uint8_t>(stream, ReadSize(stream)));
    case kInt32ListTag:
      return EncodableValue(ReadTypedList<int32_t>(stream, ReadSize(stream)));
    case kInt64ListTag:
      return EncodableValue(ReadTypedList<int64_t>(stream, ReadSize(stream)));
    case kFloat64ListTag:
      return EncodableValue(ReadTypedList<double>(stream, ReadSize(stream)));
    case kFloat32ListTag:
      return EncodableValue(ReadTypedList<float>(stream, ReadSize(stream)));
    case kListTag:
    case kMapTag: {
      if (g_nesting_depth >= kMaxNestingDepth) {
        internal::LogCodecLine(
            "Nesting too deep in StandardCodecSerializer::ReadValueOfType: "
            "more than " +
            std::to_string(kMaxNestingDepth) + " levels of lists and maps");
        return EncodableValue();
      }
      NestingScope scope;
      return type == kListTag ? ReadList(stream) : ReadMap(stream);
    }
    default:
      internal::LogCodecLine(
          "Unknown type in StandardCodecSerializer::ReadValueOfType: " +
          std::to_string(static_cast<int>(type)));
      return EncodableValue();
  }
}

// Every element takes at least its tag byte, so a list announcing more
// elements than the message has bytes is cut short at the end of the
// message instead of being filled with nulls: that keeps what a sender can
// make us build proportional to what it sent.
EncodableValue StandardCodecSerializer::ReadList(
    ByteStreamReader* stream) const {
  size_t count = ReadSize(stream);
  const ByteBufferStreamReader* buffer = AsBufferReader(stream);
  EncodableList list;
  list.reserve(static_cast<size_t>(
      std::min<uint64_t>(count, buffer ? buffer->remaining() : 0)));
  for (size_t i = 0; i < count; ++i) {
    if (buffer && buffer->remaining() == 0) {
      internal::LogCodecLine(internal::kInvalidReadMessage);
      break;
    }
    uint8_t type = stream->ReadByte();
    list.push_back(ReadValueOfType(type, stream));
  }
  return EncodableValue(std::move(list));
}

// Cut short at the end of the message like a list. On a duplicate key the
// first pair stays.
EncodableValue StandardCodecSerializer::ReadMap(
    ByteStreamReader* stream) const {
  size_t count = ReadSize(stream);
  const ByteBufferStreamReader* buffer = AsBufferReader(stream);
  EncodableMap map;
  for (size_t i = 0; i < count; ++i) {
    if (buffer && buffer->remaining() == 0) {
      internal::LogCodecLine(internal::kInvalidReadMessage);
      break;
    }
    uint8_t key_type = stream->ReadByte();
    EncodableValue key = ReadValueOfType(key_type, stream);
    uint8_t value_type = stream->ReadByte();
    EncodableValue value = ReadValueOfType(value_type, stream);
    if (map.find(key) == map.end()) {
      map.emplace(std::move(key), std::move(value));
    }
  }
  return EncodableValue(std::move(map));
}

void StandardCodecSerializer::WriteValue(const EncodableValue& value,
                                         ByteStreamWriter* stream) const {
  switch (value.index()) {
    case 0:
      stream->WriteByte(kNullTag);
      return;
    case 1:
      stream->WriteByte(std::get<bool>(value) ? kTrueTag : kFalseTag);
      return;
    case 2: {
      int32_t number = std::get<int32_t>(value);
      stream->WriteByte(kInt32Tag);
      stream->WriteBytes(reinterpret_cast<const uint8_t*>(&number),
                         sizeof(number));
      return;
    }
    case 3: {
      int64_t number = std::get<int64_t>(value);
      stream->WriteByte(kInt64Tag);
      stream->WriteBytes(reinterpret_cast<const uint8_t*>(&number),
                         sizeof(number));
      return;
    }
    case 4: {
      double number = std::get<double>(value);
      stream->WriteByte(kFloat64Tag);
      stream->WritePadding(8);
      stream->WriteBytes(reinterpret_cast<const uint8_t*>(&number),
                         sizeof(number));
      return;
    }
    case 5: {
      const std::string& text = std::get<std::string>(value);
      stream->WriteByte(kStringTag);
      WriteSize(text.size(), stream);
      if (!text.empty()) {
        stream->WriteBytes(reinterpret_cast<const uint8_t*>(text.data()),
                           text.size());
      }
      return;
    }
    case 6: {
      const auto& list = std::get<std::vector<uint8_t>>(value);
      stream->WriteByte(kUInt8ListTag);
      WriteSize(list.size(), stream);
      WriteTypedList(list, stream);
      return;
    }
    case 7: {
      const auto& list = std::get<std::vector<int32_t>>(value);
      stream->WriteByte(kInt32ListTag);
      WriteSize(list.size(), stream);
      WriteTypedList(list, stream);
      return;
    }
    case 8: {
      const auto& list = std::get<std::vector<int64_t>>(value);
      stream->WriteByte(kInt64ListTag);
      WriteSize(list.size(), stream);
      WriteTypedList(list, stream);
      return;
    }
    case 9: {
      const auto& list = std::get<std::vector<double>>(value);
      stream->WriteByte(kFloat64ListTag);
      WriteSize(list.size(), stream);
      WriteTypedList(list, stream);
      return;
    }
    case 10: {
      const auto& list = std::get<EncodableList>(value);
      stream->WriteByte(kListTag);
      WriteSize(list.size(), stream);
      for (const EncodableValue& element : list) {
        WriteValue(element, stream);
      }
      return;
    }
    case 11: {
      const auto& map = std::get<EncodableMap>(value);
      stream->WriteByte(kMapTag);
      WriteSize(map.size(), stream);
      for (const auto& pair : map) {
        WriteValue(pair.first, stream);
        WriteValue(pair.second, stream);
      }
      return;
    }
    case 12:
      stream->WriteByte(kNullTag);
      internal::LogCodecLine(
          "Unhandled custom type in StandardCodecSerializer::WriteValue. "
          "Custom types require codec extensions.");
      return;
    case 13: {
      const auto& list = std::get<std::vector<float>>(value);
      stream->WriteByte(kFloat32ListTag);
      WriteSize(list.size(), stream);
      WriteTypedList(list, stream);
      return;
    }
  }
}

size_t StandardCodecSerializer::ReadSize(ByteStreamReader* stream) const {
  uint8_t byte = stream->ReadByte();
  if (byte < 254) {
    return byte;
  }
  if (byte == 254) {
    uint16_t size = 0;
    stream->ReadBytes(reinterpret_cast<uint8_t*>(&size), sizeof(size));
    return size;
  }
  uint32_t size = 0;
  stream->ReadBytes(reinterpret_cast<uint8_t*>(&size), sizeof(size));
  return size;
}

void StandardCodecSerializer::WriteSize(size_t size,
                                        ByteStreamWriter* stream) const {
  if (size < 254) {
    stream->WriteByte(static_cast<uint8_t>(size));
  } else if (size <= 0xFFFF) {
    stream->WriteByte(254);
    uint16_t value = static_cast<uint16_t>(size);
    stream->WriteBytes(reinterpret_cast<const uint8_t*>(&value), sizeof(value));
  } else {
    stream->WriteByte(255);
    uint32_t value = static_cast<uint32_t>(size);
    stream->WriteBytes(reinterpret_cast<const uint8_t*>(&value), sizeof(value));
  }
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
