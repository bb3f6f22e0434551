// A small readable text form of channel values, used by the scripted user
// interface for method-call arguments and replies (SCENARIO.md):
//
//   null  true  false
//   5  -3            32-bit integer
//   5L  -3L          64-bit integer
//   1.5  -2e3  NaN  Infinity  -Infinity    double (needs '.', 'e' or a name)
//   "text"           string; escapes \" \\ \n \r \t and \xNN (one byte)
//   [1, "a", null]   list
//   {"k": 1, 2: [3]} map
//   u8[1, 2]  i32[1]  i64[1]  f32[1.5]  f64[0.5]    typed lists
//
// Printing writes the same forms, maps in their key order.
//
// The values are the stand-in's own, written from the channel wire rules and
// sharing nothing with the host's embedding layer: the scripted user
// interface encodes and decodes them with its own codec (wire_codec.h), so a
// wire fault made the same way on both sides cannot pass unseen.
#ifndef QUILLON_STANDINS_SCRIPTED_UI_VALUE_NOTATION_H_
#define QUILLON_STANDINS_SCRIPTED_UI_VALUE_NOTATION_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace standin {

// One channel value. The kinds are numbered as the alternatives of the wire
// format's value type, which is also the first key of the map order.
struct NotationValue {
  enum class Kind : uint8_t {
    kNull = 0,
    kBool = 1,
    kInt32 = 2,
    kInt64 = 3,
    kDouble = 4,
    kString = 5,
    kBytes = 6,
    kInt32List = 7,
    kInt64List = 8,
    kDoubleList = 9,
    kList = 10,
    kMap = 11,
    kFloatList = 13,
  };
  Kind kind = Kind::kNull;
  bool flag = false;
  int64_t integer = 0;  // kInt32 and kInt64
  double number = 0;
  std::string text;  // kString
  std::vector<uint8_t> bytes;
  std::vector<int32_t> ints;
  std::vector<int64_t> longs;
  std::vector<double> doubles;
  std::vector<float> floats;
  std::vector<NotationValue> items;  // kList
  // kMap: ascending by ValueLess, unique keys.
  std::vector<std::pair<NotationValue, NotationValue>> entries;
};

// The map key order: kind first, then the value (numbers by value with NaN
// after every other number, texts and typed lists lexicographically by
// unsigned bytes or elements, lists and maps element by element).
bool ValueLess(const NotationValue& a, const NotationValue& b);

// Parses the whole text (blanks around tokens allowed). On failure returns
// false and says why in `error`.
bool ParseValueNotation(const std::string& text, NotationValue* value,
                        std::string* error);

std::string FormatValueNotation(const NotationValue& value);

}  // namespace standin

#endif  // QUILLON_STANDINS_SCRIPTED_UI_VALUE_NOTATION_H_
