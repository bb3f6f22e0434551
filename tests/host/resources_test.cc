// What quillon_pc.exe carries besides code: icon group 101, the version
// block and the application manifest, read back as the system reads them.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/program_run.h"

namespace {

class ResourcesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryExW(
        test_support::ProgramPath(L"quillon_pc.exe").c_str(), nullptr,
        LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module_, nullptr);
  }
  void TearDown() override { FreeLibrary(module_); }

  // The bytes of a resource, empty when it is missing.
  std::string Resource(const wchar_t* type, const wchar_t* name) const {
    HRSRC found = FindResourceW(module_, name, type);
    if (found == nullptr) {
      return std::string();
    }
    const void* data = LockResource(LoadResource(module_, found));
    return std::string(static_cast<const char*>(data),
                       SizeofResource(module_, found));
  }

  HMODULE module_ = nullptr;
};

#pragma pack(push, 2)
struct GroupIconHeader {
  WORD reserved;
  WORD type;
  WORD count;
};
struct GroupIconEntry {
  BYTE width;
  BYTE height;
  BYTE colours;
  BYTE reserved;
  WORD planes;
  WORD bit_count;
  DWORD bytes;
  WORD id;
};
#pragma pack(pop)

TEST_F(ResourcesTest, IconGroup101HoldsTenSizesIn32Bit) {
  const std::string group = Resource(RT_GROUP_ICON, MAKEINTRESOURCEW(101));
  ASSERT_GE(group.size(), sizeof(GroupIconHeader));
  const auto* header = reinterpret_cast<const GroupIconHeader*>(group.data());
  EXPECT_EQ(header->type, 1);
  ASSERT_EQ(header->count, 10);
  ASSERT_EQ(group.size(),
            sizeof(GroupIconHeader) + 10 * sizeof(GroupIconEntry));
  const auto* entries =
      reinterpret_cast<const GroupIconEntry*>(group.data() + sizeof(*header));
  const int sizes[] = {16, 24, 32, 48, 64, 72, 80, 96, 128, 256};
  for (int i = 0; i < 10; ++i) {
    SCOPED_TRACE(sizes[i]);
    EXPECT_EQ(entries[i].width == 0 ? 256 : entries[i].width, sizes[i]);
    EXPECT_EQ(entries[i].height == 0 ? 256 : entries[i].height, sizes[i]);
    EXPECT_EQ(entries[i].bit_count, 32);
    // Each image is there and the system can make an icon of it.
    const std::string image =
        Resource(RT_ICON, MAKEINTRESOURCEW(entries[i].id));
    ASSERT_EQ(image.size(), entries[i].bytes);
    HICON icon = CreateIconFromResourceEx(
        reinterpret_cast<BYTE*>(const_cast<char*>(image.data())),
        static_cast<DWORD>(image.size()), TRUE, 0x00030000, sizes[i], sizes[i],
        0);
    EXPECT_NE(icon, nullptr);
    if (icon != nullptr) {
      DestroyIcon(icon);
    }
  }
  // No other icon group.
  EXPECT_TRUE(Resource(RT_GROUP_ICON, MAKEINTRESOURCEW(1)).empty());
}

TEST_F(ResourcesTest, VersionBlockSays127Build27) {
  const std::wstring path = test_support::ProgramPath(L"quillon_pc.exe");
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<char> block(size);
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\",
                             reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(2, 1));
  EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(27, 7));
  EXPECT_EQ(fixed->dwProductVersionMS, MAKELONG(2, 1));
  EXPECT_EQ(fixed->dwProductVersionLS, MAKELONG(27, 7));
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

  for (const wchar_t* key : {L"\\StringFileInfo\\040904e4\\FileVersion",
                             L"\\StringFileInfo\\040904e4\\ProductVersion"}) {
    wchar_t* text = nullptr;
    ASSERT_TRUE(VerQueryValueW(block.data(), key,
                               reinterpret_cast<void**>(&text), &length))
        << key;
    EXPECT_STREQ(text, L"1.2.7+27");
  }
}

TEST_F(ResourcesTest, ManifestAsksForInvokerAndPerMonitorV2OnWindows10) {
  const std::string manifest = Resource(RT_MANIFEST, MAKEINTRESOURCEW(1));
  ASSERT_FALSE(manifest.empty());
  for (const char* part : {
           "<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>",
           ">PerMonitorV2</dpiAwareness>",
           // For Windows 10 builds before dpiAwareness.
           ">true/pm</dpiAware>",
           "<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>",
           "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
           "publicKeyToken=\"6595b64144ccf1df\"",
       }) {
    EXPECT_NE(manifest.find(part), std::string::npos) << part;
  }
}

}  // namespace
