// Helpers shared by the host tests: the plugin records that the stand-in
// plugin libraries append to the transcript.
#ifndef QUILLON_TESTS_HOST_HOST_TEST_SUPPORT_H_
#define QUILLON_TESTS_HOST_HOST_TEST_SUPPORT_H_

#include <cstdint>
#include <string>
#include <vector>

namespace host_test {

// "plugin <kind> <library> <detail> events=<n>"
struct PluginRecord {
  std::string kind;
  std::string library;
  uintptr_t detail = 0;
  int events = 0;
};

// The plugin records among |lines|, in order.
std::vector<PluginRecord> PluginRecords(const std::vector<std::string>& lines);

// "kind library" of each record, for readable comparisons.
std::vector<std::string> RecordNames(const std::vector<PluginRecord>& records);

// The records the main window leaves, as RecordNames gives them: the eight
// outside plugins in table order, then the sub-window callback.
std::vector<std::string> MainWindowRecordNames();

}  // namespace host_test

#endif  // QUILLON_TESTS_HOST_HOST_TEST_SUPPORT_H_
