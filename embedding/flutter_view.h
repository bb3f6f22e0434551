// The engine's view: the child window into which the engine renders.
#ifndef QUILLON_EMBEDDING_FLUTTER_VIEW_H_
#define QUILLON_EMBEDDING_FLUTTER_VIEW_H_

#include "interfaces/flutter_windows.h"

namespace flutter {

class FlutterView {
 public:
  // |view| is not owned; it lives as long as its view controller.
  explicit FlutterView(FlutterDesktopViewRef view) : view_(view) {}
  virtual ~FlutterView() = default;

  FlutterView(const FlutterView&) = delete;
  FlutterView& operator=(const FlutterView&) = delete;

  // The view's child window; null for a view object without a view.
  HWND NativeWindow() const {
    return view_ != nullptr ? FlutterDesktopViewGetHWND(view_) : nullptr;
  }

 private:
  FlutterDesktopViewRef view_;
};

}  // namespace flutter

#endif  // QUILLON_EMBEDDING_FLUTTER_VIEW_H_
