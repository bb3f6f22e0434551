// Publishing external textures to the engine.
#ifndef QUILLON_EMBEDDING_TEXTURE_REGISTRAR_H_
#define QUILLON_EMBEDDING_TEXTURE_REGISTRAR_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <utility>
#include <variant>

#include "interfaces/flutter_windows.h"

namespace flutter {

// A texture whose frames the engine copies from a pixel buffer.
class PixelBufferSource {
 public:
  // Returns the pixel buffer for a frame of the given size; the engine's
  // record, owned by the caller until the next call.
  using CopyBufferCallback = std::function<const FlutterDesktopPixelBuffer*(
      size_t width, size_t height)>;

  explicit PixelBufferSource(CopyBufferCallback copy_buffer)
      : copy_buffer_(std::move(copy_buffer)) {}

  const FlutterDesktopPixelBuffer* CopyPixelBuffer(size_t width,
                                                   size_t height) const {
    return copy_buffer_ ? copy_buffer_(width, height) : nullptr;
  }

 private:
  CopyBufferCallback copy_buffer_;
};

// A texture backed by a GPU surface of one of the engine's surface types.
class GpuSurfaceSource {
 public:
  using ObtainDescriptorCallback =
      std::function<const FlutterDesktopGpuSurfaceDescriptor*(size_t width,
                                                              size_t height)>;

  GpuSurfaceSource(int32_t surface_type,
                   ObtainDescriptorCallback obtain_descriptor)
      : surface_type_(surface_type),
        obtain_descriptor_(std::move(obtain_descriptor)) {}

  int32_t surface_type() const { return surface_type_; }

  const FlutterDesktopGpuSurfaceDescriptor* ObtainDescriptor(
      size_t width, size_t height) const {
    return obtain_descriptor_ ? obtain_descriptor_(width, height) : nullptr;
  }

 private:
  int32_t surface_type_;
  ObtainDescriptorCallback obtain_descriptor_;
};

// Alternative 0: pixel buffer; alternative 1: GPU surface.
using TextureSource = std::variant<PixelBufferSource, GpuSurfaceSource>;

class TextureRegistrar {
 public:
  virtual ~TextureRegistrar() = default;

  // |source| must outlive the registration. Returns the texture id, or -1.
  virtual int64_t RegisterTexture(TextureSource* source) = 0;

  virtual bool MarkTextureFrameAvailable(int64_t texture_id) = 0;

  // Unregisters without waiting for the engine; always returns true.
  virtual bool UnregisterTexture(int64_t texture_id) = 0;

  // |unregistered|, when set, runs once after the engine has released the
  // texture, possibly on another thread.
  virtual void UnregisterTexture(int64_t texture_id,
                                 std::function<void()> unregistered) = 0;
};

class TextureRegistrarImpl : public TextureRegistrar {
 public:
  // |texture_registrar| is not owned.
  explicit TextureRegistrarImpl(
      FlutterDesktopTextureRegistrarRef texture_registrar);
  ~TextureRegistrarImpl() override;

  TextureRegistrarImpl(const TextureRegistrarImpl&) = delete;
  TextureRegistrarImpl& operator=(const TextureRegistrarImpl&) = delete;

  int64_t RegisterTexture(TextureSource* source) override;
  bool MarkTextureFrameAvailable(int64_t texture_id) override;
  bool UnregisterTexture(int64_t texture_id) override;
  void UnregisterTexture(int64_t texture_id,
                         std::function<void()> unregistered) override;

 private:
  FlutterDesktopTextureRegistrarRef texture_registrar_;
};

}  // namespace flutter

#endif  // QUILLON_EMBEDDING_TEXTURE_REGISTRAR_H_
