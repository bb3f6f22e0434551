// Test controls of the stand-in engine library (standin_control.h).
#include "standins/engine/standin_control.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "standins/engine/engine_internal.h"
#include "standins/engine/engine_lifecycle.h"

namespace {

using standin::GetLibrary;
using standin::Library;

int32_t CopyText(const std::string& text, char* buffer, size_t capacity) {
  if (buffer != nullptr && capacity > 0) {
    size_t count = std::min(text.size(), capacity - 1);
    std::memcpy(buffer, text.data(), count);
    buffer[count] = '\0';
  }
  return static_cast<int32_t>(text.size());
}

bool IsLiveLocked(const Library& library, FlutterDesktopEngineRef engine)
    QUILLON_REQUIRES(library.mutex) {
  return engine != nullptr &&
         std::find(library.engines.begin(), library.engines.end(), engine) !=
             library.engines.end();
}

// Takes a reference on a running engine's messenger, or returns null.
FlutterDesktopMessenger* HoldMessenger(FlutterDesktopEngineRef engine) {
  Library& library = GetLibrary();
  platform::MutexLock guard(library.mutex);
  if (!IsLiveLocked(library, engine)) {
    return nullptr;
  }
  engine->messenger->references.fetch_add(1);
  return engine->messenger;
}

}  // namespace

