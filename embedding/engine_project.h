// What the engine is started with: where its files are, which entrypoint the
// user interface runs with which arguments, and two engine options.
#ifndef QUILLON_EMBEDDING_ENGINE_PROJECT_H_
#define QUILLON_EMBEDDING_ENGINE_PROJECT_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace flutter {

class EngineProject {
 public:
  // Derives the three paths from |folder| by plain concatenation: no separator
  // normalisation and no conversion to an absolute path, because the engine
  // resolves relative paths against the executable's folder itself.
  explicit EngineProject(const std::wstring& folder)
      : assets_path_(folder + L"\\flutter_assets"),
        icu_data_path_(folder + L"\\icudtl.dat"),
        aot_library_path_(folder + L"\\app.so") {}

  const std::wstring& assets_path() const { return assets_path_; }
  const std::wstring& icu_data_path() const { return icu_data_path_; }
  const std::wstring& aot_library_path() const { return aot_library_path_; }

  // UTF-8; empty means the engine's default entrypoint.
  const std::string& entrypoint() const { return entrypoint_; }
  void set_entrypoint(std::string entrypoint) {
    entrypoint_ = std::move(entrypoint);
  }

  // UTF-8, in order.
  const std::vector<std::string>& entrypoint_arguments() const {
    return entrypoint_arguments_;
  }
  void set_entrypoint_arguments(std::vector<std::string> arguments) {
    entrypoint_arguments_ = std::move(arguments);
  }

  // Passed to the engine unchanged; the host does not interpret them.
  int32_t engine_option_1() const { return engine_option_1_; }
  void set_engine_option_1(int32_t value) { engine_option_1_ = value; }
  int32_t engine_option_2() const { return engine_option_2_; }
  void set_engine_option_2(int32_t value) { engine_option_2_ = value; }

 private:
  std::wstring assets_path_;
  std::wstring icu_data_path_;
  std::wstring aot_library_path_;
  std::string entrypoint_;
  std::vector<std::string> entrypoint_arguments_;
  int32_t engine_option_1_ = 0;
  int32_t engine_option_2_ = 0;
};

}  // namespace flutter

#endif  // QUILLON_EMBEDDING_ENGINE_PROJECT_H_
