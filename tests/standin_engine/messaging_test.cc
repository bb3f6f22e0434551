// Messages between the UI side and the native side of the stand-in engine:
// response handles, availability, locking and the native-to-UI direction.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/standin_engine/standin_test_support.h"

namespace {

using standin_test::CreateEngine;
using standin_test::DetailsOf;

// What a native channel callback saw.
struct Received {
  int calls = 0;
  size_t struct_size = 0;
  std::string channel;
  std::vector<uint8_t> bytes;
  const FlutterDesktopMessageResponseHandle* handle = nullptr;
  FlutterDesktopMessengerRef messenger = nullptr;
};

void Record(FlutterDesktopMessengerRef messenger,
            const FlutterDesktopMessage* message, void* user_data) {
  auto* received = static_cast<Received*>(user_data);
  ++received->calls;
  received->struct_size = message->struct_size;
  received->channel = message->channel;
  received->bytes.assign(message->message,
                         message->message + message->message_size);
  received->handle = message->response_handle;
  received->messenger = messenger;
}

// What the UI side got back.
struct Reply {
  std::atomic<int> calls{0};
  std::vector<uint8_t> bytes;
  bool was_null = false;
};

void OnReply(const uint8_t* data, size_t size, void* user_data) {
  auto* reply = static_cast<Reply*>(user_data);
  reply->bytes.assign(data, data + (data != nullptr ? size : 0));
  reply->was_null = data == nullptr;
  ++reply->calls;
}

const uint8_t kPayload[] = {1, 2, 3};
const uint8_t kAnswer[] = {9, 8};

class MessagingTest : public standin_test::StandinTest {
 protected:
  void SetUp() override {
    StandinTest::SetUp();
    engine_ = CreateEngine();
    ASSERT_NE(engine_, nullptr);
    messenger_ = FlutterDesktopEngineGetMessenger(engine_);
    ASSERT_NE(messenger_, nullptr);
  }
  void TearDown() override {
    if (engine_ != nullptr) {
      FlutterDesktopEngineDestroy(engine_);
    }
    StandinTest::TearDown();
  }
  // Queues the message and takes the engine's turn, which delivers it.
  int32_t Deliver(const char* channel, Reply* reply) {
    const int32_t outcome = StandinEngineDeliverMessage(
        engine_, channel, kPayload, sizeof(kPayload), OnReply, reply);
    StandinEngineRunTasks();
    return outcome;
  }