extern "C" {

void StandinEngineResetControls(void) {
  Library& library = GetLibrary();
  {
    platform::MutexLock guard(library.mutex);
    library.outgoing_handler = nullptr;
    library.outgoing_user_data = nullptr;
    library.refuse_view_controllers = 0;
    library.claimed_messages.clear();
    library.offered_messages.clear();
    library.dpi_override = 0;
    library.scripted_ui_enabled = true;
  }
  platform::MutexLock guard(library.events_mutex);
  library.events.clear();
}

int32_t StandinEngineLiveEngineCount(void) {
  Library& library = GetLibrary();
  platform::MutexLock guard(library.mutex);
  return static_cast<int32_t>(library.engines.size());
}

FlutterDesktopEngineRef StandinEngineLatestEngine(void) {
  Library& library = GetLibrary();
  platform::MutexLock guard(library.mutex);
  return library.engines.empty() ? nullptr : library.engines.back();
}

int64_t StandinEngineSerial(FlutterDesktopEngineRef engine) {
  Library& library = GetLibrary();
  platform::MutexLock guard(library.mutex);
  return IsLiveLocked(library, engine) ? engine->serial : 0;
}

int32_t StandinEngineIsRunning(FlutterDesktopEngineRef engine) {
  Library& library = GetLibrary();
  platform::MutexLock guard(library.mutex);
  return IsLiveLocked(library, engine) && engine->running ? 1 : 0;
}

int32_t StandinEngineIsOwnedByViewController(FlutterDesktopEngineRef engine) {
  Library& library = GetLibrary();
  platform::MutexLock guard(library.mutex);
  return IsLiveLocked(library, engine) && engine->controller != nullptr ? 1 : 0;
}

int32_t StandinEngineGetPath(FlutterDesktopEngineRef engine, int32_t which,
                             char* buffer, size_t capacity) {
  return standin::NoThrow<int32_t>(-1, [&] {
    Library& library = GetLibrary();
    platform::MutexLock guard(library.mutex);
    if (!IsLiveLocked(library, engine) || which < 0 || which > 2) {
      return -1;
    }
    return CopyText(standin::ToUtf8(engine->paths[which]), buffer, capacity);
  });
}

int32_t StandinEngineGetEntrypoint(FlutterDesktopEngineRef engine, char* buffer,
                                   size_t capacity) {
  Library& library = GetLibrary();
  platform::MutexLock guard(library.mutex);
  if (!IsLiveLocked(library, engine)) {
    return -1;
  }
  return CopyText(engine->entrypoint, buffer, capacity);
}

int32_t StandinEngineGetArgumentCount(FlutterDesktopEngineRef engine) {
  Library& library = GetLibrary();
  platform::MutexLock guard(library.mutex);
  if (!IsLiveLocked(library, engine)) {
    return -1;
  }
  return static_cast<int32_t>(engine->arguments.size());
}

int32_t StandinEngineGetArgument(FlutterDesktopEngineRef engine, int32_t index,
                                 char* buffer, size_t capacity) {
  Library& library = GetLibrary();
  platform::MutexLock guard(library.mutex);
  if (!IsLiveLocked(library, engine) || index < 0 ||
      static_cast<size_t>(index) >= engine->arguments.size()) {
    return -1;
  }
  return CopyText(engine->arguments[index], buffer, capacity);
}

int32_t StandinEngineGetOption(FlutterDesktopEngineRef engine, int32_t which) {
  Library& library = GetLibrary();
  platform::MutexLock guard(library.mutex);
  if (!IsLiveLocked(library, engine) || which < 1 || which > 2) {
    return 0;
  }
  return engine->options[which - 1];
}

int32_t StandinEngineShutdown(FlutterDesktopEngineRef engine) {
  if (!standin::IsLiveEngine(engine)) {
    return -1;
  }
  return standin::NoThrow<int32_t>(
      -1, [&] { return standin::EndEngine(engine, "StandinEngineShutdown"); });
}

int32_t StandinEngineEndRegistrars(FlutterDesktopEngineRef engine) {
  if (StandinEngineIsRunning(engine) == 0) {
    return -1;
  }
  return standin::NoThrow<int32_t>(
      -1, [&] { return standin::EndRegistrars(engine); });
}

int32_t StandinEngineDeliverMessage(FlutterDesktopEngineRef engine,
                                    const char* channel, const uint8_t* data,
                                    size_t size,
                                    StandinEngineReplyCallback reply,
                                    void* user_data) {
  if (channel == nullptr) {
    return -1;
  }
  return standin::NoThrow<int32_t>(-1, [&] {
    return standin::DeliverMessage(engine, channel, data, size, reply, nullptr,
                                   user_data);
  });
}

int32_t StandinEnginePendingResponseCount(FlutterDesktopEngineRef engine) {
  FlutterDesktopMessenger* messenger = HoldMessenger(engine);
  if (messenger == nullptr) {
    return -1;
  }
  int32_t count = 0;
  {
    platform::MutexLock guard(messenger->mutex);
    for (const auto& entry : messenger->responses) {
      count += !entry.second->used && !entry.second->dropped ? 1 : 0;
    }
  }
  standin::ReleaseMessenger(messenger);
  return count;
}

int32_t StandinEngineHasChannelCallback(FlutterDesktopEngineRef engine,
                                        const char* channel) {
  FlutterDesktopMessenger* messenger = HoldMessenger(engine);
  if (messenger == nullptr) {
    return -1;
  }
  int32_t found = 0;
  if (channel != nullptr) {
    platform::MutexLock guard(messenger->mutex);
    found = messenger->callbacks.count(channel) != 0 ? 1 : 0;
  }
  standin::ReleaseMessenger(messenger);
  return found;
}

void StandinEngineSetOutgoingHandler(StandinEngineOutgoingHandler handler,
                                     void* user_data) {
  Library& library = GetLibrary();
  platform::MutexLock guard(library.mutex);
  library.outgoing_handler = handler;
  library.outgoing_user_data = handler != nullptr ? user_data : nullptr;
}

int32_t StandinEngineAnswerOutgoing(int64_t reply_id, const uint8_t* data,
                                    size_t size) {
  return standin::NoThrow<int32_t>(
      0, [&] { return standin::AnswerOutgoing(reply_id, data, size) ? 1 : 0; });
}

int32_t StandinEnginePendingOutgoingCount(FlutterDesktopEngineRef engine) {
  Library& library = GetLibrary();
  platform::MutexLock guard(library.mutex);
  if (!IsLiveLocked(library, engine)) {
    return -1;
  }
  int32_t count = 0;
  for (const auto& entry : library.outgoing) {
    count += entry.second.engine == engine ? 1 : 0;
  }
  return count;
}

void StandinEngineRefuseViewControllers(int32_t count) {
  Library& library = GetLibrary();
  platform::MutexLock guard(library.mutex);
  library.refuse_view_controllers = std::max(count, 0);
}

void StandinEngineClaimWindowMessage(UINT message, LRESULT result) {
  standin::NoThrowVoid([&] {
    Library& library = GetLibrary();
    platform::MutexLock guard(library.mutex);
    library.claimed_messages[message] = result;
  });
}

void StandinEngineClearWindowMessageClaims(void) {
  Library& library = GetLibrary();
  platform::MutexLock guard(library.mutex);
  library.claimed_messages.clear();
}

int32_t StandinEngineOfferedMessageCount(UINT message) {
  Library& library = GetLibrary();
  platform::MutexLock guard(library.mutex);
  auto found = library.offered_messages.find(message);
  return found == library.offered_messages.end() ? 0 : found->second;
}

HWND StandinEngineViewWindow(FlutterDesktopEngineRef engine) {
  Library& library = GetLibrary();
  platform::MutexLock guard(library.mutex);
  if (!IsLiveLocked(library, engine) || engine->controller == nullptr) {
    return nullptr;
  }
  return engine->controller->view.hwnd;
}

void StandinEngineSetScriptedUi(int32_t enabled) {
  Library& library = GetLibrary();
  platform::MutexLock guard(library.mutex);
  library.scripted_ui_enabled = enabled != 0;
}

void StandinEngineSetDpiOverride(UINT dpi) {
  Library& library = GetLibrary();
  platform::MutexLock guard(library.mutex);
  library.dpi_override = dpi;
}

int32_t StandinEngineTextureCount(FlutterDesktopEngineRef engine) {
  Library& library = GetLibrary();
  platform::MutexLock guard(library.mutex);
  if (!IsLiveLocked(library, engine)) {
    return -1;
  }
  return static_cast<int32_t>(engine->texture_registrar->textures.size());
}

int32_t StandinEngineTextureFramesMarked(FlutterDesktopEngineRef engine,
                                         int64_t texture_id) {
  Library& library = GetLibrary();
  platform::MutexLock guard(library.mutex);
  if (!IsLiveLocked(library, engine)) {
    return -1;
  }
  const auto& textures = engine->texture_registrar->textures;
  auto found = textures.find(texture_id);
  return found == textures.end() ? -1 : found->second.frames_marked;
}

const void* StandinEngineFetchTexture(FlutterDesktopEngineRef engine,
                                      int64_t texture_id, size_t width,
                                      size_t height) {
  FlutterDesktopTextureInfo info;
  {
    Library& library = GetLibrary();
    platform::MutexLock guard(library.mutex);
    if (!IsLiveLocked(library, engine)) {
      return nullptr;
    }
    const auto& textures = engine->texture_registrar->textures;
    auto found = textures.find(texture_id);
    if (found == textures.end()) {
      return nullptr;
    }
    info = found->second.info;
  }
  if (info.type == kFlutterDesktopPixelBufferTexture) {
    const auto& config = info.pixel_buffer_config;
    return config.callback != nullptr
               ? config.callback(width, height, config.user_data)
               : nullptr;
  }
  const auto& config = info.gpu_surface_config;
  return config.callback != nullptr
             ? config.callback(width, height, config.user_data)
             : nullptr;
}

int32_t StandinEngineEventCount(void) {
  Library& library = GetLibrary();
  platform::MutexLock guard(library.events_mutex);
  return static_cast<int32_t>(library.events.size());
}

int32_t StandinEngineGetEvent(int32_t index, StandinEngineEvent* event) {
  Library& library = GetLibrary();
  platform::MutexLock guard(library.events_mutex);
  if (index < 0 || static_cast<size_t>(index) >= library.events.size() ||
      event == nullptr) {
    return 0;
  }
  *event = library.events[index];
  return 1;
}

int32_t StandinEngineCountEvents(int32_t kind, int64_t engine_serial) {
  Library& library = GetLibrary();
  platform::MutexLock guard(library.events_mutex);
  int32_t count = 0;
  for (const StandinEngineEvent& event : library.events) {
    if ((kind == 0 || event.kind == kind) &&
        (engine_serial == 0 || event.engine_serial == engine_serial)) {
      ++count;
    }
  }
  return count;
}

int32_t StandinEngineUnacknowledgedMisuse(char* buffer, size_t capacity) {
  return standin::NoThrow<int32_t>(0, [&] {
    Library& library = GetLibrary();
    platform::MutexLock guard(library.events_mutex);
    CopyText(library.first_misuse, buffer, capacity);
    return library.unacknowledged_misuse;
  });
}

int32_t StandinEngineAcknowledgeMisuse(void) {
  Library& library = GetLibrary();
  platform::MutexLock guard(library.events_mutex);
  const int32_t count = library.unacknowledged_misuse;
  library.unacknowledged_misuse = 0;
  library.first_misuse.clear();
  return count;
}

void StandinEngineClearEvents(void) {
  Library& library = GetLibrary();
  platform::MutexLock guard(library.events_mutex);
  library.events.clear();
}

}  // extern "C"
