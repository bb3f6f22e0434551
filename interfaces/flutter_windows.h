// C interface of the engine's embedding library, flutter_windows.dll, as this
// host uses it. Record layouts are fixed by the library's ABI; the
// static_asserts below pin the offsets the host reads and writes.
#ifndef QUILLON_INTERFACES_FLUTTER_WINDOWS_H_
#define QUILLON_INTERFACES_FLUTTER_WINDOWS_H_

#include <stddef.h>
#include <stdint.h>

#ifdef _WIN32
#include <windows.h>
#else
// Native builds (Linux) compile the platform-neutral layers only; the window
// types are opaque there.
typedef struct HWND__* HWND;
typedef struct HMONITOR__* HMONITOR;
typedef unsigned int UINT;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
#endif

#if defined(_WIN32)
#if defined(FLUTTER_DESKTOP_LIBRARY)
#define FLUTTER_EXPORT __declspec(dllexport)
#else
#define FLUTTER_EXPORT __declspec(dllimport)
#endif
#else
#define FLUTTER_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct FlutterDesktopEngine* FlutterDesktopEngineRef;
typedef struct FlutterDesktopViewController* FlutterDesktopViewControllerRef;
typedef struct FlutterDesktopView* FlutterDesktopViewRef;
typedef struct FlutterDesktopMessenger* FlutterDesktopMessengerRef;
typedef struct FlutterDesktopPluginRegistrar* FlutterDesktopPluginRegistrarRef;
typedef struct FlutterDesktopTextureRegistrar*
    FlutterDesktopTextureRegistrarRef;
typedef struct _FlutterDesktopMessageResponseHandle
    FlutterDesktopMessageResponseHandle;

// What the engine is started with. Relative paths are resolved against the
// executable's folder.
typedef struct {
  const wchar_t* assets_path;
  const wchar_t* icu_data_path;
  const wchar_t* aot_library_path;
  const char* dart_entrypoint;
  int dart_entrypoint_argc;
  const char** dart_entrypoint_argv;
  int32_t engine_option_1;
  int32_t engine_option_2;
} FlutterDesktopEngineProperties;

// An incoming channel message. The host reads only the last three fields.
typedef struct {
  size_t struct_size;
  const char* channel;
  const uint8_t* message;
  size_t message_size;
  const FlutterDesktopMessageResponseHandle* response_handle;
} FlutterDesktopMessage;

typedef void (*FlutterDesktopMessageCallback)(FlutterDesktopMessengerRef,
                                              const FlutterDesktopMessage*,
                                              void* user_data);
typedef void (*FlutterDesktopBinaryReply)(const uint8_t* data, size_t data_size,
                                          void* user_data);
typedef void (*FlutterDesktopOnPluginRegistrarDestroyed)(
    FlutterDesktopPluginRegistrarRef);

// Textures. The pixel-buffer and GPU-surface records themselves belong to the
// engine; the host only passes pointers to them through.
typedef struct FlutterDesktopPixelBuffer FlutterDesktopPixelBuffer;
typedef struct FlutterDesktopGpuSurfaceDescriptor
    FlutterDesktopGpuSurfaceDescriptor;

typedef enum {
  kFlutterDesktopPixelBufferTexture = 0,
  kFlutterDesktopGpuSurfaceTexture = 1,
} FlutterDesktopTextureType;

typedef const FlutterDesktopPixelBuffer* (*FlutterDesktopPixelBufferCallback)(
    size_t width, size_t height, void* user_data);
typedef const FlutterDesktopGpuSurfaceDescriptor* (
    *FlutterDesktopGpuSurfaceCallback)(size_t width, size_t height,
                                       void* user_data);

typedef struct {
  FlutterDesktopPixelBufferCallback callback;
  void* user_data;
} FlutterDesktopPixelBufferTextureConfig;

typedef struct {
  size_t struct_size;
  int32_t type;
  FlutterDesktopGpuSurfaceCallback callback;
  void* user_data;
} FlutterDesktopGpuSurfaceTextureConfig;

