// Owners of the GDI handles that the stand-in's painting and screenshots
// use, so every path releases what it took.
#ifndef QUILLON_STANDINS_ENGINE_GDI_HANDLES_WIN32_H_
#define QUILLON_STANDINS_ENGINE_GDI_HANDLES_WIN32_H_

#include <windows.h>

#include <memory>

#include "platform/win32_handles.h"

namespace standin {

using platform::GdiObjectDeleter;
using UniqueFont = std::unique_ptr<HFONT__, GdiObjectDeleter>;
using UniqueBitmap = std::unique_ptr<HBITMAP__, GdiObjectDeleter>;
using UniqueBrush = std::unique_ptr<HBRUSH__, GdiObjectDeleter>;

struct MemoryDcDeleter {
  void operator()(HDC dc) const { DeleteDC(dc); }
};
using UniqueMemoryDc = std::unique_ptr<HDC__, MemoryDcDeleter>;

// Selects an object into a DC and puts the previous one back, so the object
// can be deleted afterwards. A null object selects nothing.
class Selection {
 public:
  Selection(HDC dc, HGDIOBJ object)
      : dc_(dc), old_(object != nullptr ? SelectObject(dc, object) : nullptr) {}
  ~Selection() {
    if (old_ != nullptr && old_ != HGDI_ERROR) {
      SelectObject(dc_, old_);
    }
  }
  Selection(const Selection&) = delete;
  Selection& operator=(const Selection&) = delete;

 private:
  HDC dc_;
  HGDIOBJ old_;
};

// The screen's device context, released on every path.
struct ScreenDc {
  ScreenDc() : dc(GetDC(nullptr)) {}
  ~ScreenDc() {
    if (dc != nullptr) {
      ReleaseDC(nullptr, dc);
    }
  }
  ScreenDc(const ScreenDc&) = delete;
  ScreenDc& operator=(const ScreenDc&) = delete;
  HDC dc;
};

}  // namespace standin

#endif  // QUILLON_STANDINS_ENGINE_GDI_HANDLES_WIN32_H_
