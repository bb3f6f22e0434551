// What the stand-in's view window shows in place of a rendered Flutter
// frame: a title band, the scripted user interface's latest transcript lines
// (steps and replies) and the view's size, so a screenshot of the host's
// window says what is going on.
#ifndef QUILLON_STANDINS_SCRIPTED_UI_VIEW_PAINT_WIN32_H_
#define QUILLON_STANDINS_SCRIPTED_UI_VIEW_PAINT_WIN32_H_

#include <windows.h>

#include <string>
#include <vector>

namespace standin {

// Background of the view's content area, below the title band. Tests look
// for it in screenshots.
constexpr COLORREF kViewBackground = RGB(0xF3, 0xF4, 0xF6);
// The title band across the top of the view.
constexpr COLORREF kViewTitleBand = RGB(0x2B, 0x4C, 0x7E);

// Paints the whole client area of `view` into `dc`, double-buffered when a
// memory bitmap can be had. `lines` are the latest transcript lines, oldest
// first; `scripted` is false when no scripted user interface runs.
void PaintView(HWND view, HDC dc, const std::vector<std::string>& lines,
               bool scripted);

}  // namespace standin

#endif  // QUILLON_STANDINS_SCRIPTED_UI_VIEW_PAINT_WIN32_H_
