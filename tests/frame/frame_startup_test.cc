// What the user interface finds before the top-level window exists. No
// window of the frame's classes is ever created in this program.
#include <windows.h>

#include "frame/frame_api.h"
#include "frame/frame_state.h"
#include "gtest/gtest.h"
#include "tests/frame/frame_test_support.h"

namespace {

using frame::FrameApi;

TEST(FrameStartupTest, TableIsServedBeforeAnyWindowExists) {
  const FrameApi* api = frame_window_api();
  ASSERT_NE(api, nullptr);
  EXPECT_EQ(frame_window_api(), api);
  EXPECT_EQ(frame::KeptFrameApi(), api);
  ASSERT_NE(api->public_table, nullptr);
  ASSERT_NE(api->private_table, nullptr);

  EXPECT_TRUE(api->public_table->is_started());
  EXPECT_EQ(api->public_table->get_app_window(), nullptr);
  // The hook waits for the windows.
  EXPECT_NE(frame::frame_state.creation_hook.load(), nullptr);
}

TEST(FrameStartupTest, PerWindowDpiFollowsTheSystem) {
  const auto system_function =
      GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow");
  const FrameApi* api = frame_window_api();
  EXPECT_EQ(api->public_table->has_per_window_dpi(),
            system_function != nullptr);
  if (system_function != nullptr) {
    EXPECT_EQ(reinterpret_cast<void*>(frame::frame_state.dpi_for_window.load()),
              reinterpret_cast<void*>(system_function));
  }
}

TEST(FrameStartupTest, DragWithoutWindowFailsAndKeepsTheCapture) {
  frame_test::RegisterLoggingClass(L"FrameStartupTestWindow");
  HWND other = CreateWindowExW(0, L"FrameStartupTestWindow", L"other", WS_POPUP,
                               0, 0, 100, 100, nullptr, nullptr,
                               GetModuleHandleW(nullptr), &other);
  ASSERT_NE(other, nullptr);
  SetCapture(other);
  ASSERT_EQ(GetCapture(), other);

  EXPECT_FALSE(frame_window_api()->private_table->drag_app_window());
  EXPECT_EQ(GetCapture(), other);
  // A window of another class is neither taken for the top-level window nor
  // does it end the hook's watch.
  EXPECT_EQ(frame_window_api()->public_table->get_app_window(), nullptr);
  EXPECT_NE(frame::frame_state.creation_hook.load(), nullptr);

  ReleaseCapture();
  DestroyWindow(other);
}

// The user interface calls by position: entries of the same type must not
// be swapped.
TEST(FrameStartupTest, EntriesSitAtTheirPositions) {
  const FrameApi* api = frame_window_api();
  const void* const* entries =
      reinterpret_cast<const void* const*>(api->public_table);
  const void* const expected[] = {
      reinterpret_cast<const void*>(&frame::IsStarted),
      reinterpret_cast<const void*>(&frame::GetAppWindow),
      reinterpret_cast<const void*>(&frame::SetShowAllowed),
      reinterpret_cast<const void*>(&frame::SetMinimumSize),
      reinterpret_cast<const void*>(&frame::SetMaximumSize),
      reinterpret_cast<const void*>(&frame::SetMaximizedInset),
      reinterpret_cast<const void*>(&frame::HasPerWindowDpi),
  };
  for (int i = 0; i < 7; ++i) EXPECT_EQ(entries[i], expected[i]) << i;
  EXPECT_EQ(*reinterpret_cast<const void* const*>(api->private_table),
            reinterpret_cast<const void*>(&frame::dragAppWindow));

  const void* const* record = reinterpret_cast<const void* const*>(api);
  EXPECT_EQ(record[0], api->public_table);
  EXPECT_EQ(record[1], api->private_table);
}

}  // namespace
