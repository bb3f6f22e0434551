// Messenger, method channel and method result against the stand-in engine.
#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "embedding/binary_messenger.h"
#include "embedding/encodable_value.h"
#include "embedding/engine_project.h"
#include "embedding/flutter_engine.h"
#include "embedding/method_call.h"
#include "embedding/method_channel.h"
#include "embedding/method_result.h"
#include "embedding/standard_codec.h"
#include "gtest/gtest.h"
#include "standins/engine/standin_control.h"
#include "tests/embedding/embedding_test_support.h"

namespace flutter {
namespace {

using embedding_test::CountOccurrences;
using embedding_test::ReplyRecorder;
using embedding_test::StderrCapture;

constexpr char kChannel[] = "test/channel";
constexpr char kDuplicateResult[] =
    "Error: Only one of Success, Error, or NotImplemented can be called, and "
    "it can be called exactly once. Ignoring duplicate result.\n";
constexpr char kLeak[] =
    "Warning: Failed to respond to a message. This is a memory leak.\n";

const StandardMethodCodec& Codec() {
  return StandardMethodCodec::GetInstance();
}

std::vector<uint8_t> EncodeCall(const std::string& method,
                                EncodableValue arguments) {
  MethodCall call(method,
                  std::make_unique<EncodableValue>(std::move(arguments)));
  return *Codec().EncodeMethodCall(call);
}

class EmbeddingChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    StandinEngineResetControls();
    StandinEngineClearEvents();
    engine_ = std::make_unique<FlutterEngine>(EngineProject(L"data"));
    handle_ = StandinEngineLatestEngine();
    ASSERT_NE(handle_, nullptr);
    channel_ = std::make_unique<MethodChannel>(engine_->messenger(), kChannel,
                                               &Codec());
  }

  void TearDown() override {
    channel_.reset();
    engine_.reset();
    // Misuse (a handle the library does not know or has freed) fails the
    // test through the check every stand-in test program carries.
    EXPECT_EQ(StandinEngineLiveEngineCount(), 0);
  }

  // Queues the message, then takes the engine's turn, on which it is
  // delivered and a response given meanwhile comes back.
  int32_t Deliver(const std::vector<uint8_t>& message, ReplyRecorder* reply,
                  const char* channel = kChannel) {
    const int32_t outcome = StandinEngineDeliverMessage(
        handle_, channel, message.data(), message.size(),
        ReplyRecorder::OnReply, reply);
    EXPECT_EQ(reply->count(), 0) << "answered inside the delivery";
    StandinEngineRunTasks();
    return outcome;
  }

  std::unique_ptr<FlutterEngine> engine_;
  FlutterDesktopEngineRef handle_ = nullptr;
  std::unique_ptr<MethodChannel> channel_;
};

TEST_F(EmbeddingChannelTest, EachKindOfAnswerArrivesEncoded) {
  const EncodableValue details(
      EncodableList{EncodableValue(1), EncodableValue("x")});
  struct Case {
    std::string method;
    std::vector<uint8_t> expected;
  } cases[] = {
      {"success", *Codec().EncodeSuccessReply(nullptr)},
      {"value", *Codec().EncodeSuccessReply(&details)},
      {"error", *Codec().EncodeErrorReply("CODE", "message", &details)},
      {"bare_error", *Codec().EncodeErrorReply("CODE", "", nullptr)},
      {"not_implemented", {}},
  };
  std::vector<std::string> seen;
  channel_->SetMethodCallHandler(
      [&](const MethodCall& call, std::unique_ptr<MethodResult> result) {
        seen.push_back(call.method_name());
        const std::string& method = call.method_name();
        if (method == "success") {
          result->Success();
        } else if (method == "value") {
          result->Success(*call.arguments());
        } else if (method == "error") {
          result->Error("CODE", "message", call.arguments());
        } else if (method == "bare_error") {
          result->Error("CODE");
        } else {
          result->NotImplemented();
        }
      });

  for (const Case& c : cases) {
    SCOPED_TRACE(c.method);
    ReplyRecorder reply;
    ASSERT_EQ(Deliver(EncodeCall(c.method, details), &reply), 1);
    EXPECT_EQ(reply.count(), 1);
    EXPECT_EQ(reply.bytes(), c.expected);
  }
  EXPECT_EQ(seen.size(), 5u);
  EXPECT_EQ(StandinEnginePendingResponseCount(handle_), 0);
}

