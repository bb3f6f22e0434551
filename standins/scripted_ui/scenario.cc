#include "standins/scripted_ui/scenario.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <map>
#include <sstream>

namespace standin {

namespace {

std::vector<std::string> SplitWords(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream stream(text);
  std::string word;
  while (stream >> word) {
    words.push_back(word);
  }
  return words;
}

// The text after the first `count` words of the line, without the blank that
// separates it from them.
std::string RestAfterWords(const std::string& line, size_t count) {
  size_t position = 0;
  for (size_t i = 0; i < count; ++i) {
    position = line.find_first_not_of(" \t", position);
    if (position == std::string::npos) {
      return std::string();
    }
    position = line.find_first_of(" \t", position);
    if (position == std::string::npos) {
      return std::string();
    }
  }
  return line.substr(position + 1);
}

bool ParseInt32(const std::string& word, int64_t* value) {
  return ParseInteger(word, value) &&
         *value >= std::numeric_limits<int32_t>::min() &&
         *value <= std::numeric_limits<int32_t>::max();
}

bool ParseNumbers(const std::vector<std::string>& words, size_t first,
                  std::vector<int64_t>* numbers) {
  for (size_t i = first; i < words.size(); ++i) {
    int64_t value;
    if (!ParseInteger(words[i], &value)) {
      return false;
    }
    numbers->push_back(value);
  }
  return true;
}

struct SignatureSpec {
  EntrySignature signature;
  size_t arguments;
};

const std::map<std::string, SignatureSpec>& Signatures() {
  static const auto* signatures = new std::map<std::string, SignatureSpec>{
      {"bool()", {EntrySignature::kBool, 0}},
      {"ptr()", {EntrySignature::kPointer, 0}},
      {"void(bool)", {EntrySignature::kVoidBool, 1}},
      {"void(i32,i32)", {EntrySignature::kVoidInt32Int32, 2}},
      {"void(i32)", {EntrySignature::kVoidInt32, 1}},
  };
  return *signatures;
}

// "" when the step has `count` arguments after its keyword, else the error.
std::string WantArguments(const std::vector<std::string>& words, size_t count) {
  return words.size() - 1 == count
             ? std::string()
             : words[0] + " takes " + std::to_string(count) + " argument" +
                   (count == 1 ? "" : "s");
}

// A step parser fills `step` (its kind already set) from one line and its
// words; it returns an error text or "".
using StepParser = std::string (*)(const std::string& line,
                                   const std::vector<std::string>& words,
                                   Step* step);

std::string ParseNoArguments(const std::string&,
                             const std::vector<std::string>& words, Step*) {
  return WantArguments(words, 0);
}

std::string ParseMilliseconds(const std::string&,
                              const std::vector<std::string>& words,
                              Step* step) {
  std::string error = WantArguments(words, 1);
  if (!error.empty()) {
    return error;
  }
  int64_t ms;
  if (!ParseInt32(words[1], &ms) || ms < 0) {
    return "bad milliseconds: " + words[1];
  }
  step->numbers.push_back(ms);
  return std::string();
}

std::string ParseSend(const std::string& line,
                      const std::vector<std::string>& words, Step* step) {
  if (words.size() < 2) {
    return "send needs a channel";
  }
  step->name = words[1];
  if (!ParseHexBytes(RestAfterWords(line, 2), &step->bytes)) {
    return "bad hex bytes";
  }
  return std::string();
}

std::string ParseCall(const std::string&, const std::vector<std::string>& words,
                      Step* step) {
  std::string error = WantArguments(words, 1);
  if (error.empty()) {
    step->name = words[1];
  }
  return error;
}

// The arguments of a table entry, from the sixth word on.
std::string ParseEntryArguments(const std::vector<std::string>& words,
                                Step* step) {
  for (size_t i = 5; i < words.size(); ++i) {
    int64_t value;
    if (step->signature == EntrySignature::kVoidBool) {
      if (words[i] != "true" && words[i] != "false" && words[i] != "1" &&
          words[i] != "0") {
        return "bad bool: " + words[i];
      }
      value = words[i] == "true" || words[i] == "1" ? 1 : 0;
    } else if (!ParseInt32(words[i], &value)) {
      return "bad 32-bit integer: " + words[i];
    }
    step->numbers.push_back(value);
  }
  return std::string();
}

std::string ParseTable(const std::string&,
                       const std::vector<std::string>& words, Step* step) {
  if (words.size() < 5) {
    return "table needs an export, a table, an index and a signature";
  }
  step->name = words[1];
  if (words[2] != "public" && words[2] != "private") {
    return "table must be public or private: " + words[2];
  }
  step->table = words[2] == "public" ? 0 : 1;
  int64_t index;
  if (!ParseInt32(words[3], &index) || index < 0) {
    return "bad index: " + words[3];
  }
  step->index = static_cast<int>(index);
  auto signature = Signatures().find(words[4]);
  if (signature == Signatures().end()) {
    return "unknown signature: " + words[4];
  }
  step->signature = signature->second.signature;
  if (words.size() - 5 != signature->second.arguments) {
    return words[4] + " takes " + std::to_string(signature->second.arguments) +
           " argument(s)";
  }
  return ParseEntryArguments(words, step);
}

// Steps of `count` integer arguments.
std::string ParseIntegers(const std::vector<std::string>& words, size_t count,
                          Step* step) {
  std::string error = WantArguments(words, count);
  if (!error.empty()) {
    return error;
  }
  if (!ParseNumbers(words, 1, &step->numbers)) {
    return "bad number";
  }
  return std::string();
}

std::string ParsePost(const std::string&, const std::vector<std::string>& words,
                      Step* step) {
  return ParseIntegers(words, 3, step);
}

std::string ParsePostLater(const std::string&,
                           const std::vector<std::string>& words, Step* step) {
  return ParseIntegers(words, 4, step);
}

std::string ParseFrameAction(const std::string&,
                             const std::vector<std::string>& words,
                             Step* step) {
  return ParseIntegers(words, 1, step);
}

std::string ParseFrameMove(const std::string&,
                           const std::vector<std::string>& words, Step* step) {
  std::string error = ParseIntegers(words, 5, step);
  if (!error.empty()) {
    return error;
  }
  for (int64_t value : step->numbers) {
    if (value < std::numeric_limits<int32_t>::min() ||
        value > std::numeric_limits<int32_t>::max()) {
      return "frame-move values are 32-bit";
    }
  }
  return std::string();
}

std::string ParseRestOfLine(const std::string& line,
                            const std::vector<std::string>&, Step* step) {
  step->name = RestAfterWords(line, 1);
  return std::string();
}

std::string ParseScreenshot(const std::string& line,
                            const std::vector<std::string>&, Step* step) {
  // The path is the rest of the line: Windows paths may hold blanks.
  std::string path = RestAfterWords(line, 1);
  size_t first = path.find_first_not_of(" \t");
  if (first == std::string::npos) {
    return "screenshot needs a file path";
  }
  step->name = path.substr(first, path.find_last_not_of(" \t") - first + 1);
  return std::string();
}

std::string ParseMethod(const std::string& line,
                        const std::vector<std::string>& words, Step* step) {
  if (words.size() < 3) {
    return "method needs a channel and a method name";
  }
  step->name = words[1];
  step->method = words[2];
  step->value_text = RestAfterWords(line, 3);
  if (step->value_text.find_first_not_of(" \t") == std::string::npos) {
    step->value_text = "null";
  }
  return std::string();
}

struct StepSyntax {
  StepKind kind;
  StepParser parse;
};

const std::map<std::string, StepSyntax>& StepSyntaxes() {
  static const auto* syntaxes = new std::map<std::string, StepSyntax>{
      {"print-args", {StepKind::kPrintArgs, &ParseNoArguments}},
      {"show", {StepKind::kShow, &ParseNoArguments}},
      {"window", {StepKind::kWindow, &ParseNoArguments}},
      {"view", {StepKind::kView, &ParseNoArguments}},
      {"destroy", {StepKind::kDestroy, &ParseNoArguments}},
      {"frame-refresh", {StepKind::kFrameRefresh, &ParseNoArguments}},
      {"wait", {StepKind::kWait, &ParseMilliseconds}},
      {"reply-timeout", {StepKind::kReplyTimeout, &ParseMilliseconds}},
      {"send", {StepKind::kSend, &ParseSend}},
      {"call", {StepKind::kCall, &ParseCall}},
      {"table", {StepKind::kTable, &ParseTable}},
      {"post", {StepKind::kPost, &ParsePost}},
      {"post-later", {StepKind::kPostLater, &ParsePostLater}},
      {"frame-move", {StepKind::kFrameMove, &ParseFrameMove}},
      {"frame-action", {StepKind::kFrameAction, &ParseFrameAction}},
      {"frame-title", {StepKind::kFrameTitle, &ParseRestOfLine}},
      {"echo", {StepKind::kEcho, &ParseRestOfLine}},
      {"screenshot", {StepKind::kScreenshot, &ParseScreenshot}},
      {"method", {StepKind::kMethod, &ParseMethod}},
  };
  return *syntaxes;
}

// Fills `step` from the words of one line; returns an error text or "".
std::string ParseStep(const std::string& line,
                      const std::vector<std::string>& words, Step* step) {
  auto syntax = StepSyntaxes().find(words[0]);
  if (syntax == StepSyntaxes().end()) {
    return "unknown step: " + words[0];
  }
  step->kind = syntax->second.kind;
  return syntax->second.parse(line, words, step);
}

// One line of the scenario: nothing for a blank or comment line, else a step
// or an error.
void ParseLine(const std::string& line, int number, Scenario* scenario) {
  std::vector<std::string> words = SplitWords(line);
  if (words.empty() || words[0][0] == '#') {
    return;
  }
  Step step;
  step.line = number;
  size_t first = line.find_first_not_of(" \t");
  size_t last = line.find_last_not_of(" \t");
  step.text = line.substr(first, last - first + 1);
  std::string error = ParseStep(line, words, &step);
  if (error.empty()) {
    scenario->steps.push_back(std::move(step));
  } else {
    scenario->errors.push_back("line " + std::to_string(number) + ": " + error);
  }
}

}  // namespace

Scenario ParseScenario(const std::string& text) {
  Scenario scenario;
  std::istringstream stream(text);
  std::string line;
  int number = 0;
  while (std::getline(stream, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    if (number == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0) {
      line.erase(0, 3);  // byte-order mark
    }
    ParseLine(line, number, &scenario);
  }
  return scenario;
}

bool ParseInteger(const std::string& word, int64_t* value) {
  std::string digits = word;
  bool negative = !digits.empty() && digits[0] == '-';
  if (negative) {
    digits.erase(0, 1);
  }
  int base = 10;
  if (digits.size() > 2 && digits[0] == '0' &&
      (digits[1] == 'x' || digits[1] == 'X')) {
    base = 16;
    digits.erase(0, 2);
  }
  if (digits.empty() || digits.find_first_not_of(
                            base == 16 ? "0123456789abcdefABCDEF"
                                       : "0123456789") != std::string::npos) {
    return false;
  }
  errno = 0;
  unsigned long long magnitude = std::strtoull(digits.c_str(), nullptr, base);
  if (errno == ERANGE) {
    return false;
  }
  // Hex may spell a full 64-bit pattern (a handle or an lParam); decimal must
  // fit a signed 64-bit value.
  if (negative) {
    if (magnitude > 0x8000000000000000ULL) {
      return false;
    }
    *value = static_cast<int64_t>(0 - magnitude);
  } else {
    if (base == 10 && magnitude > 0x7FFFFFFFFFFFFFFFULL) {
      return false;
    }
    *value = static_cast<int64_t>(magnitude);
  }
  return true;
}

bool ParseHexBytes(const std::string& text, std::vector<uint8_t>* bytes) {
  std::string digits;
  for (char c : text) {
    if (c == ' ' || c == '\t') {
      continue;
    }
    if (!std::isxdigit(static_cast<unsigned char>(c))) {
      return false;
    }
    digits.push_back(c);
  }
  if (digits.size() % 2 != 0) {
    return false;
  }
  bytes->clear();
  for (size_t i = 0; i < digits.size(); i += 2) {
    bytes->push_back(static_cast<uint8_t>(
        std::strtoul(digits.substr(i, 2).c_str(), nullptr, 16)));
  }
  return true;
}

std::string HexBytes(const uint8_t* data, size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    text.push_back(kDigits[data[i] >> 4]);
    text.push_back(kDigits[data[i] & 0x0F]);
  }
  return text;
}

std::string EscapeText(const std::string& text) {
  std::string out;
  for (char c : text) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || c == '\\' || c == ']') {
      char escaped[5];
      std::snprintf(escaped, sizeof(escaped), "\\x%02x", byte);
      out += escaped;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

}  // namespace standin
