// Turns the values of a channel map into event and profile properties, and
// says on the console what became of each.
#ifndef QUILLON_ANALYTICS_PLUGIN_PROPERTY_CONVERSION_H_
#define QUILLON_ANALYTICS_PLUGIN_PROPERTY_CONVERSION_H_

#include <string>

#include "analytics/sdk/properties_node.h"
#include "embedding/encodable_value.h"

namespace analytics {

// Sets the property of |key| from a string, a 32- or 64-bit integer, a
// double, a bool or a list of strings (a LIST, each element held to the
// rules of a string property). Returns why the value was left out, or an
// empty string when it was set.
std::string SetProperty(const std::string& key,
                        const flutter::EncodableValue& value,
                        PropertiesNode* node);

// Writes "属性: <key> = <value>" on standard output with the value as the
// console formats it, a list of strings as [a, b]; nothing after " = " for
// another alternative.
void LogProperty(const std::string& key, const flutter::EncodableValue& value);

// Writes "属性已跳过: <key> (<reason>)" on standard output when |reason|
// says a value was left out.
void LogSkipped(const std::string& key, const std::string& reason);

}  // namespace analytics

#endif  // QUILLON_ANALYTICS_PLUGIN_PROPERTY_CONVERSION_H_
