#include "standins/scripted_ui/view_paint_win32.h"

#include <algorithm>
#include <string>
#include <vector>

#include "standins/engine/engine_internal.h"
#include "standins/engine/gdi_handles_win32.h"

namespace standin {

namespace {

constexpr COLORREF kTitleText = RGB(0xFF, 0xFF, 0xFF);
constexpr COLORREF kWindowTitleText = RGB(0xC9, 0xD6, 0xEA);
constexpr COLORREF kStepText = RGB(0x1F, 0x29, 0x37);
constexpr COLORREF kQuietText = RGB(0x6B, 0x72, 0x80);
constexpr COLORREF kSuccessText = RGB(0x15, 0x80, 0x3D);
constexpr COLORREF kErrorText = RGB(0xB9, 0x1C, 0x1C);
constexpr COLORREF kOtherResultText = RGB(0xB4, 0x53, 0x09);
constexpr COLORREF kRule = RGB(0xD1, 0xD5, 0xDB);

UniqueFont MakeFont(int pixels, bool bold, bool fixed) {
  // Wine maps missing faces to an installed font of the same pitch.
  return UniqueFont(
      CreateFontW(-pixels, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE,
                  FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                  CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY,
                  fixed ? FIXED_PITCH | FF_MODERN : VARIABLE_PITCH | FF_SWISS,
                  fixed ? L"Courier New" : L"Tahoma"));
}

void Fill(HDC dc, const RECT& rect, COLORREF color) {
  UniqueBrush brush(CreateSolidBrush(color));
  if (brush != nullptr) {
    FillRect(dc, &rect, brush.get());
  }
}

void Text(HDC dc, const std::wstring& text, RECT rect, HFONT font,
          COLORREF color, UINT format) {
  Selection selected(dc, font);
  SetTextColor(dc, color);
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &rect,
            format | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
}

int TextWidth(HDC dc, const std::wstring& text, HFONT font) {
  Selection selected(dc, font);
  SIZE size{};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  return size.cx;
}

COLORREF ResultColor(const std::string& result) {
  if (result.rfind("success", 0) == 0) {
    return kSuccessText;
  }
  if (result.rfind("error", 0) == 0) {
    return kErrorText;
  }
  return kOtherResultText;
}

std::wstring RootTitle(HWND view) {
  HWND root = GetAncestor(view, GA_ROOT);
  if (root == nullptr || root == view) {
    return std::wstring();
  }
  int length = GetWindowTextLengthW(root);
  std::wstring title(static_cast<size_t>(length) + 1, L'\0');
  title.resize(
      static_cast<size_t>(GetWindowTextW(root, &title[0], length + 1)));
  return title;
}

// One transcript line: the step in dark text, " -> " and the result in the
// result's colour, the step shortened first when both do not fit.
void DrawTranscriptLine(HDC dc, const std::string& line, RECT box, HFONT font) {
  const size_t arrow = line.find(" -> ");
  if (arrow == std::string::npos) {
    Text(dc, FromUtf8(line), box, font, kStepText, DT_LEFT | DT_VCENTER);
    return;
  }
  const std::wstring step = FromUtf8(line.substr(0, arrow));
  const std::string result = line.substr(arrow + 4);
  const std::wstring rest = FromUtf8(" -> " + result);
  const int available = box.right - box.left;
  const int step_width = TextWidth(dc, step, font);
  const int rest_width = TextWidth(dc, rest, font);
  const int step_box =
      std::min(step_width, std::max(available - rest_width, available * 3 / 5));
  RECT step_rect = box;
  step_rect.right = box.left + step_box;
  Text(dc, step, step_rect, font, kStepText, DT_LEFT | DT_VCENTER);
  RECT rest_rect = box;
  rest_rect.left = step_rect.right;
  Text(dc, rest, rest_rect, font, ResultColor(result), DT_LEFT | DT_VCENTER);
}

// The view's size and scale; lengths are given at 96 dpi.
struct ViewLayout {
  int width;
  int height;
  int dpi;
  int Scaled(int pixels) const { return MulDiv(pixels, dpi, 96); }
  int Margin() const { return Scaled(20); }
};

// The title band with the program's name and the window's title; returns the
// band's height.
int DrawTitleBand(HWND view, HDC dc, const ViewLayout& layout, HFONT title_font,
                  HFONT small_font) {
  const int width = layout.width;
  const int margin = layout.Margin();
  const int band = layout.Scaled(56);
  Fill(dc, RECT{0, 0, width, band}, kViewTitleBand);
  const std::wstring title = L"quillon_pc (stand-in engine)";
  RECT title_rect{margin, 0, width - margin, band};
  Text(dc, title, title_rect, title_font, kTitleText, DT_LEFT | DT_VCENTER);
  const int title_width = TextWidth(dc, title, title_font);
  RECT window_title_rect{margin + title_width + layout.Scaled(24), 0,
                         width - margin, band};
  const std::wstring window_title = RootTitle(view);
  if (!window_title.empty() &&
      window_title_rect.left < window_title_rect.right) {
    Text(dc, L"window title: " + window_title, window_title_rect, small_font,
         kWindowTitleText, DT_RIGHT | DT_VCENTER);
  }
  return band;
}

// As many of the latest transcript lines as fit between `lines_top` and
// `lines_bottom`.
void DrawTranscript(HDC dc, const ViewLayout& layout,
                    const std::vector<std::string>& lines, int lines_top,
                    int lines_bottom, HFONT line_font) {
  const int margin = layout.Margin();
  const int line_height = layout.Scaled(19);
  if (line_height <= 0 || lines_bottom <= lines_top) {
    return;
  }
  const size_t fit =
      static_cast<size_t>((lines_bottom - lines_top) / line_height);
  const size_t first = lines.size() > fit ? lines.size() - fit : 0;
  int top = lines_top;
  for (size_t i = first; i < lines.size(); ++i) {
    DrawTranscriptLine(
        dc, lines[i],
        RECT{margin, top, layout.width - margin, top + line_height}, line_font);
    top += line_height;
  }
}

void DrawFooter(HDC dc, const ViewLayout& layout, int footer,
                HFONT small_font) {
  const int width = layout.width;
  const int height = layout.height;
  const int footer_top = height - footer;
  Fill(dc,
       RECT{0, footer_top, width, footer_top + std::max(1, layout.Scaled(1))},
       kRule);
  const std::wstring size_text = L"view " + std::to_wstring(width) + L" x " +
                                 std::to_wstring(height) + L" px, " +
                                 std::to_wstring(layout.dpi) + L" dpi";
  RECT footer_rect{layout.Margin(), footer_top, width - layout.Margin(),
                   height};
  Text(dc, size_text, footer_rect, small_font, kQuietText,
       DT_LEFT | DT_VCENTER);
  Text(dc, L"flutter_windows.dll stand-in", footer_rect, small_font, kQuietText,
       DT_RIGHT | DT_VCENTER);
}

void Draw(HWND view, HDC dc, int width, int height,
          const std::vector<std::string>& lines, bool scripted) {
  const ViewLayout layout{width, height,
                          static_cast<int>(MonitorDpi(MonitorFromWindow(
                              view, MONITOR_DEFAULTTONEAREST)))};
  const int margin = layout.Margin();
  SetBkMode(dc, TRANSPARENT);
  Fill(dc, RECT{0, 0, width, height}, kViewBackground);

  UniqueFont title_font = MakeFont(layout.Scaled(22), true, false);
  UniqueFont small_font = MakeFont(layout.Scaled(13), false, false);
  UniqueFont text_font = MakeFont(layout.Scaled(14), false, false);
  UniqueFont line_font = MakeFont(layout.Scaled(14), false, true);

  const int band =
      DrawTitleBand(view, dc, layout, title_font.get(), small_font.get());
  const int subtitle_top = band + layout.Scaled(10);
  const int subtitle_height = layout.Scaled(24);
  Text(dc,
       scripted ? L"Scripted user interface: latest steps and replies"
                : L"No scripted user interface runs in this view",
       RECT{margin, subtitle_top, width - margin,
            subtitle_top + subtitle_height},
       text_font.get(), kQuietText, DT_LEFT | DT_VCENTER);

  const int footer = layout.Scaled(28);
  DrawTranscript(dc, layout, lines,
                 subtitle_top + subtitle_height + layout.Scaled(6),
                 height - footer - layout.Scaled(4), line_font.get());
  DrawFooter(dc, layout, footer, small_font.get());
}

}  // namespace

void PaintView(HWND view, HDC target, const std::vector<std::string>& lines,
               bool scripted) {
  RECT client{};
  GetClientRect(view, &client);
  const int width = client.right - client.left;
  const int height = client.bottom - client.top;
  if (width <= 0 || height <= 0) {
    return;
  }
  // Drawn off-screen and copied in one go, so the view never flickers; when
  // no memory bitmap can be had, straight into the window.
  UniqueMemoryDc memory(CreateCompatibleDC(target));
  UniqueBitmap bitmap(memory != nullptr
                          ? CreateCompatibleBitmap(target, width, height)
                          : nullptr);
  if (bitmap == nullptr) {
    Draw(view, target, width, height, lines, scripted);
    return;
  }
  Selection selected(memory.get(), bitmap.get());
  Draw(view, memory.get(), width, height, lines, scripted);
  BitBlt(target, 0, 0, width, height, memory.get(), 0, 0, SRCCOPY);
}

}  // namespace standin
