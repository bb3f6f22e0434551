// Helpers shared by the stand-in engine's tests.
#ifndef QUILLON_TESTS_STANDIN_ENGINE_STANDIN_TEST_SUPPORT_H_
#define QUILLON_TESTS_STANDIN_ENGINE_STANDIN_TEST_SUPPORT_H_

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "interfaces/flutter_windows.h"
#include "standins/engine/standin_control.h"

namespace standin_test {

inline FlutterDesktopEngineRef CreateEngine(
    const std::vector<const char*>& arguments = {}) {
  FlutterDesktopEngineProperties properties{};
  properties.assets_path = L"data\\flutter_assets";
  properties.icu_data_path = L"data\\icudtl.dat";
  properties.aot_library_path = L"data\\app.so";
  properties.dart_entrypoint = "";
  properties.dart_entrypoint_argc = static_cast<int>(arguments.size());
  properties.dart_entrypoint_argv =
      arguments.empty() ? nullptr : const_cast<const char**>(arguments.data());
  return FlutterDesktopEngineCreate(&properties);
}

// Events of `kind` for the engine with `serial`, oldest first.
inline std::vector<StandinEngineEvent> EventsOf(int32_t kind,
                                                int64_t serial = 0) {
  std::vector<StandinEngineEvent> found;
  for (int32_t i = 0; i < StandinEngineEventCount(); ++i) {
    StandinEngineEvent event;
    if (StandinEngineGetEvent(i, &event) == 1 && event.kind == kind &&
        (serial == 0 || event.engine_serial == serial)) {
      found.push_back(event);
    }
  }
  return found;
}

inline std::vector<std::string> DetailsOf(int32_t kind, int64_t serial = 0) {
  std::vector<std::string> details;
  for (const StandinEngineEvent& event : EventsOf(kind, serial)) {
    details.emplace_back(event.detail);
  }
  return details;
}

// Every test starts with default controls and leaves no engine behind.
class StandinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    StandinEngineResetControls();
    StandinEngineSetScriptedUi(0);
  }
  void TearDown() override {
    StandinEngineResetControls();
    EXPECT_EQ(StandinEngineLiveEngineCount(), 0) << "a test leaked an engine";
  }
};

}  // namespace standin_test

#endif  // QUILLON_TESTS_STANDIN_ENGINE_STANDIN_TEST_SUPPORT_H_
