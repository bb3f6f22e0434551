// The stand-in's messenger: channel callbacks, messages both ways, responses
// and the client lock. Like a real engine it delivers on its own turn of the
// UI thread (task_queue.cc): a message, a response or an answer to a
// SendWithReply never runs inside the call that caused it.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "standins/engine/engine_internal.h"
#include "standins/engine/engine_lifecycle.h"

namespace standin {

namespace {

// Bytes kept for a later turn; remembers whether the sender passed null.
struct Payload {
  Payload(const uint8_t* data, size_t size)
      : null(data == nullptr),
        bytes(data, data + (data != nullptr ? size : 0)) {}
  const uint8_t* data() const { return null ? nullptr : bytes.data(); }
  size_t size() const { return bytes.size(); }
  bool null;
  std::vector<uint8_t> bytes;
};

// The UI side's answer to a native SendWithReply: on the engine's turn, or
// with no data when the engine ends first.
void PostOutgoingReply(FlutterDesktopEngine* engine,
                       FlutterDesktopBinaryReply reply, void* user_data,
                       std::shared_ptr<Payload> payload) {
  PostTask(engine, [reply, user_data, payload](bool run) {
    if (run) {
      reply(payload->data(), payload->size(), user_data);
    } else {
      reply(nullptr, 0, user_data);
    }
  });
}

// A response for the UI side, given on the engine's turn.
void PostResponse(FlutterDesktopEngine* engine, const StandinResponseSlot& slot,
                  std::shared_ptr<Payload> payload) {
  StandinEngineReplyCallback reply = slot.reply;
  void (*on_drop)(void*) = slot.on_drop;
  void* user_data = slot.user_data;
  PostTask(engine, [reply, on_drop, user_data, payload](bool run) {
    if (run && reply != nullptr) {
      reply(payload->data(), payload->size(), user_data);
    } else if (!run && on_drop != nullptr) {
      on_drop(user_data);
    }
  });
}

// Runs on the engine's turn: hands a queued message to the channel's
// callback, or answers it empty when nothing is registered by then.
void DispatchQueued(FlutterDesktopEngine* engine, const std::string& channel,
                    const Payload& message, StandinEngineReplyCallback reply,
                    void (*on_drop)(void*), void* user_data) {
  FlutterDesktopMessenger* messenger = engine->messenger;
  FlutterDesktopMessenger::Callback callback{nullptr, nullptr};
  const StandinResponseSlot* handle = nullptr;
  {
    platform::MutexLock guard(messenger->mutex);
    auto found = messenger->callbacks.find(channel);
    if (found != messenger->callbacks.end()) {
      callback = found->second;
      auto slot = std::make_unique<StandinResponseSlot>();
      slot->channel = channel;
      slot->reply = reply;
      slot->on_drop = on_drop;
      slot->user_data = user_data;
      handle = slot.get();
      messenger->responses[handle] = std::move(slot);
    }
  }
  if (callback.function == nullptr) {
    StandinResponseSlot unhandled;
    unhandled.reply = reply;
    unhandled.on_drop = on_drop;
    unhandled.user_data = user_data;
    PostResponse(engine, unhandled, std::make_shared<Payload>(nullptr, 0));
    return;
  }
  FlutterDesktopMessage record{};
  record.struct_size = sizeof(record);
  record.channel = channel.c_str();
  record.message = message.data();
  record.message_size = message.size();
  record.response_handle =
      reinterpret_cast<const FlutterDesktopMessageResponseHandle*>(handle);
  callback.function(messenger, &record, callback.user_data);
}

// The thread holds the messenger's client lock.
bool HoldsClientLock(const FlutterDesktopMessenger* messenger) {
  return messenger->client_owner.load() == std::this_thread::get_id();
}

}  // namespace

bool IsLiveMessenger(FlutterDesktopMessenger* messenger) {
  Library& library = GetLibrary();
  platform::MutexLock guard(library.mutex);
  return messenger != nullptr && library.live_messengers.count(messenger) != 0;
}

void ReleaseMessenger(FlutterDesktopMessenger* messenger) {
  if (messenger->references.fetch_sub(1) != 1) {
    return;
  }
  {
    Library& library = GetLibrary();
    platform::MutexLock guard(library.mutex);
    library.live_messengers.erase(messenger);
  }
  delete messenger;
}

void EndMessenger(FlutterDesktopEngine* engine) {
  FlutterDesktopMessenger* messenger = engine->messenger;
  // Waits for a response given under the client lock on another thread; the
  // ending thread holding it itself would hang a real engine.
  const bool held_here = HoldsClientLock(messenger);
  if (held_here) {
    Misuse(engine->serial,
           "engine ended while its thread holds the messenger lock");
  }
  std::unique_lock<std::mutex> client(messenger->client_mutex, std::defer_lock);
  if (!held_here) {
    client.lock();
  }
  std::vector<std::pair<void (*)(void*), void*>> drops;
  {
    platform::MutexLock guard(messenger->mutex);
    messenger->engine = nullptr;
    messenger->callbacks.clear();
    for (auto& entry : messenger->responses) {
      StandinResponseSlot& slot = *entry.second;
      if (!slot.used && !slot.dropped) {
        slot.dropped = true;
        if (slot.on_drop != nullptr) {
          drops.emplace_back(slot.on_drop, slot.user_data);
        }
      }
    }
  }
  if (client.owns_lock()) {
    client.unlock();
  }
  for (auto& [on_drop, user_data] : drops) {
    on_drop(user_data);
  }
}

int32_t DeliverMessage(FlutterDesktopEngine* engine, const std::string& channel,
                       const uint8_t* data, size_t size,
                       StandinEngineReplyCallback reply, void (*on_drop)(void*),
                       void* user_data) {
  FlutterDesktopMessenger* messenger;
  {
    Library& library = GetLibrary();
    platform::MutexLock guard(library.mutex);
    bool live = false;
    for (FlutterDesktopEngine* candidate : library.engines) {
      live = live || candidate == engine;
    }
    if (!live || !engine->running) {
      return -1;
    }
    messenger = engine->messenger;
  }
  bool handled;
  {
    platform::MutexLock guard(messenger->mutex);
    if (messenger->engine == nullptr) {
      return -1;
    }
    handled = messenger->callbacks.count(channel) != 0;
  }
  auto message = std::make_shared<Payload>(data, size);
  PostTask(
      engine, [engine, channel, message, reply, on_drop, user_data](bool run) {
        if (run) {
          DispatchQueued(engine, channel, *message, reply, on_drop, user_data);
        } else if (on_drop != nullptr) {
          on_drop(user_data);
        }
      });
  return handled ? 1 : 0;
}

bool SendToUi(FlutterDesktopMessenger* messenger, const char* channel,
              const uint8_t* data, size_t size, FlutterDesktopBinaryReply reply,
              void* user_data, const char* function) {
  if (!IsLiveMessenger(messenger) || channel == nullptr) {
    Misuse(0, std::string(function) + ": bad messenger or null channel");
    return false;
  }
  FlutterDesktopEngine* engine;
  {
    platform::MutexLock guard(messenger->mutex);
    engine = messenger->engine;
  }
  if (engine == nullptr) {
    return false;
  }
  LogEvent(kStandinEventMessageSent, messenger->engine_serial, nullptr,
           channel);
  Library& library = GetLibrary();
  StandinEngineOutgoingHandler handler;
  void* handler_data;
  int64_t reply_id = 0;
  {
    platform::MutexLock guard(library.mutex);
    handler = library.outgoing_handler;
    handler_data = library.outgoing_user_data;
    if (handler != nullptr && reply != nullptr) {
      reply_id = library.next_reply_id++;
      library.outgoing[reply_id] = {engine, reply, user_data};
    }
  }
  if (handler == nullptr) {
    // The UI side has no handler: the scripted one notes the call, and the
    // engine answers with an empty reply.
    WriteCallFromHostToTranscript(channel, data, size);
    if (reply != nullptr) {
      PostOutgoingReply(engine, reply, user_data,
                        std::make_shared<Payload>(nullptr, 0));
    }
    return true;
  }
  if (handler(engine, channel, data, size, reply_id, handler_data) == 0) {
    if (reply_id != 0) {
      platform::MutexLock guard(library.mutex);
      library.outgoing.erase(reply_id);
    }
    return false;
  }
  return true;
}

bool AnswerOutgoing(int64_t reply_id, const uint8_t* data, size_t size) {
  Library::OutgoingReply pending;
  {
    Library& library = GetLibrary();
    platform::MutexLock guard(library.mutex);
    auto found = library.outgoing.find(reply_id);
    if (found == library.outgoing.end()) {
      return false;
    }
    pending = found->second;
    library.outgoing.erase(found);
  }
  PostOutgoingReply(pending.engine, pending.reply, pending.user_data,
                    std::make_shared<Payload>(data, size));
  return true;
}

}  // namespace standin

