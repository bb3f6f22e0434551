#include "platform/temp_directory.h"

#include <filesystem>
#include <fstream>
#include <string>

#include "gtest/gtest.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdlib>
#endif

namespace platform {
namespace {

namespace fs = std::filesystem;

// Points the process's temporary directory at `dir` for one test.
class ScopedTempOverride {
 public:
  explicit ScopedTempOverride(const fs::path& dir) {
#ifdef _WIN32
    SetEnvironmentVariableW(L"TMP", dir.wstring().c_str());
#else
    const char* old = std::getenv("TMPDIR");
    had_old_ = old != nullptr;
    if (had_old_) old_ = old;
    setenv("TMPDIR", dir.string().c_str(), 1);
#endif
  }
  ~ScopedTempOverride() {
#ifdef _WIN32
    SetEnvironmentVariableW(L"TMP", nullptr);
#else
    if (had_old_) {
      setenv("TMPDIR", old_.c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
#endif
  }

 private:
#ifndef _WIN32
  bool had_old_ = false;
  std::string old_;
#endif
};

TEST(TempDirectoryTest, NamesTheDirectoryTheStandardQueryReports) {
  const std::string dir = TempDirectory();
  ASSERT_FALSE(dir.empty());
  // The directory need not exist (a fresh Wine prefix lacks it), so compare
  // the names rather than the files.
  EXPECT_EQ(fs::path(dir), fs::temp_directory_path());
}

// A narrow path made by TempDirectory must open files through the narrow
// runtime functions, which read narrow text in the active code page. A
// directory name outside ASCII shows a conversion in any other encoding.
TEST(TempDirectoryTest, NarrowTextOpensFilesUnderANonAsciiName) {
  const fs::path dir =
      fs::temp_directory_path() / fs::u8path(u8"quillon_temp_\u00e9t\u00e9");
  fs::create_directories(dir);
  { std::ofstream(dir / "probe.txt") << "probe"; }
  std::string content;
  {
    ScopedTempOverride override_dir(dir);
    const std::string narrow = TempDirectory();
    std::ifstream in(narrow + "/probe.txt");
    std::getline(in, content);
  }
  fs::remove_all(dir);
  EXPECT_EQ(content, "probe");
}

}  // namespace
}  // namespace platform
