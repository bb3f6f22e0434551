// A test program that always fails, run through the Wine harness to show
// that a failing Windows test is reported as failed.
#include <gtest/gtest.h>

TEST(DeliberateFailure, Fails) { FAIL() << "deliberate failure"; }
