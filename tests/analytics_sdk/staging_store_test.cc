#include "analytics/sdk/staging_store.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/analytics_sdk/sdk_test_util.h"
#include "tests/support/stream_capture.h"

namespace analytics {
namespace {

using test_support::StreamCapture;

std::string Record(int n) { return "{\"n\":" + std::to_string(n) + "}"; }

std::string Lines(const std::vector<std::string>& records) {
  std::string text;
  for (const std::string& record : records) text += record + "\n";
  return text;
}

class StagingStoreTest : public testing::Test {
 protected:
  ScratchFolder folder_;
  const std::string file_ = folder_.File("analytics_data.json");
};

TEST_F(StagingStoreTest, EveryRecordIsInTheFileBeforeAddReturns) {
  StagingStore store(file_, 10);
  store.AddRecord(Record(1));
  EXPECT_EQ(ReadFile(file_), Record(1) + "\n");
  store.AddRecord(Record(2));
  EXPECT_EQ(ReadFile(file_), Lines({Record(1), Record(2)}));
  EXPECT_EQ(store.QueuedRecords(),
            (std::vector<std::string>{Record(1), Record(2)}));
}

TEST_F(StagingStoreTest, PastCapacityTheOldestGoFromTheFileToo) {
  StagingStore store(file_, 3);
  StreamCapture capture;
  for (int n = 1; n <= 5; ++n) store.AddRecord(Record(n));
  const std::vector<std::string> newest = {Record(3), Record(4), Record(5)};
  EXPECT_EQ(store.QueuedRecords(), newest);
  EXPECT_EQ(store.QueueLength(), 3u);
  store.Compact();
  EXPECT_EQ(ReadFile(file_), Lines(newest));
  EXPECT_EQ(capture.err(),
            "Analytics SDK dropped 2 oldest staged records: more than 3 "
            "records or 16777216 bytes\n");
}

TEST_F(StagingStoreTest, AppendsPastTheSlackAskForATrim) {
  StagingStore store(file_, 10);
  StreamCapture capture;
  // Capacity 10 allows 2 records of slack before the file is rewritten.
  for (int n = 1; n <= 12; ++n) {
    EXPECT_EQ(store.AddRecord(Record(n)), StagingStore::Follow::kNothing) << n;
  }
  EXPECT_EQ(store.AddRecord(Record(13)), StagingStore::Follow::kCompact);
  store.Compact();
  EXPECT_EQ(Lines(store.QueuedRecords()), ReadFile(file_));
  EXPECT_EQ(store.QueuedRecords().front(), Record(4));
  EXPECT_EQ(store.AddRecord(Record(14)), StagingStore::Follow::kNothing);
}

TEST_F(StagingStoreTest, LogMessagesFollowTheFlag) {
  StagingStore store(file_, 1);
  StreamCapture capture;
  store.AddRecord(Record(1));
  store.SetLogEnabled(true);
  store.AddRecord(Record(2));
  EXPECT_EQ(capture.out(),
            "add record:{\"n\":2}\nrecord is full, delete record\n");
}

TEST_F(StagingStoreTest, ZeroOrNegativeCapacityKeepsNothing) {
  StagingStore zero(file_, 0);
  StagingStore negative(file_, -5);
  StreamCapture capture;
  zero.AddRecord(Record(1));
  negative.AddRecord(Record(1));
  EXPECT_EQ(zero.QueueLength(), 0u);
  EXPECT_EQ(negative.QueueLength(), 0u);
}

TEST_F(StagingStoreTest, FilesOfEarlierVersionsAreTheQueue) {
  WriteFile(file_,
            "{\"f\":1}\r\n"
            "\r\n"
            "{\"f\":2}\n"
            "\n"
            "{\"f\":3} \n"  // does not end in a brace
            " {\"f\":4}\n"  // begins with a blank
            "{}\r\n"
            "{\"f\":5}\n"
            "not a record\n"
            "{\"f\":6}");  // last line without a line end
  StagingStore store(file_, 1000);
  store.AddRecord(Record(1));
  store.AddRecord(Record(2));
  const std::vector<std::string> queue = {"{\"f\":1}", "{\"f\":2}", "{}",
                                          "{\"f\":5}", "{\"f\":6}", Record(1),
                                          Record(2)};
  EXPECT_EQ(store.QueuedRecords(), queue);
  store.Compact();
  EXPECT_EQ(ReadFile(file_), Lines(queue));
}

TEST_F(StagingStoreTest, AnAppendCutShortByAKillBreaksOnlyItsOwnLine) {
  WriteFile(file_, Record(1) + "\n{\"cut\":");
  StagingStore store(file_, 10);
  store.AddRecord(Record(2));
  EXPECT_EQ(store.QueuedRecords(),
            (std::vector<std::string>{Record(1), Record(2)}));
}

TEST_F(StagingStoreTest, OnlyTheNewestRecordsThatFitAreKept) {
  std::string text;
  for (int n = 1; n <= 1200; ++n) {
    text += "{\"line\":" + std::to_string(n) + "}\n";
  }
  WriteFile(file_, text);
  StagingStore store(file_, 1000);
  StreamCapture capture;
  for (int n = 1; n <= 100; ++n) store.AddRecord(Record(n));
  const std::vector<std::string> queued = store.QueuedRecords();
  ASSERT_EQ(queued.size(), 1000u);
  EXPECT_EQ(queued.front(), "{\"line\":301}");
  EXPECT_EQ(queued[899], "{\"line\":1200}");
  EXPECT_EQ(queued[900], Record(1));
  EXPECT_EQ(queued.back(), Record(100));
}

TEST_F(StagingStoreTest, TheQueueIsBoundedInBytesAndRecordLength) {
  StagingLimits limits;
  limits.capacity = 1000;
  limits.max_record_bytes = 20;
  limits.max_total_bytes = 3 * 11;  // three records of 10 bytes + line end
  StagingStore store(file_, limits);
  StreamCapture capture;
  for (int n = 1; n <= 4; ++n) {
    // As the SDK does: a trim when the store asks for one.
    if (store.AddRecord("{\"n\":" + std::to_string(n) + "000}") ==
        StagingStore::Follow::kCompact) {
      store.Compact();
    }
  }
  store.AddRecord("{\"long\":\"0123456789a\"}");
  EXPECT_EQ(store.QueuedRecords(),
            (std::vector<std::string>{"{\"n\":2000}", "{\"n\":3000}",
                                      "{\"n\":4000}"}));
  EXPECT_EQ(ReadFile(file_), "{\"n\":2000}\n{\"n\":3000}\n{\"n\":4000}\n");
  EXPECT_EQ(capture.err(),
            "Analytics SDK dropped 1 oldest staged records: more than 1000 "
            "records or 33 bytes\n"
            "Analytics SDK dropped a record of 22 bytes: longer than 20 "
            "bytes\n");
}

// A staging file of one 1 GiB line (sparse, so it costs no disk) is read
// through in bounded memory and dropped, and the record after it kept.
TEST_F(StagingStoreTest, AGibibyteLineIsDroppedWithoutHoldingIt) {
  ASSERT_TRUE(WriteGibibyteLine(file_));
  StagingStore store(file_, 1000);
  StreamCapture capture;
  store.AddRecord(Record(1));
  const auto start = std::chrono::steady_clock::now();
  store.Compact();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
          .count();
  EXPECT_EQ(ReadFile(file_), Record(1) + "\n");
  EXPECT_EQ(capture.err(),
            "Analytics SDK dropped 1 staged lines longer than 262144 bytes\n");
  EXPECT_LT(seconds, 30.0);
}

// The stand-in for two processes: two stores on one path append to and read
// one queue, and each one's open append handle follows the other's rewrite
// (a handle left on the replaced file would lose every later record).
TEST_F(StagingStoreTest, StoresOnOnePathShareOneQueue) {
  StagingStore first(file_, 100);
  StagingStore second(file_, 100);
  first.AddRecord(Record(1));
  second.AddRecord(Record(2));
  first.AddRecord(Record(3));
  const std::vector<std::string> all = {Record(1), Record(2), Record(3)};
  EXPECT_EQ(first.QueuedRecords(), all);
  EXPECT_EQ(second.QueuedRecords(), all);
  ASSERT_TRUE(first.RemoveSent({Record(1)}, Patience{1000, nullptr}).done());
  second.AddRecord(Record(4));
  first.AddRecord(Record(5));
  EXPECT_EQ(ReadFile(file_),
            Lines({Record(2), Record(3), Record(4), Record(5)}));
#ifndef _WIN32
  // Deleted by hand (a cleaner emptying the temporary folder): the next
  // record starts a new file instead of going to the deleted one. (Windows
  // keeps the name of a file deleted while open until its last handle
  // closes, and Wine does too, so this is checked where it can be.)
  std::remove(file_.c_str());
  second.AddRecord(Record(6));
  EXPECT_EQ(first.QueuedRecords(), std::vector<std::string>{Record(6)});
#endif
}

}  // namespace
}  // namespace analytics
