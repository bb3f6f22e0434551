// Delivery under conditions users' machines have and the test bed lacks:
// another process holding the staging file's lock, a rewrite that fails
// (a held or full disk), a server refusing the address or key.

#include <chrono>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "analytics/sdk/flush_worker.h"
#include "analytics/sdk/staging_store.h"
#include "analytics/sdk/uploader.h"
#include "gtest/gtest.h"
#include "platform/interprocess_lock.h"
#include "tests/analytics_sdk/sdk_test_util.h"
#include "tests/support/collection_server.h"
#include "tests/support/stream_capture.h"

namespace analytics {
namespace {

using Clock = std::chrono::steady_clock;
using test_support::CollectionServer;
using test_support::StreamCapture;

std::string Numbered(int n) { return "{\"seq\":" + std::to_string(n) + "}"; }

std::vector<std::string> NumberedRange(int first, int last) {
  std::vector<std::string> records;
  for (int n = first; n <= last; ++n) records.push_back(Numbered(n));
  return records;
}

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start)
      .count();
}

// Another process's hold on the staging file's lock: a lock object of its
// own, held from another thread (a Windows mutex is re-entrant per thread).
class ForeignHold {
 public:
  explicit ForeignHold(const std::string& file) : lock_(file) {
    std::promise<void> held;
    holder_ = std::thread([this, &held] {
      lock_.Acquire(-1);
      held.set_value();
      release_.get_future().wait();
      lock_.Release();
    });
    held.get_future().wait();
  }
  ~ForeignHold() { Release(); }
  void Release() {
    if (!holder_.joinable()) return;
    release_.set_value();
    holder_.join();
  }

 private:
  platform::InterProcessLock lock_;
  std::promise<void> release_;
  std::thread holder_;
};

class DeliveryConditionsTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    server_ = CollectionServer::Start(&error);
    ASSERT_NE(server_, nullptr) << error;
    uploader_ = std::make_unique<Uploader>(server_->UploadUrl(), file_);
  }

  bool Round() {
    FlushControl control;
    control.deadline = Clock::now() + std::chrono::seconds(10);
    return uploader_->DeliverRound(store_, 30, control);
  }

  std::unique_ptr<CollectionServer> server_;
  ScratchFolder folder_;
  const std::string file_ = folder_.File("analytics_data.json");
  StagingStore store_{file_, 1000};
  std::unique_ptr<Uploader> uploader_;
};

// The thread that tracks never waits long for the lock and loses nothing:
// records wait in memory, in order, until the worker can stage them; a
// flush meanwhile waits for the file and then delivers everything; a
// closing window stops at once whatever the other process holds.
TEST_F(DeliveryConditionsTest, AHeldLockNeitherBlocksNorLoses) {
  FlushWorker worker(store_, *uploader_, std::chrono::seconds(10));
  store_.AddRecord(Numbered(1));
  auto hold = std::make_unique<ForeignHold>(file_);
  double longest = 0;
  for (int n = 2; n <= 6; ++n) {
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(store_.AddRecord(Numbered(n)), StagingStore::Follow::kDrain);
    longest = std::max(longest, MillisecondsSince(start));
    worker.RequestDrain();
  }
  EXPECT_LT(longest, StagingStore::kAddPatienceMs + 40);
  std::promise<bool> flushed;
  worker.RequestFlush([&](bool done) { flushed.set_value(done); });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(store_.BacklogLength(), 5u);
  hold->Release();
  EXPECT_TRUE(flushed.get_future().get());
  EXPECT_EQ(server_->Records(), NumberedRange(1, 6));

  store_.AddRecord(Numbered(7));
  ForeignHold closing(file_);
  store_.AddRecord(Numbered(8));
  std::promise<bool> unanswered;
  worker.RequestFlush([&](bool done) { unanswered.set_value(done); });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  StreamCapture capture;
  const Clock::time_point start = Clock::now();
  worker.Stop();
  EXPECT_LT(MillisecondsSince(start), 150);
  EXPECT_FALSE(unanswered.get_future().get());
  std::promise<bool> late;
  worker.RequestFlush([&](bool done) { late.set_value(done); });
  EXPECT_FALSE(late.get_future().get());
  EXPECT_NE(capture.err().find("lost 1 records"), std::string::npos)
      << capture.err();
}

// The server took the records but the file cannot lose them (its ".tmp"
// cannot be written, as with a held file or a full disk): later rounds send
// them no more, still deliver what came after, and answer false until the
// removal works.
TEST_F(DeliveryConditionsTest, RecordsTheServerTookAreNotSentAgain) {
  for (const std::string& record : NumberedRange(1, 40)) {
    store_.AddRecord(record);
  }
  const std::filesystem::path blocker = file_ + ".tmp";
  std::filesystem::create_directory(blocker);
  StreamCapture capture;
  EXPECT_FALSE(Round());
  EXPECT_EQ(server_->Stats().uploads, 2);
  EXPECT_EQ(uploader_->DeliveredNotRemoved(), 40u);
  for (const std::string& record : NumberedRange(41, 45)) {
    store_.AddRecord(record);
  }
  EXPECT_FALSE(Round());
  EXPECT_FALSE(Round());
  EXPECT_EQ(server_->Stats().uploads, 3);
  std::filesystem::remove(blocker);
  EXPECT_TRUE(Round());
  EXPECT_EQ(server_->Stats().uploads, 3);
  EXPECT_EQ(server_->Records(), NumberedRange(1, 45));
  EXPECT_EQ(ReadFile(file_), "");
}

// A wrong address or an expired key refuses the request, not the records:
// one upload, every record kept, and all of them once the server takes them.
TEST_F(DeliveryConditionsTest, AnEndpointRefusalKeepsEveryRecord) {
  for (const std::string& record : NumberedRange(1, 33)) {
    store_.AddRecord(record);
  }
  StreamCapture capture;
  for (const int status : {404, 401, 403, 301}) {
    SCOPED_TRACE(status);
    const int before = server_->Stats().uploads;
    ASSERT_TRUE(server_->AnswerStatus(status, "no", 1));
    EXPECT_FALSE(Round());
    EXPECT_EQ(server_->Stats().uploads, before + 1);
    EXPECT_EQ(store_.QueueLength(), 33u);
  }
  EXPECT_TRUE(Round());
  EXPECT_EQ(server_->Records(), NumberedRange(1, 33));
}

}  // namespace
}  // namespace analytics
