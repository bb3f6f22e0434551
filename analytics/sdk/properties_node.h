#ifndef QUILLON_ANALYTICS_SDK_PROPERTIES_NODE_H_
#define QUILLON_ANALYTICS_SDK_PROPERTIES_NODE_H_

#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace analytics {

// The longest string property value, in bytes, that the setters accept.
constexpr size_t MAX_STRING_PROPERTY_LENGTH = 8192;

namespace utils {

// Kind tag of a ValueNode. The numbers are fixed.
enum class ValueKind : int32_t {
  NUMBER = 0,
  INT = 1,
  STRING = 2,
  LIST = 3,
  DATETIME = 4,
  BOOL = 5,
  OBJECT = 6,
  NONE = 7,
};

struct ValueNode;

// Orders keys byte by byte, each byte taken as unsigned; a key that is a
// prefix of another sorts first. This is the order of the JSON output.
struct ByteOrder {
  bool operator()(const std::string& a, const std::string& b) const;
};

// An ordered set of uniquely keyed, typed values that writes itself as
// compact JSON object text. Every copy is deep. Setters store a copy of the
// key without checking it; keys are checked when a record is assembled.
// Entries are kept in one vector sorted by ByteOrder: a record's few dozen
// entries cost one allocation instead of one per entry, and keys set in
// order are appended after a single comparison.
class ObjectNode {
 public:
  using Entry = std::pair<std::string, ValueNode>;
  using Entries = std::vector<Entry>;

  ObjectNode();
  ObjectNode(const ObjectNode& other);
  ObjectNode& operator=(const ObjectNode& other);
  // noexcept, so that a growing entry vector moves its entries.
  ObjectNode(ObjectNode&& other) noexcept;
  ObjectNode& operator=(ObjectNode&& other) noexcept;
  ~ObjectNode();

  void SetList(const std::string& key, const std::vector<std::string>& value);
  void SetObject(const std::string& key, const ObjectNode& value);
  // As above, taking the entries of `value` over instead of copying them.
  void SetObject(const std::string& key, ObjectNode&& value);

  void SetNumber(const std::string& key, double value);
  void SetInt(const std::string& key, int64_t value);
  void SetBool(const std::string& key, bool value);
  // Refuses, with a message on std::cerr, a value longer than
  // MAX_STRING_PROPERTY_LENGTH bytes or one that is not valid UTF-8 by
  // IsValidUtf8; the node is then unchanged.
  void SetString(const std::string& key, const std::string& value);
  // As above; a null pointer is reported on std::cerr and ignored.
  void SetString(const std::string& key, const char* value);
  // A point in time: seconds since the Unix epoch plus milliseconds, written
  // as local time.
  void SetDateTime(const std::string& key, int64_t seconds,
                   int32_t milliseconds);

  // Copies every entry of `source` over the entry of the same key here,
  // adding keys this node lacks; keys only this node holds are kept.
  void MergeFrom(const ObjectNode& source);

  // The entry under `key`, or null.
  const ValueNode* Find(const std::string& key) const;
  // Removes the entry under `key`; returns whether there was one.
  bool Remove(const std::string& key);
  void Clear();

  size_t size() const;
  bool empty() const;
  Entries::const_iterator begin() const;
  Entries::const_iterator end() const;

  // Appends this node's JSON object text to *out.
  void ToJson(std::string* out) const;
  // The JSON object text of `node` alone.
  static std::string ToJsonString(const ObjectNode& node);
  // Close to the length of this node's JSON text (exact but for escapes and
  // date-times), so that the text is written without regrowing.
  size_t JsonSizeHint() const;

 private:
  // Stores `value` under `key`, replacing the whole previous value. The value
  // is complete before the old one goes, so a setter may be handed a payload
  // that lives in this node.
  void Put(const std::string& key, ValueNode&& value);
  // Whether SetString takes `value`; says why not on std::cerr.
  static bool IsStringAccepted(const std::string& key,
                               const std::string& value);
  // The first entry whose key does not sort before `key`.
  Entries::iterator LowerBound(const std::string& key);
  Entries::const_iterator LowerBound(const std::string& key) const;

  Entries entries_;
};

// The payload of a DATETIME: seconds since the Unix epoch plus milliseconds.
struct DateTime {
  int64_t seconds = 0;
  int32_t milliseconds = 0;
};

// One typed value: exactly one payload, whose alternative index is its
// ValueKind number.
struct ValueNode {
  using Payload =
      std::variant<double, int64_t, std::string, std::vector<std::string>,
                   DateTime, bool, ObjectNode, std::monostate>;

  ValueKind kind() const { return static_cast<ValueKind>(payload.index()); }

  Payload payload{std::monostate()};
};

// Well-formed UTF-8 (no overlong forms, surrogates or code points above
// U+10FFFF) whose single bytes are printable ASCII, tab, line feed or
// carriage return only.
bool IsValidUtf8(const std::string& value);

// Appends `value` to *out as a JSON string: between double quotes, with
// \b \t \n \f \r, \" and \\ escaped, every other control character as
// \u00XX, every byte outside a well-formed UTF-8 sequence as \ufffd, and
// every other byte copied unchanged; so the text is valid JSON whatever
// `value` holds (keys and list items are not checked on the way in).
void EscapeJsonString(const std::string& value, std::string* out);

// Appends the JSON text of `value` to *out. A NONE value appends nothing.
void WriteJsonValue(const ValueNode& value, std::string* out);

}  // namespace utils

// Event and user-profile properties: an object node that never holds nested
// objects. It has no object setter: nesting one does not compile.
class PropertiesNode : public utils::ObjectNode {
 public:
  void SetObject(const std::string& key,
                 const utils::ObjectNode& value) = delete;
  void SetObject(const std::string& key, utils::ObjectNode&& value) = delete;
};

}  // namespace analytics

#endif  // QUILLON_ANALYTICS_SDK_PROPERTIES_NODE_H_
