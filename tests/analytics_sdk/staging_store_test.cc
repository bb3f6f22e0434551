#include "analytics/sdk/staging_store.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/analytics_sdk/sdk_test_util.h"
#include "tests/support/stream_capture.h"

namespace analytics {
namespace {

using test_support::StreamCapture;

std::string Record(int n) { return "{\"n\":" + std::to_string(n) + "}"; }

class StagingStoreTest : public testing::Test {
 protected:
  std::vector<std::string> Queued(StagingStore& store) {
    return SdkTestPeer::QueuedRecords(store);
  }

  ScratchFolder folder_;
  const std::string file_ = folder_.File("analytics_data.json");
};

TEST_F(StagingStoreTest, DropsTheOldestRecordPastCapacity) {
  StagingStore store(kUnreachableUrl, file_, 3);
  for (int n = 1; n <= 5; ++n) store.AddRecord(Record(n));
  EXPECT_EQ(Queued(store),
            (std::vector<std::string>{Record(3), Record(4), Record(5)}));
  EXPECT_EQ(store.QueueLength(), 3u);
}

TEST_F(StagingStoreTest, LogMessagesFollowTheFlag) {
  StagingStore store(kUnreachableUrl, file_, 1);
  StreamCapture capture;
  store.AddRecord(Record(1));
  store.SetLogEnabled(true);
  store.AddRecord(Record(2));
  EXPECT_EQ(capture.out(),
            "add record:{\"n\":2}\nrecord is full, delete record\n");
}

TEST_F(StagingStoreTest, ZeroOrNegativeCapacityKeepsNothing) {
  StagingStore zero(kUnreachableUrl, file_, 0);
  StagingStore negative(kUnreachableUrl, file_, -5);
  zero.AddRecord(Record(1));
  negative.AddRecord(Record(1));
  EXPECT_EQ(zero.QueueLength(), 0u);
  EXPECT_EQ(negative.QueueLength(), 0u);
}

TEST_F(StagingStoreTest, StagingFileRecordsGoAheadOfQueuedOnes) {
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
  StagingStore store(kUnreachableUrl, file_, 1000);
  store.AddRecord(Record(1));
  store.AddRecord(Record(2));
  store.LoadStagingFile();
  EXPECT_EQ(Queued(store), (std::vector<std::string>{
                               "{\"f\":1}", "{\"f\":2}", "{}", "{\"f\":5}",
                               "{\"f\":6}", Record(1), Record(2)}));
  EXPECT_TRUE(std::filesystem::exists(file_));
  EXPECT_EQ(ReadFile(file_), "");
}

TEST_F(StagingStoreTest, OnlyTheNewestFileRecordsThatFitAreKept) {
  std::string text;
  for (int n = 1; n <= 1200; ++n)
    text += "{\"line\":" + std::to_string(n) + "}\n";
  WriteFile(file_, text);
  StagingStore store(kUnreachableUrl, file_, 1000);
  for (int n = 1; n <= 100; ++n) store.AddRecord(Record(n));
  store.LoadStagingFile();
  const std::vector<std::string> queued = Queued(store);
  ASSERT_EQ(queued.size(), 1000u);
  EXPECT_EQ(queued.front(), "{\"line\":301}");
  EXPECT_EQ(queued[899], "{\"line\":1200}");
  EXPECT_EQ(queued[900], Record(1));
  EXPECT_EQ(queued.back(), Record(100));
}

TEST_F(StagingStoreTest, AFullQueueEmptiesTheFileUnread) {
  WriteFile(file_, "{\"f\":1}\n{\"f\":2}\n");
  StagingStore store(kUnreachableUrl, file_, 2);
  store.AddRecord(Record(1));
  store.AddRecord(Record(2));
  store.LoadStagingFile();
  EXPECT_EQ(Queued(store), (std::vector<std::string>{Record(1), Record(2)}));
  EXPECT_EQ(ReadFile(file_), "");
}

TEST_F(StagingStoreTest, TheFileIsReadOnceAndCreatedWhenMissing) {
  StagingStore store(kUnreachableUrl, file_, 10);
  store.LoadStagingFile();
  EXPECT_TRUE(std::filesystem::exists(file_));
  WriteFile(file_, "{\"late\":1}\n");
  store.LoadStagingFile();
  EXPECT_EQ(store.QueueLength(), 0u);
  EXPECT_EQ(ReadFile(file_), "{\"late\":1}\n");
}

TEST_F(StagingStoreTest, FlushOfAnEmptyQueueMakesNoRequest) {
  StagingStore store(kUnreachableUrl, file_, 10);
  store.SetLogEnabled(true);
  StreamCapture capture;
  EXPECT_TRUE(store.FlushBatch(30, false));
  EXPECT_EQ(capture.out(), "");
  EXPECT_EQ(capture.err(), "");
}

TEST_F(StagingStoreTest, AFailedBatchGoesBackUnlessDropped) {
  StagingStore store(kUnreachableUrl, file_, 10);
  for (int n = 1; n <= 4; ++n) store.AddRecord(Record(n));
  StreamCapture capture;
  EXPECT_FALSE(store.FlushBatch(3, false));
  EXPECT_EQ(Queued(store), (std::vector<std::string>{Record(1), Record(2),
                                                     Record(3), Record(4)}));
  EXPECT_FALSE(store.FlushBatch(3, true));
  EXPECT_EQ(Queued(store), (std::vector<std::string>{Record(4)}));
}

}  // namespace
}  // namespace analytics
