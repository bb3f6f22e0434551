// Attaches the frame behaviour to the top-level window and the engine's view
// window: a creation hook finds both by class name and subclasses them.
#ifndef QUILLON_FRAME_FRAME_WINDOW_H_
#define QUILLON_FRAME_FRAME_WINDOW_H_

#include <windows.h>

#include <cstdint>

#include "interfaces/app_window_identity.h"

namespace frame {

// Class names by which the hook recognises the two windows; the top-level
// window's class and property are shared with the host.
using ::kAppWindowClassName;
inline constexpr wchar_t kViewWindowClassName[] = L"FLUTTERVIEW";
using ::kFrameWindowProperty;

inline constexpr UINT_PTR kFrameSubclassId = 1;

// Private message through which the user interface asks the top-level window
// for an action. wParam is the action; lParam points at a record allocated
// with HeapAlloc on the process heap, which the window procedure frees. A
// record that is not a live block of the process heap of at least the
// record's size is neither read nor freed.
inline constexpr UINT FRAME_ACTION_MESSAGE = 0x7FFE;

enum FrameAction : WPARAM {
  kFrameActionMoveResize = 1,   // lParam: FrameMoveResizeRecord
  kFrameActionSetTitle = 2,     // lParam: FrameTitleRecord
  kFrameActionRefreshView = 3,  // lParam unused
};

struct FrameMoveResizeRecord {
  int32_t x;
  int32_t y;
  int32_t width;
  int32_t height;
  int32_t flags;  // SetWindowPos flags
};
static_assert(sizeof(FrameMoveResizeRecord) == 20, "five 32-bit integers");

struct FrameTitleRecord {
  wchar_t* title;  // NUL-terminated, itself allocated on the process heap
};
static_assert(sizeof(FrameTitleRecord) == 8, "one pointer");

// Posted to the top-level window by dragAppWindow: the window's own thread
// starts the move, and only while the primary mouse button is down. A
// registered message, so no other message of the window can be mistaken for
// it.
UINT DragRequestMessage();

// WH_CBT hook for the main thread, installed by FrameStartup. Records and
// subclasses the first top-level window and view window created with a
// creation parameter, then removes itself.
LRESULT CALLBACK WindowCreationHook(int code, WPARAM wparam, LPARAM lparam);

// Subclass procedure of the top-level window.
LRESULT CALLBACK FrameWindowProc(HWND window, UINT message, WPARAM wparam,
                                 LPARAM lparam, UINT_PTR subclass_id,
                                 DWORD_PTR ref_data);

// Subclass procedure of the engine's view window.
LRESULT CALLBACK ViewWindowProc(HWND window, UINT message, WPARAM wparam,
                                LPARAM lparam, UINT_PTR subclass_id,
                                DWORD_PTR ref_data);

// Runs a user move of the top-level window as a caption drag and returns
// once the move has ended; false, starting nothing, when there is no window
// or the primary mouse button is not down. For the window's own thread.
bool DragAppWindowToEnd();

// The user interface's own maximise button, in logical pixels from the
// view's top-left corner. While one is declared the window answers
// HTMAXBUTTON over it (so that the system offers its snap layouts there) and
// maximises or restores on a click.
struct MaximizeButtonBounds {
  double left;
  double top;
  double width;
  double height;
};

// Declares the button, or with null forgets it. Main thread only.
void SetMaximizeButtonBounds(const MaximizeButtonBounds* bounds);

// Told the button's hover and press state each time either changes, since
// the view no longer sees the pointer over the button. Null stops it.
using MaximizeButtonListener = void (*)(bool hovered, bool pressed);
void SetMaximizeButtonListener(MaximizeButtonListener listener);

// Whether a pointer-sized value could be a block of the process heap at all:
// aligned as heap blocks are, in committed, private, read-write memory. Cheap,
// and unlike HeapValidate it never stops in a debugger or a checked heap.
bool MayBeHeapBlock(const void* block);

// Sizes the view to the top-level window's client area, by way of a size one
// pixel larger so that the view always sees a change.
void RefreshViewSize();

}  // namespace frame

#endif  // QUILLON_FRAME_FRAME_WINDOW_H_
