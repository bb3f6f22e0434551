// An engine instance started from an EngineProject.
#ifndef QUILLON_EMBEDDING_FLUTTER_ENGINE_H_
#define QUILLON_EMBEDDING_FLUTTER_ENGINE_H_

#include <memory>
#include <string>

#include "embedding/binary_messenger.h"
#include "embedding/engine_project.h"
#include "embedding/plugin_registrar.h"
#include "interfaces/flutter_windows.h"

namespace flutter {

class FlutterEngine : public PluginRegistry {
 public:
  // Starts the engine. A failed start is not reported here: the handle stays
  // null, which shows up as a failed view controller or a null registrar.
  explicit FlutterEngine(const EngineProject& project);
  // Ends the engine only while this object still owns it.
  ~FlutterEngine() override;

  FlutterEngine(const FlutterEngine&) = delete;
  FlutterEngine& operator=(const FlutterEngine&) = delete;

  // Logs and returns null when the engine is not running.
  FlutterDesktopPluginRegistrarRef RegistrarForPlugin(
      const std::string& plugin_name) override;

  void ReloadSystemFonts();

  // Gives up ownership of the engine (to a view controller) and returns the
  // handle. The handle is still used for registrars and fonts afterwards.
  FlutterDesktopEngineRef TakeEngineHandle();

  BinaryMessenger* messenger() const { return messenger_.get(); }

 private:
  friend class FlutterViewController;

  // Forgets a handle that the library has already ended (a refused view
  // controller), so that later calls report a stopped engine instead of
  // using it; the messenger is detached from the ended engine's messenger.
  void ForgetEngineHandle();

  FlutterDesktopEngineRef engine_ = nullptr;
  std::unique_ptr<BinaryMessengerImpl> messenger_;
  bool owns_engine_ = true;
};

}  // namespace flutter

#endif  // QUILLON_EMBEDDING_FLUTTER_ENGINE_H_
