#include "tests/host/host_test_support.h"

#include <cstdio>
#include <sstream>

namespace host_test {

TempFile::TempFile(const wchar_t* prefix) {
  wchar_t folder[MAX_PATH + 1];
  wchar_t file[MAX_PATH + 1];
  GetTempPathW(MAX_PATH + 1, folder);
  GetTempFileNameW(folder, prefix, 0, file);  // creates it, empty
  path_ = file;
}

TempFile::~TempFile() { DeleteFileW(path_.c_str()); }

std::string TempFile::Read() const {
  std::string text;
  FILE* file = _wfopen(path_.c_str(), L"rb");
  if (file == nullptr) {
    return text;
  }
  char buffer[4096];
  size_t count;
  while ((count = std::fread(buffer, 1, sizeof(buffer), file)) > 0) {
    text.append(buffer, count);
  }
  std::fclose(file);
  return text;
}

void TempFile::Write(const std::string& text) const {
  FILE* file = _wfopen(path_.c_str(), L"wb");
  if (file != nullptr) {
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
  }
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  std::string line;
  while (std::getline(stream, line)) {
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    lines.push_back(line);
  }
  return lines;
}

std::vector<PluginRecord> PluginRecords(const std::vector<std::string>& lines) {
  std::vector<PluginRecord> records;
  for (const std::string& line : lines) {
    std::istringstream words(line);
    std::string first;
    std::string detail;
    std::string events;
    PluginRecord record;
    if (!(words >> first) || first != "plugin" ||
        !(words >> record.kind >> record.library >> detail >> events) ||
        events.compare(0, 7, "events=") != 0) {
      continue;
    }
    record.detail = static_cast<uintptr_t>(std::stoull(detail, nullptr, 16));
    record.events = std::stoi(events.substr(7));
    records.push_back(record);
  }
  return records;
}

std::vector<std::string> RecordNames(const std::vector<PluginRecord>& records) {
  std::vector<std::string> names;
  for (const PluginRecord& record : records) {
    names.push_back(record.kind + " " + record.library);
  }
  return names;
}

}  // namespace host_test
