// Owners of the Win32 handles the product creates, so that every path
// releases each handle once. Windows only.
#ifndef QUILLON_PLATFORM_WIN32_HANDLES_H_
#define QUILLON_PLATFORM_WIN32_HANDLES_H_

#include <windows.h>

#include <memory>

namespace platform {

struct WindowDestroyer {
  void operator()(HWND window) const { DestroyWindow(window); }
};
// A window this code created and destroys.
using UniqueWindow = std::unique_ptr<HWND__, WindowDestroyer>;

struct GdiObjectDeleter {
  void operator()(HGDIOBJ object) const { DeleteObject(object); }
};
// A region until the system takes it over (SetWindowRgn): release() then.
using UniqueRegion = std::unique_ptr<HRGN__, GdiObjectDeleter>;

struct LibraryFreer {
  void operator()(HMODULE module) const { FreeLibrary(module); }
};
using UniqueLibrary = std::unique_ptr<HINSTANCE__, LibraryFreer>;

}  // namespace platform

#endif  // QUILLON_PLATFORM_WIN32_HANDLES_H_
