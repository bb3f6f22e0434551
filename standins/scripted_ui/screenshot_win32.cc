#include "standins/scripted_ui/screenshot_win32.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "standins/engine/gdi_handles_win32.h"

namespace standin {

namespace {

// Larger than any screen; keeps the file size within the format's 32 bits.
constexpr int kMaxSide = 16384;

void PutU16(std::vector<uint8_t>* out, uint32_t value) {
  out->push_back(static_cast<uint8_t>(value));
  out->push_back(static_cast<uint8_t>(value >> 8));
}

void PutU32(std::vector<uint8_t>* out, uint32_t value) {
  PutU16(out, value & 0xFFFF);
  PutU16(out, value >> 16);
}

// A 24-bit bottom-up BMP (the form every reader takes) from 32-bit
// top-down BGRX pixels.
std::vector<uint8_t> EncodeBmp(const uint8_t* pixels, int width, int height) {
  const uint32_t row_bytes = (static_cast<uint32_t>(width) * 3 + 3) & ~3u;
  const uint32_t image_bytes = row_bytes * static_cast<uint32_t>(height);
  const uint32_t header_bytes = 14 + 40;
  std::vector<uint8_t> file;
  file.reserve(header_bytes + image_bytes);
  file.push_back('B');
  file.push_back('M');
  PutU32(&file, header_bytes + image_bytes);
  PutU32(&file, 0);  // reserved
  PutU32(&file, header_bytes);
  PutU32(&file, 40);  // BITMAPINFOHEADER
  PutU32(&file, static_cast<uint32_t>(width));
  PutU32(&file, static_cast<uint32_t>(height));  // positive: bottom-up
  PutU16(&file, 1);                              // planes
  PutU16(&file, 24);                             // bits per pixel
  PutU32(&file, 0);                              // BI_RGB
  PutU32(&file, image_bytes);
  PutU32(&file, 3780);  // 96 dpi in pixels per metre
  PutU32(&file, 3780);
  PutU32(&file, 0);
  PutU32(&file, 0);
  for (int y = height - 1; y >= 0; --y) {
    const uint8_t* row = pixels + static_cast<size_t>(y) * width * 4;
    for (int x = 0; x < width; ++x) {
      file.push_back(row[x * 4]);
      file.push_back(row[x * 4 + 1]);
      file.push_back(row[x * 4 + 2]);
    }
    for (uint32_t pad = static_cast<uint32_t>(width) * 3; pad < row_bytes;
         ++pad) {
      file.push_back(0);
    }
  }
  return file;
}

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};

bool WriteBytes(const std::wstring& path, const std::vector<uint8_t>& bytes) {
  std::unique_ptr<FILE, FileCloser> file(_wfopen(path.c_str(), L"wb"));
  if (file == nullptr) {
    return false;
  }
  const bool written =
      std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
  return std::fclose(file.release()) == 0 && written;
}

}  // namespace

std::string CaptureWindowToBmp(HWND window, const std::wstring& path) {
  RECT rect{};
  if (!GetWindowRect(window, &rect)) {
    return "failed no-rectangle";
  }
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0) {
    return "failed empty-window";
  }
  if (width > kMaxSide || height > kMaxSide) {
    return "failed too-large";
  }
  // Paints still owed to the window and its view go to the screen first.
  RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);

  ScreenDc screen;
  if (screen.dc == nullptr) {
    return "failed no-screen";
  }
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  UniqueMemoryDc memory(CreateCompatibleDC(screen.dc));
  UniqueBitmap bitmap(
      CreateDIBSection(screen.dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (memory == nullptr || bitmap == nullptr || bits == nullptr) {
    return "failed no-bitmap";
  }
  {
    Selection selected(memory.get(), bitmap.get());
    // The screen area, not the window's own DC: outside the window's rounded
    // region it shows what lies behind, as a person would see it.
    if (!BitBlt(memory.get(), 0, 0, width, height, screen.dc, rect.left,
                rect.top, SRCCOPY | CAPTUREBLT)) {
      return "failed copy";
    }
  }
  GdiFlush();
  if (!WriteBytes(
          path, EncodeBmp(static_cast<const uint8_t*>(bits), width, height))) {
    return "failed cannot-write";
  }
  return std::to_string(width) + "x" + std::to_string(height);
}

}  // namespace standin
