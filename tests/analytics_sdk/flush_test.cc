// Flushes against the local collection server, which decodes every upload
// and keeps the records it accepted.

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "analytics/sdk/sdk.h"
#include "analytics/sdk/staging_store.h"
#include "analytics/sdk/uploader.h"
#include "gtest/gtest.h"
#include "tests/analytics_sdk/sdk_test_util.h"
#include "tests/support/collection_server.h"
#include "tests/support/stream_capture.h"

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

class FlushTest : public SdkTest {
 protected:
  void SetUp() override {
    std::string error;
    server_ = CollectionServer::Start(&error);
    ASSERT_NE(server_, nullptr) << error;
  }

  bool InitWithCapacity(int32_t capacity) {
    return Start(staging_file_, server_->UploadUrl(), "user", false, capacity);
  }

  // Tracks events whose "seq" runs from `first` to `last`.
  void TrackRange(int first, int last) {
    for (int seq = first; seq <= last; ++seq) {
      PropertiesNode properties;
      properties.SetInt("seq", seq);
      sdk_->Track("numbered", properties);
    }
  }

  std::unique_ptr<CollectionServer> server_;
  const std::string staging_file_ = folder_.File("analytics_data.json");
};

TEST_F(FlushTest, OverCapacityTheNewestRecordsGoInOrderInBatchesOfThirty) {
  ASSERT_TRUE(InitWithCapacity(1000));
  StreamCapture capture;
  TrackRange(1, 1001);
  EXPECT_TRUE(sdk_->Flush());
  EXPECT_EQ(capture.err(),
            "Analytics SDK dropped 1 oldest staged records: more than 1000 "
            "records or 16777216 bytes\n");
  EXPECT_EQ(Peer().staging_store().QueueLength(), 0u);

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
  EXPECT_TRUE(sdk_->Flush());
  std::vector<size_t> sizes;
  for (const std::string& batch : server_->Batches()) {
    sizes.push_back(RecordsIn(batch));
  }
  EXPECT_EQ(sizes, (std::vector<size_t>{30, 30, 5}));
  EXPECT_EQ(server_->Records().size(), 65u);
}

TEST_F(FlushTest, AFailingBatchIsRetriedWithinTheFlushAndSentOnce) {
  ASSERT_TRUE(InitWithCapacity(1000));
  StreamCapture capture;
  TrackRange(1, 65);
  const std::vector<std::string> staged = Queued();
  ASSERT_TRUE(server_->AnswerStatus(503, "busy", 2));
  EXPECT_TRUE(sdk_->Flush());
  EXPECT_EQ(capture.err(),
            "Analytics SDK send failed: busy\n"
            "Analytics SDK send failed: busy\n");
  EXPECT_EQ(server_->Records(), staged);
  EXPECT_EQ(server_->Stats().uploads, 5);
  EXPECT_TRUE(Queued().empty());
  EXPECT_EQ(ReadFile(staging_file_), "");
}

TEST_F(FlushTest, ABatchOfOneIsTheRecordBetweenBrackets) {
  ASSERT_TRUE(InitWithCapacity(1000));
  sdk_->EnableLog(true);
  StreamCapture capture;
  sdk_->ProfileSet(PropertiesNode());
  const std::string record = Queued().at(0);
  EXPECT_TRUE(sdk_->Flush());
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
  EXPECT_TRUE(sdk_->Flush());
  EXPECT_EQ(ReadFile(staging_file_), "");
  EXPECT_EQ(Sequence(server_->Records()), (std::vector<long long>{-2, -1, 1}));
  EXPECT_EQ(server_->Records().at(0), old1);
}

std::string Numbered(int n) {
  return "{\"_track_id\":" + std::to_string(n) +
         ",\"seq\":" + std::to_string(n) + "}";
}

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// A staging store with its uploader, as the SDK pairs them.
struct Delivery : StagingStore {
  Delivery(const std::string& url, const std::string& path, int32_t capacity)
      : StagingStore(path, capacity), uploader(url, path) {}
  Uploader uploader;
};

// One flush round of |delivery| that may last |seconds|.
bool RoundWithin(Delivery& delivery, double seconds) {
  FlushControl control;
  control.deadline = Clock::now() + std::chrono::milliseconds(
                                        static_cast<long>(seconds * 1000));
  return delivery.uploader.DeliverRound(delivery, 30, control);
}

