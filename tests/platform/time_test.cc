#include <chrono>
#include <cstdlib>
#include <ctime>
#include <string>

#include "gtest/gtest.h"
#include "platform/clock.h"
#include "platform/local_time.h"

namespace platform {
namespace {

int64_t SystemClockMillis() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

TEST(ClockTest, FileTimeCountsFrom1601InHundredNanoseconds) {
  const int64_t before = SystemClockMillis();
  const int64_t file_time = SystemTimeAsFileTime();
  const int64_t after = SystemClockMillis();
  const int64_t millis = (file_time - kUnixEpochAsFileTime) / 10000;
  // Clocks of different resolution may disagree by a tick.
  EXPECT_GE(millis, before - 20);
  EXPECT_LE(millis, after + 20);
}

TEST(ClockTest, WholeSecondsAgreeWithTheFileTime) {
  const int64_t seconds = CurrentTimeSeconds();
  const int64_t from_file_time =
      (SystemTimeAsFileTime() - kUnixEpochAsFileTime) / 10000000;
  EXPECT_GE(from_file_time, seconds);
  EXPECT_LE(from_file_time, seconds + 1);
  EXPECT_GT(seconds, 1700000000);  // after November 2023
}

// Sets a fixed zone three hours east of UTC for the whole process.
void UseZoneThreeHoursEast() {
#ifdef _WIN32
  _putenv_s("TZ", "QQQ-3");
  _tzset();
#else
  setenv("TZ", "QQQ-3", 1);
  tzset();
#endif
}

TEST(LocalTimeTest, AppliesTheProcessTimeZone) {
  UseZoneThreeHoursEast();
  std::tm tm;
  // 2025-01-31 05:05:09 UTC
  ASSERT_TRUE(ToLocalTime(1738299909, &tm));
  EXPECT_EQ(tm.tm_year + 1900, 2025);
  EXPECT_EQ(tm.tm_mon + 1, 1);
  EXPECT_EQ(tm.tm_mday, 31);
  EXPECT_EQ(tm.tm_hour, 8);
  EXPECT_EQ(tm.tm_min, 5);
  EXPECT_EQ(tm.tm_sec, 9);
}

#ifdef _WIN32
TEST(LocalTimeTest, RefusedTimeLeavesAZeroedResult) {
  std::tm tm;
  tm.tm_year = 99;
  EXPECT_FALSE(ToLocalTime(-86400 * 400, &tm));
  EXPECT_EQ(tm.tm_year, 0);
  EXPECT_EQ(tm.tm_mday, 0);
}
#endif

}  // namespace
}  // namespace platform
