// An engine put behind a native view of a given size.
#ifndef QUILLON_EMBEDDING_FLUTTER_VIEW_CONTROLLER_H_
#define QUILLON_EMBEDDING_FLUTTER_VIEW_CONTROLLER_H_

#include <memory>
#include <optional>

#include "embedding/engine_project.h"
#include "embedding/flutter_engine.h"
#include "embedding/flutter_view.h"
#include "interfaces/flutter_windows.h"

namespace flutter {

class FlutterViewController {
 public:
  // Starts an engine from |project| and creates its view, |width| x |height|
  // physical pixels. On failure logs "Failed to create view controller.";
  // engine() is then set but view() is null, and the engine, which the
  // library has ended, reports itself as not running.
  FlutterViewController(int width, int height, const EngineProject& project);
  // Ends view and engine through the library; never destroys the engine
  // handle itself, which the library owns.
  virtual ~FlutterViewController();

  FlutterViewController(const FlutterViewController&) = delete;
  FlutterViewController& operator=(const FlutterViewController&) = delete;

  FlutterEngine* engine() const { return engine_.get(); }

  // Null when the view controller could not be created.
  FlutterView* view() const { return view_.get(); }

  // Lets the engine see a message of the top-level window first. Returns the
  // result when the engine handled it.
  std::optional<LRESULT> HandleTopLevelWindowProc(HWND hwnd, UINT message,
                                                  WPARAM wparam, LPARAM lparam);

 private:
  FlutterDesktopViewControllerRef controller_ = nullptr;
  std::shared_ptr<FlutterEngine> engine_;
  std::unique_ptr<FlutterView> view_;
};

}  // namespace flutter

#endif  // QUILLON_EMBEDDING_FLUTTER_VIEW_CONTROLLER_H_
