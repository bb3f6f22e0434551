#ifndef QUILLON_ANALYTICS_SDK_EVENT_ASSEMBLY_H_
#define QUILLON_ANALYTICS_SDK_EVENT_ASSEMBLY_H_

#include <cstdint>
#include <string>

#include "analytics/sdk/properties_node.h"

namespace analytics {

// The SDK version every record and the super properties carry.
constexpr char kLibVersion[] = "1.1.1";

// The longest event name or property key, in bytes.
constexpr size_t kMaxNameLength = 100;
// The longest distinct, login or original id, in bytes.
constexpr size_t kMaxIdLength = 255;

// 1 to 100 bytes; the first an ASCII letter, '_' or '$'; the others ASCII
// letters, digits, '_' or '$'.
bool IsValidName(const std::string& name);

// Checks every key of `properties` in key order and stops at the first
// failure, which it reports on std::cerr (without a line end): a key that is
// empty or too long, not a valid name, "$time" that is not a DATETIME or
// "$project" that is not a STRING.
bool ValidatePropertyKeys(const PropertiesNode& properties);

// The checks of a record's kind: a "track" event name of 1 to 100 bytes
// that is a valid name, a "track_signup" original id of 1 to 255 bytes. The
// first failure is reported on std::cerr.
bool CheckEventIdentity(const std::string& type, const std::string& event_name,
                        const std::string& original_id);

// Removes "$time" from *properties; the record time it gave in milliseconds
// when it was a DATETIME, else the current time.
int64_t TakeRecordTime(PropertiesNode* properties);

// Removes "$project" from *properties; its text when it was a STRING, else
// the empty string.
std::string TakeProject(PropertiesNode* properties);

// A pseudo-random record id of at most nine digits: two digits and three
// digits drawn from the process's entropy-seeded generator
// (RandomBelow), then the last four digits of the millisecond
// clock.
int32_t MakeTrackId();

// Whole milliseconds since 1970-01-01 00:00 UTC by the wall clock.
int64_t NowMillis();

// The "lib" object of every record.
utils::ObjectNode MakeLibObject();

}  // namespace analytics

#endif  // QUILLON_ANALYTICS_SDK_EVENT_ASSEMBLY_H_