  FlutterDesktopEngineRef engine_ = nullptr;
  FlutterDesktopMessengerRef messenger_ = nullptr;
};

TEST_F(MessagingTest, DeliversMessageRecordAndAnswersOnceThroughHandle) {
  Received received;
  FlutterDesktopMessengerSetCallback(messenger_, "test/channel", Record,
                                     &received);
  Reply reply;
  EXPECT_EQ(StandinEngineDeliverMessage(engine_, "test/channel", kPayload,
                                        sizeof(kPayload), OnReply, &reply),
            1);
  EXPECT_EQ(received.calls, 0) << "delivered inside the UI side's call";
  EXPECT_EQ(StandinEngineRunTasks(), 1);
  ASSERT_EQ(received.calls, 1);
  EXPECT_EQ(received.struct_size, sizeof(FlutterDesktopMessage));
  EXPECT_EQ(received.channel, "test/channel");
  EXPECT_EQ(received.bytes, std::vector<uint8_t>(kPayload, kPayload + 3));
  EXPECT_EQ(received.messenger, messenger_);
  ASSERT_NE(received.handle, nullptr);
  EXPECT_EQ(StandinEnginePendingResponseCount(engine_), 1);
  EXPECT_EQ(reply.calls, 0) << "no reply before the response";

  FlutterDesktopMessengerSendResponse(messenger_, received.handle, kAnswer,
                                      sizeof(kAnswer));
  FlutterDesktopMessengerSendResponse(messenger_, received.handle, kPayload,
                                      sizeof(kPayload));
  EXPECT_EQ(reply.calls, 0) << "answered inside the native side's call";
  StandinEngineRunTasks();
  EXPECT_EQ(reply.calls, 1);
  EXPECT_EQ(reply.bytes, std::vector<uint8_t>(kAnswer, kAnswer + 2));
  EXPECT_EQ(StandinEnginePendingResponseCount(engine_), 0);
  EXPECT_EQ(DetailsOf(kStandinEventDuplicateResponse),
            std::vector<std::string>{"test/channel"});
  EXPECT_EQ(StandinEngineAcknowledgeMisuse(), 1);
}

TEST_F(MessagingTest, EachMessageGetsItsOwnHandle) {
  Received received;
  FlutterDesktopMessengerSetCallback(messenger_, "c", Record, &received);
  Reply first;
  Reply second;
  Deliver("c", &first);
  const FlutterDesktopMessageResponseHandle* first_handle = received.handle;
  Deliver("c", &second);
  ASSERT_NE(first_handle, received.handle);
  // Answer in reverse order: each reply reaches its own sender.
  FlutterDesktopMessengerSendResponse(messenger_, received.handle, kAnswer, 1);
  FlutterDesktopMessengerSendResponse(messenger_, first_handle, kAnswer, 2);
  StandinEngineRunTasks();
  EXPECT_EQ(first.bytes.size(), 2u);
  EXPECT_EQ(second.bytes.size(), 1u);
}

TEST_F(MessagingTest, UnhandledChannelGetsEmptyReplyOnTheNextTurn) {
  Reply reply;
  EXPECT_EQ(StandinEngineDeliverMessage(engine_, "nobody/listens", kPayload,
                                        sizeof(kPayload), OnReply, &reply),
            0);
  EXPECT_EQ(reply.calls, 0);
  StandinEngineRunTasks();
  EXPECT_EQ(reply.calls, 1);
  EXPECT_TRUE(reply.was_null);
  EXPECT_TRUE(reply.bytes.empty());
}

TEST_F(MessagingTest, OneCallbackPerChannelReplacedAndCleared) {
  Received old_callback;
  Received new_callback;
  FlutterDesktopMessengerSetCallback(messenger_, "c", Record, &old_callback);
  FlutterDesktopMessengerSetCallback(messenger_, "c", Record, &new_callback);
  Reply reply;
  Deliver("c", &reply);
  EXPECT_EQ(old_callback.calls, 0);
  EXPECT_EQ(new_callback.calls, 1);
  FlutterDesktopMessengerSendResponse(messenger_, new_callback.handle, nullptr,
                                      0);
  StandinEngineRunTasks();
  EXPECT_EQ(reply.calls, 1);
  EXPECT_TRUE(reply.was_null);

  FlutterDesktopMessengerSetCallback(messenger_, "c", nullptr, nullptr);
  EXPECT_EQ(StandinEngineHasChannelCallback(engine_, "c"), 0);
  EXPECT_EQ(Deliver("c", &reply), 0);
  EXPECT_EQ(new_callback.calls, 1);
}

TEST_F(MessagingTest, ReplyAfterEngineDestructionIsNotDelivered) {
  Received received;
  FlutterDesktopMessengerSetCallback(messenger_, "c", Record, &received);
  Reply reply;
  Deliver("c", &reply);
  // The reply closure of a client keeps the messenger alive.
  ASSERT_EQ(FlutterDesktopMessengerAddRef(messenger_), messenger_);
  int64_t serial = StandinEngineSerial(engine_);
  EXPECT_TRUE(FlutterDesktopEngineDestroy(engine_));
  engine_ = nullptr;

  ASSERT_EQ(FlutterDesktopMessengerLock(messenger_), messenger_);
  EXPECT_FALSE(FlutterDesktopMessengerIsAvailable(messenger_));
  FlutterDesktopMessengerSendResponse(messenger_, received.handle, kAnswer,
                                      sizeof(kAnswer));
  FlutterDesktopMessengerUnlock(messenger_);
  EXPECT_EQ(reply.calls, 0);
  EXPECT_EQ(DetailsOf(kStandinEventResponseDropped, serial),
            std::vector<std::string>{"c"});
  EXPECT_FALSE(FlutterDesktopMessengerSend(messenger_, "c", kPayload, 1));
  FlutterDesktopMessengerRelease(messenger_);
  // The last reference is gone: the messenger no longer exists.
  EXPECT_FALSE(FlutterDesktopMessengerIsAvailable(messenger_));
  EXPECT_EQ(StandinEngineAcknowledgeMisuse(), 1);
}

TEST_F(MessagingTest, DeliveryToEndedEngineIsRefused) {
  StandinEngineShutdown(engine_);
  Reply reply;
  EXPECT_EQ(Deliver("c", &reply), -1);
  EXPECT_EQ(reply.calls, 0);
}

TEST_F(MessagingTest, ResponseFromAnotherThreadReachesTheUi) {
  Received received;
  FlutterDesktopMessengerSetCallback(messenger_, "c", Record, &received);
  Reply reply;
  Deliver("c", &reply);
  std::thread worker([&] {
    FlutterDesktopMessengerRef locked = FlutterDesktopMessengerLock(messenger_);
    if (FlutterDesktopMessengerIsAvailable(locked)) {
      FlutterDesktopMessengerSendResponse(locked, received.handle, kAnswer,
                                          sizeof(kAnswer));
    }
    FlutterDesktopMessengerUnlock(locked);
  });
  worker.join();
  // Delivered on the engine's turn of its own thread, not the worker's.
  EXPECT_EQ(reply.calls, 0);
  StandinEngineRunTasks();
  EXPECT_EQ(reply.calls, 1);
  EXPECT_EQ(reply.bytes.size(), sizeof(kAnswer));
}

TEST_F(MessagingTest, TheMessengerLockIsNotRecursive) {
  ASSERT_EQ(FlutterDesktopMessengerLock(messenger_), messenger_);
  // A real engine's lock would hang here; the stand-in refuses and reports.
  EXPECT_EQ(FlutterDesktopMessengerLock(messenger_), nullptr);
  FlutterDesktopMessengerUnlock(messenger_);
  FlutterDesktopMessengerUnlock(messenger_);
  EXPECT_EQ(DetailsOf(kStandinEventMisuse),
            (std::vector<std::string>{
                "FlutterDesktopMessengerLock: second lock on one thread",
                "FlutterDesktopMessengerUnlock: the thread does not hold the "
                "lock"}));
  EXPECT_EQ(StandinEngineAcknowledgeMisuse(), 2);
  char first[8] = {};
  EXPECT_EQ(StandinEngineUnacknowledgedMisuse(first, sizeof(first)), 0);
}

TEST_F(MessagingTest, RegistrarsEndWhileMessagesAreQueued) {
  Received received;
  FlutterDesktopPluginRegistrarRef registrar =
      FlutterDesktopEngineGetPluginRegistrar(engine_, "Plugin");
  FlutterDesktopPluginRegistrarSetDestructionHandler(
      registrar, [](FlutterDesktopPluginRegistrarRef ended) {
        // A plugin that goes clears its channel, as it must.
        FlutterDesktopMessengerSetCallback(
            FlutterDesktopPluginRegistrarGetMessenger(ended), "c", nullptr,
            nullptr);
      });
  FlutterDesktopMessengerSetCallback(messenger_, "c", Record, &received);
  Reply reply;
  EXPECT_EQ(StandinEngineDeliverMessage(engine_, "c", kPayload,
                                        sizeof(kPayload), OnReply, &reply),
            1);
  EXPECT_EQ(StandinEngineEndRegistrars(engine_), 1);
  StandinEngineRunTasks();
  EXPECT_EQ(received.calls, 0);
  EXPECT_EQ(reply.calls, 1);
  EXPECT_TRUE(reply.was_null);
}

TEST_F(MessagingTest, QueuedWorkIsDroppedWhenTheEngineEnds) {
  Received received;
  FlutterDesktopMessengerSetCallback(messenger_, "c", Record, &received);
  Reply reply;
  StandinEngineDeliverMessage(engine_, "c", kPayload, sizeof(kPayload), OnReply,
                              &reply);
  EXPECT_EQ(StandinEngineShutdown(engine_), 0);
  EXPECT_EQ(StandinEngineRunTasks(), 0);
  EXPECT_EQ(received.calls, 0);
  EXPECT_EQ(reply.calls, 0);
}

TEST_F(MessagingTest, EngineEndWaitsForAHeldMessengerLock) {
  ASSERT_EQ(FlutterDesktopMessengerAddRef(messenger_), messenger_);
  std::mutex mutex;
  std::condition_variable changed;
  bool locked = false;
  bool release = false;
  std::thread holder([&] {
    FlutterDesktopMessengerLock(messenger_);
    {
      std::unique_lock<std::mutex> guard(mutex);
      locked = true;
      changed.notify_all();
      changed.wait(guard, [&] { return release; });
    }
    // Still locked: the engine cannot have gone.
    EXPECT_TRUE(FlutterDesktopMessengerIsAvailable(messenger_));
    FlutterDesktopMessengerUnlock(messenger_);
  });
  {
    std::unique_lock<std::mutex> guard(mutex);
    changed.wait(guard, [&] { return locked; });
  }
  std::atomic<bool> destroyed{false};
  std::thread destroyer([&] {
    FlutterDesktopEngineDestroy(engine_);
    destroyed = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(destroyed) << "the engine ended while the messenger was locked";
  {
    std::lock_guard<std::mutex> guard(mutex);
    release = true;
    changed.notify_all();
  }
  holder.join();
  destroyer.join();
  engine_ = nullptr;
  EXPECT_FALSE(FlutterDesktopMessengerIsAvailable(messenger_));
  FlutterDesktopMessengerRelease(messenger_);
}

// The UI side's handler for native sends: records, and accepts or refuses.
struct Outgoing {
  int32_t accept = 1;
  int calls = 0;
  std::string channel;
  std::vector<uint8_t> bytes;
  int64_t reply_id = -1;
};

int32_t OnOutgoing(FlutterDesktopEngineRef, const char* channel,
                   const uint8_t* data, size_t size, int64_t reply_id,
                   void* user_data) {
  auto* outgoing = static_cast<Outgoing*>(user_data);
  ++outgoing->calls;
  outgoing->channel = channel;
  outgoing->bytes.assign(data, data + size);
  outgoing->reply_id = reply_id;
  return outgoing->accept;
}

TEST_F(MessagingTest, NativeSendsWithoutUiHandlerGetEmptyReply) {
  EXPECT_TRUE(FlutterDesktopMessengerSend(messenger_, "out", kPayload, 3));
  Reply reply;
  EXPECT_TRUE(FlutterDesktopMessengerSendWithReply(messenger_, "out", kPayload,
                                                   3, OnReply, &reply));
  EXPECT_EQ(reply.calls, 0) << "answered inside the send";
  StandinEngineRunTasks();
  EXPECT_EQ(reply.calls, 1);
  EXPECT_TRUE(reply.was_null);
  EXPECT_EQ(DetailsOf(kStandinEventMessageSent),
            (std::vector<std::string>{"out", "out"}));
}

TEST_F(MessagingTest, NativeSendIsSeenAndAnsweredOnceByTheUi) {
  Outgoing outgoing;
  StandinEngineSetOutgoingHandler(OnOutgoing, &outgoing);
  EXPECT_TRUE(FlutterDesktopMessengerSend(messenger_, "plain", kPayload, 3));
  EXPECT_EQ(outgoing.reply_id, 0) << "Send wants no reply";

  Reply reply;
  EXPECT_TRUE(FlutterDesktopMessengerSendWithReply(messenger_, "asks", kAnswer,
                                                   2, OnReply, &reply));
  EXPECT_EQ(outgoing.calls, 2);
  EXPECT_EQ(outgoing.channel, "asks");
  EXPECT_EQ(outgoing.bytes, std::vector<uint8_t>(kAnswer, kAnswer + 2));
  ASSERT_GT(outgoing.reply_id, 0);
  EXPECT_EQ(reply.calls, 0);
  EXPECT_EQ(StandinEnginePendingOutgoingCount(engine_), 1);

  EXPECT_EQ(StandinEngineAnswerOutgoing(outgoing.reply_id, kPayload, 3), 1);
  EXPECT_EQ(StandinEngineAnswerOutgoing(outgoing.reply_id, kPayload, 3), 0);
  EXPECT_EQ(reply.calls, 0);
  StandinEngineRunTasks();
  EXPECT_EQ(reply.calls, 1);
  EXPECT_EQ(reply.bytes.size(), 3u);
  EXPECT_EQ(StandinEnginePendingOutgoingCount(engine_), 0);
}

TEST_F(MessagingTest, RefusedSendNeverCallsBack) {
  Outgoing outgoing;
  outgoing.accept = 0;
  StandinEngineSetOutgoingHandler(OnOutgoing, &outgoing);
  EXPECT_FALSE(FlutterDesktopMessengerSend(messenger_, "c", kPayload, 3));
  Reply reply;
  EXPECT_FALSE(FlutterDesktopMessengerSendWithReply(messenger_, "c", kPayload,
                                                    3, OnReply, &reply));
  EXPECT_EQ(StandinEngineAnswerOutgoing(outgoing.reply_id, nullptr, 0), 0);
  EXPECT_EQ(reply.calls, 0);
}

TEST_F(MessagingTest, UnansweredNativeSendIsAnsweredEmptyWhenTheEngineEnds) {
  Outgoing outgoing;
  StandinEngineSetOutgoingHandler(OnOutgoing, &outgoing);
  Reply reply;
  EXPECT_TRUE(FlutterDesktopMessengerSendWithReply(messenger_, "c", kPayload, 3,
                                                   OnReply, &reply));
  FlutterDesktopEngineDestroy(engine_);
  engine_ = nullptr;
  // The sender hears that no answer will come, and can free what it keeps.
  EXPECT_EQ(reply.calls, 1);
  EXPECT_TRUE(reply.was_null);
  EXPECT_EQ(StandinEngineAnswerOutgoing(outgoing.reply_id, kAnswer, 2), 0);
  EXPECT_EQ(reply.calls, 1);
}

}  // namespace
