#include "tests/analytics_plugin/end_to_end_fixture.h"

#include <algorithm>
#include <sstream>
#include <utility>

namespace analytics_e2e {

namespace {

using test_support::CollectionServer;
using test_support::ProgramOptions;
using test_support::ProgramRun;
using test_support::ReadText;

constexpr DWORD kRunTimeoutMs = 90000;

// Long enough for a test to look at files and the server under Wine, short
// enough to keep the run in seconds.
constexpr int kPauseMs = 2000;

}  // namespace

std::vector<MethodReply> MethodReplies(const std::string& transcript) {
  const std::string prefix = "method analytics_plugin ";
  std::vector<MethodReply> replies;
  std::istringstream lines(transcript);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t arrow = line.rfind(" -> ");
    if (line.rfind(prefix, 0) != 0 || arrow == std::string::npos) continue;
    const std::string rest = line.substr(prefix.size());
    replies.push_back({rest.substr(0, rest.find(' ')), line.substr(arrow + 4)});
  }
  return replies;
}

bool Has(const std::string& record, const std::string& part) {
  return record.find(part) != std::string::npos;
}

std::map<std::string, int> EventCounts(
    const std::vector<std::string>& records) {
  const std::string key = "\"event\":\"";
  std::map<std::string, int> counts;
  for (const std::string& record : records) {
    const size_t start = record.find(key);
    if (start == std::string::npos) {
      ++counts[""];
      continue;
    }
    const size_t from = start + key.size();
    ++counts[record.substr(from, record.find('"', from) - from)];
  }
  return counts;
}

void EndToEndTest::SetUp() {
  std::string error;
  server_ = CollectionServer::Start(&error);
  ASSERT_NE(server_, nullptr) << error;
  const auto* info = testing::UnitTest::GetInstance()->current_test_info();
  // Parameterised names hold '/'.
  std::string name = std::string(info->test_suite_name()) + "_" + info->name();
  std::replace(name.begin(), name.end(), '/', '_');
  folder_ = std::filesystem::temp_directory_path() / ("quillon_e2e_" + name);
  std::filesystem::remove_all(folder_);
  temp_ = folder_ / "temp";
  std::filesystem::create_directories(temp_);
}

void EndToEndTest::TearDown() {
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

std::string EndToEndTest::InitializeStep(const std::string& url) const {
  return "method analytics_plugin initialize {\"serverUrl\": \"" + url +
         "\", \"activate\": true, \"enableLog\": true, "
         "\"distinctId\": \"device-e2e\", \"appName\": \"quillon\", "
         "\"appVersion\": \"1.2.7\", \"channel\": \"e2e\"}\n";
}

ProgramOptions EndToEndTest::Options(const std::string& scenario) const {
  ProgramOptions options;
  // The detached-window marker lets this run beside any other instance.
  options.arguments = L"--quillon-detached-window=e2e";
  options.scenario = scenario;
  options.environment = {{L"TMP", temp_.wstring()}, {L"TEMP", temp_.wstring()}};
  options.time_limit_ms = kRunTimeoutMs;
  return options;
}

std::string EndToEndTest::Run(const std::string& scenario) {
  ProgramRun run(Options(scenario));
  return Finish(run);
}

std::string EndToEndTest::RunWithPause(
    const std::string& before, const std::function<void()>& during_pause,
    const std::string& after) {
  ProgramRun run(Options(before + "echo pause\nwait " +
                         std::to_string(kPauseMs) + "\necho resume\n" + after));
  if (run.started()) {
    if (run.WaitForLine("echo pause")) {
      during_pause();
      const std::vector<std::string> lines = run.Transcript();
      EXPECT_EQ(std::find(lines.begin(), lines.end(), "echo resume"),
                lines.end())
          << "the user interface went on before the test's part was done";
    } else {
      ADD_FAILURE() << "the user interface never reached the pause";
    }
  }
  return Finish(run);
}

std::string EndToEndTest::Finish(ProgramRun& run) {
  if (!run.started()) {
    ADD_FAILURE() << "cannot start quillon_pc.exe: error " << run.start_error();
    return std::string();
  }
  const long exit_code = run.Wait();
  if (exit_code == -1) {
    ADD_FAILURE() << "quillon_pc.exe did not end; transcript:\n"
                  << ReadText(run.transcript_path());
  }
  EXPECT_EQ(exit_code, 0);
  return ReadText(run.transcript_path());
}

}  // namespace analytics_e2e
