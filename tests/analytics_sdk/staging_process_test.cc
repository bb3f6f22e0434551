// Processes that share one staging file: one killed right after tracking,
// and two (the main and a detached-window instance) tracking and flushing
// side by side. The test program runs itself as the child processes.

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "analytics/sdk/sdk.h"
#include "gtest/gtest.h"
#include "tests/analytics_sdk/sdk_test_util.h"
#include "tests/support/collection_server.h"
#include "tests/support/stream_capture.h"

namespace analytics {
namespace {

using test_support::CollectionServer;

constexpr char kChildTest[] =
    "--gtest_filter=StagingChild.DISABLED_TrackAndFinish";

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

void SetEnv(const std::string& name, const std::string& value) {
#ifdef _WIN32
  _putenv_s(name.c_str(), value.c_str());
#else
  setenv(name.c_str(), value.c_str(), 1);
#endif
}

// A running copy of this program in child mode; Wait() gives its exit code.
class Child {
 public:
  // |mode| "kill": track, then die without any clean-up; "share": track
  // and flush along the way, then end normally.
  Child(const std::string& mode, const std::string& staging_path,
        const std::string& url, int first, int count) {
    SetEnv("QUILLON_CHILD_MODE", mode);
    SetEnv("QUILLON_CHILD_PATH", staging_path);
    SetEnv("QUILLON_CHILD_URL", url);
    SetEnv("QUILLON_CHILD_FIRST", std::to_string(first));
    SetEnv("QUILLON_CHILD_COUNT", std::to_string(count));
#ifdef _WIN32
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command =
        L"\"" + std::wstring(self) + L"\" " +
        std::wstring(kChildTest, kChildTest + sizeof(kChildTest) - 1) +
        L" --gtest_also_run_disabled_tests";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0,
                       nullptr, nullptr, &startup, &info)) {
      CloseHandle(info.hThread);
      process_ = info.hProcess;
    }
#else
    std::vector<std::string> args = {"/proc/self/exe", kChildTest,
                                     "--gtest_also_run_disabled_tests"};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) !=
        0) {
      pid_ = 0;
    }
#endif
    SetEnv("QUILLON_CHILD_MODE", "");
  }

  bool started() const {
#ifdef _WIN32
    return process_ != nullptr;
#else
    return pid_ != 0;
#endif
  }

  // The exit code; for a killed native child 128 + the signal.
  int Wait() {
#ifdef _WIN32
    WaitForSingleObject(process_, 60000);
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    CloseHandle(process_);
    return static_cast<int>(code);
#else
    int status = 0;
    waitpid(pid_, &status, 0);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
#endif
  }

 private:
#ifdef _WIN32
  HANDLE process_ = nullptr;
#else
  pid_t pid_ = 0;
#endif
};

constexpr int kKilledExitCode = 128 + 9;

[[noreturn]] void DieAtOnce() {
#ifdef _WIN32
  TerminateProcess(GetCurrentProcess(), kKilledExitCode);
#else
  raise(SIGKILL);
#endif
  std::abort();
}

void TrackNumbered(Sdk& sdk, int seq) {
  PropertiesNode properties;
  properties.SetInt("seq", seq);
  sdk.Track("numbered", properties);
}

// The child's part; skipped unless this program was started as a child.
TEST(StagingChild, DISABLED_TrackAndFinish) {
  const std::string mode = Env("QUILLON_CHILD_MODE");
  if (mode.empty()) GTEST_SKIP();
  test_support::StreamCapture quiet;
  const std::unique_ptr<Sdk> sdk =
      Sdk::Create(Env("QUILLON_CHILD_PATH"), Env("QUILLON_CHILD_URL"), "child",
                  false, 1000);
  ASSERT_NE(sdk, nullptr);
  const int first = std::atoi(Env("QUILLON_CHILD_FIRST").c_str());
  const int count = std::atoi(Env("QUILLON_CHILD_COUNT").c_str());
  for (int seq = first; seq < first + count; ++seq) {
    TrackNumbered(*sdk, seq);
    if (mode == "share" && (seq - first) % 10 == 9) sdk->Flush();
  }
  if (mode == "kill") DieAtOnce();
  for (int attempt = 0; attempt < 3 && !sdk->Flush(); ++attempt) {
  }
  sdk->StopBackgroundWork();
}

std::vector<long long> Range(int first, int count) {
  std::vector<long long> numbers;
  for (int seq = first; seq < first + count; ++seq) numbers.push_back(seq);
  return numbers;
}

class StagingProcessTest : public SdkTest {
 protected:
  void SetUp() override {
    std::string error;
    server_ = CollectionServer::Start(&error);
    ASSERT_NE(server_, nullptr) << error;
  }

  std::unique_ptr<CollectionServer> server_;
  const std::string staging_file_ = folder_.File("analytics_data.json");
};

TEST_F(StagingProcessTest, AProcessKilledAfterTrackingLosesNothing) {
  Child child("kill", staging_file_, server_->UploadUrl(), 1, 50);
  ASSERT_TRUE(child.started());
  EXPECT_EQ(child.Wait(), kKilledExitCode);
  EXPECT_TRUE(server_->Records().empty());

  // The next start uploads them with their original text, each once.
  const std::string staged = ReadFile(staging_file_);
  test_support::StreamCapture quiet;
  ASSERT_TRUE(Start(staging_file_, server_->UploadUrl(), "next", false, 1000));
  EXPECT_TRUE(sdk_->Flush());
  const std::vector<std::string> records = server_->Records();
  EXPECT_EQ(Sequence(records), Range(1, 50));
  std::string sent;
  for (const std::string& record : records) sent += record + "\n";
  EXPECT_EQ(sent, staged);
  EXPECT_EQ(ReadFile(staging_file_), "");
}

TEST_F(StagingProcessTest, TwoProcessesOnOneFileNeitherLoseNorRepeat) {
  // Slow answers make the two processes' flushes overlap.
  ASSERT_TRUE(server_->Delay(0.05));
  Child main_instance("share", staging_file_, server_->UploadUrl(), 1, 150);
  Child detached("share", staging_file_, server_->UploadUrl(), 1001, 150);
  ASSERT_TRUE(main_instance.started());
  ASSERT_TRUE(detached.started());
  EXPECT_EQ(main_instance.Wait(), 0);
  EXPECT_EQ(detached.Wait(), 0);
  // Whatever either left behind goes now.
  test_support::StreamCapture quiet;
  ASSERT_TRUE(Start(staging_file_, server_->UploadUrl(), "after", false, 1000));
  EXPECT_TRUE(sdk_->Flush());

  std::vector<long long> received = Sequence(server_->Records());
  std::vector<long long> from_main, from_detached;
  for (const long long seq : received) {
    (seq < 1001 ? from_main : from_detached).push_back(seq);
  }
  // Each process's records arrive once each, in the order they were made.
  EXPECT_EQ(from_main, Range(1, 150));
  EXPECT_EQ(from_detached, Range(1001, 150));
}

}  // namespace
}  // namespace analytics