using standin::Misuse;
using standin::NoThrow;
using standin::NoThrowVoid;

extern "C" {

bool FlutterDesktopMessengerSend(FlutterDesktopMessengerRef messenger,
                                 const char* channel, const uint8_t* message,
                                 size_t message_size) {
  return NoThrow(false, [&] {
    return standin::SendToUi(messenger, channel, message, message_size, nullptr,
                             nullptr, "FlutterDesktopMessengerSend");
  });
}

bool FlutterDesktopMessengerSendWithReply(FlutterDesktopMessengerRef messenger,
                                          const char* channel,
                                          const uint8_t* message,
                                          size_t message_size,
                                          FlutterDesktopBinaryReply reply,
                                          void* user_data) {
  return NoThrow(false, [&] {
    return standin::SendToUi(messenger, channel, message, message_size, reply,
                             user_data, "FlutterDesktopMessengerSendWithReply");
  });
}

void FlutterDesktopMessengerSendResponse(
    FlutterDesktopMessengerRef messenger,
    const FlutterDesktopMessageResponseHandle* handle, const uint8_t* data,
    size_t data_length) {
  NoThrowVoid([&] {
    if (!standin::IsLiveMessenger(messenger)) {
      Misuse(0, "FlutterDesktopMessengerSendResponse: bad messenger");
      return;
    }
    platform::MutexLock guard(messenger->mutex);
    auto found = messenger->responses.find(handle);
    if (found == messenger->responses.end()) {
      Misuse(messenger->engine_serial,
             "FlutterDesktopMessengerSendResponse: unknown response handle");
      return;
    }
    StandinResponseSlot& slot = *found->second;
    if (slot.used) {
      standin::LogEvent(kStandinEventDuplicateResponse,
                        messenger->engine_serial, nullptr, slot.channel);
      return;
    }
    slot.used = true;
    if (slot.dropped || messenger->engine == nullptr) {
      standin::LogEvent(kStandinEventResponseDropped, messenger->engine_serial,
                        nullptr, slot.channel);
      return;
    }
    standin::PostResponse(
        messenger->engine, slot,
        std::make_shared<standin::Payload>(data, data_length));
  });
}

void FlutterDesktopMessengerSetCallback(FlutterDesktopMessengerRef messenger,
                                        const char* channel,
                                        FlutterDesktopMessageCallback callback,
                                        void* user_data) {
  NoThrowVoid([&] {
    if (!standin::IsLiveMessenger(messenger) || channel == nullptr) {
      Misuse(0,
             "FlutterDesktopMessengerSetCallback: bad messenger or null "
             "channel");
      return;
    }
    platform::MutexLock guard(messenger->mutex);
    if (messenger->engine == nullptr) {
      return;  // Plugins going after the engine may still clear channels.
    }
    if (callback == nullptr) {
      messenger->callbacks.erase(channel);
    } else {
      messenger->callbacks[channel] = {callback, user_data};
    }
  });
}

FlutterDesktopMessengerRef FlutterDesktopMessengerAddRef(
    FlutterDesktopMessengerRef messenger) {
  if (!standin::IsLiveMessenger(messenger)) {
    Misuse(0, "FlutterDesktopMessengerAddRef: bad messenger");
    return nullptr;
  }
  messenger->references.fetch_add(1);
  return messenger;
}

void FlutterDesktopMessengerRelease(FlutterDesktopMessengerRef messenger) {
  if (!standin::IsLiveMessenger(messenger)) {
    Misuse(0, "FlutterDesktopMessengerRelease: bad messenger");
    return;
  }
  standin::ReleaseMessenger(messenger);
}

bool FlutterDesktopMessengerIsAvailable(FlutterDesktopMessengerRef messenger) {
  if (!standin::IsLiveMessenger(messenger)) {
    Misuse(0, "FlutterDesktopMessengerIsAvailable: bad messenger");
    return false;
  }
  platform::MutexLock guard(messenger->mutex);
  return messenger->engine != nullptr;
}

FlutterDesktopMessengerRef FlutterDesktopMessengerLock(
    FlutterDesktopMessengerRef messenger) {
  if (!standin::IsLiveMessenger(messenger)) {
    Misuse(0, "FlutterDesktopMessengerLock: bad messenger");
    return nullptr;
  }
  if (standin::HoldsClientLock(messenger)) {
    Misuse(messenger->engine_serial,
           "FlutterDesktopMessengerLock: second lock on one thread");
    return nullptr;
  }
  messenger->client_mutex.lock();
  messenger->client_owner.store(std::this_thread::get_id());
  return messenger;
}

void FlutterDesktopMessengerUnlock(FlutterDesktopMessengerRef messenger) {
  if (!standin::IsLiveMessenger(messenger)) {
    Misuse(0, "FlutterDesktopMessengerUnlock: bad messenger");
    return;
  }
  if (!standin::HoldsClientLock(messenger)) {
    Misuse(messenger->engine_serial,
           "FlutterDesktopMessengerUnlock: the thread does not hold the lock");
    return;
  }
  messenger->client_owner.store(std::thread::id());
  messenger->client_mutex.unlock();
}

}  // extern "C"
