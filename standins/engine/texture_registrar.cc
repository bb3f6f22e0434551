// The stand-in's texture registrars: textures are recorded and counted, never
// drawn.
#include <cstdint>
#include <mutex>
#include <string>

#include "standins/engine/engine_internal.h"

using standin::GetLibrary;
using standin::IsLive;
using standin::Library;
using standin::LiveOrMisuse;
using standin::LogEvent;
using standin::Misuse;
using standin::NoThrow;
using standin::NoThrowVoid;

extern "C" {

int64_t FlutterDesktopTextureRegistrarRegisterExternalTexture(
    FlutterDesktopTextureRegistrarRef texture_registrar,
    const FlutterDesktopTextureInfo* info) {
  return NoThrow<int64_t>(-1, [&] {
    int64_t id = -1;
    {
      Library& library = GetLibrary();
      platform::MutexLock guard(library.mutex);
      if (IsLive(library.live_texture_registrars, texture_registrar) &&
          info != nullptr &&
          (info->type == kFlutterDesktopPixelBufferTexture ||
           info->type == kFlutterDesktopGpuSurfaceTexture) &&
          texture_registrar->engine->running) {
        id = texture_registrar->next_id++;
        texture_registrar->textures[id] = {*info, 0};
      }
    }
    if (id < 0) {
      Misuse(0,
             "FlutterDesktopTextureRegistrarRegisterExternalTexture: bad "
             "registrar, record or type");
    }
    return id;
  });
}

void FlutterDesktopTextureRegistrarUnregisterExternalTexture(
    FlutterDesktopTextureRegistrarRef texture_registrar, int64_t texture_id,
    FlutterDesktopOnTextureUnregistered callback, void* user_data) {
  NoThrowVoid([&] {
    bool removed = false;
    int64_t serial = 0;
    {
      Library& library = GetLibrary();
      platform::MutexLock guard(library.mutex);
      if (IsLive(library.live_texture_registrars, texture_registrar)) {
        removed = texture_registrar->textures.erase(texture_id) != 0;
        serial = texture_registrar->engine->serial;
      }
    }
    if (!removed) {
      Misuse(serial,
             "FlutterDesktopTextureRegistrarUnregisterExternalTexture: "
             "unknown texture " +
                 std::to_string(texture_id));
    }
    // Called once the engine has released the texture, on a later turn (or
    // when the engine ends first); never for a texture it does not know.
    if (callback != nullptr && removed) {
      FlutterDesktopEngine* engine = texture_registrar->engine;
      standin::PostTask(engine,
                        [callback, user_data, serial, texture_id](bool) {
                          LogEvent(kStandinEventTextureUnregistered, serial,
                                   nullptr, std::to_string(texture_id));
                          callback(user_data);
                        });
    }
  });
}

bool FlutterDesktopTextureRegistrarMarkExternalTextureFrameAvailable(
    FlutterDesktopTextureRegistrarRef texture_registrar, int64_t texture_id) {
  Library& library = GetLibrary();
  platform::MutexLock guard(library.mutex);
  if (!LiveOrMisuse(
          library.live_texture_registrars, texture_registrar,
          "FlutterDesktopTextureRegistrarMarkExternalTextureFrameAvailable: "
          "bad registrar")) {
    return false;
  }
  auto found = texture_registrar->textures.find(texture_id);
  if (found == texture_registrar->textures.end()) {
    return false;
  }
  ++found->second.frames_marked;
  return true;
}

}  // extern "C"