TEST_F(EmbeddingChannelTest, SecondAnswerIsIgnoredAndLoggedOnce) {
  channel_->SetMethodCallHandler(
      [](const MethodCall&, std::unique_ptr<MethodResult> result) {
        result->Success(EncodableValue(true));
        result->Error("LATE", "too late");
        result->Success(EncodableValue(false));
      });
  StderrCapture capture;
  ReplyRecorder reply;
  ASSERT_EQ(Deliver(EncodeCall("m", EncodableValue()), &reply), 1);

  EXPECT_EQ(reply.count(), 1);
  const EncodableValue yes(true);
  EXPECT_EQ(reply.bytes(), *Codec().EncodeSuccessReply(&yes));
  // Two late answers, two lines; nothing reached the engine twice.
  EXPECT_EQ(CountOccurrences(capture.err(), kDuplicateResult), 2);
  EXPECT_EQ(CountOccurrences(capture.err(), kLeak), 0);
  EXPECT_EQ(StandinEngineCountEvents(kStandinEventDuplicateResponse, 0), 0);
}

TEST_F(EmbeddingChannelTest, UnansweredResultLogsLeakAndSendsNothing) {
  channel_->SetMethodCallHandler(
      [](const MethodCall&, std::unique_ptr<MethodResult>) {});
  StderrCapture capture;
  ReplyRecorder reply;
  ASSERT_EQ(Deliver(EncodeCall("m", EncodableValue()), &reply), 1);

  EXPECT_EQ(reply.count(), 0);
  EXPECT_EQ(capture.err(), kLeak);
  EXPECT_EQ(StandinEnginePendingResponseCount(handle_), 1);
}

TEST_F(EmbeddingChannelTest, UndecodableMessageGetsEmptyReplyAfterBothLines) {
  bool called = false;
  channel_->SetMethodCallHandler(
      [&](const MethodCall&, std::unique_ptr<MethodResult> result) {
        called = true;
        result->Success();
      });
  // A 32-bit integer where the method name belongs.
  const std::vector<uint8_t> message = {3, 7, 0, 0, 0};
  StderrCapture capture;
  ReplyRecorder reply;
  ASSERT_EQ(Deliver(message, &reply), 1);

  EXPECT_FALSE(called);
  EXPECT_EQ(reply.count(), 1);
  EXPECT_TRUE(reply.bytes().empty());
  EXPECT_EQ(capture.err(),
            "Invalid method call; method name is not a string.\n"
            "Unable to construct method call from message on channel "
            "test/channel\n");
}

TEST_F(EmbeddingChannelTest, ClearedHandlerClearsTheEngineCallback) {
  int calls = 0;
  channel_->SetMethodCallHandler(
      [&](const MethodCall&, std::unique_ptr<MethodResult> result) {
        ++calls;
        result->Success();
      });
  EXPECT_EQ(StandinEngineHasChannelCallback(handle_, kChannel), 1);

  channel_->SetMethodCallHandler(nullptr);
  EXPECT_EQ(StandinEngineHasChannelCallback(handle_, kChannel), 0);
  ReplyRecorder reply;
  // 0: the engine found no callback and answered empty itself.
  EXPECT_EQ(Deliver(EncodeCall("m", EncodableValue()), &reply), 0);
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(reply.count(), 1);
  EXPECT_TRUE(reply.bytes().empty());
}

