// What the end-to-end tests of the analytics channel share: quillon_pc.exe as
// a black box, its stand-in engine's scripted user interface calling the
// "analytics_plugin" channel step by step, while a session of the local
// collection server receives the uploads. Windows only.
#ifndef QUILLON_TESTS_ANALYTICS_PLUGIN_END_TO_END_FIXTURE_H_
#define QUILLON_TESTS_ANALYTICS_PLUGIN_END_TO_END_FIXTURE_H_

#include <windows.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/support/collection_server.h"
#include "tests/support/program_run.h"

namespace analytics_e2e {

// One answered channel call of the transcript: "method analytics_plugin
// <name> ... -> <outcome>".
struct MethodReply {
  std::string method;
  std::string outcome;
};

std::vector<MethodReply> MethodReplies(const std::string& transcript);

bool Has(const std::string& record, const std::string& part);

// How many of |records| carry each event name; records without one (a
// profile, say) count under "".
std::map<std::string, int> EventCounts(const std::vector<std::string>& records);

class EndToEndTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The "initialize" step for the session's upload address, or |url|.
  std::string InitializeStep() const {
    return InitializeStep(server_->UploadUrl());
  }
  std::string InitializeStep(const std::string& url) const;

  // quillon_pc.exe with |scenario|, its temporary folder (and so its staging
  // file) being temp_.
  test_support::ProgramOptions Options(const std::string& scenario) const;

  // Runs quillon_pc.exe with |scenario| until it ends; returns the
  // transcript.
  std::string Run(const std::string& scenario);

  // Runs |before|, then holds the user interface still while |during_pause|
  // runs, then runs |after|; returns the transcript. The pause is a fixed
  // wait of the scripted UI, checked to outlast |during_pause|.
  std::string RunWithPause(const std::string& before,
                           const std::function<void()>& during_pause,
                           const std::string& after);

  std::filesystem::path StagingPath() const {
    return temp_ / "analytics_data.json";
  }

  std::unique_ptr<test_support::CollectionServer> server_;
  // The test's own folder, removed afterwards.
  std::filesystem::path folder_;
  // The program's temporary folder: folder_/temp unless a test points it
  // elsewhere before running.
  std::filesystem::path temp_;

 private:
  // Waits for the end of |run| and returns its transcript.
  std::string Finish(test_support::ProgramRun& run);
};

}  // namespace analytics_e2e

#endif  // QUILLON_TESTS_ANALYTICS_PLUGIN_END_TO_END_FIXTURE_H_
