#include "analytics/plugin/property_conversion.h"

#include <cstdint>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace analytics {

namespace {

using flutter::EncodableList;
using flutter::EncodableValue;

// Why |text| cannot be a string property value, by the rules SetString
// applies; empty when it can.
std::string StringProblem(const std::string& text) {
  if (text.size() > MAX_STRING_PROPERTY_LENGTH) {
    return "longer than " + std::to_string(MAX_STRING_PROPERTY_LENGTH) +
           " bytes";
  }
  if (!utils::IsValidUtf8(text)) return "not valid UTF-8";
  return std::string();
}

// The elements of |list| when every one is a string, else nothing.
std::optional<std::vector<std::string>> StringElements(
    const EncodableList& list) {
  std::vector<std::string> elements;
  elements.reserve(list.size());
  for (const EncodableValue& element : list) {
    const auto* text = std::get_if<std::string>(&element);
    if (text == nullptr) return std::nullopt;
    elements.push_back(*text);
  }
  return elements;
}

// Why a list of strings cannot be a LIST property; empty when it can.
std::string ListProblem(const std::vector<std::string>& elements) {
  for (size_t i = 0; i < elements.size(); ++i) {
    const std::string problem = StringProblem(elements[i]);
    if (!problem.empty()) {
      return "list element " + std::to_string(i) + " is " + problem;
    }
  }
  return std::string();
}

// What the value of |value| is, for a skip reason.
const char* AlternativeName(const EncodableValue& value) {
  static constexpr const char* kNames[] = {
      "null",   "bool",       "int32",      "int64",      "double",
      "string", "uint8 list", "int32 list", "int64 list", "double list",
      "list",   "map",        "custom",     "float list"};
  const size_t index = value.index();
  return index < std::size(kNames) ? kNames[index] : "unknown";
}

}  // namespace

std::string SetProperty(const std::string& key, const EncodableValue& value,
                        PropertiesNode* node) {
  if (const auto* text = std::get_if<std::string>(&value)) {
    // SetString says on std::cerr why it refuses a value.
    node->SetString(key, *text);
    const std::string problem = StringProblem(*text);
    return problem.empty() ? problem : "string " + problem;
  }
  if (const auto* integer = std::get_if<int64_t>(&value)) {
    node->SetInt(key, *integer);
  } else if (const auto* small = std::get_if<int32_t>(&value)) {
    node->SetInt(key, *small);
  } else if (const auto* number = std::get_if<double>(&value)) {
    node->SetNumber(key, *number);
  } else if (const auto* flag = std::get_if<bool>(&value)) {
    node->SetBool(key, *flag);
  } else if (const auto* list = std::get_if<EncodableList>(&value)) {
    const std::optional<std::vector<std::string>> elements =
        StringElements(*list);
    if (!elements) return "a list with an element that is not a string";
    const std::string problem = ListProblem(*elements);
    if (!problem.empty()) return problem;
    node->SetList(key, *elements);
  } else {
    return std::string("unsupported value type ") + AlternativeName(value);
  }
  return std::string();
}

void LogProperty(const std::string& key, const EncodableValue& value) {
  std::cout << "属性: " << key << " = ";
  if (const auto* text = std::get_if<std::string>(&value)) {
    std::cout << *text;
  } else if (const auto* integer = std::get_if<int64_t>(&value)) {
    std::cout << *integer;
  } else if (const auto* small = std::get_if<int32_t>(&value)) {
    std::cout << *small;
  } else if (const auto* number = std::get_if<double>(&value)) {
    std::cout << *number;
  } else if (const auto* flag = std::get_if<bool>(&value)) {
    std::cout << (*flag ? "true" : "false");
  } else if (const auto* list = std::get_if<EncodableList>(&value)) {
    if (const auto elements = StringElements(*list)) {
      const char* separator = "";
      std::cout << '[';
      for (const std::string& element : *elements) {
        std::cout << separator << element;
        separator = ", ";
      }
      std::cout << ']';
    }
  }
  std::cout << std::endl;
}

void LogSkipped(const std::string& key, const std::string& reason) {
  if (reason.empty()) return;
  std::cout << "属性已跳过: " << key << " (" << reason << ")" << std::endl;
}

}  // namespace analytics