TEST_F(EmbeddingChannelTest, SecondHandlerReplacesTheFirst) {
  std::vector<std::string> calls;
  channel_->SetMethodCallHandler(
      [&](const MethodCall&, std::unique_ptr<MethodResult> result) {
        calls.push_back("first");
        result->Success();
      });
  // A second channel object on the same name, as a re-registering plugin
  // would make; the first channel object is gone by the time messages come.
  MethodChannel(engine_->messenger(), kChannel, &Codec())
      .SetMethodCallHandler(
          [&](const MethodCall&, std::unique_ptr<MethodResult> result) {
            calls.push_back("second");
            result->Success(EncodableValue(2));
          });
  channel_.reset();

  ReplyRecorder reply;
  ASSERT_EQ(Deliver(EncodeCall("m", EncodableValue()), &reply), 1);
  EXPECT_EQ(calls, std::vector<std::string>{"second"});
  const EncodableValue two(2);
  EXPECT_EQ(reply.bytes(), *Codec().EncodeSuccessReply(&two));
}

TEST_F(EmbeddingChannelTest, HandlerMayClearItsOwnChannelWhileRunning) {
  auto captured = std::make_shared<std::string>("still here");
  MethodChannel* channel = channel_.get();
  channel_->SetMethodCallHandler(
      [channel, captured](const MethodCall&,
                          std::unique_ptr<MethodResult> result) {
        channel->SetMethodCallHandler(nullptr);
        // Uses this closure's own copy after its registration has gone.
        result->Success(EncodableValue(*captured));
      });
  captured.reset();

  ReplyRecorder reply;
  ASSERT_EQ(Deliver(EncodeCall("m", EncodableValue()), &reply), 1);
  const EncodableValue expected("still here");
  EXPECT_EQ(reply.bytes(), *Codec().EncodeSuccessReply(&expected));
  EXPECT_EQ(StandinEngineHasChannelCallback(handle_, kChannel), 0);
}

TEST_F(EmbeddingChannelTest, RawReplyCallbackSendsOnlyTheFirstResponse) {
  engine_->messenger()->SetMessageHandler(
      "raw", [](const uint8_t* message, size_t size, ReplyCallback reply) {
        ReplyCallback copy = reply;
        reply(message, size);
        copy(nullptr, 0);
        reply(nullptr, 0);
      });
  StderrCapture capture;
  ReplyRecorder reply;
  const std::vector<uint8_t> message = {4, 5, 6};
  ASSERT_EQ(Deliver(message, &reply, "raw"), 1);
  EXPECT_EQ(reply.count(), 1);
  EXPECT_EQ(reply.bytes(), message);
  EXPECT_EQ(CountOccurrences(capture.err(),
                             "Error: Response can be set only once. Ignoring "
                             "duplicate response.\n"),
            2);
  EXPECT_EQ(StandinEngineCountEvents(kStandinEventDuplicateResponse, 0), 0);
}

TEST_F(EmbeddingChannelTest, ThrowingHandlerStillAnswersEmpty) {
  channel_->SetMethodCallHandler(
      [](const MethodCall&, std::unique_ptr<MethodResult>) {
        throw std::runtime_error("boom");
      });
  StderrCapture capture;
  ReplyRecorder reply;
  ASSERT_EQ(Deliver(EncodeCall("m", EncodableValue()), &reply), 1);
  EXPECT_EQ(reply.count(), 1);
  EXPECT_TRUE(reply.bytes().empty());
  EXPECT_EQ(CountOccurrences(capture.err(), "boom"), 1);
}

