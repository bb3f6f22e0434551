// Flushes against the local collection server, which decodes every upload
// and keeps the records it accepted.

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "analytics/sdk/sdk.h"
#include "analytics/sdk/staging_store.h"
#include "gtest/gtest.h"
#include "tests/analytics_sdk/sdk_test_util.h"
#include "tests/support/stream_capture.h"
#include "tests/support/collection_server.h"

namespace analytics {
namespace {

using test_support::StreamCapture;

using test_support::CollectionServer;

// The number of records in a batch text.
size_t RecordsIn(const std::string& batch) {
  size_t count = 0;
  for (size_t at = batch.find("\"_track_id\""); at != std::string::npos;
       at = batch.find("\"_track_id\"", at + 1)) {
    ++count;
  }
  return count;
}

std::vector<long long> Sequence(const std::vector<std::string>& records) {
  std::vector<long long> numbers;
  for (const std::string& record : records) {
    numbers.push_back(IntField(record, "seq"));
  }
  return numbers;
}

class FlushTest : public SdkTest {
 protected:
  void SetUp() override {
    std::string error;
    server_ = CollectionServer::Start(&error);
    ASSERT_NE(server_, nullptr) << error;
  }

  bool InitWithCapacity(int32_t capacity) {
    return Sdk::Init(staging_file_, server_->UploadUrl(), "user", false,
                     capacity);
  }

  // Tracks events whose "seq" runs from `first` to `last`.
  static void TrackRange(int first, int last) {
    for (int seq = first; seq <= last; ++seq) {
      PropertiesNode properties;
      properties.SetInt("seq", seq);
      Sdk::Track("numbered", properties);
    }
  }