typedef struct {
  int32_t type;  // FlutterDesktopTextureType
  union {
    FlutterDesktopPixelBufferTextureConfig pixel_buffer_config;
    FlutterDesktopGpuSurfaceTextureConfig gpu_surface_config;
  };
} FlutterDesktopTextureInfo;

typedef void (*FlutterDesktopOnTextureUnregistered)(void* user_data);

// Engine.
FLUTTER_EXPORT FlutterDesktopEngineRef
FlutterDesktopEngineCreate(const FlutterDesktopEngineProperties* properties);
FLUTTER_EXPORT bool FlutterDesktopEngineDestroy(FlutterDesktopEngineRef engine);
FLUTTER_EXPORT FlutterDesktopMessengerRef
FlutterDesktopEngineGetMessenger(FlutterDesktopEngineRef engine);
FLUTTER_EXPORT FlutterDesktopPluginRegistrarRef
FlutterDesktopEngineGetPluginRegistrar(FlutterDesktopEngineRef engine,
                                       const char* plugin_name);
FLUTTER_EXPORT void FlutterDesktopEngineReloadSystemFonts(
    FlutterDesktopEngineRef engine);

// View controller and view.
FLUTTER_EXPORT FlutterDesktopViewControllerRef
FlutterDesktopViewControllerCreate(int width, int height,
                                   FlutterDesktopEngineRef engine);
FLUTTER_EXPORT void FlutterDesktopViewControllerDestroy(
    FlutterDesktopViewControllerRef controller);
FLUTTER_EXPORT FlutterDesktopViewRef
FlutterDesktopViewControllerGetView(FlutterDesktopViewControllerRef controller);
FLUTTER_EXPORT bool FlutterDesktopViewControllerHandleTopLevelWindowProc(
    FlutterDesktopViewControllerRef controller, HWND hwnd, UINT message,
    WPARAM wparam, LPARAM lparam, LRESULT* result);
FLUTTER_EXPORT HWND FlutterDesktopViewGetHWND(FlutterDesktopViewRef view);

// Plugin registrars.
FLUTTER_EXPORT FlutterDesktopMessengerRef
FlutterDesktopPluginRegistrarGetMessenger(
    FlutterDesktopPluginRegistrarRef registrar);
FLUTTER_EXPORT FlutterDesktopTextureRegistrarRef
FlutterDesktopRegistrarGetTextureRegistrar(
    FlutterDesktopPluginRegistrarRef registrar);
FLUTTER_EXPORT FlutterDesktopViewRef FlutterDesktopPluginRegistrarGetView(
    FlutterDesktopPluginRegistrarRef registrar);
FLUTTER_EXPORT void FlutterDesktopPluginRegistrarSetDestructionHandler(
    FlutterDesktopPluginRegistrarRef registrar,
    FlutterDesktopOnPluginRegistrarDestroyed callback);

// Messenger.
FLUTTER_EXPORT bool FlutterDesktopMessengerSend(
    FlutterDesktopMessengerRef messenger, const char* channel,
    const uint8_t* message, size_t message_size);
FLUTTER_EXPORT bool FlutterDesktopMessengerSendWithReply(
    FlutterDesktopMessengerRef messenger, const char* channel,
    const uint8_t* message, size_t message_size,
    FlutterDesktopBinaryReply reply, void* user_data);
FLUTTER_EXPORT void FlutterDesktopMessengerSendResponse(
    FlutterDesktopMessengerRef messenger,
    const FlutterDesktopMessageResponseHandle* handle, const uint8_t* data,
    size_t data_length);
FLUTTER_EXPORT void FlutterDesktopMessengerSetCallback(
    FlutterDesktopMessengerRef messenger, const char* channel,
    FlutterDesktopMessageCallback callback, void* user_data);
FLUTTER_EXPORT FlutterDesktopMessengerRef
FlutterDesktopMessengerAddRef(FlutterDesktopMessengerRef messenger);
FLUTTER_EXPORT void FlutterDesktopMessengerRelease(
    FlutterDesktopMessengerRef messenger);