TEST_F(EmbeddingChannelTest, KeptResultAnsweredFromAnotherThread) {
  std::unique_ptr<MethodResult> kept;
  channel_->SetMethodCallHandler(
      [&](const MethodCall&, std::unique_ptr<MethodResult> result) {
        kept = std::move(result);
      });
  ReplyRecorder reply;
  ASSERT_EQ(Deliver(EncodeCall("m", EncodableValue()), &reply), 1);
  ASSERT_NE(kept, nullptr);
  EXPECT_EQ(reply.count(), 0);

  std::thread([&] { kept->Success(EncodableValue(int64_t{1} << 40)); }).join();
  kept.reset();
  // The answer reaches the UI side on the engine's turn of the UI thread.
  EXPECT_EQ(reply.count(), 0);
  StandinEngineRunTasks();
  const EncodableValue expected(int64_t{1} << 40);
  EXPECT_EQ(reply.count(), 1);
  EXPECT_EQ(reply.bytes(), *Codec().EncodeSuccessReply(&expected));
}

TEST_F(EmbeddingChannelTest, AnswerAfterTheEngineIsGoneSendsNothing) {
  std::unique_ptr<MethodResult> kept;
  channel_->SetMethodCallHandler(
      [&](const MethodCall&, std::unique_ptr<MethodResult> result) {
        kept = std::move(result);
      });
  ReplyRecorder reply;
  ASSERT_EQ(Deliver(EncodeCall("m", EncodableValue()), &reply), 1);
  channel_.reset();
  engine_.reset();  // FlutterDesktopEngineDestroy: the engine is freed.
  ASSERT_EQ(StandinEngineLiveEngineCount(), 0);

  StderrCapture capture;
  std::thread([&] {
    kept->Success(EncodableValue(1));
    kept.reset();  // The last reference on the messenger goes here.
  }).join();
  EXPECT_EQ(reply.count(), 0);
  EXPECT_EQ(capture.err(), "");
  EXPECT_EQ(StandinEngineCountEvents(kStandinEventResponseDropped, 0), 0);
}

TEST_F(EmbeddingChannelTest, AnswerRacingEngineShutdownNeverRespondsLate) {
  channel_.reset();
  engine_.reset();
  for (int round = 0; round < 50; ++round) {
    SCOPED_TRACE(round);
    auto engine = std::make_unique<FlutterEngine>(EngineProject(L"data"));
    FlutterDesktopEngineRef handle = StandinEngineLatestEngine();
    std::unique_ptr<MethodResult> kept;
    MethodChannel(engine->messenger(), kChannel, &Codec())
        .SetMethodCallHandler(
            [&](const MethodCall&, std::unique_ptr<MethodResult> result) {
              kept = std::move(result);
            });
    const std::vector<uint8_t> message = EncodeCall("m", EncodableValue());
    ReplyRecorder reply;
    ASSERT_EQ(StandinEngineDeliverMessage(handle, kChannel, message.data(),
                                          message.size(),
                                          ReplyRecorder::OnReply, &reply),
              1);
    StandinEngineRunTasks();
    ASSERT_NE(kept, nullptr);
    std::atomic<bool> go{false};
    std::thread answerer([&] {
      while (!go.load()) {
      }
      kept->Success(EncodableValue(round));
      kept.reset();
    });
    go.store(true);
    engine.reset();
    answerer.join();
  }
  // The availability test and the response share the messenger's lock with
  // the engine's end: no response ever reaches an ended engine.
  EXPECT_EQ(StandinEngineCountEvents(kStandinEventResponseDropped, 0), 0);
  EXPECT_EQ(StandinEngineCountEvents(kStandinEventDuplicateResponse, 0), 0);
}

// Outgoing messages, as seen by the user-interface side.
struct Outgoing {
  int32_t accept = 1;
  std::string channel;
  std::vector<uint8_t> bytes;
  int64_t reply_id = -1;

  static int32_t Handle(FlutterDesktopEngineRef, const char* channel,
                        const uint8_t* data, size_t size, int64_t reply_id,
                        void* user_data) {
    auto* self = static_cast<Outgoing*>(user_data);
    self->channel = channel;
    self->bytes.assign(data, data + size);
    self->reply_id = reply_id;
    return self->accept;
  }
};