TEST_F(FlushTest, ABatchThatKeepsFailingStaysQueuedWhenTheTimeIsUp) {
  Delivery store(server_->UploadUrl(), staging_file_, 1000);
  for (int n = 1; n <= 3; ++n) store.AddRecord(Numbered(n));
  ASSERT_TRUE(server_->AnswerStatus(429, "slow down"));
  StreamCapture capture;
  const Clock::time_point start = Clock::now();
  EXPECT_FALSE(RoundWithin(store, 1.5));
  EXPECT_LT(SecondsSince(start), 2.5);
  // 250 ms and 500 ms back-off at most, then no time for another 1 s.
  const int uploads = server_->Stats().uploads;
  EXPECT_GE(uploads, 2);
  EXPECT_LE(uploads, 4);
  EXPECT_EQ(store.QueuedRecords(),
            (std::vector<std::string>{Numbered(1), Numbered(2), Numbered(3)}));
}

TEST_F(FlushTest, ARefusedRecordIsFoundByHalvingAndDroppedAlone) {
  Delivery store(server_->UploadUrl(), staging_file_, 1000);
  for (int n = 1; n <= 10; ++n) {
    store.AddRecord(n == 7 ? "{\"seq\":7,\"bad\":\"MARK\"}" : Numbered(n));
  }
  test_support::UploadBehaviour refuse;
  refuse.refuse_marker = "MARK";
  ASSERT_TRUE(server_->Configure(refuse));
  StreamCapture capture;
  EXPECT_TRUE(RoundWithin(store, 10));
  EXPECT_EQ(Sequence(server_->Records()),
            (std::vector<long long>{1, 2, 3, 4, 5, 6, 8, 9, 10}));
  EXPECT_EQ(capture.err().substr(capture.err().rfind("Analytics SDK dropped")),
            "Analytics SDK dropped 1 records the server refused (status 400): "
            "refused record holding MARK\n\n");
  EXPECT_EQ(store.QueueLength(), 0u);
}

// The server keeps the batch but its answer is lost: the client cannot tell
// this from a batch that never arrived, so it sends the batch again and the
// server holds it twice. That is the one way a record is repeated.
TEST_F(FlushTest, AnAnswerLostAfterStoringMakesTheOnlyDuplicate) {
  Delivery store(server_->UploadUrl(), staging_file_, 1000);
  for (int n = 1; n <= 2; ++n) store.AddRecord(Numbered(n));
  test_support::UploadBehaviour lost_answer;
  lost_answer.store_drop = true;
  lost_answer.times = 1;
  ASSERT_TRUE(server_->Configure(lost_answer));
  StreamCapture capture;
  EXPECT_TRUE(RoundWithin(store, 10));
  EXPECT_EQ(Sequence(server_->Records()), (std::vector<long long>{1, 2, 1, 2}));
  EXPECT_EQ(store.QueueLength(), 0u);
}

TEST_F(FlushTest, AnEndlessAnswerIsReadInBoundedMemoryAndCutAtTheDeadline) {
  Delivery store(server_->UploadUrl(), staging_file_, 1000);
  store.AddRecord(Numbered(1));
  test_support::UploadBehaviour endless;
  endless.status = 500;
  endless.endless = true;
  ASSERT_TRUE(server_->Configure(endless));
  StreamCapture capture;
  const Clock::time_point start = Clock::now();
  EXPECT_FALSE(RoundWithin(store, 2));
  EXPECT_LT(SecondsSince(start), 3.5);
  const std::string first_line =
      capture.err().substr(0, capture.err().find('\n'));
  EXPECT_EQ(first_line.rfind("Analytics SDK send failed: ", 0), 0u);
  EXPECT_LE(first_line.size(), 4096u + 30);
  EXPECT_EQ(store.QueueLength(), 1u);
}

TEST_F(FlushTest, OnlyHttpAndHttpsServerAddressesAreUsed) {
  for (const std::string url :
       {"file:///etc/hostname", "FILE:///C:/windows/win.ini",
        "ftp://127.0.0.1:9/x", "gopher://127.0.0.1:9/x",
        "dict://127.0.0.1:9/"}) {
    SCOPED_TRACE(url);
    Delivery store(url, staging_file_, 10);
    store.AddRecord(Numbered(1));
    StreamCapture capture;
    EXPECT_FALSE(RoundWithin(store, 5));
    EXPECT_EQ(capture.err(),
              "Analytics SDK send failed: only http and https server "
              "addresses are used: " +
                  url + "\n");
  }
}

