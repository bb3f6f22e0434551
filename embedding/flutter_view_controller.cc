#include "embedding/flutter_view_controller.h"

#include <iostream>

namespace flutter {

FlutterViewController::FlutterViewController(int width, int height,
                                             const EngineProject& project) {
  engine_ = std::make_shared<FlutterEngine>(project);
  // The library owns the engine from here on, whether or not it succeeds.
  FlutterDesktopEngineRef engine = engine_->TakeEngineHandle();
  if (engine != nullptr) {
    controller_ = FlutterDesktopViewControllerCreate(width, height, engine);
  }
  if (controller_ == nullptr) {
    engine_->ForgetEngineHandle();
    std::cerr << "Failed to create view controller." << std::endl;
    return;
  }
  FlutterDesktopViewRef view = FlutterDesktopViewControllerGetView(controller_);
  if (view != nullptr) {
    view_ = std::make_unique<FlutterView>(view);
  }
}

FlutterViewController::~FlutterViewController() {
  if (controller_ != nullptr) {
    FlutterDesktopViewControllerDestroy(controller_);
  }
  view_.reset();
  engine_.reset();
}

std::optional<LRESULT> FlutterViewController::HandleTopLevelWindowProc(
    HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (controller_ == nullptr) {
    return std::nullopt;
  }
  LRESULT result = 0;
  if (FlutterDesktopViewControllerHandleTopLevelWindowProc(
          controller_, hwnd, message, wparam, lparam, &result)) {
    return result;
  }
  return std::nullopt;
}

}  // namespace flutter