  std::unique_ptr<CollectionServer> server_;
  const std::string staging_file_ = folder_.File("analytics_data.json");
};

TEST_F(FlushTest, OverCapacityTheNewestRecordsGoInOrderInBatchesOfThirty) {
  ASSERT_TRUE(InitWithCapacity(1000));
  StreamCapture capture;
  TrackRange(1, 1001);
  EXPECT_TRUE(Sdk::Flush());
  EXPECT_EQ(capture.err(), "");
  EXPECT_EQ(SdkTestPeer::staging_store().QueueLength(), 0u);

  const std::vector<long long> received = Sequence(server_->Records());
  ASSERT_EQ(received.size(), 1000u);
  for (size_t i = 0; i < received.size(); ++i) {
    ASSERT_EQ(received[i], static_cast<long long>(i) + 2);
  }
  const std::vector<std::string> batches = server_->Batches();
  ASSERT_EQ(batches.size(), 34u);
  for (size_t i = 0; i < 33; ++i) EXPECT_EQ(RecordsIn(batches[i]), 30u);
  EXPECT_EQ(RecordsIn(batches[33]), 10u);
}

TEST_F(FlushTest, SixtyFiveRecordsGoAsThirtyThirtyFive) {
  ASSERT_TRUE(InitWithCapacity(1000));
  StreamCapture capture;
  TrackRange(1, 65);
  EXPECT_TRUE(Sdk::Flush());
  std::vector<size_t> sizes;
  for (const std::string& batch : server_->Batches()) {
    sizes.push_back(RecordsIn(batch));
  }
  EXPECT_EQ(sizes, (std::vector<size_t>{30, 30, 5}));
  EXPECT_EQ(server_->Records().size(), 65u);
}

TEST_F(FlushTest, AFailedBatchStopsTheFlushAndIsSentFirstNextTime) {
  ASSERT_TRUE(InitWithCapacity(1000));
  StreamCapture capture;
  TrackRange(1, 65);
  const std::vector<std::string> staged = Queued();
  ASSERT_TRUE(server_->AnswerStatus(500, "busy", 1));
  EXPECT_FALSE(Sdk::Flush());
  EXPECT_EQ(capture.err(), "Analytics SDK send failed: busy\n");
  EXPECT_EQ(Queued(), staged);
  EXPECT_EQ(server_->Stats().uploads, 1);

  EXPECT_TRUE(Sdk::Flush());
  EXPECT_EQ(server_->Records(), staged);
}

TEST_F(FlushTest, ABatchOfOneIsTheRecordBetweenBrackets) {
  ASSERT_TRUE(InitWithCapacity(1000));
  Sdk::EnableLog(true);
  StreamCapture capture;
  Sdk::ProfileSet(PropertiesNode());
  const std::string record = Queued().at(0);
  EXPECT_TRUE(Sdk::Flush());
  EXPECT_EQ(server_->Batches(), (std::vector<std::string>{"[" + record + "]"}));
  EXPECT_NE(capture.out().find("flush record : [" + record + "]\n"),
            std::string::npos);
}

TEST_F(FlushTest, StagingFileRecordsAreSentAheadOfNewOnesAndOnlyOnce) {
  const std::string old1 = "{\"_track_id\":1,\"seq\":-2,\"type\":\"track\"}";
  const std::string old2 = "{\"_track_id\":2,\"seq\":-1,\"type\":\"track\"}";
  WriteFile(staging_file_, old1 + "\r\n" + old2 + "\r\n");
  ASSERT_TRUE(InitWithCapacity(1000));
  StreamCapture capture;
  TrackRange(1, 1);
  EXPECT_TRUE(Sdk::Flush());
  EXPECT_EQ(ReadFile(staging_file_), "");
  EXPECT_EQ(Sequence(server_->Records()), (std::vector<long long>{-2, -1, 1}));
  EXPECT_EQ(server_->Records().at(0), old1);

  WriteFile(staging_file_, old1 + "\n");
  EXPECT_TRUE(Sdk::Flush());
  EXPECT_EQ(server_->Records().size(), 3u);
}

std::string Numbered(int n) {
  return "{\"_track_id\":" + std::to_string(n) +
         ",\"seq\":" + std::to_string(n) + "}";
}

// Waits until `done` holds, for at most ten seconds.
template <typename Condition>
bool WaitFor(Condition done) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

TEST_F(FlushTest, AFailedBatchGoesBackOnlyAsFarAsThereIsRoom) {
  StagingStore store(server_->UploadUrl(), staging_file_, 1000);
  for (int n = 1; n <= 1000; ++n) store.AddRecord(Numbered(n));
  test_support::UploadBehaviour slow_failure;
  slow_failure.status = 500;
  slow_failure.delay_seconds = 1.0;
  slow_failure.times = 1;
  ASSERT_TRUE(server_->Configure(slow_failure));

  StreamCapture capture;
  std::atomic<bool> result{true};
  std::thread flusher([&] { result = store.FlushBatch(30, false); });
  // While the batch of 30 is on its way, ten new records leave room for 20.
  const bool cut = WaitFor([&] { return store.QueueLength() == 970; });
  for (int n = 1001; n <= 1010; ++n) store.AddRecord(Numbered(n));
  flusher.join();
  ASSERT_TRUE(cut);
  EXPECT_FALSE(result);

  const std::vector<long long> queued =
      Sequence(SdkTestPeer::QueuedRecords(store));
  ASSERT_EQ(queued.size(), 1000u);
  for (size_t i = 0; i < queued.size(); ++i) {
    ASSERT_EQ(queued[i], static_cast<long long>(i) + 11) << "at " << i;
  }
}

// One thread tracks numbered events while another keeps flushing against a
// slow server. Returns the numbers the server received, in order.
std::vector<long long> TrackWhileFlushing(CollectionServer& server, int count) {
  std::atomic<bool> adding{true};
  std::thread adder([&] {
    for (int seq = 1; seq <= count; ++seq) {
      PropertiesNode properties;
      properties.SetInt("seq", seq);
      Sdk::Track("numbered", properties);
      if (seq % 10 == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    }
    adding = false;
  });
  std::thread flusher([&] {
    while (adding) {
      Sdk::Flush();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  adder.join();
  flusher.join();
  // Once nothing is added any more the queue drains completely.
  for (int attempt = 0; attempt < 5 && !Sdk::Flush(); ++attempt) {
  }
  return Sequence(server.Records());
}

void ExpectStrictlyIncreasing(const std::vector<long long>& numbers) {
  for (size_t i = 1; i < numbers.size(); ++i) {
    ASSERT_LT(numbers[i - 1], numbers[i]) << "at " << i;
  }
}

TEST_F(FlushTest, ConcurrentAddsAndFlushesLoseAndRepeatNothing) {
  ASSERT_TRUE(InitWithCapacity(10000));
  ASSERT_TRUE(server_->Delay(0.1));
  StreamCapture capture;
  const std::vector<long long> received = TrackWhileFlushing(*server_, 300);
  EXPECT_EQ(SdkTestPeer::staging_store().QueueLength(), 0u);
  ASSERT_EQ(received.size(), 300u);
  ExpectStrictlyIncreasing(received);
  EXPECT_GT(server_->Stats().uploads, 1);
}

TEST_F(FlushTest, ConcurrentAddsAndFailingFlushesKeepOrderAndLoseNothing) {
  ASSERT_TRUE(InitWithCapacity(10000));
  test_support::UploadBehaviour flaky;
  flaky.status = 503;
  flaky.delay_seconds = 0.1;
  flaky.times = 4;
  ASSERT_TRUE(server_->Configure(flaky));
  StreamCapture capture;
  const std::vector<long long> received = TrackWhileFlushing(*server_, 300);
  EXPECT_EQ(server_->Stats().refused, 4);
  ASSERT_EQ(received.size(), 300u);
  ExpectStrictlyIncreasing(received);
}

TEST_F(FlushTest, ConcurrentAddsPastCapacityDropOnlyOlderRecords) {
  ASSERT_TRUE(InitWithCapacity(50));
  ASSERT_TRUE(server_->Delay(0.1));
  StreamCapture capture;
  const std::vector<long long> received = TrackWhileFlushing(*server_, 300);
  ExpectStrictlyIncreasing(received);
  // The adder outpaces a server that takes 0.1 s per batch.
  EXPECT_LT(received.size(), 300u);
  ASSERT_GE(received.size(), 50u);
  // A record is dropped only with 50 newer ones queued behind it, so the
  // newest 50 always arrive.
  for (size_t i = 0; i < 50; ++i) {
    EXPECT_EQ(received[received.size() - 50 + i],
              static_cast<long long>(251 + i));
  }
  EXPECT_GE(received.front(), 1);
  EXPECT_LE(received.back(), 300);
}

}  // namespace
}  // namespace analytics