TEST_F(FlushTest, TheBatchesOfARoundShareOneConnection) {
  ASSERT_TRUE(InitWithCapacity(1000));
  StreamCapture capture;
  TrackRange(1, 65);
  EXPECT_TRUE(sdk_->Flush());
  const std::vector<std::string> requests = server_->Requests();
  ASSERT_EQ(requests.size(), 3u);
  const auto port = [](const std::string& entry) {
    return IntField(entry, "client_port");
  };
  EXPECT_EQ(port(requests[0]), port(requests[1]));
  EXPECT_EQ(port(requests[0]), port(requests[2]));
}

TEST_F(FlushTest, AFlushDuringARoundIsAnsweredByALaterRound) {
  ASSERT_TRUE(InitWithCapacity(1000));
  StreamCapture capture;
  TrackRange(1, 1);
  ASSERT_TRUE(server_->Delay(0.5, 1));
  std::promise<bool> first, second;
  sdk_->FlushAsync([&](bool flushed) { first.set_value(flushed); });
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  TrackRange(2, 2);
  std::vector<long long> seen_by_second;
  sdk_->FlushAsync([&](bool flushed) {
    seen_by_second = Sequence(server_->Records());
    second.set_value(flushed);
  });
  EXPECT_TRUE(first.get_future().get());
  EXPECT_TRUE(second.get_future().get());
  EXPECT_EQ(seen_by_second, (std::vector<long long>{1, 2}));
}

// A 1 GiB staging file (sparse) left by an earlier run is trimmed by the
// worker, which a closing window still stops at once.
TEST_F(FlushTest, StoppingCutsTheTrimOfAHugeFileShort) {
  ASSERT_TRUE(WriteGibibyteLine(staging_file_));
  const Clock::time_point init = Clock::now();
  ASSERT_TRUE(InitWithCapacity(1000));
  EXPECT_LT(SecondsSince(init), 0.1) << "the caller never reads the file";
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const Clock::time_point start = Clock::now();
  sdk_->StopBackgroundWork();
  EXPECT_LT(SecondsSince(start), 0.5);
  EXPECT_EQ(std::filesystem::file_size(staging_file_), 1u << 30);
}

TEST_F(FlushTest, StoppingCutsAnUploadOffAndKeepsItsBatch) {
  ASSERT_TRUE(InitWithCapacity(1000));
  StreamCapture capture;
  TrackRange(1, 3);
  const std::vector<std::string> staged = Queued();
  ASSERT_TRUE(server_->Delay(5, 1));
  std::promise<bool> answer;
  sdk_->FlushAsync([&](bool flushed) { answer.set_value(flushed); });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const Clock::time_point start = Clock::now();
  sdk_->StopBackgroundWork();
  EXPECT_LT(SecondsSince(start), 0.5);
  EXPECT_FALSE(answer.get_future().get());
  EXPECT_EQ(Queued(), staged);
  EXPECT_TRUE(server_->Records().empty());
}

// One thread tracks numbered events while another keeps flushing against a
// slow server. Returns the numbers the server received, in order.
std::vector<long long> TrackWhileFlushing(Sdk& sdk, CollectionServer& server,
                                          int count) {
  std::atomic<bool> adding{true};
  std::thread adder([&] {
    for (int seq = 1; seq <= count; ++seq) {
      PropertiesNode properties;
      properties.SetInt("seq", seq);
      sdk.Track("numbered", properties);
      if (seq % 10 == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    }
    adding = false;
  });
  std::thread flusher([&] {
    while (adding) {
      sdk.Flush();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  adder.join();
  flusher.join();
  // Once nothing is added any more the queue drains completely.
  for (int attempt = 0; attempt < 5 && !sdk.Flush(); ++attempt) {
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
  const std::vector<long long> received =
      TrackWhileFlushing(*sdk_, *server_, 300);
  EXPECT_EQ(Peer().staging_store().QueueLength(), 0u);
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
  const std::vector<long long> received =
      TrackWhileFlushing(*sdk_, *server_, 300);
  EXPECT_EQ(server_->Stats().refused, 4);
  ASSERT_EQ(received.size(), 300u);
  ExpectStrictlyIncreasing(received);
}

TEST_F(FlushTest, ConcurrentAddsPastCapacityDropOnlyOlderRecords) {
  ASSERT_TRUE(InitWithCapacity(50));
  ASSERT_TRUE(server_->Delay(0.1));
  StreamCapture capture;
  const std::vector<long long> received =
      TrackWhileFlushing(*sdk_, *server_, 300);
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
