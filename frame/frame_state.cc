#include "frame/frame_state.h"

namespace frame {

UINT WINAPI DefaultDpiForWindow(HWND /*window*/) { return 96; }

FrameState frame_state;

}  // namespace frame