FLUTTER_EXPORT bool FlutterDesktopMessengerIsAvailable(
    FlutterDesktopMessengerRef messenger);
FLUTTER_EXPORT FlutterDesktopMessengerRef
FlutterDesktopMessengerLock(FlutterDesktopMessengerRef messenger);
FLUTTER_EXPORT void FlutterDesktopMessengerUnlock(
    FlutterDesktopMessengerRef messenger);

// Textures.
FLUTTER_EXPORT int64_t FlutterDesktopTextureRegistrarRegisterExternalTexture(
    FlutterDesktopTextureRegistrarRef texture_registrar,
    const FlutterDesktopTextureInfo* info);
FLUTTER_EXPORT void FlutterDesktopTextureRegistrarUnregisterExternalTexture(
    FlutterDesktopTextureRegistrarRef texture_registrar, int64_t texture_id,
    FlutterDesktopOnTextureUnregistered callback, void* user_data);
FLUTTER_EXPORT bool
FlutterDesktopTextureRegistrarMarkExternalTextureFrameAvailable(
    FlutterDesktopTextureRegistrarRef texture_registrar, int64_t texture_id);

// Process-wide helpers.
FLUTTER_EXPORT UINT FlutterDesktopGetDpiForMonitor(HMONITOR monitor);
FLUTTER_EXPORT void FlutterDesktopResyncOutputStreams(void);

#ifdef __cplusplus
}  // extern "C"

// 64-bit layout: three wide paths, the entrypoint, the count padded to 8, the
// array, then the two options.
static_assert(offsetof(FlutterDesktopEngineProperties, icu_data_path) == 8,
              "ICU data path at offset 8");
static_assert(offsetof(FlutterDesktopEngineProperties, aot_library_path) == 16,
              "AOT library path at offset 16");
static_assert(offsetof(FlutterDesktopEngineProperties, dart_entrypoint) == 24,
              "entrypoint at offset 24");
static_assert(offsetof(FlutterDesktopEngineProperties, dart_entrypoint_argc) ==
                  32,
              "argument count at offset 32");
static_assert(offsetof(FlutterDesktopEngineProperties, dart_entrypoint_argv) ==
                  40,
              "argument array at offset 40");
static_assert(offsetof(FlutterDesktopEngineProperties, engine_option_1) == 48,
              "first option at offset 48");
static_assert(offsetof(FlutterDesktopEngineProperties, engine_option_2) == 52,
              "second option at offset 52");
static_assert(sizeof(FlutterDesktopEngineProperties) == 56,
              "engine properties record of 56 bytes");
static_assert(sizeof(int) == 4, "the argument count is a 32-bit number");
static_assert(offsetof(FlutterDesktopMessage, message) == 16,
              "message bytes at offset 16");
static_assert(offsetof(FlutterDesktopMessage, message_size) == 24,
              "message size at offset 24");
static_assert(offsetof(FlutterDesktopMessage, response_handle) == 32,
              "response handle at offset 32");
static_assert(offsetof(FlutterDesktopTextureInfo, pixel_buffer_config) == 8,
              "texture union at offset 8");
static_assert(offsetof(FlutterDesktopTextureInfo, pixel_buffer_config) +
                      offsetof(FlutterDesktopPixelBufferTextureConfig,
                               user_data) ==
                  16,
              "pixel-buffer user data at offset 16");
static_assert(offsetof(FlutterDesktopTextureInfo, gpu_surface_config) +
                      offsetof(FlutterDesktopGpuSurfaceTextureConfig, type) ==
                  16,
              "surface type at offset 16");
static_assert(offsetof(FlutterDesktopTextureInfo, gpu_surface_config) +
                      offsetof(FlutterDesktopGpuSurfaceTextureConfig,
                               user_data) ==
                  32,
              "surface user data at offset 32");
#endif

#endif  // QUILLON_INTERFACES_FLUTTER_WINDOWS_H_
