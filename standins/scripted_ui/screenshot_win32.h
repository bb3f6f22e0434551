// The scripted user interface's `screenshot` step: the screen area under a
// top-level window, written as a 24-bit BMP file.
#ifndef QUILLON_STANDINS_SCRIPTED_UI_SCREENSHOT_WIN32_H_
#define QUILLON_STANDINS_SCRIPTED_UI_SCREENSHOT_WIN32_H_

#include <windows.h>

#include <string>

namespace standin {

// Copies the screen rectangle of `window` (what the screen shows there: the
// window's own pixels and, outside its region, whatever lies behind it) and
// writes it to `path`. Returns the transcript result: "<width>x<height>" or
// "failed <what>".
std::string CaptureWindowToBmp(HWND window, const std::wstring& path);

}  // namespace standin

#endif  // QUILLON_STANDINS_SCRIPTED_UI_SCREENSHOT_WIN32_H_
