// The function tables that the user interface reaches through the exported
// frame_window_api. The user interface reads the records and calls the
// entries by position, so their layout is fixed.
#ifndef QUILLON_FRAME_FRAME_API_H_
#define QUILLON_FRAME_FRAME_API_H_

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace frame {

struct PublicFrameTable {
  bool (*is_started)();
  HWND (*get_app_window)();
  void (*set_show_allowed)(bool allowed);
  void (*set_minimum_size)(int32_t width, int32_t height);
  void (*set_maximum_size)(int32_t width, int32_t height);
  void (*set_maximized_inset)(int32_t inset);
  bool (*has_per_window_dpi)();
};

struct PrivateFrameTable {
  bool (*drag_app_window)();
};

struct FrameApi {
  const PublicFrameTable* public_table;
  const PrivateFrameTable* private_table;
};

static_assert(sizeof(void (*)()) == 8, "the tables hold 8-byte pointers");
static_assert(sizeof(bool) == 1, "table entries return one-byte booleans");
static_assert(sizeof(PublicFrameTable) == 7 * sizeof(void (*)()),
              "seven entries");
static_assert(offsetof(PublicFrameTable, is_started) == 0 &&
                  offsetof(PublicFrameTable, get_app_window) == 8 &&
                  offsetof(PublicFrameTable, set_show_allowed) == 16 &&
                  offsetof(PublicFrameTable, set_minimum_size) == 24 &&
                  offsetof(PublicFrameTable, set_maximum_size) == 32 &&
                  offsetof(PublicFrameTable, set_maximized_inset) == 40 &&
                  offsetof(PublicFrameTable, has_per_window_dpi) == 48,
              "entries in call order");
static_assert(sizeof(PrivateFrameTable) == 8, "one entry");
static_assert(sizeof(FrameApi) == 16 && offsetof(FrameApi, public_table) == 0 &&
                  offsetof(FrameApi, private_table) == 8,
              "public table first, then private table");

// Public table entries.
bool IsStarted();
HWND GetAppWindow();
void SetShowAllowed(bool allowed);
void SetMinimumSize(int32_t width, int32_t height);
void SetMaximumSize(int32_t width, int32_t height);
void SetMaximizedInset(int32_t inset);
bool HasPerWindowDpi();

// Private table entry: asks the top-level window's thread for a user move of
// the window (made only while the primary mouse button is down) and returns
// at once; false when there is no window yet.
bool dragAppWindow();

// Runs once among the static initialisers of the executable: looks up
// per-window DPI support and installs the window-creation hook on the calling
// (main) thread. Later calls do nothing.
void FrameStartup();

// The record address kept at start-up for the channel plugin; null only if
// the start-up initialisers did not run.
const FrameApi* KeptFrameApi();

}  // namespace frame

// The executable's only export. Returns the same static record on every call.
extern "C" __declspec(dllexport) const frame::FrameApi* frame_window_api();

#endif  // QUILLON_FRAME_FRAME_API_H_
