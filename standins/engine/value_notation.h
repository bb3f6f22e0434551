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
// Printing writes the same forms (a custom value prints as "custom", which
// does not parse) and maps in their key order.
#ifndef QUILLON_STANDINS_ENGINE_VALUE_NOTATION_H_
#define QUILLON_STANDINS_ENGINE_VALUE_NOTATION_H_

#include <string>

#include "embedding/encodable_value.h"

namespace standin {

// Parses the whole text (blanks around tokens allowed). On failure returns
// false and says why in `error`.
bool ParseValueNotation(const std::string& text, flutter::EncodableValue* value,
                        std::string* error);

std::string FormatValueNotation(const flutter::EncodableValue& value);

}  // namespace standin

#endif  // QUILLON_STANDINS_ENGINE_VALUE_NOTATION_H_
