// Linked into every test program that runs the stand-in engine in-process:
// misuse of the engine's interface (a stale or null handle, a second
// response, a second lock on one thread, ...) fails the test during which it
// happened, even when the test itself never looks at the event log. A test
// that provokes misuse on purpose acknowledges it with
// StandinEngineAcknowledgeMisuse().
#include <gtest/gtest.h>

#include <string>

#include "standins/engine/standin_control.h"

namespace {

class MisuseCheck : public testing::EmptyTestEventListener {
  void OnTestStart(const testing::TestInfo& /*test*/) override {
    // Whatever came before belongs to no test of this program.
    StandinEngineAcknowledgeMisuse();
  }
  void OnTestEnd(const testing::TestInfo& /*test*/) override {
    char first[256] = {};
    const int32_t count =
        StandinEngineUnacknowledgedMisuse(first, sizeof(first));
    if (count > 0) {
      // Still the current test: the failure is recorded against it.
      ADD_FAILURE() << count
                    << " misuse(s) of the stand-in engine, first: " << first;
      StandinEngineAcknowledgeMisuse();
    }
  }
};

// End events reach the listeners in reverse order, so this one, appended
// after the result printer, reports before the test's result is printed.
[[maybe_unused]] const bool installed = [] {
  testing::UnitTest::GetInstance()->listeners().Append(new MisuseCheck);
  return true;
}();

}  // namespace
