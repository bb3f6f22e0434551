// Raw byte messaging over the engine's messenger: per-channel handlers for
// incoming messages and outgoing sends with an optional reply.
#ifndef QUILLON_EMBEDDING_BINARY_MESSENGER_H_
#define QUILLON_EMBEDDING_BINARY_MESSENGER_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "interfaces/flutter_windows.h"

namespace flutter {

// Answers one message. A null pointer with size 0 is an empty reply. May be
// called on any thread; only the first call sends anything.
using ReplyCallback = std::function<void(const uint8_t* reply, size_t size)>;

// Handles one incoming message; owns the reply callback it is given.
using MessageHandler = std::function<void(
    const uint8_t* message, size_t message_size, ReplyCallback reply)>;

class BinaryMessenger {
 public:
  virtual ~BinaryMessenger() = default;

  // Sends |message| on |channel|. An empty |reply| asks for no reply.
  virtual void Send(const std::string& channel, const uint8_t* message,
                    size_t message_size, ReplyCallback reply) const = 0;

  // Installs |handler| for |channel|, replacing any earlier one; an empty
  // handler unregisters the channel.
  virtual void SetMessageHandler(const std::string& channel,
                                 MessageHandler handler) = 0;
};

class BinaryMessengerImpl : public BinaryMessenger {
 public:
  // |messenger| is not owned. A null messenger (an engine that did not start)
  // gives a messenger that keeps handlers but never reaches an engine.
  explicit BinaryMessengerImpl(FlutterDesktopMessengerRef messenger);
  // Does not clear the engine's callbacks: the owner destroys a messenger
  // only once the engine no longer delivers to it.
  ~BinaryMessengerImpl() override;

  BinaryMessengerImpl(const BinaryMessengerImpl&) = delete;
  BinaryMessengerImpl& operator=(const BinaryMessengerImpl&) = delete;

  void Send(const std::string& channel, const uint8_t* message,
            size_t message_size, ReplyCallback reply) const override;
  void SetMessageHandler(const std::string& channel,
                         MessageHandler handler) override;

  FlutterDesktopMessengerRef messenger() const { return messenger_; }

 private:
  FlutterDesktopMessengerRef messenger_;
  // Node-based: the engine holds the address of each stored entry, so an
  // entry must not move while it exists. The handler itself is shared so that
  // a message in progress keeps it alive while it replaces or clears its own
  // channel; it is stored once and run in place, keeping its state.
  std::map<std::string, std::shared_ptr<MessageHandler>> handlers_;
};

// The engine's message callback. |user_data| is the address of a stored
// handler entry (a shared MessageHandler). Reads only the message bytes, their
// size and the response handle of |message|.
void DispatchIncomingMessage(FlutterDesktopMessengerRef messenger,
                             const FlutterDesktopMessage* message,
                             void* user_data);

}  // namespace flutter

#endif  // QUILLON_EMBEDDING_BINARY_MESSENGER_H_
