// Helpers shared by the host tests: temporary files and the plugin records
// that the stand-in plugin libraries append to the transcript.
#ifndef QUILLON_TESTS_HOST_HOST_TEST_SUPPORT_H_
#define QUILLON_TESTS_HOST_HOST_TEST_SUPPORT_H_

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace host_test {

// A fresh, empty file in the temporary folder, removed with the object.
class TempFile {
 public:
  explicit TempFile(const wchar_t* prefix);
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  const std::wstring& path() const { return path_; }
  std::string Read() const;
  void Write(const std::string& text) const;

 private:
  std::wstring path_;
};

// "plugin <kind> <library> <detail> events=<n>"
struct PluginRecord {
  std::string kind;
  std::string library;
  uintptr_t detail = 0;
  int events = 0;
};

std::vector<std::string> Lines(const std::string& text);

// The plugin records among |lines|, in order.
std::vector<PluginRecord> PluginRecords(const std::vector<std::string>& lines);

// "kind library" of each record, for readable comparisons.
std::vector<std::string> RecordNames(const std::vector<PluginRecord>& records);

}  // namespace host_test

#endif  // QUILLON_TESTS_HOST_HOST_TEST_SUPPORT_H_