TEST_F(EmbeddingChannelTest, SendWithAndWithoutReply) {
  Outgoing outgoing;
  StandinEngineSetOutgoingHandler(Outgoing::Handle, &outgoing);
  BinaryMessenger* messenger = engine_->messenger();
  const std::vector<uint8_t> message = {1, 2, 3};

  messenger->Send("out/plain", message.data(), message.size(), nullptr);
  EXPECT_EQ(outgoing.channel, "out/plain");
  EXPECT_EQ(outgoing.bytes, message);
  EXPECT_EQ(outgoing.reply_id, 0);

  std::vector<std::vector<uint8_t>> replies;
  messenger->Send("out/reply", message.data(), message.size(),
                  [&](const uint8_t* data, size_t size) {
                    replies.emplace_back(data, data + size);
                  });
  ASSERT_GT(outgoing.reply_id, 0);
  EXPECT_TRUE(replies.empty());
  const std::vector<uint8_t> answer = {9, 8};
  EXPECT_EQ(StandinEngineAnswerOutgoing(outgoing.reply_id, answer.data(),
                                        answer.size()),
            1);
  EXPECT_EQ(StandinEngineAnswerOutgoing(outgoing.reply_id, answer.data(),
                                        answer.size()),
            0);
  EXPECT_TRUE(replies.empty()) << "answered inside the UI side's call";
  StandinEngineRunTasks();
  EXPECT_EQ(replies, std::vector<std::vector<uint8_t>>{answer});

  // Refused: the reply callable is freed (the leak checker would see it
  // otherwise) and never called.
  outgoing.accept = 0;
  auto token = std::make_shared<int>(0);
  messenger->Send(
      "out/refused", message.data(), message.size(),
      [&replies, token](const uint8_t*, size_t) { replies.emplace_back(); });
  EXPECT_EQ(token.use_count(), 1);
  EXPECT_EQ(replies.size(), 1u);
  StandinEngineSetOutgoingHandler(nullptr, nullptr);
}

TEST_F(EmbeddingChannelTest, ReplyPendingWhenTheEngineEndsIsCalledEmpty) {
  Outgoing outgoing;
  StandinEngineSetOutgoingHandler(Outgoing::Handle, &outgoing);
  const std::vector<uint8_t> message = {1};
  int calls = 0;
  size_t size = 99;
  auto token = std::make_shared<int>(0);
  engine_->messenger()->Send(
      "out/pending", message.data(), message.size(),
      [&calls, &size, token](const uint8_t*, size_t reply_size) {
        ++calls;
        size = reply_size;
      });
  ASSERT_GT(outgoing.reply_id, 0);
  channel_.reset();
  engine_.reset();
  // Called once with no data, and the callable freed with its captures.
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(token.use_count(), 1);
  StandinEngineSetOutgoingHandler(nullptr, nullptr);
}

TEST_F(EmbeddingChannelTest,
       HandlerIsStoredOnceAndKeepsItsStateBetweenMessages) {
  // Counts the copies of the handler's captures.
  struct CopyCounter {
    explicit CopyCounter(int* copies) : copies(copies) {}
    CopyCounter(const CopyCounter& other) : copies(other.copies) { ++*copies; }
    int* copies;
  };
  int copies = 0;
  engine_->messenger()->SetMessageHandler(
      "counting", [counter = CopyCounter(&copies), calls = uint8_t{0}](
                      const uint8_t*, size_t, ReplyCallback reply) mutable {
        ++calls;
        reply(&calls, 1);
      });
  const int copies_at_registration = copies;
  for (uint8_t expected = 1; expected <= 3; ++expected) {
    ReplyRecorder reply;
    ASSERT_EQ(Deliver({0}, &reply, "counting"), 1);
    EXPECT_EQ(reply.bytes(), std::vector<uint8_t>{expected});
  }
  EXPECT_EQ(copies, copies_at_registration) << "handler copied per message";
}

}  // namespace
}  // namespace flutter
