// How the application's top-level window is recognised: the frame code finds
// it by class name when it is created, and a second start finds the running
// instance's window by class and by the executable that runs it.
#ifndef QUILLON_INTERFACES_APP_WINDOW_IDENTITY_H_
#define QUILLON_INTERFACES_APP_WINDOW_IDENTITY_H_

inline constexpr wchar_t kAppWindowClassName[] = L"FLUTTER_RUNNER_WIN32_WINDOW";

// Set to 1 on the top-level window by the frame code, for other components
// to find. Any program can set it, so it proves nothing about the window's
// owner.
inline constexpr wchar_t kFrameWindowProperty[] = L"FrameWindow";

#endif  // QUILLON_INTERFACES_APP_WINDOW_IDENTITY_H_
