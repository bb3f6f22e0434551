#ifndef QUILLON_TESTS_ANALYTICS_SDK_SDK_TEST_UTIL_H_
#define QUILLON_TESTS_ANALYTICS_SDK_SDK_TEST_UTIL_H_

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "analytics/sdk/sdk.h"
#include "analytics/sdk/testing/sdk_test_peer.h"
#include "gtest/gtest.h"

namespace analytics {

// A server address nothing listens on: any upload attempt fails fast and
// prints "Analytics SDK send failed: ".
inline const char kUnreachableUrl[] = "http://127.0.0.1:9/unused";

// A fresh, empty folder for one test's staging file, removed afterwards.
class ScratchFolder {
 public:
  ScratchFolder() {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = "quillon_sdk_";
    if (info != nullptr) {
      name += std::string(info->test_suite_name()) + "_" + info->name();
    }
    path_ = std::filesystem::temp_directory_path() / name;
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string File(const std::string& name) const {
    return (path_ / name).string();
  }

 private:
  std::filesystem::path path_;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// A record text with its varying track id and time replaced by ID and TIME.
inline std::string Normalized(const std::string& record) {
  static const std::regex track_id("\"_track_id\":[0-9]+");
  static const std::regex time("\"time\":-?[0-9]+");
  return std::regex_replace(
      std::regex_replace(record, track_id, "\"_track_id\":ID"), time,
      "\"time\":TIME");
}

// The integer after "\"<key>\":" in a record text, or -1.
inline long long IntField(const std::string& record, const std::string& key) {
  const std::string marker = "\"" + key + "\":";
  const size_t at = record.find(marker);
  if (at == std::string::npos) return -1;
  return std::stoll(record.substr(at + marker.size()));
}

// The "seq" integers of record texts, in order.
inline std::vector<long long> Sequence(
    const std::vector<std::string>& records) {
  std::vector<long long> numbers;
  for (const std::string& record : records) {
    numbers.push_back(IntField(record, "seq"));
  }
  return numbers;
}

// Writes a staging file of one record-like line of 1 GiB, sparse so that it
// costs no disk space.
inline bool WriteGibibyteLine(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fputc('{', file) != EOF &&
                       std::fseek(file, (1L << 30) - 2, SEEK_SET) == 0 &&
                       std::fputs("}\n", file) != EOF;
  return std::fclose(file) == 0 && written;
}

// Gives every test a scratch folder and the SDK it starts, destroyed (and
// so stopped) before the folder goes.
class SdkTest : public testing::Test {
 protected:
  // Makes sdk_ by Sdk::Create; false when it refused.
  bool Start(const std::filesystem::path& staging_file_path,
             const std::string& server_url, const std::string& distinct_id,
             bool is_login_id, int32_t max_staging_records) {
    sdk_ = Sdk::Create(staging_file_path, server_url, distinct_id, is_login_id,
                       max_staging_records);
    return sdk_ != nullptr;
  }

  SdkTestPeer Peer() { return SdkTestPeer(*sdk_); }
  std::vector<std::string> Queued() { return Peer().QueuedRecords(); }

  ScratchFolder folder_;
  std::unique_ptr<Sdk> sdk_;
};

}  // namespace analytics

#endif  // QUILLON_TESTS_ANALYTICS_SDK_SDK_TEST_UTIL_H_
