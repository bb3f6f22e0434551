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

// The path must keep a name the ANSI code page cannot spell (Cyrillic and
// CJK lie outside code page 1252): a narrowing conversion would turn them
// into question marks and name another folder.
TEST(TempDirectoryTest, KeepsAFolderNameOutsideTheCodePage) {
  const fs::path dir = fs::temp_directory_path() /
                       fs::u8path(u8"quillon_temp_\u0436\u6587\u00e9");
  fs::create_directories(dir);
  { std::ofstream(dir / "probe.txt") << "probe"; }
  fs::path named;
  std::string content;
  {
    ScopedTempOverride override_dir(dir);
    // Joined with a file name, as callers use it: the system's answer may
    // end in a separator.
    named = TempDirectory() / "probe.txt";
    std::ifstream in(named);
    std::getline(in, content);
  }
  fs::remove_all(dir);
  EXPECT_EQ(named.native(), (dir / "probe.txt").native());
  EXPECT_EQ(content, "probe");
}

}  // namespace
}  // namespace platform
