// The scripted user interface's scenario format (SCENARIO.md): parsing the
// text into steps and the small text helpers of the transcript.
#ifndef QUILLON_STANDINS_SCRIPTED_UI_SCENARIO_H_
#define QUILLON_STANDINS_SCRIPTED_UI_SCENARIO_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace standin {

enum class StepKind {
  kPrintArgs,
  kShow,
  kWait,
  kSend,
  kCall,
  kTable,
  kPost,
  kPostLater,
  kFrameMove,
  kFrameTitle,
  kFrameRefresh,
  kFrameAction,
  kWindow,
  kView,
  kDestroy,
  kEcho,
  kReplyTimeout,
  kMethod,
  kScreenshot,
};

// Signatures of table entries the scenario can call.
enum class EntrySignature {
  kBool,            // bool()
  kPointer,         // void*()
  kVoidBool,        // void(bool)
  kVoidInt32Int32,  // void(int32_t, int32_t)
  kVoidInt32,       // void(int32_t)
};

struct Step {
  int line = 0;
  std::string text;  // the line without surrounding blanks, for the transcript
  StepKind kind = StepKind::kEcho;
  // Channel (send, method), export name (call, table), text (frame-title,
  // echo) or file path (screenshot).
  std::string name;
  std::string method;          // method: the method name
  std::string value_text;      // method: the arguments in value notation
  std::vector<uint8_t> bytes;  // send: the payload
  int table = 0;               // table: 0 public, 1 private
  int index = 0;               // table: entry position
  EntrySignature signature = EntrySignature::kBool;
  // wait, reply-timeout: milliseconds; post: message, wparam, lparam;
  // frame-move: x, y, width, height, flags; frame-action: wparam; table: the
  // arguments of the entry.
  std::vector<int64_t> numbers;
};

struct Scenario {
  std::vector<Step> steps;
  std::vector<std::string> errors;  // "line N: what", in line order
};

// Parses a scenario text. Lines that cannot be parsed are reported in
// `errors` and left out of `steps`.
Scenario ParseScenario(const std::string& text);

// Decimal or 0x-prefixed hexadecimal integer with an optional minus sign.
bool ParseInteger(const std::string& word, int64_t* value);

// Hex digit pairs; spaces between them are ignored. Empty text is no bytes.
bool ParseHexBytes(const std::string& text, std::vector<uint8_t>* bytes);

// Lower-case hex digits, two per byte, no separators.
std::string HexBytes(const uint8_t* data, size_t size);

// The text with control bytes, DEL, '\' and ']' written as \xNN, so it stays
// on one transcript line and inside its brackets.
std::string EscapeText(const std::string& text);

}  // namespace standin

#endif  // QUILLON_STANDINS_SCRIPTED_UI_SCENARIO_H_
