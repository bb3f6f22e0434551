#include "analytics/sdk/event_assembly.h"

#include <cstdlib>
#include <iostream>
#include <utility>

#include "analytics/sdk/random_source.h"
#include "platform/clock.h"

namespace analytics {

namespace {

bool IsAsciiLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

bool IsLengthOfName(const std::string& text) {
  return !text.empty() && text.size() <= kMaxNameLength;
}

}  // namespace

bool IsValidName(const std::string& name) {
  if (!IsLengthOfName(name)) return false;
  const char first = name[0];
  if (!IsAsciiLetter(first) && first != '_' && first != '$') return false;
  for (size_t i = 1; i < name.size(); ++i) {
    const char c = name[i];
    if (!IsAsciiLetter(c) && !IsAsciiDigit(c) && c != '_' && c != '$') {
      return false;
    }
  }
  return true;
}

bool ValidatePropertyKeys(const PropertiesNode& properties) {
  for (const auto& entry : properties) {
    const std::string& key = entry.first;
    if (!IsLengthOfName(key)) {
      std::cerr << "The Property Key is empty or too long, max length is 100";
      return false;
    }
    if (!IsValidName(key)) {
      std::cerr << "The Property Key need to be a valid variable name.";
      return false;
    }
    if (key == "$time" && entry.second.kind() != utils::ValueKind::DATETIME) {
      std::cerr << "The property '$time' should be DateTime type.";
      return false;
    }
    if (key == "$project" && entry.second.kind() != utils::ValueKind::STRING) {
      std::cerr << "The property '$project' should be String type.";
      return false;
    }
  }
  return true;
}

int64_t NowMillis() {
  return (platform::SystemTimeAsFileTime() - platform::kUnixEpochAsFileTime) /
         10000;
}

int32_t MakeTrackId() {
  // The last two digits of 100..198, the last three of 1000..1998 and the
  // last four of the clock, read as one nine-digit number.
  const int32_t first = static_cast<int32_t>(RandomBelow(99));
  const int32_t second = static_cast<int32_t>(RandomBelow(999));
  int64_t clock_digits = NowMillis() % 10000;
  if (clock_digits < 0) clock_digits = -clock_digits;
  return first * 10000000 + second * 10000 + static_cast<int32_t>(clock_digits);
}

utils::ObjectNode MakeLibObject() {
  utils::ObjectNode lib;
  lib.SetString("$lib", "cpp");
  lib.SetString("$lib_method", "code");
  lib.SetString("$lib_version", kLibVersion);
  return lib;
}

bool CheckEventIdentity(const std::string& type, const std::string& event_name,
                        const std::string& original_id) {
  if (type == "track") {
    if (!IsLengthOfName(event_name)) {
      std::cerr << "The Event Name is empty or too long, max length is 100";
      return false;
    }
    if (!IsValidName(event_name)) {
      std::cerr << "The Event Name need to be a valid variable name.";
      return false;
    }
  } else if (type == "track_signup") {
    if (original_id.empty()) {
      std::cerr << "The Original ID is empty." << std::endl;
      return false;
    }
    if (original_id.size() > kMaxIdLength) {
      std::cerr << "The Original ID is too long, max length is 255."
                << std::endl;
      return false;
    }
  }
  return true;
}

int64_t TakeRecordTime(PropertiesNode* properties) {
  // Only a caller's "$time" is checked to be a DATETIME; one that came in
  // unchecked with the super properties must not put every record at 1970.
  int64_t time = 0;
  const utils::ValueNode* time_value = properties->Find("$time");
  const auto* date_time =
      time_value != nullptr ? std::get_if<utils::DateTime>(&time_value->payload)
                            : nullptr;
  if (date_time != nullptr) {
    // Unsigned arithmetic: an absurd date wraps instead of overflowing.
    time = static_cast<int64_t>(
        static_cast<uint64_t>(date_time->seconds) * 1000u +
        static_cast<uint64_t>(static_cast<int64_t>(date_time->milliseconds)));
  } else {
    time = NowMillis();
  }
  properties->Remove("$time");
  return time;
}

std::string TakeProject(PropertiesNode* properties) {
  std::string project;
  const utils::ValueNode* project_value = properties->Find("$project");
  if (project_value != nullptr) {
    if (const auto* text = std::get_if<std::string>(&project_value->payload)) {
      project = *text;
    }
    properties->Remove("$project");
  }
  return project;
}

}  // namespace analytics
