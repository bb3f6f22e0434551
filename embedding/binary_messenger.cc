#include "embedding/binary_messenger.h"

#include <exception>
#include <iostream>
#include <memory>
#include <utility>

namespace flutter {

namespace {

// The response side of one incoming message: a counted reference on the
// engine messenger and the message's response handle. Every copy of the reply
// callback built for the message shares one slot, so the handle is used at
// most once and the messenger outlives the last copy.
class ResponseSlot {
 public:
  ResponseSlot(FlutterDesktopMessengerRef messenger,
               const FlutterDesktopMessageResponseHandle* handle)
      : messenger_(messenger), handle_(handle) {
    FlutterDesktopMessengerAddRef(messenger_);
  }
  ~ResponseSlot() { FlutterDesktopMessengerRelease(messenger_); }

  ResponseSlot(const ResponseSlot&) = delete;
  ResponseSlot& operator=(const ResponseSlot&) = delete;

  // Sends the response unless the engine has gone (dropped silently) or a
  // response was already sent (reported when |report_duplicate|). Safe on any
  // thread: the messenger lock serialises against engine shutdown and guards
  // the handle.
  void Respond(const uint8_t* data, size_t size, bool report_duplicate) {
    if (FlutterDesktopMessengerLock(messenger_) == nullptr) {
      return;
    }
    if (FlutterDesktopMessengerIsAvailable(messenger_)) {
      if (handle_ == nullptr) {
        if (report_duplicate) {
          std::cerr << "Error: Response can be set only once. Ignoring "
                       "duplicate response."
                    << std::endl;
        }
      } else {
        const FlutterDesktopMessageResponseHandle* handle = handle_;
        handle_ = nullptr;
        FlutterDesktopMessengerSendResponse(messenger_, handle, data, size);
      }
    }
    FlutterDesktopMessengerUnlock(messenger_);
  }

 private:
  FlutterDesktopMessengerRef messenger_;
  const FlutterDesktopMessageResponseHandle* handle_;
};

// Reply callback of FlutterDesktopMessengerSendWithReply; |user_data| is the
// heap copy of the caller's ReplyCallback, used once.
void ForwardReply(const uint8_t* data, size_t data_size, void* user_data) {
  std::unique_ptr<ReplyCallback> reply(static_cast<ReplyCallback*>(user_data));
  try {
    (*reply)(data, data_size);
  } catch (const std::exception& e) {
    std::cerr << "Unhandled exception in reply handler: " << e.what()
              << std::endl;
  } catch (...) {
    std::cerr << "Unhandled exception in reply handler." << std::endl;
  }
}

}  // namespace

BinaryMessengerImpl::BinaryMessengerImpl(FlutterDesktopMessengerRef messenger)
    : messenger_(messenger) {}

BinaryMessengerImpl::~BinaryMessengerImpl() = default;

void BinaryMessengerImpl::Send(const std::string& channel,
                               const uint8_t* message, size_t message_size,
                               ReplyCallback reply) const {
  if (messenger_ == nullptr) {
    return;
  }
  if (!reply) {
    FlutterDesktopMessengerSend(messenger_, channel.c_str(), message,
                                message_size);
    return;
  }
  auto owned_reply = std::make_unique<ReplyCallback>(std::move(reply));
  if (FlutterDesktopMessengerSendWithReply(messenger_, channel.c_str(), message,
                                           message_size, ForwardReply,
                                           owned_reply.get())) {
    // The engine calls ForwardReply exactly once, which deletes it.
    static_cast<void>(owned_reply.release());
  }
}

void BinaryMessengerImpl::SetMessageHandler(const std::string& channel,
                                            MessageHandler handler) {
  if (!handler) {
    handlers_.erase(channel);
    if (messenger_ != nullptr) {
      FlutterDesktopMessengerSetCallback(messenger_, channel.c_str(), nullptr,
                                         nullptr);
    }
    return;
  }
  // Assigning into an existing entry keeps its address.
  std::shared_ptr<MessageHandler>& stored = handlers_[channel];
  stored = std::make_shared<MessageHandler>(std::move(handler));
  if (messenger_ != nullptr) {
    FlutterDesktopMessengerSetCallback(messenger_, channel.c_str(),
                                       DispatchIncomingMessage, &stored);
  }
}

void DispatchIncomingMessage(FlutterDesktopMessengerRef messenger,
                             const FlutterDesktopMessage* message,
                             void* user_data) {
  std::shared_ptr<ResponseSlot> slot;
  try {
    slot = std::make_shared<ResponseSlot>(messenger, message->response_handle);
    const auto* stored =
        static_cast<const std::shared_ptr<MessageHandler>*>(user_data);
    if (stored == nullptr || *stored == nullptr || !**stored) {
      slot->Respond(nullptr, 0, false);
      return;
    }
    // A second owner, not a copy of the handler: the handler may replace or
    // clear its own channel's entry while it runs.
    std::shared_ptr<MessageHandler> handler = *stored;
    (*handler)(message->message, message->message_size,
               [slot](const uint8_t* data, size_t size) {
                 slot->Respond(data, size, true);
               });
  } catch (const std::exception& e) {
    std::cerr << "Unhandled exception in message handler: " << e.what()
              << std::endl;
    // The caller on the other side would otherwise wait for ever.
    if (slot) {
      slot->Respond(nullptr, 0, false);
    }
  } catch (...) {
    std::cerr << "Unhandled exception in message handler." << std::endl;
    if (slot) {
      slot->Respond(nullptr, 0, false);
    }
  }
}

}  // namespace flutter
