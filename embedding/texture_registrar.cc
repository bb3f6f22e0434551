#include "embedding/texture_registrar.h"

#include <exception>
#include <iostream>
#include <memory>

namespace flutter {

namespace {

static_assert(sizeof(FlutterDesktopGpuSurfaceTextureConfig) == 32,
              "the engine expects a 32-byte GPU surface record");

// The engine calls these from its raster thread; an exception must not reach
// it, so a failing callback is logged and yields what |fallback| says.
template <typename Result, typename Call>
Result GuardedTextureCall(Call&& call, Result fallback) {
  try {
    return call();
  } catch (const std::exception& e) {
    std::cerr << "Unhandled exception in texture callback: " << e.what()
              << std::endl;
  } catch (...) {
    std::cerr << "Unhandled exception in texture callback." << std::endl;
  }
  return fallback;
}

const FlutterDesktopPixelBuffer* CopyPixelBuffer(size_t width, size_t height,
                                                 void* user_data) {
  const auto* source =
      std::get_if<PixelBufferSource>(static_cast<TextureSource*>(user_data));
  if (source == nullptr) {
    return nullptr;
  }
  return GuardedTextureCall<const FlutterDesktopPixelBuffer*>(
      [&] { return source->CopyPixelBuffer(width, height); }, nullptr);
}

const FlutterDesktopGpuSurfaceDescriptor* ObtainDescriptor(size_t width,
                                                           size_t height,
                                                           void* user_data) {
  const auto* source =
      std::get_if<GpuSurfaceSource>(static_cast<TextureSource*>(user_data));
  if (source == nullptr) {
    return nullptr;
  }
  return GuardedTextureCall<const FlutterDesktopGpuSurfaceDescriptor*>(
      [&] { return source->ObtainDescriptor(width, height); }, nullptr);
}

void OnTextureUnregistered(void* user_data) {
  std::unique_ptr<std::function<void()>> unregistered(
      static_cast<std::function<void()>*>(user_data));
  GuardedTextureCall<bool>(
      [&] {
        (*unregistered)();
        return true;
      },
      false);
}

}  // namespace

TextureRegistrarImpl::TextureRegistrarImpl(
    FlutterDesktopTextureRegistrarRef texture_registrar)
    : texture_registrar_(texture_registrar) {}

TextureRegistrarImpl::~TextureRegistrarImpl() = default;

int64_t TextureRegistrarImpl::RegisterTexture(TextureSource* source) {
  if (texture_registrar_ == nullptr) {
    return -1;  // a registrar without an engine has no textures
  }
  FlutterDesktopTextureInfo info = {};
  if (source != nullptr && source->index() == 0) {
    info.type = kFlutterDesktopPixelBufferTexture;
    info.pixel_buffer_config.callback = CopyPixelBuffer;
    info.pixel_buffer_config.user_data = source;
  } else if (source != nullptr && source->index() == 1) {
    info.type = kFlutterDesktopGpuSurfaceTexture;
    info.gpu_surface_config.struct_size =
        sizeof(FlutterDesktopGpuSurfaceTextureConfig);
    info.gpu_surface_config.type = std::get<1>(*source).surface_type();
    info.gpu_surface_config.callback = ObtainDescriptor;
    info.gpu_surface_config.user_data = source;
  } else {
    std::cerr << "Attempting to register unknown texture variant." << std::endl;
    return -1;
  }
  return FlutterDesktopTextureRegistrarRegisterExternalTexture(
      texture_registrar_, &info);
}

bool TextureRegistrarImpl::MarkTextureFrameAvailable(int64_t texture_id) {
  if (texture_registrar_ == nullptr) {
    return false;
  }
  return FlutterDesktopTextureRegistrarMarkExternalTextureFrameAvailable(
      texture_registrar_, texture_id);
}

bool TextureRegistrarImpl::UnregisterTexture(int64_t texture_id) {
  UnregisterTexture(texture_id, nullptr);
  return true;
}

void TextureRegistrarImpl::UnregisterTexture(
    int64_t texture_id, std::function<void()> unregistered) {
  if (texture_registrar_ == nullptr) {
    return;  // nothing was registered, so the engine will release nothing
  }
  if (!unregistered) {
    FlutterDesktopTextureRegistrarUnregisterExternalTexture(
        texture_registrar_, texture_id, nullptr, nullptr);
    return;
  }
  auto owned = std::make_unique<std::function<void()>>(std::move(unregistered));
  FlutterDesktopTextureRegistrarUnregisterExternalTexture(
      texture_registrar_, texture_id, OnTextureUnregistered, owned.release());
}

}  // namespace flutter
