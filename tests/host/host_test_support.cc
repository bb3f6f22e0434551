#include "tests/host/host_test_support.h"

#include <sstream>

namespace host_test {

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

std::vector<std::string> MainWindowRecordNames() {
  return {
      "register connectivity_plus_plugin",
      "register desktop_drop_plugin",
      "register desktop_multi_window_plugin",
      "register fvp_plugin",
      "register screen_retriever_windows_plugin",
      "register url_launcher_windows_plugin",
      "register webview_windows_plugin",
      "register window_manager_plugin",
      "callback desktop_multi_window_plugin",
  };
}

}  // namespace host_test
