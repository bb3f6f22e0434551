#include "platform/interprocess_lock.h"

#include <filesystem>
#include <future>
#include <string>
#include <thread>

#include "gtest/gtest.h"

namespace platform {
namespace {

// The same file spelled another way: another letter case and "/" for "\"
// on Windows, a detour through "." elsewhere.
std::filesystem::path OtherSpelling(const std::filesystem::path& file) {
#ifdef _WIN32
  std::wstring text = file.native();
  for (wchar_t& c : text) {
    if (c == L'\\') c = L'/';
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
  }
  return std::filesystem::path(text);
#else
  return file.parent_path() / "." / file.filename();
#endif
}

// Two processes naming one staging file differently must still share one
// lock and one set of words, or both would rewrite the file at once.
TEST(InterProcessLockTest, OneFileOneLockWhateverTheSpelling) {
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / "quillon_lock_spelling";
  std::filesystem::create_directories(folder);
  const std::filesystem::path file = folder / "analytics_data.json";
  InterProcessLock first(file);
  InterProcessLock second(OtherSpelling(file));
  InterProcessLock sending(file, "send");
  ASSERT_NE(first.shared_words(), nullptr);
  ASSERT_NE(second.shared_words(), nullptr);

  std::promise<void> held;
  std::promise<void> release;
  std::thread holder([&] {
    ASSERT_TRUE(first.Acquire(1000));
    first.shared_words()[1] = 42;
    held.set_value();
    release.get_future().wait();
    first.Release();
  });
  held.get_future().wait();
  EXPECT_FALSE(second.Acquire(50));
  EXPECT_TRUE(sending.Acquire(50)) << "another role is another lock";
  sending.Release();
  release.set_value();
  holder.join();
  ASSERT_TRUE(second.Acquire(1000));
  EXPECT_EQ(second.shared_words()[1], 42u);
  second.shared_words()[1] = 0;
  second.Release();
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}

}  // namespace
}  // namespace platform
